// SPDX-License-Identifier: Apache-2.0
// lumivex optimize: damped least squares on a prescription, its variables
// and operands read from a merit file; one line per iteration, the merit
// table at the end, and the optimized prescription written as JSON.
#include <CLI/CLI.hpp>
#include <cstdio>
#include <iostream>
#include <limits>
#include <memory>

#include "commands.h"
#include "format.h"
#include "load.h"
#include "options.h"

namespace lumivex::cli {

namespace {

struct OptimizeOptions {
    std::string file;
    std::string merit;
    std::string output = "-";
    int iterations = -1;  // -1: the merit file's, else 50
    int threads = 0;
};

const char* kMeritHelp = R"(
The merit file (JSON) lists what varies and what is measured:

  {"variables": [{"vary": "curvature", "element": 1},
                 {"vary": "thickness", "element": 3, "bounds": [1, 10]},
                 {"vary": "asphere", "element": 4, "term": 2}],
   "operands": [{"operand": "rms_spot", "field": "all", "wavelength": "all", "rays": 100},
                {"operand": "efl", "target": 50, "weight": 0.01},
                {"operand": "min_thickness", "element": 3, "target": 1}],
   "image_at_focus": true, "max_iterations": 50}

vary: curvature, thickness (the gap behind the element; for the last surface
the distance to the image), conic, asphere (with term 1-8); element indexes
the prescription's surfaces from 0; bounds [lower, upper], null for none.
operand: rms_spot (field, wavelength, rays, about_chief), ray_error (field,
wavelength, pupil [px, py]), efl, bfl, f_number (wavelength), image_height
(field, wavelength), total_track, min_thickness, max_thickness,
min_edge_thickness (element, height); each with target and weight (default 1).
Wavelengths are in micrometres, "all" or left out (the primary); fields index
the prescription's fields, or "all". A target left out is 0 for rms_spot and
ray_error and the present value for the others, which are then held.
image_at_focus: the image plane follows the paraxial focus (default: when the
prescription puts it there).)";

void runOptimize(const OptimizeOptions& options) {
    if (!isPrescriptionFile(options.file))
        throw ToolError(kExitInput,
                        "'" + options.file + "' is not a prescription (.json) or a .zmx lens file");
    const LoadedPrescription loaded = loadPrescription(options.file);
    TOptimizeOptions run;
    const Description meritText = loadDescription(options.merit);
    TMeritFunction merit = [&] {
        try {
            return meritFromJson(loaded.lens, meritText.text, options.merit, &run);
        } catch (const xmsg& e) {
            throw ToolError(kExitInput, failureSummary(e.message()));
        }
    }();
    merit.threads = options.threads;
    if (options.iterations >= 0) run.maxIterations = options.iterations;

    // The progress goes where the prescription does not.
    std::ostream& out = isStandardOutput(options.output) ? std::cerr : std::cout;
    out << "Optimizing " << loaded.source.name << ": " << merit.variables.size() << " variables, "
        << merit.operands.size() << " operands\n";
    run.progress = [&](const TIterationReport& r) {
        char line[160];
        std::snprintf(line, sizeof line, "iteration %3d  merit %-14.8g step %-12.4g %s  %.2f s\n",
                      r.iteration, r.merit, r.stepNorm, r.stepAccepted ? "accepted" : "rejected",
                      r.seconds);
        out << line << std::flush;
        return true;
    };
    const TPrescriptionResult result = [&] {
        try {
            return optimizePrescription(merit, run);
        } catch (const xmsg& e) {
            throw ToolError(kExitFailure, failureSummary(e.message()));
        }
    }();
    out << '\n' << meritTable(merit, result);
    out << "Stopped after " << result.iterations << " iterations: " << result.stopReason << '\n';
    writeOutput(options.output, result.prescription.toJson());
    if (!isStandardOutput(options.output)) out << "Wrote " << options.output << '\n';
}

}  // namespace

void addOptimizeCommand(CLI::App& app) {
    auto options = std::make_shared<OptimizeOptions>();
    CLI::App* command = app.add_subcommand(
        "optimize", "Optimize a prescription by damped least squares on a merit file's operands");
    command->footer(kMeritHelp);
    command
        ->add_option("FILE", options->file,
                     "The design: a prescription (.json) or a .zmx lens file")
        ->required();
    command->add_option("--merit", options->merit, "The merit file (JSON, see below)")->required();
    command
        ->add_option("-o,--output", options->output,
                     "Optimized prescription to write as JSON ('-': standard output)")
        ->capture_default_str();
    allow(
        command->add_option("--iterations", options->iterations,
                            "Most iterations (default: the merit file's max_iterations, else 50)"),
        Allowed::whole(0, 100000));
    addThreadsOption(*command, options->threads);
    command->callback([options] { runOptimize(*options); });
}

}  // namespace lumivex::cli
