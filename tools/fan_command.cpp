// SPDX-License-Identifier: Apache-2.0
// lumivex fan: the transverse ray fan and the OPD fan of each field, as a
// table and an SVG figure.
#include <CLI/CLI.hpp>
#include <cmath>
#include <iostream>
#include <limits>
#include <memory>

#include "analysis_svg.h"
#include "commands.h"
#include "lumivex/results.h"
#include "format.h"
#include "lens_analyses.h"
#include "load.h"
#include "options.h"

namespace lumivex::cli {

namespace {

constexpr double kRadians = 3.141592653589793 / 180.0;

struct FanCommandOptions : AnalysisOptions {
    FanCommandOptions() : AnalysisOptions("fan.svg") {}
    int rays = 21;
};

std::string cell(double v, int digits) { return std::isfinite(v) ? number(v, digits) : "failed"; }

void runFan(const FanCommandOptions& options) {
    if (isPrescriptionFile(options.file)) return runLensFan(options, options.rays);
    LoadedSystem loaded = loadSystem(options.file, options.wavelength);
    TOpticalSystem& system = *loaded.system;
    TTraceOptions trace;
    trace.threads = options.threads;
    std::vector<TRayFan> fans;
    TCollimatedBeam beam = analysisBeam(system, options, loaded.wavelength);
    try {
        // One image plane for every field: the axis's.
        const double z = std::isnan(options.imageZ) ? paraxialImageZ(system, beam) : options.imageZ;
        for (double angle : fieldAngles(options)) {
            beam.fieldAngle = angle;
            fans.push_back(rayFan(system, beam, options.rays, z, trace));
        }
    } catch (const xmsg& e) {
        throw ToolError(kExitFailure, failureSummary(e.message()));
    }

    if (!options.output.empty())
        writeOutput(options.output,
                    fanSvg("Ray and OPD fans: " + loaded.source.name, fans, options.unit));
    if (!options.csvFile.empty()) writeFile(options.csvFile, fanCsv(fans));
    std::ostream& out = isStandardOutput(options.output) ? std::cerr : std::cout;
    if (options.json) {
        out << nlohmann::json{{"system", loaded.source.name},
                              {"wavelength", loaded.wavelength},
                              {"fans", fans}}
                   .dump(2)
            << '\n';
        return;
    }
    out << "System: " << loaded.source.name << ", wavelength " << number(loaded.wavelength)
        << "\nTransverse aberration in the image plane relative to the chief ray; OPD in waves "
           "against the chief ray on the reference sphere\n";
    for (const TRayFan& f : fans) {
        out << "\nField " << number(f.fieldAngle / kRadians) << " deg, image z = " << number(f.z)
            << ", reference sphere radius " << number(f.referenceRadius) << '\n';
        TextTable table;
        for (const char* h : {"rho", "tan dx", "sag dy", "tan OPD", "sag OPD"}) table.addColumn(h);
        for (std::size_t i = 0; i < f.rho.size(); ++i)
            table.addRow({fixed(f.rho[i], 3), cell(f.tangential[i], 4), cell(f.sagittal[i], 4),
                          cell(f.tangentialOpd[i], 4), cell(f.sagittalOpd[i], 4)});
        table.print(out);
    }
    if (!options.output.empty() && !isStandardOutput(options.output))
        out << "\nWrote " << options.output << '\n';
}

}  // namespace

void addFanCommand(CLI::App& app) {
    auto options = std::make_shared<FanCommandOptions>();
    CLI::App* command = app.add_subcommand(
        "fan", "Transverse ray fans and OPD fans at field angles, as a table and an SVG");
    addAnalysisOptions(*command, *options, "Also write the fans as CSV");
    addRaysOption(*command, options->rays, 2, "Rays across the pupil in each fan");
    command->callback([options] { runFan(*options); });
}

}  // namespace lumivex::cli
