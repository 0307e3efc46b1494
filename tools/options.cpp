#include "options.h"

#include <CLI/CLI.hpp>

namespace lumivex::cli {

void addFileArgument(CLI::App& command, std::string& file) {
    command.add_option("FILE", file, "System description (default: the built-in example)");
}

CLI::Option* addRaysOption(CLI::App& command, int& rays, const std::string& help) {
    return command.add_option("-n,--rays", rays, help)->capture_default_str();
}

CLI::Option* addWavelengthOption(CLI::App& command, double& wavelength, const std::string& help) {
    return command.add_option("-w,--wavelength", wavelength, help)
        ->capture_default_str()
        ->check(CLI::PositiveNumber);
}

CLI::Option* addStartZOption(CLI::App& command, double& startZ, const std::string& help) {
    return command.add_option("--start-z", startZ, help);
}

}  // namespace lumivex::cli
