// SPDX-License-Identifier: Apache-2.0
// The spot and fan figures: one panel per field, every panel of a kind on
// one scale so that fields compare at a glance.
#ifndef LUMIVEX_TOOLS_ANALYSIS_SVG_H
#define LUMIVEX_TOOLS_ANALYSIS_SVG_H

#include <string>
#include <vector>

#include "lumivex/lumivex.h"

namespace lumivex::cli {

// Spot diagrams about the chief ray, with the Airy circle, RMS and
// geometric radii; lengths labelled in `unit`.
std::string spotSvg(const std::string& title, const std::vector<TSpotDiagram>& spots,
                    const std::string& unit);
// Per field a row: the transverse fan (tangential and sagittal) and the OPD
// fan in waves.
std::string fanSvg(const std::string& title, const std::vector<TRayFan>& fans,
                   const std::string& unit);

}  // namespace lumivex::cli

#endif
