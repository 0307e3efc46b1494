// lumivex draw: the system and a traced fan as an SVG figure in the x–z
// plane, drawn the way optics books draw them: glass shaded, rays through
// their recorded nodes, the optical axis dash-dotted, a scale bar and a
// legend.
#include <CLI/CLI.hpp>
#include <algorithm>
#include <cmath>
#include <iostream>
#include <memory>

#include "commands.h"
#include "common.h"
#include "svg.h"

namespace lumivex::cli {

namespace {

struct DrawOptions {
    std::string file;
    std::string output = "layout.svg";
    FanOptions fan;
    double endZ = std::numeric_limits<double>::quiet_NaN();
    double width = 960.0;
};

const char* const kSurfaceColour = "#1d3557";

// Pale amber for weak rays through orange to deep red for full intensity.
std::string intensityColour(double t) {
    t = std::clamp(std::isfinite(t) ? t : 0.0, 0.0, 1.0);
    const double stops[3][3] = {{0.99, 0.80, 0.45}, {0.95, 0.45, 0.12}, {0.70, 0.02, 0.06}};
    const int i = t < 0.5 ? 0 : 1;
    const double f = t < 0.5 ? t / 0.5 : (t - 0.5) / 0.5;
    return rgb(stops[i][0] + (stops[i + 1][0] - stops[i][0]) * f,
               stops[i][1] + (stops[i + 1][1] - stops[i][1]) * f,
               stops[i][2] + (stops[i + 1][2] - stops[i][2]) * f);
}

// The medium between element i − 1 and element i, as the figure shades it.
enum class Medium { Air, Glass, Gradient };

Medium mediumInFront(const TElement& element) {
    if (isGradientIndex(element)) return Medium::Gradient;
    // A plain element stands for a medium of index 1.
    if (element.getRefIndex(TVector(), 0.0).real() != 1.0) return Medium::Glass;
    return Medium::Air;
}

// Vertical exaggerations a figure may use, so the legend can name them.
double niceExaggeration(double raw) {
    static const double steps[] = {1.0, 1.5, 2.0, 2.5, 3.0, 4.0, 5.0, 6.0, 8.0};
    double decade = 1.0;
    double best = 1.0;
    while (decade <= 1e6) {
        for (double s : steps)
            if (s * decade <= raw) best = s * decade;
        decade *= 10.0;
    }
    return best;
}

void runDraw(const DrawOptions& options) {
    LoadedSystem loaded = loadSystem(options.file);
    TOpticalSystem& system = *loaded.system;
    const Fan fan = resolveFan(options.fan, system);
    if (!(options.width >= 200.0)) throw ToolError(kExitInput, "--width must be at least 200");

    Progress progress("tracing", fan.rays);
    const std::vector<TracedRay> rays = traceFan(system, fan, &progress);
    const ParaxialFocus focus = paraxialFocus(system, fan);
    const int n = system.getSize();

    // Neighbours with a medium between them form one piece of glass (or a
    // rod with its entrance face), and every face of a piece is drawn to the
    // piece's largest traced radius so that its rim closes.
    std::vector<Medium> media(static_cast<std::size_t>(n));
    std::vector<double> radius(static_cast<std::size_t>(n));
    for (int i = 0; i < n; ++i) {
        media[i] = mediumInFront(*system[i]);
        radius[i] =
            system[i]->getRadius() > 0.0 ? system[i]->getRadius() : std::max(fan.halfHeight, 1.0);
    }
    for (int i = 0; i < n;) {
        int j = i;
        while (j + 1 < n && media[j + 1] != Medium::Air) ++j;
        const double r = *std::max_element(radius.begin() + i, radius.begin() + j + 1);
        std::fill(radius.begin() + i, radius.begin() + j + 1, r);
        i = j + 1;
    }
    std::vector<std::vector<TVector>> outlines(static_cast<std::size_t>(n));
    for (int i = 0; i < n; ++i) {
        // A shape may end before the piece's radius (an ellipse does); then
        // it is drawn to its own traced radius.
        for (double r : {radius[i], system[i]->getRadius()}) {
            TPolygon polygon;
            try {
                system[i]->getPolygon(polygon, false, r);
            } catch (const xmsg&) {
                continue;
            }
            for (int k = 0; k < polygon.getSize(); ++k) outlines[i].push_back(polygon[k]);
            break;
        }
        const TElementKind* kind = kindOf(*system[i]);
        if (outlines[i].empty() && kind && kind->surface)
            std::cerr << "lumivex: warning: no outline for element " << i + 1 << " ("
                      << elementKind(*system[i]) << ")\n";
    }

    // Where the rays end: a little beyond the last element, or beyond the
    // focus when it lies not too far behind it. Lengths compare with the
    // system's length or its diameter, whichever is larger.
    const double firstZ = system[0]->zPosition;
    const double lastZ = system.getLast()->zPosition;
    const double size =
        std::max(lastZ - firstZ, 2.0 * *std::max_element(radius.begin(), radius.end()));
    double endZ = lastZ + 0.15 * size;
    if (focus.found && !focus.atInfinity && !focus.isVirtual && focus.z > lastZ &&
        focus.z < lastZ + 6.0 * size)
        endZ = std::max(endZ, focus.z + 0.1 * (focus.z - std::min(fan.startZ, firstZ)));
    if (!std::isnan(options.endZ)) endZ = options.endZ;

    std::vector<std::vector<TVector>> paths;
    for (const TracedRay& ray : rays) {
        std::vector<TVector> points;
        for (int k = 0; k < ray.beam.getSize(); ++k) points.push_back(ray.beam[k].position);
        const TBeamNode& last = ray.beam.getLast();
        if (ray.ok) {
            if (last.kVector.z > 0.0 && last.position.z < endZ)
                points.push_back(positionAtZ(ray.beam, endZ));
        } else if (points.size() > 1 && last.kVector == TVector() && last.position == TVector()) {
            points.pop_back();  // a terminal node with no intersection to show
        }
        paths.push_back(points);
    }

    // Extent of the figure: the rays' start plane to their end, and the
    // largest outline or ray height (rays that wander far off are clipped).
    double zMin = fan.startZ;
    double zMax = endZ;
    double xMax = 0.0;
    for (int i = 0; i < n; ++i) {
        xMax = std::max(xMax, radius[i]);
        for (const TVector& p : outlines[i]) {
            zMin = std::min(zMin, p.z);
            zMax = std::max(zMax, p.z);
        }
    }
    const double xLimit = 3.0 * std::max(xMax, fan.halfHeight);
    for (const auto& points : paths)
        for (const TVector& p : points)
            if (std::isfinite(p.x)) xMax = std::max(xMax, std::min(std::fabs(p.x), xLimit));
    if (!(xMax > 0.0)) xMax = 1.0;
    xMax *= 1.12;
    if (!(zMax > zMin)) zMax = zMin + 1.0;

    // True proportions when they fit; otherwise the transverse direction is
    // stretched by a round factor the legend states.
    const double width = options.width;
    const double left = 36.0, right = 36.0, top = 62.0, bottomBand = 96.0;
    double drawWidth = width - left - right;
    double scale = drawWidth / (zMax - zMin);
    double exaggeration = 1.0;
    const double xRange = 2.0 * xMax;
    if (xRange * scale < 0.28 * drawWidth)
        exaggeration = niceExaggeration(0.28 * drawWidth / (xRange * scale));
    double drawHeight = xRange * scale * exaggeration;
    if (drawHeight > 0.7 * drawWidth) {
        scale *= 0.7 * drawWidth / drawHeight;
        drawHeight = 0.7 * drawWidth;
    }
    const double figureWidth = (zMax - zMin) * scale;
    const double x0 = left + 0.5 * (drawWidth - figureWidth);
    drawWidth = figureWidth;
    const double height = top + drawHeight + bottomBand;
    auto X = [&](double z) { return x0 + (z - zMin) * scale; };
    auto Y = [&](double x) { return top + (xMax - x) * scale * exaggeration; };
    auto picture = [&](const std::vector<TVector>& points) {
        std::vector<Point2> mapped;
        for (const TVector& p : points)
            if (std::isfinite(p.x) && std::isfinite(p.z)) mapped.emplace_back(X(p.z), Y(p.x));
        return mapped;
    };

    SvgWriter svg(width, height);
    svg.rect(0, 0, width, height, "fill:#ffffff;stroke:none");
    svg.raw(
        "<defs>\n"
        "<linearGradient id=\"grin\" x1=\"0\" y1=\"0\" x2=\"0\" y2=\"1\">"
        "<stop offset=\"0\" stop-color=\"#eef7ee\"/>"
        "<stop offset=\"0.5\" stop-color=\"#93c9a3\"/>"
        "<stop offset=\"1\" stop-color=\"#eef7ee\"/></linearGradient>\n"
        "<linearGradient id=\"intensity\" x1=\"0\" y1=\"0\" x2=\"1\" y2=\"0\">"
        "<stop offset=\"0\" stop-color=\"" +
        intensityColour(0.0) + "\"/><stop offset=\"0.5\" stop-color=\"" + intensityColour(0.5) +
        "\"/><stop offset=\"1\" stop-color=\"" + intensityColour(1.0) +
        "\"/></linearGradient>\n"
        "<clipPath id=\"frame\"><rect x=\"" +
        coord(x0) + "\" y=\"" + coord(top) + "\" width=\"" + coord(drawWidth) + "\" height=\"" +
        coord(drawHeight) +
        "\"/></clipPath>\n"
        "</defs>");

    // Media first, so that faces and rays lie on top of them.
    for (int i = 1; i < n; ++i) {
        if (media[i] == Medium::Air || outlines[i - 1].empty() || outlines[i].empty()) continue;
        std::vector<TVector> piece = outlines[i - 1];
        piece.insert(piece.end(), outlines[i].rbegin(), outlines[i].rend());
        if (media[i] == Medium::Gradient)
            svg.polygon(picture(piece),
                        "fill:url(#grin);stroke:#5b8f6a;stroke-width:1;stroke-linejoin:round",
                        "medium grin");
        else
            svg.polygon(picture(piece),
                        "fill:#cde3f4;fill-opacity:0.9;stroke:#1d3557;stroke-width:1;"
                        "stroke-linejoin:round",
                        "medium glass");
    }

    svg.line(x0 - 8, Y(0), x0 + drawWidth + 8, Y(0),
             "stroke:#555555;stroke-width:0.9;stroke-dasharray:16 4 3 4", "axis");

    svg.raw("<g clip-path=\"url(#frame)\">");
    for (std::size_t r = 0; r < rays.size(); ++r) {
        const std::string title =
            "ray " + std::to_string(r + 1) + ": start x " + number(rays[r].beam[0].position.x) +
            ", " +
            (rays[r].ok ? "intensity " + number(rays[r].beam.getLast().intensity)
                        : "failed: " + rays[r].status);
        const std::string style =
            rays[r].ok ? "fill:none;stroke:" + intensityColour(rays[r].beam.getLast().intensity) +
                             ";stroke-width:1.15;stroke-linejoin:round;stroke-opacity:0.95"
                       : "fill:none;stroke:#8a8a8a;stroke-width:1.15;stroke-dasharray:5 3";
        svg.polyline(picture(paths[r]), style, "ray", title);
    }
    svg.raw("</g>");

    for (int i = 0; i < n; ++i) {
        const TElement& e = *system[i];
        svg.path(picture(outlines[i]),
                 std::string("fill:none;stroke:") + kSurfaceColour +
                     ";stroke-width:1.8;stroke-linecap:round;stroke-linejoin:round",
                 "element", elementKind(e) + " at z = " + number(e.zPosition));
    }

    // Element names above their faces, skipping any that would collide.
    double labelEnd = -1e9;
    for (int i = 0; i < n; ++i) {
        if (outlines[i].empty()) continue;
        const std::string label = elementKind(*system[i]);
        const double x = X(system[i]->zPosition);
        const double halfText = 3.3 * static_cast<double>(label.size());
        if (x - halfText < labelEnd + 6) continue;
        svg.text(x, Y(radius[i]) - 7, label, "font-size:11px;fill:#33475b", "middle");
        labelEnd = x + halfText;
    }

    const bool focusShown = focus.found && !focus.atInfinity && focus.z >= zMin &&
                            focus.z <= zMax && std::fabs(focus.x) <= xMax;
    if (focusShown) {
        svg.circle(X(focus.z), Y(focus.x), 3.5, "fill:#ffffff;stroke:#000000;stroke-width:1.2");
        svg.text(X(focus.z), Y(focus.x) + 17, "F\u2032", "font-size:12px;font-style:italic",
                 "middle");
    }

    // Title, then the scale bar and legend in the band below the figure.
    svg.text(left, 24, "lumivex \u2014 " + loaded.source.name,
             "font-size:15px;font-weight:bold;fill:#111111");
    std::string subtitle = "x\u2013z section, " + std::to_string(fan.rays) + " rays, field angle " +
                           number(fan.angle * 180.0 / 3.141592653589793) + "\u00b0, wavelength " +
                           number(fan.wavelength);
    if (focus.found && !focus.atInfinity)
        subtitle += ", paraxial focus F\u2032 at z = " + number(focus.z, 5) +
                    (focus.isVirtual ? " (virtual)" : "");
    svg.text(left, 43, subtitle, "font-size:12px;fill:#444444");

    const double bandTop = top + drawHeight + 22;
    const double barLength = niceLength((zMax - zMin) / 6.0);
    const double barPixels = barLength * scale;
    const std::string ink = "stroke:#222222;stroke-width:1.4";
    svg.line(left, bandTop + 8, left + barPixels, bandTop + 8, ink);
    svg.line(left, bandTop + 3, left, bandTop + 13, ink);
    svg.line(left + barPixels, bandTop + 3, left + barPixels, bandTop + 13, ink);
    svg.text(left, bandTop + 28, number(barLength) + " length units",
             "font-size:11px;fill:#222222");
    if (exaggeration != 1.0)
        svg.text(left, bandTop + 46, "transverse scale \u00d7" + number(exaggeration),
                 "font-size:11px;fill:#222222");

    double lx = left + std::max(barPixels, 120.0) + 40;
    const double ly = bandTop + 8;
    auto legendText = [&](double x, const std::string& label, double row = 0) {
        svg.text(x, ly + 4 + row, label, "font-size:11px;fill:#222222");
        return x + 6.4 * static_cast<double>(label.size()) + 22;
    };
    bool glass = false, gradient = false;
    for (Medium m : media) {
        glass = glass || m == Medium::Glass;
        gradient = gradient || m == Medium::Gradient;
    }
    if (glass) {
        svg.rect(lx, ly - 6, 22, 12, "fill:#cde3f4;stroke:#1d3557;stroke-width:1");
        lx = legendText(lx + 28, "glass");
    }
    if (gradient) {
        svg.rect(lx, ly - 6, 22, 12, "fill:url(#grin);stroke:#5b8f6a;stroke-width:1");
        lx = legendText(lx + 28, "GRIN medium");
    }
    svg.line(lx, ly, lx + 22, ly, std::string("stroke:") + kSurfaceColour + ";stroke-width:1.8");
    lx = legendText(lx + 28, "surface");
    svg.line(lx, ly, lx + 22, ly, "stroke:#555555;stroke-width:0.9;stroke-dasharray:8 3 2 3");
    lx = legendText(lx + 28, "optical axis");
    if (focusShown) {
        svg.circle(lx + 6, ly, 3.5, "fill:#ffffff;stroke:#000000;stroke-width:1.2");
        lx = legendText(lx + 16, "paraxial focus F\u2032");
    }

    // Second row: the ray colours.
    const double row = 26;
    double rx = left + std::max(barPixels, 120.0) + 40;
    svg.rect(rx, ly + row - 5, 90, 10, "fill:url(#intensity);stroke:none");
    svg.text(rx, ly + row + 17, "0", "font-size:10px;fill:#444444", "middle");
    svg.text(rx + 90, ly + row + 17, "1", "font-size:10px;fill:#444444", "middle");
    rx = legendText(rx + 98, "ray intensity", row);
    if (std::any_of(rays.begin(), rays.end(), [](const TracedRay& r) { return !r.ok; })) {
        svg.line(rx, ly + row, rx + 22, ly + row,
                 "stroke:#8a8a8a;stroke-width:1.2;stroke-dasharray:5 3");
        legendText(rx + 28, "failed ray", row);
    }

    const std::string document = svg.str();
    int failed = 0;
    for (const TracedRay& ray : rays) failed += ray.ok ? 0 : 1;
    if (options.output == "-") {
        std::cout << document;
        return;
    }
    writeFile(options.output, document);
    std::cout << "Wrote " << options.output << ": " << loaded.source.name << ", " << n
              << (n == 1 ? " element, " : " elements, ") << rays.size() << " rays";
    if (failed > 0) std::cout << " (" << failed << " failed)";
    if (focus.found && !focus.atInfinity)
        std::cout << ", paraxial focus at z = " << number(focus.z);
    std::cout << '\n';
}

}  // namespace

void addDrawCommand(CLI::App& app) {
    auto options = std::make_shared<DrawOptions>();
    CLI::App* command =
        app.add_subcommand("draw", "Draw the system and a traced fan as an SVG picture");
    command->add_option("FILE", options->file,
                        "System description (default: the built-in example)");
    command->add_option("-o,--output", options->output, "SVG file to write ('-': standard output)")
        ->capture_default_str();
    addFanOptions(*command, options->fan);
    command->add_option("--end-z", options->endZ,
                        "z where the drawn rays end (default: a little beyond the last element "
                        "or the focus)");
    command->add_option("--width", options->width, "Width of the picture in pixels")
        ->capture_default_str();
    command->callback([options] { runDraw(*options); });
}

}  // namespace lumivex::cli
