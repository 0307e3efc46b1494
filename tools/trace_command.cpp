// SPDX-License-Identifier: Apache-2.0
// lumivex trace: a fan of rays through the system, one table row per ray,
// then the elements, the paraxial focus and the spot size.
#include <CLI/CLI.hpp>
#include <algorithm>
#include <cmath>
#include <iostream>
#include <limits>
#include <memory>
#include <nlohmann/json.hpp>
#include <sstream>

#include "commands.h"
#include "elements.h"
#include "fan.h"
#include "format.h"
#include "load.h"
#include "lumivex/results.h"
#include "options.h"
#include "tracing.h"

namespace lumivex::cli {

namespace {

struct TraceOptions {
    std::string file;
    FanOptions fan;
    std::string csvFile;
    bool json = false;
    double imageZ = std::numeric_limits<double>::quiet_NaN();
    int threads = 0;
};

// The plane the spot is measured in, and why that one.
struct SpotPlane {
    double z = 0.0;
    std::string key;     // "image-z", "paraxial focus" or "last element"
    std::string reason;  // the words after the plane in the report
};

// The plane asked for; else the paraxial focus, where the spot of a system
// that images is smallest near the axis; else, with no real focus to use,
// the last element.
SpotPlane spotPlane(double imageZ, const TParaxialFocus& focus, const TOpticalSystem& system) {
    if (!std::isnan(imageZ)) return {imageZ, "image-z", "the plane of --image-z"};
    if (focus.found && !focus.atInfinity && !focus.isVirtual && std::isfinite(focus.z))
        return {focus.z, "paraxial focus", "the paraxial focus"};
    const std::string why = !focus.found       ? "no paraxial focus"
                            : focus.atInfinity ? "the paraxial focus is at infinity"
                                               : "the paraxial focus is virtual";
    return {system.getLast()->zPosition, "last element", "the last element; " + why};
}

nlohmann::json reportJson(const LoadedSystem& loaded, const Fan& fan,
                          const TRayBatch& rays, const TParaxialFocus& focus,
                          const TSpot& spot, const SpotPlane& plane) {
    nlohmann::json j;
    j["system"] = loaded.source.name;
    j["defaultRadius"] = loaded.system->defaultRadius;
    j["fan"] = {{"rays", fan.rays},
                {"halfHeight", fan.halfHeight},
                {"fieldAngleDegrees", fan.angle * 180.0 / 3.141592653589793},
                {"startZ", fan.startZ},
                {"wavelength", fan.wavelength},
                {"polarization", std::string(1, fan.polarization)}};
    j["rays"] = rayRows(rays);
    nlohmann::json elements = nlohmann::json::array();
    for (int i = 0; i < loaded.system->getSize(); ++i) {
        const TElement& e = *(*loaded.system)[i];
        elements.push_back({{"kind", elementKind(e)},
                            {"z", e.zPosition},
                            {"radius", e.radius},
                            {"tracedRadius", e.getRadius()},
                            {"parameters", elementParameters(e)}});
    }
    j["elements"] = elements;
    j["paraxialFocus"] = focus;
    j["spot"] = spot;
    j["spot"]["plane"] = plane.key;
    return j;
}

void printReport(std::ostream& os, const LoadedSystem& loaded, const Fan& fan,
                 const std::vector<TracedRay>& rays, const TParaxialFocus& focus, const TSpot& spot,
                 const SpotPlane& plane) {
    const TOpticalSystem& system = *loaded.system;
    os << "System: " << loaded.source.name << ", " << system.getSize()
       << (system.getSize() == 1 ? " element" : " elements") << ", default radius "
       << number(system.defaultRadius) << '\n';
    os << "Fan: " << fan.rays << (fan.rays == 1 ? " ray" : " rays") << ", half-height "
       << number(fan.halfHeight) << " at the first element, field angle "
       << number(fan.angle * 180.0 / 3.141592653589793)
       << " deg, start plane z = " << number(fan.startZ) << ", wavelength "
       << number(fan.wavelength) << ", polarization " << fan.polarization << "\n\n";

    TextTable table;
    for (const char* heading : {"ray", "start x", "exit x", "exit y", "exit z", "dir x", "dir y",
                                "dir z", "intensity", "phase"})
        table.addColumn(heading);
    table.addColumn("status", true);
    int failed = 0;
    for (std::size_t i = 0; i < rays.size(); ++i) {
        const TBeamNode start = rays[i].beam[0];
        const TBeamNode& exit = rays[i].beam.getLast();
        if (!rays[i].ok) ++failed;
        table.addRow({std::to_string(i + 1), fixed(start.position.x, 6), fixed(exit.position.x, 6),
                      fixed(exit.position.y, 6), fixed(exit.position.z, 6),
                      fixed(exit.kVector.x, 6), fixed(exit.kVector.y, 6), fixed(exit.kVector.z, 6),
                      fixed(exit.intensity, 6), fixed(exit.opticalPath, 3), rays[i].status});
    }
    table.print(os);
    if (failed > 0)
        os << "  " << failed << " of " << rays.size()
           << " rays failed; their row shows the node where they stopped.\n";

    os << "\nElements\n";
    TextTable elements;
    elements.addColumn("#");
    elements.addColumn("kind", true);
    elements.addColumn("z");
    elements.addColumn("aperture");
    elements.addColumn("traced");
    elements.addColumn("parameters", true);
    for (int i = 0; i < system.getSize(); ++i) {
        const TElement& e = *system[i];
        elements.addRow({std::to_string(i + 1), elementKind(e), number(e.zPosition),
                         number(e.radius), number(e.getRadius()), elementParameters(e)});
    }
    elements.print(os);

    const double lastZ = system.getLast()->zPosition;
    // Rounding leaves traces of 1e-17 where symmetry says 0.
    const double scale = std::max({std::fabs(lastZ), fan.halfHeight, 1.0});
    auto tidy = [scale](double v) { return std::fabs(v) < 1e-12 * scale ? 0.0 : v; };
    os << "\nParaxial focus: ";
    if (!focus.found)
        os << "not found (" << focus.failure << ")\n";
    else if (focus.atInfinity)
        os << "at infinity (the near-axis rays leave parallel)\n";
    else {
        os << "z = " << number(focus.z) << ", x = " << number(tidy(focus.x));
        const double distance = focus.z - lastZ;
        os << " (" << number(std::fabs(distance)) << (distance >= 0.0 ? " behind" : " in front of")
           << " the last element" << (focus.isVirtual ? "; a virtual focus" : "") << ")\n";
    }
    const std::string where = "at z = " + number(spot.z) + " (" + plane.reason + ")";
    if (spot.rays == 0)
        os << "RMS spot radius " << where << ": no ray arrives\n";
    else
        os << "RMS spot radius " << number(spot.rms) << " " << where << ", from " << spot.rays
           << " of " << rays.size() << " rays, centroid x = " << number(tidy(spot.centroidX))
           << '\n';
}

void runTrace(const TraceOptions& options) {
    LoadedSystem loaded = loadSystem(options.file, options.fan.wavelength);
    TOpticalSystem& system = *loaded.system;
    const Fan fan = resolveFan(options.fan, system, loaded.wavelength);

    TRayBatch batch = fanBatch(fan, system);
    Progress progress("tracing", batch.size());
    const std::vector<TracedRay> rays = traceEach(system, batch, options.threads, &progress);
    // The near-axis rays go after the fan, which resets the traced radii.
    const TParaxialFocus focus = paraxialFocus(system, collimatedBeam(fan));
    const SpotPlane plane = spotPlane(options.imageZ, focus, system);
    const TSpot spot = spotAt(batch, plane.z);

    if (!options.csvFile.empty()) writeFile(options.csvFile, rayCsv(batch));
    if (options.json)
        std::cout << reportJson(loaded, fan, batch, focus, spot, plane).dump(2) << '\n';
    else
        printReport(std::cout, loaded, fan, rays, focus, spot, plane);
}

}  // namespace

void addTraceCommand(CLI::App& app) {
    auto options = std::make_shared<TraceOptions>();
    CLI::App* command =
        app.add_subcommand("trace", "Trace a fan of rays and print one row per ray");
    addFileArgument(*command, options->file);
    addFanOptions(*command, options->fan);
    command->add_option("--csv", options->csvFile, "Also write the rows as CSV to this file");
    command->add_flag("--json", options->json, "Print the whole report as JSON instead");
    allow(command->add_option("--image-z", options->imageZ,
                              "z of the plane for the RMS spot radius (default: the paraxial "
                              "focus, or the last element when there is no real one)"),
          Allowed::finite());
    addThreadsOption(*command, options->threads);
    command->callback([options] { runTrace(*options); });
}

}  // namespace lumivex::cli
