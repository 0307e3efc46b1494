// SPDX-License-Identifier: Apache-2.0
// The PSF and MTF figures: per field the PSF as an image with its sections,
// and the MTF curves of every field against the diffraction limit.
#ifndef LUMIVEX_TOOLS_DIFFRACTION_SVG_H
#define LUMIVEX_TOOLS_DIFFRACTION_SVG_H

#include <string>
#include <vector>

#include "lumivex/lumivex.h"

namespace lumivex::cli {

// Per field a column: the PSF about the chief ray's point on a logarithmic
// scale, with the first dark ring of the Airy pattern, and its sections
// along x and y through its peak in units of the aberration-free peak (so
// the peak reads as the Strehl ratio).
std::string psfSvg(const std::string& title, const std::vector<TPsf>& psfs, const std::string& unit);
// One panel: tangential (solid) and sagittal (dashed) MTF of each field
// against frequency in cycles per `unit`, with the diffraction limit.
std::string mtfSvg(const std::string& title, const std::vector<TMtf>& mtfs, const std::string& unit);

}  // namespace lumivex::cli

#endif
