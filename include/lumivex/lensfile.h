// SPDX-License-Identifier: Apache-2.0
// Lens files of lens-design programs as optical systems: the sequential .zmx
// format, for systems that image an object at infinity through refracting
// standard (conic) and even-asphere surfaces.
//
// The system is built in the file's length unit (UNIT) with surface 1 at
// z = 0; surface k sits at the sum of the thicknesses (DISZ) of surfaces 1 …
// k − 1. Each element carries the index of the medium in front of it (the
// glass of the surface before it), at one wavelength. Beams traced through
// the system take their wavelength in the same length unit
// (TLensFile::wavelengthInLensUnit).
#ifndef LUMIVEX_LENSFILE_H
#define LUMIVEX_LENSFILE_H

#include <iosfwd>
#include <limits>
#include <string>
#include <vector>

#include "lumivex/export.h"
#include "lumivex/glass.h"
#include "lumivex/prescription.h"
#include "lumivex/system.h"

namespace lumivex {

// One surface of the file as imported.
struct LUMIVEX_API TLensSurface {
    int number = 0;            // SURF number; 0 is the object
    std::string type;          // TYPE as written: STANDARD, EVENASPH
    std::string element;       // the record kind built: Slab, GeneralLens,
                               // EvenAsphere; empty for the object surface
    double z = 0.0;            // vertex position (lens unit); NaN for the object
    double thickness = 0.0;    // DISZ to the next surface; infinite for the object
    double semiDiameter = 0.0; // DIAM, the element's radius; 0 when not given
    double curvature = 0.0;    // CURV, 1/lens unit
    double conic = 0.0;        // CONI
    std::vector<double> asphere;  // PARM 1 … 8: coefficients of r², r⁴ … r¹⁶
    std::string glass;         // GLAS: the medium behind the surface; empty for air
    double index = 1.0;        // that medium's index at the import wavelength
    double indexInFront = 1.0; // the element's refIndex
    bool stop = false;         // STOP
};

// One medium of the file and where its index came from.
struct LUMIVEX_API TLensGlass {
    std::string name;      // as the file writes it
    std::string catalogue; // the catalogue the glass was found in; empty otherwise
    double index = 1.0;
    std::string source;    // e.g. "catalogue SCHOTT", "nd from the file (model glass)"
};

// An imported lens file: the optical system and what the file says about it.
struct LUMIVEX_API TLensFile {
    TLensFile();

    TOpticalSystem system;
    std::string unit;                // UNIT: MM, CM, IN or M
    double wavelength = 0.0;         // µm, the one every index is taken at
    double wavelengthInLensUnit = 0.0;  // the same in the lens unit, for TBeam
    std::vector<double> wavelengths; // µm, the file's wavelengths in order
    int primaryWavelength = 0;       // 1-based position in wavelengths; 0: none
    std::vector<TLensSurface> surfaces;  // object, elements, image
    std::vector<TLensGlass> glasses;     // each medium once
    int stopSurface = -1;            // SURF number with STOP, −1 for none
    double entrancePupilDiameter = std::numeric_limits<double>::quiet_NaN();  // ENPD
    int fieldType = 0;               // FTYP: 0 angle (degrees), 1 object height,
                                     // 2 paraxial, 3 real image height
    std::vector<double> fieldX;      // XFLN / XFLD
    std::vector<double> fieldY;      // YFLN / YFLD
    std::vector<std::string> notes;  // what the import decided and why
};

// Reads a sequential .zmx file (ASCII, UTF-8, UTF-16 LE or BE with a
// byte-order mark, or ISO-8859-1; CRLF or LF). wavelengthUm is the
// wavelength in micrometres (the unit .zmx files use for wavelengths) at
// which the glasses' indices are taken; NaN takes the file's primary
// wavelength. Glasses are looked up in `glasses`, the catalogues named by
// GCAT first.
//
// Supported: STANDARD surfaces (CURV, CONI, DISZ, DIAM, STOP, GLAS) as TSlab
// when flat and TGeneralLens otherwise, EVENASPH surfaces (also PARM 1 … 8)
// as TEvenAsphere, and the image surface as the last element, so every traced
// beam ends on it. A glass the catalogue does not know is taken at the nd the
// GLAS line gives (as is a model glass), and a note says so.
//
// Refused with an xmsg naming the surface and the keyword: non-sequential
// mode, a finite object distance, mirrors, coordinate breaks and every other
// surface type, and any surface keyword the importer does not understand
// (decentres, tilts, apertures, extended data, …); nothing is dropped or
// approximated silently. Also refused: an unknown glass without nd, a
// wavelength outside a glass's range.
LUMIVEX_API TLensFile importZmx(const std::string& path,
                                double wavelengthUm = std::numeric_limits<double>::quiet_NaN(),
                                const TGlassCatalog& glasses = TGlassCatalog::builtin());
LUMIVEX_API TLensFile importZmx(std::istream& is, const std::string& sourceName,
                                double wavelengthUm = std::numeric_limits<double>::quiet_NaN(),
                                const TGlassCatalog& glasses = TGlassCatalog::builtin());
// As importZmx, with the wavelength stated in the file's own length unit
// (UNIT; millimetres when it names none) instead of micrometres, as a host
// whose user works in the lens's unit gives it; NaN takes the primary
// wavelength. The result's wavelengthInLensUnit is the given value exactly.
LUMIVEX_API TLensFile importZmxInLensUnit(const std::string& path,
                                          double wavelength = std::numeric_limits<double>::quiet_NaN(),
                                          const TGlassCatalog& glasses = TGlassCatalog::builtin());
LUMIVEX_API TLensFile importZmxInLensUnit(std::istream& is, const std::string& sourceName,
                                          double wavelength = std::numeric_limits<double>::quiet_NaN(),
                                          const TGlassCatalog& glasses = TGlassCatalog::builtin());

// A keyword of the file and where it stands.
struct LUMIVEX_API TZmxItem {
    int line = 0;      // 1-based
    int surface = -1;  // SURF number; −1 for a system line
    std::string keyword;
    std::string why;   // what it is, or why it was refused
};

// A .zmx file as a prescription, with what the import passed over.
struct LUMIVEX_API TZmxPrescription {
    TPrescription prescription;
    std::vector<TZmxItem> skipped;   // keywords that change no ray path
    std::vector<std::string> notes;  // what the import decided and why
};

// Reads a sequential .zmx file into a prescription: the lens surfaces as
// elements (the object and image surfaces are not elements: the object
// distance and the image plane say where they are), the glasses as materials
// whose index follows the wavelength, the stop, the aperture, the fields and
// the wavelengths.
LUMIVEX_API TZmxPrescription importZmxPrescription(
    const std::string& path, const TGlassCatalog& glasses = TGlassCatalog::builtin());
LUMIVEX_API TZmxPrescription importZmxPrescription(
    std::istream& is, const std::string& sourceName,
    const TGlassCatalog& glasses = TGlassCatalog::builtin());

}  // namespace lumivex

#endif
