// SPDX-License-Identifier: Apache-2.0
#include "figure_svg.h"

#include <algorithm>
#include <cmath>

#include "format.h"
#include "svg.h"

namespace lumivex::cli {

namespace {

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

// The colours of a prescription's fields, in order, repeating after eight
// (lumivex.plot.layout uses the same).
std::string fieldColour(int field) {
    static const char* const colours[] = {"#1f5fa8", "#2a9d55", "#d62728", "#9467bd",
                                          "#e07b00", "#17a2b8", "#8c564b", "#d6399b"};
    return colours[static_cast<unsigned>(field) % 8u];
}

}  // namespace

std::string figureSvg(const Figure& f) {
    SvgWriter svg(f.width, f.height);
    svg.rect(0, 0, f.width, f.height, "fill:#ffffff;stroke:none");
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
        coord(f.frameX) + "\" y=\"" + coord(f.frameY) + "\" width=\"" + coord(f.frameWidth) +
        "\" height=\"" + coord(f.frameHeight) +
        "\"/></clipPath>\n"
        "</defs>");

    // Media first, so that faces and rays lie on top of them.
    for (const Figure::Medium& medium : f.media) {
        if (medium.gradient)
            svg.polygon(medium.outline,
                        "fill:url(#grin);stroke:#5b8f6a;stroke-width:1;stroke-linejoin:round",
                        "medium grin");
        else
            svg.polygon(medium.outline,
                        "fill:#cde3f4;fill-opacity:0.9;stroke:#1d3557;stroke-width:1;"
                        "stroke-linejoin:round",
                        "medium glass");
    }

    svg.line(f.axisFrom.first, f.axisFrom.second, f.axisTo.first, f.axisTo.second,
             "stroke:#555555;stroke-width:0.9;stroke-dasharray:16 4 3 4", "axis");

    svg.raw("<g clip-path=\"url(#frame)\">");
    for (const Figure::Ray& ray : f.rays) {
        const std::string colour =
            ray.field >= 0 ? fieldColour(ray.field) : intensityColour(ray.intensity);
        const std::string style =
            ray.ok ? "fill:none;stroke:" + colour +
                         ";stroke-width:1.15;stroke-linejoin:round;stroke-opacity:0.95"
                   : "fill:none;stroke:#8a8a8a;stroke-width:1.15;stroke-dasharray:5 3";
        svg.polyline(ray.points, style, "ray", ray.title);
    }
    svg.raw("</g>");

    for (const Figure::Surface& surface : f.surfaces)
        svg.path(surface.outline,
                 std::string("fill:none;stroke:") + kSurfaceColour +
                     ";stroke-width:1.8;stroke-linecap:round;stroke-linejoin:round",
                 "element", surface.title);
    for (const Figure::Mark& mark : f.marks)
        svg.polyline(mark.points,
                     mark.stop ? "fill:none;stroke:#111111;stroke-width:3;stroke-linecap:butt"
                               : "fill:none;stroke:#111111;stroke-width:1.6",
                     mark.stop ? "stop" : "image");
    for (const Figure::Label& label : f.labels)
        svg.text(label.at.first, label.at.second, label.text, "font-size:11px;fill:#33475b",
                 "middle");

    if (f.focusShown) {
        svg.circle(f.focus.first, f.focus.second, 3.5,
                   "fill:#ffffff;stroke:#000000;stroke-width:1.2");
        svg.text(f.focus.first, f.focus.second + 17, "F\u2032", "font-size:12px;font-style:italic",
                 "middle");
    }

    // Title, then the scale bar and legend in the band below the figure.
    const double left = f.margin;
    svg.text(left, 24, f.title, "font-size:15px;font-weight:bold;fill:#111111");
    svg.text(left, 43, f.subtitle, "font-size:12px;fill:#444444");

