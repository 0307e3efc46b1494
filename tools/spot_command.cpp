// SPDX-License-Identifier: Apache-2.0
// lumivex spot: spot diagrams at several field angles in the image plane,
// with the paraxial data they rest on, as a table and an SVG figure.
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

struct SpotOptions : AnalysisOptions {
    SpotOptions() : AnalysisOptions("spot.svg") {}
    int rings = 6;
    bool throughFocus = false;
};

// A failure of the analysis itself (no focus, a chief ray that fails).
void runSpot(const SpotOptions& options) {
    if (isPrescriptionFile(options.file))
        return runLensSpot(options, options.rings, options.throughFocus);
    LoadedSystem loaded = loadSystem(options.file, options.wavelength);
    TOpticalSystem& system = *loaded.system;
    const TCollimatedBeam beam = analysisBeam(system, options, loaded.wavelength);
    TTraceOptions trace;
    trace.threads = options.threads;

    const TParaxialData paraxial = analysed([&] { return paraxialData(system, beam); });
    const std::vector<double> angles = fieldAngles(options);
    const std::vector<TPupilPoint> pupil = hexapolar(beam.pupilRadius, options.rings);
    const std::vector<TSpotDiagram> spots = analysed(
        [&] { return spotDiagrams(system, beam, angles, pupil, options.imageZ, trace); });
    // On the axis, over the planes the library picks about the image plane.
    TThroughFocus curve;
    if (options.throughFocus)
        curve = analysed(
            [&] { return throughFocusAbout(system, beam, pupil, options.imageZ, 21, trace); });

    if (!options.output.empty())
        writeOutput(options.output, spotSvg("Spot diagrams: " + loaded.source.name, spots,
                                             options.unit));
    if (!options.csvFile.empty()) writeFile(options.csvFile, spotCsv(spots));
    std::ostream& out = isStandardOutput(options.output) ? std::cerr : std::cout;
    if (options.json) {
        nlohmann::json j;
        j["system"] = loaded.source.name;
        j["wavelength"] = beam.wavelength;
        j["paraxial"] = paraxial;
        j["spots"] = spots;
        if (options.throughFocus) j["throughFocus"] = curve;
        out << j.dump(2) << '\n';
        return;
    }
    out << "System: " << loaded.source.name << ", wavelength " << number(beam.wavelength)
        << ", entrance pupil radius " << number(beam.pupilRadius) << '\n';
    out << "Paraxial: EFL " << number(paraxial.efl) << ", BFL " << number(paraxial.bfl)
        << ", focus z = " << number(paraxial.focusZ) << ", F/" << number(paraxial.fNumber, 4)
        << "\n\n";
    TextTable table;
    for (const char* h : {"field deg", "image z", "rays", "failed", "chief x", "centroid dx",
                          "centroid dy", "RMS radius", "GEO radius", "Airy radius"})
        table.addColumn(h);
    for (const TSpotDiagram& s : spots)
        table.addRow({number(s.fieldAngle / kRadians), number(s.z), std::to_string(s.spot.rays),
                      std::to_string(s.spot.failed), number(s.chiefX), number(s.centroidX, 4),
                      number(s.centroidY, 4), number(s.spot.rms, 4), number(s.spot.largest, 4),
                      number(s.airyRadius, 4)});
    table.print(out);
    if (options.throughFocus) {
        out << "\nThrough focus, on the axis\n";
        TextTable tf;
        tf.addColumn("z");
        tf.addColumn("RMS radius");
        for (std::size_t i = 0; i < curve.z.size(); ++i)
            tf.addRow({number(curve.z[i]), number(curve.rms[i], 4)});
        tf.print(out);
        out << "Least RMS radius " << number(curve.bestRms, 4) << " at z = " << number(curve.bestZ)
            << " (" << number(curve.bestZ - paraxial.focusZ, 4) << " from the paraxial focus)\n";
    }
    if (!options.output.empty() && !isStandardOutput(options.output))
        out << "\nWrote " << options.output << '\n';
}

}  // namespace

void addSpotCommand(CLI::App& app) {
    auto options = std::make_shared<SpotOptions>();
    CLI::App* command = app.add_subcommand(
        "spot", "Spot diagrams at field angles, with paraxial data, as a table and an SVG");
    addAnalysisOptions(*command, *options, "Also write every ray's point as CSV");
    allow(command->add_option("--rings", options->rings, "Rings of the hexapolar pupil")
              ->capture_default_str(),
          Allowed::whole(1, 1000));
    command->add_flag("--through-focus", options->throughFocus,
                      "Also the RMS radius on the axis through focus, and its least");
    command->callback([options] { runSpot(*options); });
}

}  // namespace lumivex::cli
