// SPDX-License-Identifier: Apache-2.0
#include "options.h"

#include <CLI/CLI.hpp>
#include <climits>
#include <cmath>
#include <cstdlib>

#include "format.h"
#include "tool_error.h"

namespace lumivex::cli {

namespace {

std::string words(const Allowed& a) {
    switch (a.kind) {
        case Allowed::Kind::Finite:
            return "a finite number";
        case Allowed::Kind::Positive:
            return "a positive finite number";
        case Allowed::Kind::AtLeast:
            return "a finite number of at least " + number(a.low);
        case Allowed::Kind::Between:
            return "a number from " + number(a.low) + " to " + number(a.high);
        case Allowed::Kind::Whole:
            return a.high >= INT_MAX
                       ? "a whole number of at least " + number(a.low, 10)
                       : "a whole number from " + number(a.low, 10) + " to " + number(a.high, 10);
    }
    return "a number";
}

// The same for the help text, in the place CLI11 shows a check.
std::string brief(const Allowed& a) {
    switch (a.kind) {
        case Allowed::Kind::Finite:
            return "FINITE";
        case Allowed::Kind::Positive:
            return "POSITIVE";
        case Allowed::Kind::AtLeast:
            return ">= " + number(a.low);
        case Allowed::Kind::Between:
            return "[" + number(a.low) + ", " + number(a.high) + "]";
        case Allowed::Kind::Whole:
            return a.high >= INT_MAX ? ">= " + number(a.low, 10)
                                     : "[" + number(a.low, 10) + ", " + number(a.high, 10) + "]";
    }
    return "";
}

bool accepts(const Allowed& a, double v) {
    if (!std::isfinite(v)) return false;
    switch (a.kind) {
        case Allowed::Kind::Finite:
            return true;
        case Allowed::Kind::Positive:
            return v > 0.0;
        case Allowed::Kind::AtLeast:
            return v >= a.low;
        case Allowed::Kind::Between:
        case Allowed::Kind::Whole:
            return v >= a.low && v <= a.high &&
                   (a.kind != Allowed::Kind::Whole || v == std::floor(v));
    }
    return false;
}

// The value as the user typed it, cut short if it is long: a refusal stays
// one readable line whatever was typed.
std::string shown(const std::string& text) {
    return text.size() <= 24 ? text : text.substr(0, 20) + "...";
}

// The value of option `name`, or the one-line refusal.
double allowedValue(const std::string& name, const Allowed& allowed, const std::string& text) {
    char* end = nullptr;
    const double v = std::strtod(text.c_str(), &end);
    const bool isNumber = !text.empty() && end == text.c_str() + text.size();
    if (!isNumber || !accepts(allowed, v)) {
        std::string message = name + " must be " + words(allowed);
        if (allowed.kind == Allowed::Kind::Whole && isNumber && v > allowed.high &&
            allowed.high >= INT_MAX)
            message = name + " must be a whole number of at most " + number(allowed.high, 10);
        throw ToolError(kExitInput, message + ", not " + (text.empty() ? "''" : shown(text)));
    }
    return v;
}

}  // namespace

// An output option given as "": there is no file to write, and writing
// nothing without a word would look like success.
CLI::Option* nameOfAFile(CLI::Option* option) {
    const std::string name = option->get_name();
    return option->check(CLI::Validator(
        [name](std::string& text) {
            if (text.empty())
                throw ToolError(kExitInput, name + " must name a file ('-' for standard output), not ''");
            return std::string();
        },
        ""));
}

CLI::Option* allow(CLI::Option* option, const Allowed& allowed) {
    const std::string name = option->get_name();
    CLI::Validator check(
        [name, allowed](std::string& text) {
            const double v = allowedValue(name, allowed, text);
            // Counts may be written as 1e3; the option itself reads digits.
            if (allowed.kind == Allowed::Kind::Whole) text = format("%.0f", v);
            return std::string();
        },
        brief(allowed));
    return option->transform(check);
}

void addFileArgument(CLI::App& command, std::string& file) {
    command.add_option("FILE", file,
                       "System description, or a .zmx lens file (default: the built-in example)");
}

CLI::Option* addRaysOption(CLI::App& command, int& rays, int fewest, const std::string& help) {
    return allow(command.add_option("-n,--rays", rays, help)->capture_default_str(),
                 Allowed::whole(fewest, INT_MAX));
}

CLI::Option* addWavelengthOption(CLI::App& command, double& wavelength, const std::string& help) {
    // No default is shown: a lens file brings its own.
    return allow(command.add_option("-w,--wavelength", wavelength, help), Allowed::positive());
}

CLI::Option* addStartZOption(CLI::App& command, double& startZ, const std::string& help) {
    return allow(command.add_option("--start-z", startZ, help), Allowed::finite());
}

CLI::Option* addThreadsOption(CLI::App& command, int& threads) {
    // The results are the same on any number of threads; only the time
    // differs. More threads than this are no use on any machine we know.
    return allow(command.add_option("--threads", threads, "Threads to trace on (0: every core)")
                     ->capture_default_str(),
                 Allowed::whole(0, 4096));
}

void addAnalysisOptions(CLI::App& command, AnalysisOptions& options, const std::string& csvHelp) {
    command.add_option("FILE", options.file,
                       "System description, or a prescription: a .zmx lens file or a .json file "
                       "(default: the built-in example)");
    nameOfAFile(
        command.add_option("-o,--output", options.output, "SVG file to write ('-': standard output)")
            ->capture_default_str());
    // Split here rather than by the option: CLI11 drops the empty entry of
    // "0,,5", and a field the user meant would go missing without a word.
    const Allowed angle = Allowed::between(-89.0, 89.0);
    command
        .add_option_function<std::vector<std::string>>(
            "--fields",
            [&options, angle](const std::vector<std::string>& texts) {
                options.fields.clear();
                for (const std::string& text : texts) {
                    std::size_t start = 0;
                    for (;;) {
                        const std::size_t comma = text.find(',', start);
                        const std::string entry = text.substr(start, comma - start);
                        if (entry.empty())
                            throw ToolError(kExitInput, "--fields has an empty entry in '" +
                                                            shown(text) +
                                                            "'; give the angles as 0,2.5,5");
                        options.fields.push_back(allowedValue("--fields", angle, entry));
                        if (comma == std::string::npos) break;
                        start = comma + 1;
                    }
                }
            },
            "Field angles in degrees: 0,2.5,5 (default: 0; for a prescription its own fields, "
            "and object heights when its object is at a finite distance)")
        ->default_str("0")
        ->type_name("FLOAT " + brief(angle) + " ...");
    CLI::Option* pupil = allow(
        command.add_option("--pupil", options.pupil,
                           "Entrance pupil diameter (default: a prescription's aperture; the "
                           "first element's diameter)"),
        Allowed::positive());
    allow(command.add_option("--f-number", options.fNumber,
                             "Image-space working F-number instead of --pupil")
              ->excludes(pupil),
          Allowed::positive());
    allow(command.add_option("--image-z", options.imageZ,
                             "z of the image plane (default: the paraxial focus)"),
          Allowed::finite());
    addWavelengthOption(command, options.wavelength,
                        "Wavelength: in micrometres for a prescription (a .zmx or .json file; "
                        "default its primary wavelength), in the description's length unit "
                        "otherwise (default 5.5e-4, 550 nm in mm)");
    addThreadsOption(command, options.threads);
    nameOfAFile(command.add_option("--csv", options.csvFile, csvHelp));
    command.add_flag("--json", options.json, "Print the numbers as JSON instead");
    command.add_option("--unit", options.unit, "Length unit named on the figure's axes")
        ->capture_default_str();
}

}  // namespace lumivex::cli