    const double bandTop = f.bandTop;
    const std::string ink = "stroke:#222222;stroke-width:1.4";
    svg.line(left, bandTop + 8, left + f.barPixels, bandTop + 8, ink);
    svg.line(left, bandTop + 3, left, bandTop + 13, ink);
    svg.line(left + f.barPixels, bandTop + 3, left + f.barPixels, bandTop + 13, ink);
    svg.text(left, bandTop + 28, number(f.barLength) + " length units",
             "font-size:11px;fill:#222222");
    if (f.exaggeration != 1.0)
        svg.text(left, bandTop + 46, "transverse scale \u00d7" + number(f.exaggeration),
                 "font-size:11px;fill:#222222");

    double lx = left + std::max(f.barPixels, 120.0) + 40;
    const double ly = bandTop + 8;
    auto legendText = [&](double x, const std::string& label, double row = 0) {
        svg.text(x, ly + 4 + row, label, "font-size:11px;fill:#222222");
        return x + 6.4 * static_cast<double>(label.size()) + 22;
    };
    if (f.hasGlass) {
        svg.rect(lx, ly - 6, 22, 12, "fill:#cde3f4;stroke:#1d3557;stroke-width:1");
        lx = legendText(lx + 28, "glass");
    }
    if (f.hasGradient) {
        svg.rect(lx, ly - 6, 22, 12, "fill:url(#grin);stroke:#5b8f6a;stroke-width:1");
        lx = legendText(lx + 28, "GRIN medium");
    }
    svg.line(lx, ly, lx + 22, ly, std::string("stroke:") + kSurfaceColour + ";stroke-width:1.8");
    lx = legendText(lx + 28, "surface");
    svg.line(lx, ly, lx + 22, ly, "stroke:#555555;stroke-width:0.9;stroke-dasharray:8 3 2 3");
    lx = legendText(lx + 28, "optical axis");
    if (f.focusShown) {
        svg.circle(lx + 6, ly, 3.5, "fill:#ffffff;stroke:#000000;stroke-width:1.2");
        lx = legendText(lx + 16, "paraxial focus F\u2032");
    }
    bool stopShown = false, imageShown = false;
    for (const Figure::Mark& mark : f.marks) (mark.stop ? stopShown : imageShown) = true;
    if (stopShown) {
        svg.line(lx + 4, ly - 7, lx + 4, ly + 7, "stroke:#111111;stroke-width:3");
        lx = legendText(lx + 14, "aperture stop");
    }
    if (imageShown) {
        svg.line(lx + 4, ly - 7, lx + 4, ly + 7, "stroke:#111111;stroke-width:1.6");
        legendText(lx + 14, "image plane");
    }

    // Second row: the ray colours, by field or by intensity.
    const double row = 26;
    double rx = left + std::max(f.barPixels, 120.0) + 40;
    if (!f.fieldLabels.empty()) {
        rx = legendText(rx, "fields:", row) - 12;
        for (std::size_t k = 0; k < f.fieldLabels.size(); ++k) {
            svg.line(rx, ly + row, rx + 22, ly + row,
                     "stroke:" + fieldColour(static_cast<int>(k)) + ";stroke-width:2");
            rx = legendText(rx + 28, f.fieldLabels[k], row);
        }
    } else {
        svg.rect(rx, ly + row - 5, 90, 10, "fill:url(#intensity);stroke:none");
        svg.text(rx, ly + row + 17, "0", "font-size:10px;fill:#444444", "middle");
        svg.text(rx + 90, ly + row + 17, "1", "font-size:10px;fill:#444444", "middle");
        rx = legendText(rx + 98, "ray intensity", row);
    }
    if (f.hasFailedRays) {
        svg.line(rx, ly + row, rx + 22, ly + row,
                 "stroke:#8a8a8a;stroke-width:1.2;stroke-dasharray:5 3");
        legendText(rx + 28, "failed ray", row);
    }
    return svg.str();
}

}  // namespace lumivex::cli
