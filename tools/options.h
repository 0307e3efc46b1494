// Options more than one command takes, declared once so that their names,
// defaults and checks agree everywhere.
#ifndef LUMIVEX_TOOLS_OPTIONS_H
#define LUMIVEX_TOOLS_OPTIONS_H

#include <string>

namespace CLI {
class App;
class Option;
}  // namespace CLI

namespace lumivex::cli {

// 550 nm in millimetres, the unit the examples are written in.
constexpr double kDefaultWavelength = 5.5e-4;

// The description FILE every command takes, the built-in example without it.
void addFileArgument(CLI::App& command, std::string& file);
// -n/--rays, the number of rays a command traces.
CLI::Option* addRaysOption(CLI::App& command, int& rays, const std::string& help);
// -w/--wavelength in the description's length unit.
CLI::Option* addWavelengthOption(CLI::App& command, double& wavelength, const std::string& help);
// --start-z, the plane the light starts in (NaN: a little in front of the
// first element).
CLI::Option* addStartZOption(CLI::App& command, double& startZ, const std::string& help);

}  // namespace lumivex::cli

#endif
