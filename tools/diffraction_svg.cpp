// SPDX-License-Identifier: Apache-2.0
#include "diffraction_svg.h"

#include <algorithm>
#include <cmath>

#include "chart.h"
#include "format.h"
#include "svg.h"

namespace lumivex::cli {

namespace {

constexpr double kDegrees = 180.0 / 3.141592653589793;
const char* const kText = "font-family:sans-serif;font-size:11px;fill:#222";
const char* const kTitle = "font-family:sans-serif;font-size:15px;font-weight:bold;fill:#111";
const char* const kTangential = "#1f5fa8";
const char* const kSagittal = "#d0481c";
// One colour per field, the first two those of the fan figure.
const char* const kFieldColours[] = {"#1f5fa8", "#d0481c", "#2a9d55", "#8e44ad",
                                     "#c79100", "#17a2b8", "#6d4c41", "#e83e8c"};
constexpr int kDecades = 3;  // the image's logarithmic scale

std::string fieldTitle(double angle) { return "field " + number(angle * kDegrees, 4) + "°"; }

std::string heat(double t) { return heatColour(t); }

// The half width, in samples, of the square about the centre that holds 95 %
// of the PSF's energy. (The Airy pattern's energy creeps out as 1/r: 99 %
// would take some forty Airy radii.)
int energyHalfWidth(const TPsf& psf) {
    const int M = psf.size, c = M / 2;
    std::vector<double> ring(c + 1, 0.0);
    for (int j = 0; j < M; ++j)
        for (int i = 0; i < M; ++i) {
            const int d = std::min(c, std::max(std::abs(i - c), std::abs(j - c)));
            ring[d] += psf.image[static_cast<std::size_t>(j) * M + i];
        }
    double sum = 0.0;
    for (int d = 0; d <= c; ++d) {
        sum += ring[d];
        if (sum >= 0.95 * psf.power) return d + 1;
    }
    return c;
}

}  // namespace

std::string psfSvg(const std::string& title, const std::vector<TPsf>& psfs, const std::string& unit) {
    // One scale for every field: half again the widest PSF's 95 % square,
    // and never less than six Airy radii of the reference wavelength.
    double extent = 0.0;
    for (const TPsf& p : psfs)
        extent = std::max({extent, 1.5 * energyHalfWidth(p) * p.dx,
                           6.0 * 1.22 * p.wavelengths[0] * p.fNumbers[0]});
    extent = std::min(extent, psfs.front().size / 2 * psfs.front().dx);
    const Axis axis = symmetricAxis(extent);
    const double size = 260.0, left = 80.0, gap = 100.0, top = 70.0, sectionHeight = 150.0;
    const double width = left + psfs.size() * size + (psfs.size() - 1) * gap + 30.0;
    const double height = top + size + 90.0 + sectionHeight + 110.0;
    SvgWriter svg(width, height);
    svg.rect(0, 0, width, height, "fill:#ffffff;stroke:none");
    svg.text(20, 24, title, kTitle);
    svg.text(20, 44,
             "Intensity on a logarithmic scale over " + std::to_string(kDecades) +
                 " decades below each peak; dashed: the first dark ring of the Airy pattern, "
                 "1.22 λ N",
             kText);

    for (std::size_t f = 0; f < psfs.size(); ++f) {
        const TPsf& p = psfs[f];
        Panel image;
        image.x = left + f * (size + gap);
        image.y = top;
        image.width = image.height = size;
        image.ax = image.ay = axis;
        const int M = p.size, c = M / 2;
        // Cells of at most ~100 across, each the mean of the samples it covers.
        const int across = std::max(1, static_cast<int>(std::ceil((axis.hi - axis.lo) / p.dx)));
        const int bin = std::max(1, (across + 99) / 100);
        const int half = static_cast<int>(std::ceil(axis.hi / p.dx / bin)) * bin;
        svg.rect(image.x, image.y, size, size, "fill:" + heat(0.0) + ";stroke:none");
        for (int j0 = -half; j0 < half; j0 += bin)
            for (int i0 = -half; i0 < half; i0 += bin) {
                double v = 0.0;
                for (int j = j0; j < j0 + bin; ++j)
                    for (int i = i0; i < i0 + bin; ++i)
                        if (c + i >= 0 && c + i < M && c + j >= 0 && c + j < M)
                            v += p.image[static_cast<std::size_t>(c + j) * M + c + i];
                v /= bin * bin;
                if (!(v > 0.0) || !(p.peak > 0.0)) continue;
                const double t = 1.0 + std::log10(v / p.peak) / kDecades;
                if (t <= 0.0) continue;
                // Sample centres at (i + ½)·dx … the cell spans its samples' extent.
                const double x0 = (i0 - 0.5) * p.dx, x1 = (i0 + bin - 0.5) * p.dx;
                const double y0 = (j0 - 0.5) * p.dx, y1 = (j0 + bin - 0.5) * p.dx;
                const double px0 = std::max(image.X(x0), image.x), px1 = std::min(image.X(x1), image.x + size);
                const double py0 = std::max(image.Y(y1), image.y), py1 = std::min(image.Y(y0), image.y + size);
                if (px1 <= px0 || py1 <= py0) continue;
                svg.rect(px0, py0, px1 - px0 + 0.3, py1 - py0 + 0.3, "fill:" + heat(t) + ";stroke:none");
            }
        svg.rect(image.x, image.y, size, size, "fill:none;stroke:#333;stroke-width:1");
        // Tick labels and titles without the white background and grid.
        for (double t : axis.ticks) {
            svg.line(image.X(t), image.y + size, image.X(t), image.y + size + 4, "stroke:#333;stroke-width:1");
            svg.text(image.X(t), image.y + size + 16, tickLabel(t, axis.step),
                     "font-family:sans-serif;font-size:11px;fill:#444", "middle");
            svg.line(image.x - 4, image.Y(t), image.x, image.Y(t), "stroke:#333;stroke-width:1");
            svg.text(image.x - 7, image.Y(t) + 4, tickLabel(t, axis.step),
                     "font-family:sans-serif;font-size:11px;fill:#444", "end");
        }
        svg.text(image.x + size / 2, image.y - 10, fieldTitle(p.fieldAngle),
                 "font-family:sans-serif;font-size:13px;font-weight:bold;fill:#222", "middle");
        svg.text(image.x + size / 2, image.y + size + 34, "x − chief x (" + unit + ")",
                 "font-family:sans-serif;font-size:12px;fill:#222", "middle");
        const double airy = 1.22 * p.wavelengths[0] * p.fNumbers[0];
        svg.circle(image.X(0), image.Y(0), airy / (axis.hi - axis.lo) * size,
                   "fill:none;stroke:#7fdca0;stroke-width:1.2;stroke-dasharray:4 3");

        // Sections through the peak, in units of the aberration-free peak.
        std::size_t brightest = 0;
        for (std::size_t s = 0; s < p.image.size(); ++s)
            if (p.image[s] > p.image[brightest]) brightest = s;
        const int peakI = static_cast<int>(brightest % M), peakJ = static_cast<int>(brightest / M);
        Panel section;
        section.x = image.x;
        section.y = top + size + 90.0;
        section.width = size;
        section.height = sectionHeight;
        section.ax = axis;
        section.ay.lo = 0.0;
        section.ay.hi = 1.0;
        section.ay.step = 0.2;
        section.ay.ticks = {0.0, 0.2, 0.4, 0.6, 0.8, 1.0};
        drawPanel(svg, section, "sections through the peak", "x or y − chief ray's (" + unit + ")",
                  "I / aberration-free peak");
        const double freePeak = p.strehl > 0.0 ? p.peak / p.strehl : p.peak;
        for (int which = 0; which < 2; ++which) {
            std::vector<Point2> points;
            for (int k = -c; k < c; ++k) {
                const double offset = k * p.dx;
                if (offset < axis.lo || offset > axis.hi) continue;
                const std::size_t s = which == 0 ? static_cast<std::size_t>(peakJ) * M + c + k
                                                 : static_cast<std::size_t>(c + k) * M + peakI;
                points.emplace_back(section.X(offset), section.Y(std::min(1.0, p.image[s] / freePeak)));
            }
            svg.polyline(points, std::string("fill:none;stroke-width:1.6;stroke:") +
                                     (which == 0 ? kTangential : kSagittal) +
                                     (which == 0 ? "" : ";stroke-dasharray:5 3"));
        }
        const double y = section.y + sectionHeight + 56;
        svg.line(section.x, y - 4, section.x + 22, y - 4, std::string("stroke-width:2;stroke:") + kTangential);
        svg.text(section.x + 28, y, "along x (tangential)", kText);
        svg.line(section.x + 150, y - 4, section.x + 172, y - 4,
                 std::string("stroke-width:2;stroke-dasharray:5 3;stroke:") + kSagittal);
        svg.text(section.x + 178, y, "along y", kText);
        svg.text(section.x, y + 18,
                 "Strehl " + fixed(p.strehl, 3) + ", power " + fixed(p.power, 4) + ", dx " +
                     number(p.dx, 3) + " " + unit,
                 kText);
        svg.text(section.x, y + 33,
                 "image plane z = " + number(p.z) + ", " + std::to_string(p.pupilSamples) +
                     " pupil samples, FFT " + std::to_string(p.size),
                 kText);
    }
    return svg.str();
}

std::string mtfSvg(const std::string& title, const std::vector<TMtf>& mtfs, const std::string& unit) {
    double cutoff = 0.0;
    for (const TMtf& m : mtfs) cutoff = std::max(cutoff, m.cutoff);
    Panel p;
    p.x = 90.0;
    p.y = 80.0;
    p.width = 560.0;
    p.height = 340.0;
    p.ax.step = niceLength(cutoff / 5.0);
    p.ax.lo = 0.0;
    p.ax.hi = std::ceil(cutoff / p.ax.step - 1e-9) * p.ax.step;
    for (double t = 0.0; t <= p.ax.hi + 1e-9 * p.ax.step; t += p.ax.step) p.ax.ticks.push_back(t);
    p.ay.lo = 0.0;
    p.ay.hi = 1.0;
    p.ay.step = 0.2;
    p.ay.ticks = {0.0, 0.2, 0.4, 0.6, 0.8, 1.0};
    const double legendWidth = 260.0;
    const double width = p.x + p.width + 40.0 + legendWidth;
    const double height = p.y + p.height + 80.0;
    SvgWriter svg(width, height);
    svg.rect(0, 0, width, height, "fill:#ffffff;stroke:none");
    svg.text(20, 24, title, kTitle);
    drawPanel(svg, p, "MTF", "spatial frequency (cycles/" + unit + ")", "modulation");

    const auto curve = [&](const std::vector<double>& f, const std::vector<double>& v,
                           const std::string& style) {
        std::vector<Point2> points;
        for (std::size_t k = 0; k < f.size(); ++k) points.emplace_back(p.X(f[k]), p.Y(v[k]));
        svg.polyline(points, "fill:none;" + style);
    };
    for (std::size_t f = 0; f < mtfs.size(); ++f) {
        const std::string colour = kFieldColours[f % (sizeof kFieldColours / sizeof *kFieldColours)];
        curve(mtfs[f].frequency, mtfs[f].tangential, "stroke-width:1.8;stroke:" + colour);
        curve(mtfs[f].frequency, mtfs[f].sagittal, "stroke-width:1.8;stroke-dasharray:6 4;stroke:" + colour);
    }
    // The diffraction limit of the first field (every field's is the same
    // function of frequency unless the fields differ in F-number), over the
    // curves that may follow it.
    curve(mtfs.front().frequency, mtfs.front().diffractionLimit, "stroke:#111;stroke-width:1.1");
    // The legend.
    double lx = p.x + p.width + 30.0, ly = p.y + 10.0;
    svg.line(lx, ly, lx + 26, ly, "stroke:#111;stroke-width:1.1");
    svg.text(lx + 32, ly + 4, "diffraction limit", kText);
    ly += 20;
    svg.line(lx, ly, lx + 26, ly, "stroke:#555;stroke-width:1.8");
    svg.text(lx + 32, ly + 4, "tangential (x)", kText);
    ly += 20;
    svg.line(lx, ly, lx + 26, ly, "stroke:#555;stroke-width:1.8;stroke-dasharray:6 4");
    svg.text(lx + 32, ly + 4, "sagittal (y)", kText);
    ly += 28;
    for (std::size_t f = 0; f < mtfs.size(); ++f) {
        const std::string colour = kFieldColours[f % (sizeof kFieldColours / sizeof *kFieldColours)];
        svg.rect(lx, ly - 8, 26, 10, "stroke:none;fill:" + colour);
        svg.text(lx + 32, ly + 1, fieldTitle(mtfs[f].fieldAngle), kText);
        ly += 18;
    }
    svg.text(p.x, p.y + p.height + 60,
             "cutoff " + number(cutoff, 5) + " cycles/" + unit + ", image plane z = " +
                 number(mtfs.front().z),
             kText);
    return svg.str();
}

}  // namespace lumivex::cli
