// SPDX-License-Identifier: Apache-2.0
// Options more than one command takes, declared once so that their names,
// defaults and checks agree everywhere, and the check every numeric option
// goes through.
#ifndef LUMIVEX_TOOLS_OPTIONS_H
#define LUMIVEX_TOOLS_OPTIONS_H

#include <limits>
#include <string>
#include <utility>
#include <vector>

namespace CLI {
class App;
class Option;
}  // namespace CLI

namespace lumivex::cli {

// 550 nm in millimetres, the unit the examples are written in.
constexpr double kDefaultWavelength = 5.5e-4;

// What a numeric option accepts. A value outside it is refused while the
// command line is read, as a ToolError with status 2 whose one line says in
// words what is allowed: "--wavelength must be a positive finite number,
// not nan".
struct Allowed {
    enum class Kind { Finite, Positive, AtLeast, Between, Whole };
    Kind kind = Kind::Finite;
    double low = 0.0;
    double high = 0.0;

    static Allowed finite() { return {Kind::Finite, 0.0, 0.0}; }
    static Allowed positive() { return {Kind::Positive, 0.0, 0.0}; }
    static Allowed atLeast(double low) { return {Kind::AtLeast, low, 0.0}; }
    static Allowed between(double low, double high) { return {Kind::Between, low, high}; }
    // A count: a whole number from low to high (written plainly or as 1e3).
    static Allowed whole(double low, double high) { return {Kind::Whole, low, high}; }
};
// Attaches the check to the option; returns the option.
CLI::Option* allow(CLI::Option* option, const Allowed& allowed);

// The description FILE every command takes, the built-in example without it.
void addFileArgument(CLI::App& command, std::string& file);
// -n/--rays, the number of rays a command traces, at least `fewest`.
CLI::Option* addRaysOption(CLI::App& command, int& rays, int fewest, const std::string& help);
// -w/--wavelength in the description's length unit; left NaN when not given.
CLI::Option* addWavelengthOption(CLI::App& command, double& wavelength, const std::string& help);
// --start-z, the plane the light starts in (NaN: a little in front of the
// first element).
CLI::Option* addStartZOption(CLI::App& command, double& startZ, const std::string& help);
// --threads, the threads a command traces on (0: every core).
CLI::Option* addThreadsOption(CLI::App& command, int& threads);
// Refuses "" for an output file's name.
CLI::Option* nameOfAFile(CLI::Option* option);

// What the analysis commands (spot, fan) share: the description, the figure,
// the fields, the image plane, the wavelength, the threads and the outputs.
struct AnalysisOptions {
    explicit AnalysisOptions(std::string figure) : output(std::move(figure)) {}
    std::string file;
    std::string output;
    std::vector<double> fields;  // none given: on the axis, or a prescription's own
    double imageZ = std::numeric_limits<double>::quiet_NaN();
    // A prescription's in micrometres, a description's in its length unit;
    // NaN: the loader decides.
    double wavelength = std::numeric_limits<double>::quiet_NaN();
    double pupil = std::numeric_limits<double>::quiet_NaN();    // entrance pupil diameter
    double fNumber = std::numeric_limits<double>::quiet_NaN();  // image-space F-number
    int threads = 0;
    std::string csvFile;
    bool json = false;
    std::string unit = "mm";
};
// Adds those options; `csvHelp` says what the CSV holds.
void addAnalysisOptions(CLI::App& command, AnalysisOptions& options, const std::string& csvHelp);

}  // namespace lumivex::cli

#endif
