// SPDX-License-Identifier: Apache-2.0
// What the import made of a .zmx lens file, in words: the check command's
// report on a lens file and the import command's summary.
#ifndef LUMIVEX_TOOLS_LENS_REPORT_H
#define LUMIVEX_TOOLS_LENS_REPORT_H

#include <ostream>
#include <string>

#include "lumivex/lumivex.h"

namespace lumivex::cli {

// The unit, wavelengths, surfaces, glasses, stop, pupil, fields and the
// import's notes.
void printLensReport(std::ostream& os, const std::string& name, const TLensFile& lens,
                     const TOpticalSystem& system);
// "0.5875618 um (0.0005875618 MM, the primary wavelength)".
std::string lensWavelength(const TLensFile& lens);

}  // namespace lumivex::cli

#endif
