// SPDX-License-Identifier: Apache-2.0
// A laid-out figure written as an SVG document, drawn the way optics books
// draw a system: glass shaded, rays coloured by their intensity, the optical
// axis dash-dotted, a scale bar and a legend.
#ifndef LUMIVEX_TOOLS_FIGURE_SVG_H
#define LUMIVEX_TOOLS_FIGURE_SVG_H

#include <string>

#include "figure.h"

namespace lumivex::cli {

std::string figureSvg(const Figure& figure);

}  // namespace lumivex::cli

#endif
