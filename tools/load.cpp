// SPDX-License-Identifier: Apache-2.0
#include "load.h"

#include <sys/stat.h>

#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <fstream>
#include <iostream>
#include <iterator>
#include <sstream>

#include "builtin_example.h"
#include "options.h"

namespace lumivex::cli {

namespace {

bool isBlank(const std::string& text) {
    return text.find_first_not_of(" \t\r\n\f\v") == std::string::npos;
}

// The import's message in one line that starts with the file's name.
std::string importFailure(const std::string& path, const std::string& message) {
    std::string line;
    for (char c : message) {
        if (c == '\r') continue;
        if (c == '\n') {
            if (!line.empty() && line.back() != ' ') line += "; ";
        } else {
            line += c;
        }
    }
    while (!line.empty() && (line.back() == ' ' || line.back() == ';')) line.pop_back();
    if (line.compare(0, path.size(), path) == 0) return line;
    return path + ": " + line;
}

}  // namespace

std::string readStopMessage(const std::string& name, const TReadReport& report) {
    return stopError(report, name).message();
}

Description loadDescription(const std::string& path) {
    Description description;
    if (path.empty()) {
        description.name = kBuiltinExampleName;
        description.text = kBuiltinExampleText;
        description.builtin = true;
        return description;
    }
    description.name = path;

    struct stat info;
    if (::stat(path.c_str(), &info) != 0)
        throw ToolError(kExitInput, "cannot open '" + path + "': " + std::strerror(errno));
    if (S_ISDIR(info.st_mode))
        throw ToolError(kExitInput, "cannot read '" + path + "': it is a directory");
    std::ifstream in(path, std::ios::binary);
    if (!in) throw ToolError(kExitInput, "cannot open '" + path + "': " + std::strerror(errno));
    try {
        description.text = readInput(in, "'" + path + "'");
    } catch (const xmsg& e) {
        throw ToolError(kExitInput, "cannot read " + e.message());
    }
    if (isBlank(description.text)) throw ToolError(kExitInput, "'" + path + "' is empty");
    return description;
}

namespace {

bool hasExtension(const std::string& path, const char* wanted) {
    const std::size_t dot = path.find_last_of("./");
    if (dot == std::string::npos || path[dot] != '.') return false;
    std::string extension = path.substr(dot + 1);
    for (char& c : extension) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return extension == wanted;
}

}  // namespace

bool isLensFile(const std::string& path) { return hasExtension(path, "zmx"); }

bool isPrescriptionFile(const std::string& path) {
    return isLensFile(path) || hasExtension(path, "json");
}

LoadedPrescription loadPrescription(const std::string& path) {
    LoadedPrescription loaded;
    loaded.source = loadDescription(path);
    std::istringstream is(loaded.source.text);
    try {
        if (isLensFile(path)) {
            TZmxPrescription imported = importZmxPrescription(is, path);
            loaded.lens = std::move(imported.prescription);
            loaded.skipped = std::move(imported.skipped);
            loaded.notes = std::move(imported.notes);
        } else {
            loaded.lens = TPrescription::fromJson(loaded.source.text, path);
        }
    } catch (const xmsg& e) {
        throw ToolError(kExitInput, importFailure(path, e.message()));
    }
    return loaded;
}


LoadedSystem readSystem(const std::string& path, double wavelength) {
    LoadedSystem loaded;
    loaded.source = loadDescription(path);
    loaded.wavelength = std::isnan(wavelength) ? kDefaultWavelength : wavelength;
    if (!loaded.source.builtin && isLensFile(path)) {
        std::istringstream is(loaded.source.text);
        try {
            // The wavelength is the user's, in the lens's unit: the glasses
            // take it converted, the beams exactly as given.
            loaded.lens = std::make_unique<TLensFile>(importZmxInLensUnit(is, path, wavelength));
        } catch (const xmsg& e) {
            throw ToolError(kExitInput, importFailure(path, e.message()));
        }
        loaded.wavelength = loaded.lens->wavelengthInLensUnit;
        loaded.system = std::make_unique<TOpticalSystem>(std::move(loaded.lens->system));
        return loaded;
    }
    loaded.system = std::make_unique<TOpticalSystem>(0.0);
    std::istringstream is(loaded.source.text);
    readDescription(is, *loaded.system, &loaded.report);
    return loaded;
}

LoadedSystem loadSystem(const std::string& path, double wavelength) {
    LoadedSystem loaded = readSystem(path, wavelength);
    const std::string& name = loaded.source.name;
    if (loaded.report.stopped)
        throw ToolError(kExitInput, readStopMessage(name, loaded.report) +
                                        " (lumivex check shows the whole reading)");
    if (loaded.system->getSize() == 0)
        throw ToolError(kExitInput, "'" + name + "' holds no optical element");
    return loaded;
}

bool isStandardOutput(const std::string& path) { return path == "-"; }

void writeFile(const std::string& path, const std::string& text) {
    std::ofstream out(path, std::ios::binary);
    if (!out) throw ToolError(kExitInput, "cannot write '" + path + "': " + std::strerror(errno));
    out << text;
    out.close();
    if (!out) throw ToolError(kExitFailure, "cannot write '" + path + "': " + std::strerror(errno));
}

void writeOutput(const std::string& path, const std::string& text) {
    if (isStandardOutput(path))
        std::cout << text;
    else
        writeFile(path, text);
}

}  // namespace lumivex::cli
