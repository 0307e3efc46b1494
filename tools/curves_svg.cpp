// SPDX-License-Identifier: Apache-2.0
#include "curves_svg.h"

#include <algorithm>
#include <cmath>

#include "chart.h"
#include "format.h"
#include "svg.h"

namespace lumivex::cli {

namespace {

const char* const kText = "font-family:sans-serif;font-size:11px;fill:#222";
const char* const kTitle = "font-family:sans-serif;font-size:15px;font-weight:bold;fill:#111";
const char* const kFirst = "#1f5fa8";
const char* const kSecond = "#d0481c";

// A curve of the panel: x against y, with its legend entry.
struct Series {
    const std::vector<double>* x;
    const std::vector<double>* y;
    std::string style;  // the stroke
    std::string label;
};

// An axis from lo to hi widened to round ticks; lo = hi gets a unit span.
Axis roundedAxis(double lo, double hi) {
    if (!(hi > lo)) {
        lo -= 0.5;
        hi += 0.5;
    }
    Axis a;
    a.step = niceLength((hi - lo) / 5.0);
    a.lo = std::floor(lo / a.step + 1e-9) * a.step;
    a.hi = std::ceil(hi / a.step - 1e-9) * a.step;
    for (double t = a.lo; t <= a.hi + 1e-9 * a.step; t += a.step) a.ticks.push_back(t);
    return a;
}

double extentOf(const std::vector<Series>& series) {
    double extent = 0.0;
    for (const Series& s : series)
        for (double v : *s.x)
            if (std::isfinite(v)) extent = std::max(extent, std::fabs(v));
    return extent;
}

// A panel whose x axis holds the curves symmetrically about 0 and whose y
// axis spans yLo … yHi; the legend under it.
void curvesPanel(SvgWriter& svg, double left, double top, const std::vector<Series>& series, double yLo,
                 double yHi, const std::string& title, const std::string& xTitle, const std::string& yTitle) {
    Panel p;
    p.x = left;
    p.y = top;
    p.width = 360.0;
    p.height = 320.0;
    const double extent = extentOf(series);
    p.ax = symmetricAxis(extent > 0.0 ? extent : 1e-6, 2);
    p.ay = roundedAxis(yLo, yHi);
    drawPanel(svg, p, title, xTitle, yTitle);
    double ly = p.y + p.height + 58;
    for (const Series& s : series) {
        std::vector<Point2> points;
        for (std::size_t k = 0; k < s.x->size(); ++k) {
            if (!std::isfinite((*s.x)[k])) continue;
            points.emplace_back(p.X((*s.x)[k]), p.Y((*s.y)[k]));
        }
        svg.polyline(points, "fill:none;stroke-width:1.8;" + s.style);
        svg.line(p.x, ly - 4, p.x + 26, ly - 4, "stroke-width:1.8;" + s.style);
        svg.text(p.x + 32, ly, s.label, kText);
        ly += 18;
    }
}

}  // namespace

std::string colourSvg(const std::string& title, const TFocalShift& shift, const TLateralColour& colour,
                      const std::string& unit, const std::string& fieldTitle) {
    const double width = 980.0, height = 520.0;
    SvgWriter svg(width, height);
    svg.rect(0, 0, width, height, "fill:#ffffff;stroke:none");
    svg.text(20, 24, title, kTitle);
    svg.text(20, 42,
             "Paraxial focus against the wavelength, from the primary's at z = " +
                 number(shift.primaryFocusZ) + "; chief-ray height in the image plane z = " +
                 number(colour.z) + ", longest less shortest wavelength",
             kText);
    curvesPanel(svg, 90, 80,
                {{&shift.shift, &shift.wavelengths, std::string("stroke:") + kFirst,
                  "paraxial focus less the primary's (range " + number(shift.range, 4) + " " + unit + ")"}},
                shift.wavelengths.front(), shift.wavelengths.back(), "Chromatic focal shift",
                "focus shift (" + unit + ")", "wavelength (µm)");
    curvesPanel(svg, 580, 80,
                {{&colour.difference, &colour.field, std::string("stroke:") + kSecond,
                  number(colour.longUm, 4) + " µm less " + number(colour.shortUm, 4) + " µm"}},
                0.0, colour.field.back(), "Lateral colour", "chief-ray height difference (" + unit + ")",
                fieldTitle);
    return svg.str();
}

std::string fieldCurvesSvg(const std::string& title, const TFieldCurves& curves, const std::string& unit,
                           const std::string& fieldTitle) {
    const double width = 980.0, height = 520.0;
    SvgWriter svg(width, height);
    svg.rect(0, 0, width, height, "fill:#ffffff;stroke:none");
    svg.text(20, 24, title, kTitle);
    svg.text(20, 42,
             "At " + number(curves.wavelengthUm) + " µm; foci of close rays about the chief ray, along z "
             "from the image plane z = " + number(curves.z) + "; distortion against the paraxial height",
             kText);
    curvesPanel(svg, 90, 80,
                {{&curves.tangential, &curves.field, std::string("stroke:") + kFirst, "tangential"},
                 {&curves.sagittal, &curves.field, std::string("stroke-dasharray:6 4;stroke:") + kSecond,
                  "sagittal"}},
                0.0, curves.field.back(), "Field curvature", "focus from the image plane (" + unit + ")",
                fieldTitle);
    curvesPanel(svg, 580, 80,
                {{&curves.distortion, &curves.field, std::string("stroke:") + kFirst,
                  "100 (h − h′)/h′, h′ the paraxial height"}},
                0.0, curves.field.back(), "Distortion", "distortion (%)", fieldTitle);
    return svg.str();
}

std::string couplingSvg(const std::string& title, const std::vector<double>& offsets,
                        const std::vector<TFibreCoupling>& couplings, double modeRadius, bool matched,
                        const std::string& unit) {
    const double width = 760.0, height = 520.0;
    SvgWriter svg(width, height);
    svg.rect(0, 0, width, height, "fill:#ffffff;stroke:none");
    svg.text(20, 24, title, kTitle);
    Panel p;
    p.x = 90;
    p.y = 70;
    p.width = 520;
    p.height = 320;
    p.ax = roundedAxis(std::min(0.0, offsets.front()), offsets.back());
    p.ay = roundedAxis(0.0, 1.0);
    drawPanel(svg, p, "Coupling efficiency", "lateral offset of the receiving fibre (" + unit + ")",
              "efficiency");
    double ly = p.y + p.height + 58;
    if (matched) {
        // T·exp(−(d/w)²): what a perfect relay gives matched modes.
        std::vector<Point2> curve;
        const double T = couplings.front().transmitted;
        for (int k = 0; k <= 200; ++k) {
            const double d = p.ax.lo + (p.ax.hi - p.ax.lo) * k / 200.0;
            curve.emplace_back(p.X(d), p.Y(T * std::exp(-d * d / (modeRadius * modeRadius))));
        }
        svg.polyline(curve, "fill:none;stroke:#111;stroke-width:1.1");
        svg.line(p.x, ly - 4, p.x + 26, ly - 4, "stroke:#111;stroke-width:1.1");
        svg.text(p.x + 32, ly, "T exp(-(d/w)^2), T the transmitted fraction " + number(T, 4), kText);
        ly += 18;
    }
    for (std::size_t k = 0; k < offsets.size(); ++k) {
        svg.circle(p.X(offsets[k]), p.Y(couplings[k].efficiency), 3.5, std::string("fill:") + kFirst);
        const double x = p.X(offsets[k]), y = p.Y(couplings[k].imagePlaneEfficiency);
        svg.line(x - 4, y - 4, x + 4, y + 4, std::string("stroke-width:1.5;stroke:") + kSecond);
        svg.line(x - 4, y + 4, x + 4, y - 4, std::string("stroke-width:1.5;stroke:") + kSecond);
    }
    svg.circle(p.x + 13, ly - 4, 3.5, std::string("fill:") + kFirst);
    svg.text(p.x + 32, ly, "pupil-plane overlap of the far fields", kText);
    ly += 18;
    svg.line(p.x + 9, ly - 8, p.x + 17, ly, std::string("stroke-width:1.5;stroke:") + kSecond);
    svg.line(p.x + 9, ly, p.x + 17, ly - 8, std::string("stroke-width:1.5;stroke:") + kSecond);
    svg.text(p.x + 32, ly, "image-plane overlap of the traced field", kText);
    return svg.str();
}

}  // namespace lumivex::cli
