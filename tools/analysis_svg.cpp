// SPDX-License-Identifier: Apache-2.0
#include "analysis_svg.h"

#include <algorithm>
#include <cmath>

#include "chart.h"
#include "format.h"
#include "svg.h"

namespace lumivex::cli {

namespace {

constexpr double kDegrees = 180.0 / 3.141592653589793;
const char* const kTangential = "#1f5fa8";
const char* const kSagittal = "#d0481c";
const char* const kText = "font-family:sans-serif;font-size:11px;fill:#222";

std::string fieldTitle(double angle) { return "field " + number(angle * kDegrees, 4) + "°"; }

}  // namespace

namespace {

// The colour a wavelength in µm looks, roughly (violet at 0.38, red at
// 0.7); beyond the visible, the nearest end darkened.
std::string wavelengthColour(double um) {
    const double nm = um * 1000.0;
    double r = 0.0, g = 0.0, b = 0.0;
    if (nm < 440.0) r = std::clamp((440.0 - nm) / 60.0, 0.0, 1.0), b = 1.0;
    else if (nm < 490.0) g = (nm - 440.0) / 50.0, b = 1.0;
    else if (nm < 510.0) g = 1.0, b = (510.0 - nm) / 20.0;
    else if (nm < 580.0) r = (nm - 510.0) / 70.0, g = 1.0;
    else if (nm < 645.0) r = 1.0, g = (645.0 - nm) / 65.0;
    else r = 1.0;
    // Greens and yellows darkened to read on white.
    const double dim = nm < 380.0 || nm > 750.0 ? 0.5 : 0.82;
    return rgb(r * dim, g * dim * 0.85, b * dim);
}

}  // namespace

std::string spotSvg(const std::string& title, const std::vector<TSpotDiagram>& spots,
                    const std::string& unit) {
    // One scale for every field: the largest spot or Airy disk decides.
    double extent = 0.0;
    for (const TSpotDiagram& s : spots) {
        extent = std::max(extent, s.airyRadius);
        for (std::size_t i = 0; i < s.x.size(); ++i)
            extent = std::max({extent, std::fabs(s.x[i]), std::fabs(s.y[i])});
    }
    const Axis axis = symmetricAxis(1.05 * extent);
    const double size = 260.0, left = 80.0, gap = 100.0, top = 70.0;
    const double width = left + spots.size() * size + (spots.size() - 1) * gap + 30.0;
    std::size_t colours = 0;
    for (const TSpotDiagram& s : spots) colours = std::max(colours, s.wavelengthsUm.size());
    const double height = top + size + 130.0 + (colours > 1 ? 15.0 * ((colours + 2) / 3) + 8.0 : 0.0);
    SvgWriter svg(width, height);
    svg.rect(0, 0, width, height, "fill:#ffffff;stroke:none");
    svg.text(20, 24, title, "font-family:sans-serif;font-size:15px;font-weight:bold;fill:#111");
    for (std::size_t f = 0; f < spots.size(); ++f) {
        const TSpotDiagram& s = spots[f];
        Panel p;
        p.x = left + f * (size + gap);
        p.y = top;
        p.width = p.height = size;
        p.ax = p.ay = axis;
        drawPanel(svg, p, fieldTitle(s.fieldAngle), "Δx (" + unit + ")", "Δy (" + unit + ")");
        const double pixels = s.airyRadius / (axis.hi - axis.lo) * size;
        svg.circle(p.X(0), p.Y(0), pixels,
                   "fill:none;stroke:#2a9d55;stroke-width:1.2;stroke-dasharray:4 3");
        // One colour per wavelength of a polychromatic spot, from blue to red.
        for (std::size_t i = 0; i < s.x.size(); ++i)
            svg.circle(p.X(s.x[i]), p.Y(s.y[i]), 1.6,
                       "fill:" + (s.wave.empty() ? std::string(kTangential)
                                                 : wavelengthColour(s.wavelengthsUm[s.wave[i]])));
        svg.circle(p.X(s.centroidX), p.Y(s.centroidY), 2.5, "fill:none;stroke:#111;stroke-width:1");
        const double y = p.y + p.height + 56;
        svg.text(p.x, y, "RMS radius " + number(s.spot.rms, 4) + " " + unit, kText);
        svg.text(p.x, y + 15, "GEO radius " + number(s.spot.largest, 4) + " " + unit, kText);
        svg.text(p.x, y + 30,
                 "Airy radius " + number(s.airyRadius, 4) + " " + unit + " (dashed circle)", kText);
        std::string rays = std::to_string(s.spot.rays) + " rays";
        if (s.spot.failed > 0) rays += ", " + std::to_string(s.spot.failed) + " failed";
        svg.text(p.x, y + 45, rays + ", image plane z = " + number(s.z), kText);
        for (std::size_t k = 0; k < s.wavelengthsUm.size() && s.wavelengthsUm.size() > 1; ++k) {
            const double lx = p.x + (k % 3) * 90.0, ly = y + 63 + (k / 3) * 15.0;
            svg.circle(lx + 4, ly - 4, 3.5, "fill:" + wavelengthColour(s.wavelengthsUm[k]));
            svg.text(lx + 12, ly, number(s.wavelengthsUm[k], 4) + " µm", kText);
        }
    }
    return svg.str();
}

std::string fanSvg(const std::string& title, const std::vector<TRayFan>& fans,
                   const std::string& unit) {
    double transverse = 0.0, opd = 0.0;
    for (const TRayFan& f : fans)
        for (std::size_t i = 0; i < f.rho.size(); ++i)
            for (double v : {f.tangential[i], f.sagittal[i]})
                if (std::isfinite(v)) transverse = std::max(transverse, std::fabs(v));
    for (const TRayFan& f : fans)
        for (std::size_t i = 0; i < f.rho.size(); ++i)
            for (double v : {f.tangentialOpd[i], f.sagittalOpd[i]})
                if (std::isfinite(v)) opd = std::max(opd, std::fabs(v));
    const Axis ax = symmetricAxis(1.0, 2);
    const Axis ayRay = symmetricAxis(1.05 * transverse);
    const Axis ayOpd = symmetricAxis(1.05 * opd);

    const double pw = 330.0, ph = 200.0, left = 90.0, gap = 110.0, top = 90.0, rowGap = 100.0;
    const double width = left + 2 * pw + gap + 30.0;
    const double height = top + fans.size() * (ph + rowGap) + 20.0;
    SvgWriter svg(width, height);
    svg.rect(0, 0, width, height, "fill:#ffffff;stroke:none");
    svg.text(20, 24, title, "font-family:sans-serif;font-size:15px;font-weight:bold;fill:#111");
    // The legend.
    svg.line(20, 46, 44, 46, std::string("stroke-width:2;stroke:") + kTangential);
    svg.text(50, 50, "tangential (x, in the field's plane)", kText);
    svg.line(260, 46, 284, 46, std::string("stroke-width:2;stroke:") + kSagittal);
    svg.text(290, 50, "sagittal (y)", kText);
    for (std::size_t r = 0; r < fans.size(); ++r) {
        const TRayFan& f = fans[r];
        for (int column = 0; column < 2; ++column) {
            Panel p;
            p.x = left + column * (pw + gap);
            p.y = top + r * (ph + rowGap);
            p.width = pw;
            p.height = ph;
            p.ax = ax;
            p.ay = column == 0 ? ayRay : ayOpd;
            const std::string what = column == 0 ? "ray fan" : "OPD fan";
            drawPanel(svg, p, fieldTitle(f.fieldAngle) + ": " + what, "normalised pupil ρ",
                      column == 0 ? "ε (" + unit + ")" : "W (waves)");
            const std::vector<double>& t = column == 0 ? f.tangential : f.tangentialOpd;
            const std::vector<double>& s = column == 0 ? f.sagittal : f.sagittalOpd;
            for (int which = 0; which < 2; ++which) {
                const std::vector<double>& v = which == 0 ? t : s;
                std::vector<Point2> points;
                // A failed ray breaks the curve.
                for (std::size_t i = 0; i <= f.rho.size(); ++i) {
                    if (i < f.rho.size() && std::isfinite(v[i])) {
                        points.emplace_back(p.X(f.rho[i]), p.Y(v[i]));
                        continue;
                    }
                    if (points.size() > 1)
                        svg.polyline(points,
                                     std::string("fill:none;stroke-width:1.8;stroke:") +
                                         (which == 0 ? kTangential : kSagittal));
                    points.clear();
                }
            }
        }
        svg.text(left, top + r * (ph + rowGap) + ph + 52,
                 "image plane z = " + number(f.z) + ", reference sphere radius " +
                     number(f.referenceRadius, 5),
                 kText);
    }
    return svg.str();
}

}  // namespace lumivex::cli
