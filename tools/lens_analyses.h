// SPDX-License-Identifier: Apache-2.0
// The spot and fan commands on a prescription (a .zmx lens file or a .json
// prescription): its aperture, fields, wavelengths and image plane, with
// the command line's --pupil, --f-number, --fields and -w (micrometres) over
// them.
#ifndef LUMIVEX_TOOLS_LENS_ANALYSES_H
#define LUMIVEX_TOOLS_LENS_ANALYSES_H

#include <ostream>
#include <string>
#include <vector>

#include "lumivex/lumivex.h"
#include "load.h"
#include "options.h"

namespace lumivex::cli {

// A bare system's beam at the wavelength (its length unit): the first
// element's disk, or --pupil's, or the disk that gives --f-number.
TCollimatedBeam analysisBeam(TOpticalSystem& system, const AnalysisOptions& options,
                             double wavelength);
// The field angles in radians: --fields, or the axis alone.
std::vector<double> fieldAngles(const AnalysisOptions& options);

// The prescription with the command line's --pupil, --f-number and
// --fields over its own, checked (-w too); a ToolError naming the file.
TPrescription lensFor(const LoadedPrescription& loaded, const AnalysisOptions& options);
// A field as the prescription gives it: "5", "5, 2" (degrees), "h 10".
std::string fieldLabel(const TPrescription& lens, int k);
// The table's heading of that column.
const char* fieldHeader(const TPrescription& lens);

void runLensSpot(const AnalysisOptions& options, int rings, bool throughFocus);
void runLensFan(const AnalysisOptions& options, int rays);
// lumivex check on a prescription: its surface table (with `table`),
// first-order data at the wavelength in µm (NaN: the primary), what the
// import skipped and decided, on `os`; with `write` the prescription's JSON
// goes to standard output.
void runLensCheck(const LoadedPrescription& loaded, double wavelengthUm, bool table,
                  std::ostream& os, bool write = false);

}  // namespace lumivex::cli

#endif
