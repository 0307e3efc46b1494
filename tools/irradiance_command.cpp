// SPDX-License-Identifier: Apache-2.0
// lumivex irradiance: the power a beam brings to each bin of a detector
// grid, as a table, CSV, JSON and an SVG map. A prescription fills its
// entrance pupil at one of its fields and lands in its image plane; a bare
// system is lit by the collimated beam across its first element, on the
// plane of its paraxial focus.
#include <CLI/CLI.hpp>
#include <algorithm>
#include <cmath>
#include <iostream>
#include <limits>
#include <memory>
#include <nlohmann/json.hpp>
#include <sstream>

#include "chart.h"
#include "commands.h"
#include "format.h"
#include "load.h"
#include "options.h"
#include "svg.h"

namespace lumivex::cli {

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kRadians = 3.141592653589793 / 180.0;

struct IrradianceOptions {
    std::string file;
    std::string output = "irradiance.svg";
    std::string csvFile;
    bool json = false;
    long long rays = 100000;
    std::vector<int> bins{64};
    int field = 0;
    double angleDegrees = 0.0;
    double wavelength = kNaN;
    double z = kNaN;
    std::vector<double> extent;
    unsigned long long seed = 0;
    int threads = 0;
};

// The map and the words that say what it is of.
struct Result {
    TIrradianceMap map;
    std::string system;
    std::string light;  // the field and wavelength, in words
    std::string unit;   // of lengths
    double fieldDegrees = kNaN;
    double wavelength = 0.0;
};

TDetectorGrid gridOf(const IrradianceOptions& options) {
    TDetectorGrid grid;
    grid.nx = options.bins[0];
    grid.ny = options.bins.size() > 1 ? options.bins[1] : options.bins[0];
    grid.z = options.z;
    if (!options.extent.empty()) {
        if (options.extent.size() != 4 || !(options.extent[0] < options.extent[1]) ||
            !(options.extent[2] < options.extent[3]))
            throw ToolError(kExitInput, "--extent takes xmin xmax ymin ymax, each min below its max");
        grid.xMin = options.extent[0], grid.xMax = options.extent[1];
        grid.yMin = options.extent[2], grid.yMax = options.extent[3];
    }
    return grid;
}

Result lensIrradiance(const IrradianceOptions& options) {
    const LoadedPrescription loaded = loadPrescription(options.file);
    const TPrescription& lens = loaded.lens;
    if (options.field >= static_cast<int>(lens.fields.size()))
        throw ToolError(kExitInput, "--field " + std::to_string(options.field) + " is not one of the " +
                                        std::to_string(lens.fields.size()) + " fields of " +
                                        loaded.source.name + " (0 to " +
                                        std::to_string(lens.fields.size() - 1) + ")");
    TTraceOptions trace;
    trace.threads = options.threads;
    Result r{analysed([&] {
                 return irradiance(lens, options.field, static_cast<std::uint64_t>(options.rays),
                                   options.seed, gridOf(options), options.wavelength, trace);
             }),
             loaded.source.name, "", lens.unit};
    const TField& f = lens.fields[static_cast<std::size_t>(options.field)];
    r.wavelength = lens.resolveWavelength(options.wavelength);
    const bool angle = lens.fieldKind == TFieldKind::angle;
    if (angle) r.fieldDegrees = std::hypot(f.x, f.y);
    r.light = "field " + std::to_string(options.field) + " (" + (angle ? "" : "h ") + number(f.x) +
              (f.y != 0.0 ? ", " + number(f.y) : "") + (angle ? "\u00b0" : "") +
              ") filling the entrance pupil, wavelength " + number(r.wavelength) + " \u00b5m";
    return r;
}

Result systemIrradiance(const IrradianceOptions& options) {
    LoadedSystem loaded = loadSystem(options.file, options.wavelength);
    TOpticalSystem& system = *loaded.system;
    TCollimatedBeam beam;
    beam.wavelength = loaded.wavelength;
    beam.fieldAngle = options.angleDegrees * kRadians;
    TDetectorGrid grid = gridOf(options);
    if (std::isnan(grid.z)) {
        // Where the near-axis rays of the beam meet.
        const TParaxialFocus focus =
            analysed([&] { return paraxialFocus(system, resolveBeam(system, beam)); });
        if (!focus.found || focus.atInfinity || focus.isVirtual)
            throw ToolError(kExitInput, loaded.source.name +
                                            ": the system has no real focus to put the detector in; "
                                            "give its plane with --z");
        grid.z = focus.z;
    }
    TTraceOptions trace;
    trace.threads = options.threads;
    Result r{analysed([&] {
                 return irradiance(system, beam, static_cast<std::uint64_t>(options.rays), options.seed,
                                   grid, trace);
             }),
             loaded.source.name, "", "length units"};
    r.fieldDegrees = options.angleDegrees;
    r.wavelength = loaded.wavelength;
    r.light = "collimated beam at " + number(options.angleDegrees) +
              "\u00b0 across the first element, wavelength " + number(loaded.wavelength);
    return r;
}

// The map as an image: power per unit area on a linear scale from 0 to the
// brightest bin, with the centroid marked.
std::string mapSvg(const Result& r) {
    const TIrradianceMap& m = r.map;
    const TDetectorGrid& g = m.grid();
    const std::vector<double> image = m.image();
    const double binArea = (g.xMax - g.xMin) / g.nx * (g.yMax - g.yMin) / g.ny;
    const double peak = *std::max_element(image.begin(), image.end()) / binArea;
    const double aspect = (g.yMax - g.yMin) / (g.xMax - g.xMin);
    const double side = 420.0;
    Panel p;
    p.width = aspect <= 1.0 ? side : side / aspect;
    p.height = aspect <= 1.0 ? side * aspect : side;
    p.x = 80.0, p.y = 76.0;
    p.ax = spanAxis(g.xMin, g.xMax);
    p.ay = spanAxis(g.yMin, g.yMax);
    const double width = p.x + p.width + 150.0, height = p.y + p.height + 70.0;
    SvgWriter svg(width, height);
    svg.rect(0, 0, width, height, "fill:#ffffff;stroke:none");
    svg.text(20, 24, "Irradiance: " + r.system,
             "font-family:sans-serif;font-size:15px;font-weight:bold;fill:#111");
    svg.text(20, 44, r.light, "font-family:sans-serif;font-size:11px;fill:#222");
    svg.text(20, 60,
             number(static_cast<double>(m.rays()), 10) + " rays, " +
                 number(static_cast<double>(m.failed()), 10) + " failed or vignetted; plane z = " +
                 number(g.z) + ", power on the grid " + fixed(m.power(), 4) + " of 1",
             "font-family:sans-serif;font-size:11px;fill:#222");
    svg.rect(p.x, p.y, p.width, p.height, "fill:" + heatColour(0.0) + ";stroke:none", "map");
    const double dx = p.width / g.nx, dy = p.height / g.ny;
    for (int j = 0; j < g.ny; ++j)
        for (int i = 0; i < g.nx; ++i) {
            const double v = image[static_cast<std::size_t>(j) * g.nx + i] / binArea;
            if (!(v > 0.0) || !(peak > 0.0)) continue;
            // Row 0 at yMin, drawn at the bottom.
            svg.rect(p.x + i * dx, p.y + p.height - (j + 1) * dy, dx + 0.3, dy + 0.3,
                     "fill:" + heatColour(v / peak) + ";stroke:none", "bin");
        }
    svg.rect(p.x, p.y, p.width, p.height, "fill:none;stroke:#333;stroke-width:1");
    const std::string tick = "font-family:sans-serif;font-size:11px;fill:#444";
    for (double t : p.ax.ticks) {
        svg.line(p.X(t), p.y + p.height, p.X(t), p.y + p.height + 4, "stroke:#333;stroke-width:1");
        svg.text(p.X(t), p.y + p.height + 16, tickLabel(t, p.ax.step), tick, "middle");
    }
    for (double t : p.ay.ticks) {
        svg.line(p.x - 4, p.Y(t), p.x, p.Y(t), "stroke:#333;stroke-width:1");
        svg.text(p.x - 7, p.Y(t) + 4, tickLabel(t, p.ay.step), tick, "end");
    }
    svg.text(p.x + p.width / 2, p.y + p.height + 34, "x (" + r.unit + ")",
             "font-family:sans-serif;font-size:12px;fill:#222", "middle");
    svg.text(p.x - 50, p.y + p.height / 2, "y", "font-family:sans-serif;font-size:12px;fill:#222",
             "middle");
    if (std::isfinite(m.centroidX()) && m.centroidX() >= g.xMin && m.centroidX() <= g.xMax &&
        m.centroidY() >= g.yMin && m.centroidY() <= g.yMax) {
        const double cx = p.X(m.centroidX()), cy = p.Y(m.centroidY());
        svg.line(cx - 6, cy, cx + 6, cy, "stroke:#7fdca0;stroke-width:1.4");
        svg.line(cx, cy - 6, cx, cy + 6, "stroke:#7fdca0;stroke-width:1.4");
    }
    // The colour scale: 0 to the peak irradiance, power per unit area.
    const double sx = p.x + p.width + 30.0, sh = std::min(p.height, 240.0);
    for (int k = 0; k < 64; ++k)
        svg.rect(sx, p.y + sh - (k + 1) * sh / 64, 16, sh / 64 + 0.3,
                 "fill:" + heatColour((k + 0.5) / 64) + ";stroke:none");
    svg.rect(sx, p.y, 16, sh, "fill:none;stroke:#333;stroke-width:1");
    svg.text(sx + 22, p.y + 8, number(peak, 4), tick);
    svg.text(sx + 22, p.y + sh, "0", tick);
    svg.text(sx, p.y + sh + 18, "power per", tick);
    svg.text(sx, p.y + sh + 32, "unit area", tick);
    return svg.str();
}

void runIrradiance(const IrradianceOptions& options) {
    const bool lens = isPrescriptionFile(options.file);
    const Result r = lens ? lensIrradiance(options) : systemIrradiance(options);
    const TIrradianceMap& m = r.map;
    const TDetectorGrid& g = m.grid();
    const std::vector<double> image = m.image();
    const double binArea = (g.xMax - g.xMin) / g.nx * (g.yMax - g.yMin) / g.ny;

    if (!options.output.empty()) writeOutput(options.output, mapSvg(r));
    if (!options.csvFile.empty()) {
        std::ostringstream os;
        os << "x,y,power,irradiance\n";
        for (int j = 0; j < g.ny; ++j)
            for (int i = 0; i < g.nx; ++i) {
                const double v = image[static_cast<std::size_t>(j) * g.nx + i];
                os << format("%.17g,%.17g,%.17g,%.17g\n", g.xMin + (i + 0.5) * (g.xMax - g.xMin) / g.nx,
                             g.yMin + (j + 0.5) * (g.yMax - g.yMin) / g.ny, v, v / binArea);
            }
        writeFile(options.csvFile, os.str());
    }
    std::ostream& out = isStandardOutput(options.output) ? std::cerr : std::cout;
    if (options.json) {
        nlohmann::json rows = nlohmann::json::array();
        for (int j = 0; j < g.ny; ++j)
            rows.push_back(std::vector<double>(image.begin() + static_cast<std::ptrdiff_t>(j) * g.nx,
                                               image.begin() + static_cast<std::ptrdiff_t>(j + 1) * g.nx));
        out << nlohmann::json{{"system", r.system},
                              {"wavelength", r.wavelength},
                              {"fieldAngleDegrees", std::isnan(r.fieldDegrees) ? nlohmann::json(nullptr)
                                                                               : nlohmann::json(r.fieldDegrees)},
                              {"seed", options.seed},
                              {"z", g.z},
                              {"extent", {g.xMin, g.xMax, g.yMin, g.yMax}},
                              {"bins", {g.nx, g.ny}},
                              {"rays", m.rays()},
                              {"failed", m.failed()},
                              {"onGrid", m.onGrid()},
                              {"power", m.power()},
                              {"powerThrough", m.powerThrough()},
                              {"centroid", {m.centroidX(), m.centroidY()}},
                              {"rmsRadius", m.rmsRadius()},
                              {"image", rows}}
                   .dump(2)
            << '\n';
        return;
    }
    double peak = 0.0;
    for (double v : image) peak = std::max(peak, v / binArea);
    out << "System: " << r.system << "\nLight: " << r.light << ", unit power, seed " << options.seed
        << "\nDetector: z = " << number(g.z) << ", " << g.nx << " x " << g.ny << " bins over x "
        << number(g.xMin) << " .. " << number(g.xMax) << ", y " << number(g.yMin) << " .. "
        << number(g.yMax) << "\n\n";
    TextTable table;
    for (const char* h : {"rays", "failed", "on grid", "power", "power through", "centroid x",
                          "centroid y", "RMS radius", "peak irradiance"})
        table.addColumn(h);
    table.addRow({std::to_string(m.rays()), std::to_string(m.failed()), std::to_string(m.onGrid()),
                  fixed(m.power(), 6), fixed(m.powerThrough(), 6), number(m.centroidX()),
                  number(m.centroidY()), number(m.rmsRadius()), number(peak)});
    table.print(out);
    if (!options.output.empty() && !isStandardOutput(options.output))
        out << "\nWrote " << options.output << '\n';
}

}  // namespace

