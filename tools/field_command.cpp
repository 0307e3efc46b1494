// SPDX-License-Identifier: Apache-2.0
// lumivex field: a sampled one-row field becomes a fan of rays, goes
// through the system and becomes a field again (the library's
// fieldRoundTrip); input and output are written as CSV and, on request,
// plotted.
#include <CLI/CLI.hpp>
#include <algorithm>
#include <climits>
#include <cmath>
#include <complex>
#include <iostream>
#include <limits>
#include <memory>
#include <sstream>

#include "commands.h"
#include "format.h"
#include "load.h"
#include "options.h"
#include "svg.h"
#include "tracing.h"

namespace lumivex::cli {

namespace {

constexpr double kPi = 3.141592653589793;

struct FieldOptions {
    std::string file;
    bool planeWave = false;
    double waist = std::numeric_limits<double>::quiet_NaN();
    double window = std::numeric_limits<double>::quiet_NaN();
    double tiltDegrees = 0.0;
    long long samples = 201;
    int rays = 51;
    double wavelength = std::numeric_limits<double>::quiet_NaN();
    double startZ = std::numeric_limits<double>::quiet_NaN();
    double outZ = std::numeric_limits<double>::quiet_NaN();
    int outSamples = 0;
    double outDx = std::numeric_limits<double>::quiet_NaN();
    std::string output = "-";
    std::string svgFile;
    int threads = 0;
};

// The argument of a sample, 0 where it has no amplitude and never −0.
double phaseOf(const complex& value) {
    return value == complex(0.0, 0.0) ? 0.0 : std::arg(value) + 0.0;
}

// A small two-series line plot with a framed, ticked axis.
void plotPanel(SvgWriter& svg, double left, double top, double width, double height,
               const std::string& title, const std::vector<Point2>& a, const std::vector<Point2>& b,
               double xMin, double xMax) {
    double yMin = 1e300, yMax = -1e300;
    for (const auto* series : {&a, &b})
        for (const Point2& p : *series) {
            yMin = std::min(yMin, p.second);
            yMax = std::max(yMax, p.second);
        }
    if (!(yMax > yMin)) {
        yMin -= 1.0;
        yMax += 1.0;
    }
    const double pad = 0.06 * (yMax - yMin);
    yMin -= pad;
    yMax += pad;
    auto X = [&](double x) { return left + (x - xMin) / (xMax - xMin) * width; };
    auto Y = [&](double y) { return top + (yMax - y) / (yMax - yMin) * height; };

    svg.rect(left, top, width, height, "fill:#ffffff;stroke:#333333;stroke-width:1");
    svg.text(left, top - 8, title, "font-size:12px;font-weight:bold;fill:#222222");
    const std::string tickStyle = "stroke:#333333;stroke-width:1";
    const std::string gridStyle = "stroke:#e4e4e4;stroke-width:1";
    const double xStep = niceLength((xMax - xMin) / 6.0);
    for (double t = std::ceil(xMin / xStep) * xStep; t <= xMax + 1e-9 * xStep; t += xStep) {
        svg.line(X(t), top, X(t), top + height, gridStyle);
        svg.line(X(t), top + height, X(t), top + height + 5, tickStyle);
        svg.text(X(t), top + height + 18, number(std::fabs(t) < 1e-9 * xStep ? 0.0 : t, 4),
                 "font-size:10px;fill:#333333", "middle");
    }
    const double yStep = niceLength((yMax - yMin) / 5.0);
    for (double t = std::ceil(yMin / yStep) * yStep; t <= yMax + 1e-9 * yStep; t += yStep) {
        svg.line(left, Y(t), left + width, Y(t), gridStyle);
        svg.line(left - 5, Y(t), left, Y(t), tickStyle);
        svg.text(left - 8, Y(t) + 3.5, number(std::fabs(t) < 1e-9 * yStep ? 0.0 : t, 4),
                 "font-size:10px;fill:#333333", "end");
    }
    auto mapped = [&](const std::vector<Point2>& series) {
        std::vector<Point2> points;
        for (const Point2& p : series) points.emplace_back(X(p.first), Y(p.second));
        return points;
    };
    svg.polyline(mapped(a), "fill:none;stroke:#1f6fb4;stroke-width:1.6", "input");
    svg.polyline(mapped(b), "fill:none;stroke:#c8302b;stroke-width:1.6", "output");
}

std::string plotProfiles(const std::string& name, const TFieldRow& in, const TFieldRow& out) {
    const double width = 860, left = 70, plotWidth = 760, plotHeight = 230;
    SvgWriter svg(width, 650);
    svg.rect(0, 0, width, 650, "fill:#ffffff;stroke:none");
    svg.text(left, 24, "lumivex field \u2014 " + name, "font-size:15px;font-weight:bold");
    svg.text(left, 42, "input at z = " + number(in.z) + ", output at z = " + number(out.z),
             "font-size:12px;fill:#444444");
    double xMin = 1e300, xMax = -1e300;
    for (const TFieldRow* p : {&in, &out})
        for (double x : p->x) {
            xMin = std::min(xMin, x);
            xMax = std::max(xMax, x);
        }
    std::vector<Point2> ampIn, ampOut, phaseIn, phaseOut;
    for (std::size_t i = 0; i < in.x.size(); ++i) {
        ampIn.emplace_back(in.x[i], std::abs(in.value[i]));
        phaseIn.emplace_back(in.x[i], phaseOf(in.value[i]));
    }
    for (std::size_t i = 0; i < out.x.size(); ++i) {
        ampOut.emplace_back(out.x[i], std::abs(out.value[i]));
        phaseOut.emplace_back(out.x[i], phaseOf(out.value[i]));
    }
    plotPanel(svg, left, 80, plotWidth, plotHeight, "amplitude", ampIn, ampOut, xMin, xMax);
    plotPanel(svg, left, 360, plotWidth, plotHeight, "phase (rad)", phaseIn, phaseOut, xMin, xMax);
    svg.text(left + plotWidth / 2, 630, "x", "font-size:12px;font-style:italic", "middle");
    const double ly = 56;
    svg.line(left + 400, ly, left + 430, ly, "stroke:#1f6fb4;stroke-width:2");
    svg.text(left + 436, ly + 4, "input", "font-size:11px");
    svg.line(left + 490, ly, left + 520, ly, "stroke:#c8302b;stroke-width:2");
    svg.text(left + 526, ly + 4, "output (after tracing)", "font-size:11px");
    return svg.str();
}

std::string csvProfiles(const TFieldRow& in, const TFieldRow& out) {
    std::ostringstream os;
    os << "x_in,amplitude_in,phase_in,x_out,amplitude_out,phase_out\n";
    const std::size_t rows = std::max(in.x.size(), out.x.size());
    for (std::size_t i = 0; i < rows; ++i) {
        if (i < in.x.size())
            os << format("%.17g,%.17g,%.17g", in.x[i], std::abs(in.value[i]), phaseOf(in.value[i]));
        else
            os << ",,";
        os << ',';
        if (i < out.x.size())
            os << format("%.17g,%.17g,%.17g", out.x[i], std::abs(out.value[i]),
                         phaseOf(out.value[i]));
        else
            os << ",,";
        os << '\n';
    }
    return os.str();
}

void runField(const FieldOptions& options) {
    LoadedSystem loaded = loadSystem(options.file, options.wavelength);
    TOpticalSystem& system = *loaded.system;
    const double radius = entranceRadius(system);

    // Given values were checked as the command line was read.
    const double waist = std::isnan(options.waist) ? 0.4 * radius : options.waist;
    const double window = !std::isnan(options.window) ? options.window
                          : options.planeWave         ? 1.6 * radius
                                                      : 4.0 * waist;
    const double lambda = loaded.wavelength;
    const long long W = options.samples;
    const double tilt = options.tiltDegrees * kPi / 180.0;
    TCollimatedBeam plane;
    plane.startZ = options.startZ;
    const double startZ = resolveBeam(system, plane).startZ;

    // The row is sampled before the library's grid takes it over; a count
    // beyond any memory fails there, as std::bad_alloc.
    TFieldRow in;
    try {
        in = sampledRow(lambda, startZ, W, window,
                        options.planeWave ? std::numeric_limits<double>::infinity() : waist, tilt);
    } catch (const xmsg& e) {
        throw ToolError(kExitInput, e.message() +
                                        ": use more --samples, a narrower --window or a smaller "
                                        "--tilt");
    }
    if (W > INT_MAX)
        throw ToolError(kExitInput, "--samples must be at most " + std::to_string(INT_MAX) +
                                        ", the most columns a sampled field holds");

    Progress progress("tracing", static_cast<std::size_t>(options.rays));
    TFieldRoundTrip result;
    try {
        result = fieldRoundTrip(system, in, lambda, options.rays, options.outZ,
                                options.outSamples, options.outDx,
                                withProgress(options.threads, progress));
    } catch (const TFieldRoundTripError& e) {
        throw ToolError(kExitFailure, e.message() + (e.step == TFieldRoundTripError::Crossing
                                                         ? "; choose another --out-z"
                                                         : ""));
    }
    progress.finish();
    const TFieldRow& out = result.out;
    const int outColumns = static_cast<int>(out.x.size());
    const double outDx = out.dx;
    const double outZ = out.z;
    const bool descending = result.inverted;

    const std::string csv = csvProfiles(in, out);
    const bool csvToStdout = isStandardOutput(options.output);
    writeOutput(options.output, csv);
    if (!options.svgFile.empty())
        writeFile(options.svgFile, plotProfiles(loaded.source.name, in, out));

    std::ostream& report = csvToStdout ? std::cerr : std::cout;
    report << "Field: " << (options.planeWave ? "plane wave" : "Gaussian of waist " + number(waist))
           << (tilt != 0.0 ? ", tilted " + number(options.tiltDegrees) + " deg" : "") << ", " << W
           << " samples over " << number(window) << " at z = " << number(startZ) << "; "
           << result.rays.size() << " rays through " << loaded.source.name
           << "; output at z = " << number(outZ) << ", " << outColumns << " samples "
           << number(outDx) << " apart; power " << number(in.power(), 5) << " in, "
           << number(out.power(), 5) << " out" << (descending ? "; the system inverts the row" : "")
           << '\n';
    if (!csvToStdout) report << "Wrote " << options.output << '\n';
    if (!options.svgFile.empty()) report << "Wrote " << options.svgFile << '\n';
}

}  // namespace

void addFieldCommand(CLI::App& app) {
    auto options = std::make_shared<FieldOptions>();
    CLI::App* command = app.add_subcommand(
        "field", "Trace a sampled field through the system and sample it again (CSV)");
    addFileArgument(*command, options->file);
    command->add_flag("--plane-wave", options->planeWave,
                      "A plane wave of unit amplitude instead of a Gaussian");
    allow(command->add_option("--waist", options->waist,
                              "Gaussian waist: amplitude exp(-(x/waist)^2) (default: 40% of the "
                              "first element's radius)"),
          Allowed::positive());
    allow(command->add_option("--window", options->window,
                              "Width of the sampled row (default: 4 waists, or 80% of the first "
                              "element's diameter for a plane wave)"),
          Allowed::positive());
    allow(command->add_option("--tilt", options->tiltDegrees, "Tilt of the wavefront, degrees")
              ->capture_default_str(),
          Allowed::between(-89.0, 89.0));
    // A huge count is left to the sampling, which runs out of memory before
    // it reaches the library's limit of an int's worth of columns.
    allow(command->add_option("--samples", options->samples, "Samples of the input row")
              ->capture_default_str(),
          Allowed::whole(3, 1e15));
    addRaysOption(*command, options->rays, 2, "Rays made from the field");
    addWavelengthOption(*command, options->wavelength,
                        "Wavelength in the description's length unit (default: 5.5e-4; for a "
                        ".zmx file its primary wavelength)");
    addStartZOption(*command, options->startZ,
                    "z of the input field's plane (default: a little in front of the "
                    "first element)");
    allow(command->add_option("--out-z", options->outZ,
                              "z of the plane the output is sampled in (default: the last "
                              "element)"),
          Allowed::finite());
    allow(command->add_option("--out-samples", options->outSamples,
                              "Samples of the output row (default: as the input)"),
          Allowed::whole(2, INT_MAX));
    allow(command->add_option("--out-dx", options->outDx,
                              "Spacing of the output samples (default: the output row spans the "
                              "rays' end points and a tenth more)"),
          Allowed::positive());
    command->add_option("-o,--output", options->output, "CSV file ('-': standard output)")
        ->capture_default_str();
    command->add_option("--svg", options->svgFile, "Also plot both profiles into this SVG file");
    addThreadsOption(*command, options->threads);
    command->callback([options] { runField(*options); });
}

}  // namespace lumivex::cli
