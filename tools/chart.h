// SPDX-License-Identifier: Apache-2.0
// Plot panels for the analysis figures: axes with round ticks, the mapping
// from data to picture coordinates, and the frame, grid and labels of a
// panel drawn into an SVG.
#ifndef LUMIVEX_TOOLS_CHART_H
#define LUMIVEX_TOOLS_CHART_H

#include <string>
#include <vector>

#include "svg.h"

namespace lumivex::cli {

// An axis from lo to hi, both multiples of the tick step.
struct Axis {
    double lo = -1.0;
    double hi = 1.0;
    double step = 0.5;
    std::vector<double> ticks;
};
// An axis symmetric about 0 that holds ±extent with about `ticks` ticks on
// either side.
Axis symmetricAxis(double extent, int ticks = 2);

struct Panel {
    double x = 0.0, y = 0.0, width = 0.0, height = 0.0;  // the plotting area, pixels
    Axis ax, ay;
    double X(double v) const { return x + (v - ax.lo) / (ax.hi - ax.lo) * width; }
    double Y(double v) const { return y + height - (v - ay.lo) / (ay.hi - ay.lo) * height; }
};

// Frame, grid, zero lines, tick labels, axis titles and the panel's title.
void drawPanel(SvgWriter& svg, const Panel& panel, const std::string& title,
               const std::string& xTitle, const std::string& yTitle);
// A tick label: as few digits as the step needs.
std::string tickLabel(double value, double step);
// An axis from lo to hi as given, ticked at the multiples of a round step
// (about `ticks` of them) that fall between.
Axis spanAxis(double lo, double hi, int ticks = 4);
// A dark-to-light colour scale (black, violet, orange, pale yellow) for t in 0 … 1.
std::string heatColour(double t);

}  // namespace lumivex::cli

#endif
