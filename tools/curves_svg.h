// SPDX-License-Identifier: Apache-2.0
// The colour and field-curve figures: two panels each of curves against
// the field or the wavelength, drawn upwards as lens designers read them.
#ifndef LUMIVEX_TOOLS_CURVES_SVG_H
#define LUMIVEX_TOOLS_CURVES_SVG_H

#include <string>
#include <vector>

#include "lumivex/lumivex.h"

namespace lumivex::cli {

// The focal shift against the wavelength (µm, upwards) and the lateral
// colour against the field. `fieldTitle` names the field's axis with its unit.
std::string colourSvg(const std::string& title, const TFocalShift& shift, const TLateralColour& colour,
                      const std::string& unit, const std::string& fieldTitle);
// The tangential (solid) and sagittal (dashed) foci against the field, and
// the distortion in per cent.
std::string fieldCurvesSvg(const std::string& title, const TFieldCurves& curves, const std::string& unit,
                           const std::string& fieldTitle);

// The coupling efficiency against the receiver's lateral offset: both
// routes, and T·exp(−(d/w)²) for matched modes.
std::string couplingSvg(const std::string& title, const std::vector<double>& offsets,
                        const std::vector<TFibreCoupling>& couplings, double modeRadius, bool matched,
                        const std::string& unit);

}  // namespace lumivex::cli

#endif
