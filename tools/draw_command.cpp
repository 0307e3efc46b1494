// SPDX-License-Identifier: Apache-2.0
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
    bool raysGiven = false;
};

// A prescription: its lenses, stop and image plane, and rays of each of its
// fields across the pupil, at -w micrometres (default its primary).
void runLensDraw(const DrawOptions& options) {
    const LoadedPrescription loaded = loadPrescription(options.file);
    const TPrescription& lens = loaded.lens;
    const int perField = options.raysGiven ? options.fan.rays : 3;
    TLayout layout;
    double um = 0.0;
    try {
        um = lens.resolveWavelength(options.fan.wavelength);
        TTraceOptions trace;
        trace.threads = options.threads;
        layout = prescriptionLayout(lens, perField, um, trace);
    } catch (const xmsg& e) {
        throw ToolError(kExitFailure, loaded.source.name + ": " + failureSummary(e.message()));
    }
    for (const std::string& warning : layout.warnings)
        std::cerr << "lumivex: warning: " << warning << '\n';
    const std::string subtitle = "x\u2013z section, " + std::to_string(perField) + " rays per field, " +
                                 std::to_string(lens.fields.size()) + " fields, wavelength " +
                                 number(um) + " \u00b5m, image plane at z = " + number(layout.endZ, 6);
    const std::string title =
        "lumivex \u2014 " + (lens.title.empty() ? loaded.source.name : lens.title);
    writeOutput(options.output, figureSvg(layoutFigure(title, subtitle, layout, options.width)));
    if (isStandardOutput(options.output)) return;
    std::cout << "Wrote " << options.output << ": " << loaded.source.name << ", "
              << lens.surfaces.size() << " surfaces, " << layout.rays.size() << " rays";
    int vignetted = 0;
    for (const TLayout::Ray& ray : layout.rays) vignetted += ray.vignetted ? 1 : 0;
    if (vignetted > 0) std::cout << " (" << vignetted << " vignetted)";
    if (layout.failedRays > 0) std::cout << " (" << layout.failedRays << " failed)";
    std::cout << '\n';
}

void runDraw(const DrawOptions& options) {
    if (isPrescriptionFile(options.file)) return runLensDraw(options);
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
    command->get_option("--rays")->description(
        "Number of rays in the fan; for a prescription, per field across the pupil (default 3: "
        "its top, the chief ray and its bottom)");
    command->get_option("--wavelength")->description(
        "Wavelength: in micrometres for a prescription (a .zmx or .json file; default its "
        "primary wavelength), in the description's length unit otherwise (default 5.5e-4)");
    allow(command->add_option("--end-z", options->endZ,
                              "z where the drawn rays end (default: a little beyond the last "
                              "element or the focus)"),
          Allowed::finite());
    allow(command->add_option("--width", options->width, "Width of the picture in pixels")
              ->capture_default_str(),
          Allowed::atLeast(200.0));
    addThreadsOption(*command, options->threads);
    command->callback([options, command] {
        options->raysGiven = command->get_option("--rays")->count() > 0;
        runDraw(*options);
    });
}

}  // namespace lumivex::cli
