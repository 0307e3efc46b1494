// SPDX-License-Identifier: Apache-2.0
#include "chart.h"

#include <algorithm>
#include <cmath>

#include "format.h"

namespace lumivex::cli {

Axis symmetricAxis(double extent, int ticks) {
    if (!(extent > 0.0) || !std::isfinite(extent)) extent = 1.0;
    Axis axis;
    axis.step = niceLength(extent / ticks);
    const double n = std::ceil(extent / axis.step - 1e-9);
    axis.hi = n * axis.step;
    axis.lo = -axis.hi;
    for (double k = -n; k <= n; k += 1.0) axis.ticks.push_back(k * axis.step);
    return axis;
}

Axis spanAxis(double lo, double hi, int ticks) {
    Axis axis;
    axis.lo = lo;
    axis.hi = hi;
    axis.step = niceLength((hi - lo) / ticks);
    for (double k = std::ceil(lo / axis.step - 1e-9); k * axis.step <= hi + 1e-9 * axis.step; k += 1.0)
        axis.ticks.push_back(k * axis.step);
    return axis;
}

std::string heatColour(double t) {
    static const double stops[4][3] = {{0.02, 0.02, 0.08}, {0.45, 0.12, 0.50},
                                       {0.95, 0.45, 0.15}, {0.99, 0.97, 0.75}};
    t = std::clamp(t, 0.0, 1.0) * 3.0;
    const int k = std::min(2, static_cast<int>(t));
    const double u = t - k;
    return rgb(stops[k][0] + u * (stops[k + 1][0] - stops[k][0]),
               stops[k][1] + u * (stops[k + 1][1] - stops[k][1]),
               stops[k][2] + u * (stops[k + 1][2] - stops[k][2]));
}

std::string tickLabel(double value, double step) {
    if (std::fabs(value) < 1e-3 * step) return "0";
    const int decimals = std::max(0, static_cast<int>(std::ceil(-std::log10(step) - 1e-9)));
    if (step < 1e-4 || std::fabs(value) >= 1e5) return format("%.2g", value);
    return fixed(value, decimals);
}

void drawPanel(SvgWriter& svg, const Panel& p, const std::string& title, const std::string& xTitle,
               const std::string& yTitle) {
    const std::string grid = "stroke:#e3e6ea;stroke-width:1";
    const std::string label = "font-family:sans-serif;font-size:11px;fill:#444";
    svg.rect(p.x, p.y, p.width, p.height, "fill:#ffffff;stroke:none");
    for (double t : p.ax.ticks) {
        svg.line(p.X(t), p.y, p.X(t), p.y + p.height, grid);
        svg.line(p.X(t), p.y + p.height, p.X(t), p.y + p.height + 4, "stroke:#333;stroke-width:1");
        svg.text(p.X(t), p.y + p.height + 16, tickLabel(t, p.ax.step), label, "middle");
    }
    for (double t : p.ay.ticks) {
        svg.line(p.x, p.Y(t), p.x + p.width, p.Y(t), grid);
        svg.line(p.x - 4, p.Y(t), p.x, p.Y(t), "stroke:#333;stroke-width:1");
        svg.text(p.x - 7, p.Y(t) + 4, tickLabel(t, p.ay.step), label, "end");
    }
    const std::string zero = "stroke:#9aa3ad;stroke-width:1";
    if (p.ax.lo < 0.0 && p.ax.hi > 0.0) svg.line(p.X(0), p.y, p.X(0), p.y + p.height, zero);
    if (p.ay.lo < 0.0 && p.ay.hi > 0.0) svg.line(p.x, p.Y(0), p.x + p.width, p.Y(0), zero);
    svg.rect(p.x, p.y, p.width, p.height, "fill:none;stroke:#333;stroke-width:1");
    svg.text(p.x + p.width / 2, p.y - 10, title,
             "font-family:sans-serif;font-size:13px;font-weight:bold;fill:#222", "middle");
    svg.text(p.x + p.width / 2, p.y + p.height + 34, xTitle,
             "font-family:sans-serif;font-size:12px;fill:#222", "middle");
    svg.raw("<text x=\"" + coord(p.x - 52) + "\" y=\"" + coord(p.y + p.height / 2) +
            "\" transform=\"rotate(-90 " + coord(p.x - 52) + " " + coord(p.y + p.height / 2) +
            ")\" style=\"font-family:sans-serif;font-size:12px;fill:#222\" "
            "text-anchor=\"middle\">" +
            xmlEscape(yTitle) + "</text>");
}

}  // namespace lumivex::cli
