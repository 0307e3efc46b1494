// lumivex draw: the system and a traced fan as an SVG figure in the x–z
// plane: the figure is laid out first, then written.
#include <CLI/CLI.hpp>
#include <cmath>
#include <iostream>
#include <limits>
#include <memory>

#include "commands.h"
#include "fan.h"
#include "figure.h"
#include "figure_svg.h"
#include "format.h"
#include "load.h"
#include "options.h"
#include "tracing.h"

namespace lumivex::cli {

namespace {

struct DrawOptions {
    std::string file;
    std::string output = "layout.svg";
    FanOptions fan;
    double endZ = std::numeric_limits<double>::quiet_NaN();
    double width = 960.0;
    int threads = 0;
};

void runDraw(const DrawOptions& options) {
    LoadedSystem loaded = loadSystem(options.file, options.fan.wavelength);
    TOpticalSystem& system = *loaded.system;
    const Fan fan = resolveFan(options.fan, system, loaded.wavelength);

    Progress progress("tracing", static_cast<std::size_t>(fan.rays));
    const TLayout layout = systemLayout(system, collimatedBeam(fan), fan.rays, options.endZ,
                                        withProgress(options.threads, progress));
    progress.finish();
    for (const std::string& warning : layout.warnings)
        std::cerr << "lumivex: warning: " << warning << '\n';

    writeOutput(options.output, figureSvg(layoutFigure(loaded, fan, layout, options.width)));
    if (isStandardOutput(options.output)) return;
    const int n = system.getSize();
    std::cout << "Wrote " << options.output << ": " << loaded.source.name << ", " << n
              << (n == 1 ? " element, " : " elements, ") << layout.rays.size() << " rays";
    if (layout.failedRays > 0) std::cout << " (" << layout.failedRays << " failed)";
    const TParaxialFocus& focus = layout.focus;
    if (focus.found && !focus.atInfinity)
        std::cout << ", paraxial focus at z = " << number(focus.z);
    std::cout << '\n';
}

}  // namespace

void addDrawCommand(CLI::App& app) {
    auto options = std::make_shared<DrawOptions>();
    CLI::App* command =
        app.add_subcommand("draw", "Draw the system and a traced fan as an SVG picture");
    addFileArgument(*command, options->file);
    command->add_option("-o,--output", options->output, "SVG file to write ('-': standard output)")
        ->capture_default_str();
    addFanOptions(*command, options->fan);
    allow(command->add_option("--end-z", options->endZ,
                              "z where the drawn rays end (default: a little beyond the last "
                              "element or the focus)"),
          Allowed::finite());
    allow(command->add_option("--width", options->width, "Width of the picture in pixels")
              ->capture_default_str(),
          Allowed::atLeast(200.0));
    addThreadsOption(*command, options->threads);
    command->callback([options] { runDraw(*options); });
}

}  // namespace lumivex::cli
