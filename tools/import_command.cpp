// SPDX-License-Identifier: Apache-2.0
// lumivex import: a .zmx lens file as a lumivex description, so that the
// system can be read, edited and traced without the lens file.
#include <CLI/CLI.hpp>
#include <cstdlib>
#include <iostream>
#include <limits>
#include <memory>
#include <sstream>

#include "commands.h"
#include "format.h"
#include "lens_report.h"
#include "load.h"
#include "options.h"

namespace lumivex::cli {

namespace {

// The fewest digits that read back to the same double, for a value the
// user is to type.
std::string shortest(double value) {
    for (int digits = 6; digits < 17; ++digits) {
        const std::string text = number(value, digits);
        if (std::strtod(text.c_str(), nullptr) == value) return text;
    }
    return number(value, 17);
}

struct ImportOptions {
    std::string file;
    std::string output = "-";
    double wavelength = std::numeric_limits<double>::quiet_NaN();
    int precision = 17;
};

void runImport(const ImportOptions& options) {
    if (!isLensFile(options.file))
        throw ToolError(kExitInput, "'" + options.file + "' is not a .zmx lens file");
    const LoadedSystem loaded = loadSystem(options.file, options.wavelength);
    std::ostringstream text;
    text.precision(options.precision);
    text << *loaded.system;
    writeOutput(options.output, text.str());

    // The description holds no wavelength: its indices are those of one.
    const TLensFile& lens = *loaded.lens;
    for (const std::string& note : lens.notes) std::cerr << "lumivex: note: " << note << '\n';
    std::ostream& os = isStandardOutput(options.output) ? std::cerr : std::cout;
    if (!isStandardOutput(options.output))
        os << "Wrote " << options.output << ": " << loaded.system->getSize()
           << " elements from " << loaded.source.name << '\n';
    os << (isStandardOutput(options.output) ? "lumivex: " : "") << "indices at "
       << lensWavelength(lens) << "; trace with -w " << shortest(lens.wavelengthInLensUnit)
       << '\n';
}

}  // namespace

void addImportCommand(CLI::App& app) {
    auto options = std::make_shared<ImportOptions>();
    CLI::App* command = app.add_subcommand(
        "import", "Write a .zmx lens file as a lumivex description at one wavelength");
    command->add_option("FILE", options->file, "The .zmx lens file")->required();
    command->add_option("-o,--output", options->output, "Description to write ('-': standard output)")
        ->capture_default_str();
    addWavelengthOption(*command, options->wavelength,
                        "Wavelength the glasses are taken at, in the file's length unit "
                        "(default: its primary wavelength)");
    allow(command->add_option("--precision", options->precision,
                              "Significant digits of the written numbers; 17 reads back to "
                              "the same doubles")
              ->capture_default_str(),
          Allowed::whole(1, 17));
    command->callback([options] { runImport(*options); });
}

}  // namespace lumivex::cli