void addIrradianceCommand(CLI::App& app) {
    auto options = std::make_shared<IrradianceOptions>();
    CLI::App* command = app.add_subcommand(
        "irradiance", "The irradiance map a beam makes on a detector, as a table, CSV, JSON and an SVG");
    command->add_option("FILE", options->file,
                        "System description, or a prescription: a .zmx lens file or a .json file "
                        "(default: the built-in example)");
    nameOfAFile(command->add_option("-o,--output", options->output, "SVG map to write ('-': standard output)")
                    ->capture_default_str());
    nameOfAFile(command->add_option("--csv", options->csvFile, "Also write every bin as CSV"));
    command->add_flag("--json", options->json, "Print the numbers and the map as JSON instead");
    allow(command->add_option("-n,--rays", options->rays, "Rays in the beam")->capture_default_str(),
          Allowed::whole(1, 1e15));
    command->add_option("--bins", options->bins, "Bins across x, and across y if it differs: 64 or 80 40")
        ->expected(1, 2)
        ->check(CLI::Range(1, 8192))
        ->capture_default_str();
    allow(command->add_option("--field", options->field,
                              "For a prescription: which of its fields, from 0")
              ->capture_default_str(),
          Allowed::whole(0, 1e6));
    allow(command->add_option("-a,--angle", options->angleDegrees,
                              "For a bare system: the beam's field angle in the x-z plane, degrees")
              ->capture_default_str(),
          Allowed::between(-89.0, 89.0));
    addWavelengthOption(*command, options->wavelength,
                        "Wavelength: in micrometres for a prescription (default its primary), in the "
                        "description's length unit otherwise (default 5.5e-4)");
    allow(command->add_option("--z", options->z,
                              "The detector's plane (default: a prescription's image plane, a bare "
                              "system's paraxial focus)"),
          Allowed::finite());
    command->add_option("--extent", options->extent,
                        "The grid's bounds xmin xmax ymin ymax (default: around the first 4096 rays "
                        "that go through, widened by 5 %)")
        ->expected(4);
    command->add_option("--seed", options->seed, "The random stream the rays are drawn from")
        ->capture_default_str();
    addThreadsOption(*command, options->threads);
    command->callback([options, command] {
        const bool lens = isPrescriptionFile(options->file);
        if (lens && command->get_option("--angle")->count() > 0)
            throw ToolError(kExitInput, "--angle is for a bare system; a prescription takes --field");
        if (!lens && command->get_option("--field")->count() > 0)
            throw ToolError(kExitInput, "--field is for a prescription; a bare system takes --angle");
        runIrradiance(*options);
    });
}

}  // namespace lumivex::cli
