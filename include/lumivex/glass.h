// SPDX-License-Identifier: Apache-2.0
// Optical glasses: refractive index as a function of wavelength from the
// vendors' dispersion formulas, a built-in catalogue of six vendors' glasses,
// and glass catalogues in the .agf format that lens-design programs read.
//
// Units: dispersion formulas take the wavelength in micrometres (the vendors'
// convention). Every call that takes a wavelength names its unit, because the
// rest of the library works in whatever length unit the host chose.
#ifndef LUMIVEX_GLASS_H
#define LUMIVEX_GLASS_H

#include <iosfwd>
#include <string>
#include <unordered_map>
#include <vector>

#include "lumivex/export.h"
#include "lumivex/numeric.h"

namespace lumivex {

enum class TLengthUnit { micrometre, nanometre, millimetre, metre };

// Micrometres per unit: 1 for micrometres, 1e-3 for nanometres, 1e3 for
// millimetres, 1e6 for metres.
LUMIVEX_API double micrometresPer(TLengthUnit unit);
// "um", "nm", "mm" or "m".
LUMIVEX_API const char* unitSymbol(TLengthUnit unit);

// One glass and its dispersion formula.
struct LUMIVEX_API TGlass {
    // How the coefficients C0, C1, … are read (λ in µm):
    //   sellmeierPoles:   n² − 1 = C0 + Σ Cᵢ·λ²/(λ² − Cᵢ₊₁²), i = 1, 3, …
    //   sellmeierSquared: n² − 1 = C0 + Σ Cᵢ·λ²/(λ² − Cᵢ₊₁),  i = 1, 3, …
    //   powerSeries:      n²     = C0 + Σ Cᵢ·λ^Cᵢ₊₁,          i = 1, 3, …
    //   unsupported:      a formula this library does not evaluate; index()
    //                     throws, naming the glass and sourceFormula.
    enum Formula { sellmeierPoles, sellmeierSquared, powerSeries, unsupported };

    std::string catalogue;  // vendor, or the name a loaded catalogue was given
    std::string name;       // as the vendor writes it
    Formula formula = unsupported;
    int sourceFormula = 0;  // the formula number in the file the glass came from
    double minWavelength = 0.0;  // µm; the range the formula is valid over
    double maxWavelength = 0.0;
    double nd = 0.0;  // catalogue nd where the source gives it, else 0
    std::vector<double> coefficients;

    // The refractive index at a wavelength in µm. Throws xmsg outside
    // [minWavelength, maxWavelength] and for an unsupported formula.
    double index(double wavelengthUm) const;
    // The same at a wavelength in the given unit; messages use that unit.
    double index(double wavelength, TLengthUnit unit) const;
    // "CATALOGUE name".
    std::string label() const;
};

// A searchable set of glasses. Names are matched without regard to case and
// may be qualified by their catalogue as "CATALOGUE:name". Glasses loaded
// later take precedence over earlier ones with the same name, so catalogues
// loaded into a copy of builtin() override the built-in glasses.
class LUMIVEX_API TGlassCatalog {
public:
    // An empty catalogue.
    TGlassCatalog();

    // The glasses shipped with the library (SCHOTT, OHARA, HOYA, CDGM,
    // SUMITA, HIKARI; data from the refractiveindex.info database), compiled
    // in, so no file needs to be found at run time.
    static const TGlassCatalog& builtin();

    // Reads an .agf catalogue: UTF-8, UTF-16 LE or BE with a byte-order mark,
    // or ISO-8859-1, with CRLF or LF line ends. Its glasses are filed under
    // catalogueName (for a path: the file name without directory and
    // extension, upper case). Glasses of a formula other than AGF 1 (Schott)
    // and 2 (Sellmeier 1) are kept, and refuse to give an index, naming the
    // glass and the formula number. Throws xmsg for a file that cannot be
    // read or a malformed glass record, naming the line.
    void loadAgf(const std::string& path);
    void loadAgf(std::istream& is, const std::string& catalogueName);
    // Reads the tab-separated table the library ships (data/glasses.tsv).
    void loadTable(std::istream& is, const std::string& sourceName);

    // The glass of that name. Among glasses of the same name the latest
    // loaded wins; within one load, the catalogue that comes first in
    // `preferred` (case-insensitive), then the first in the file. Throws xmsg
    // for an unknown name, listing the catalogues searched and the closest
    // names.
    const TGlass& find(const std::string& name,
                       const std::vector<std::string>& preferred = {}) const;
    // Whether find would succeed.
    bool contains(const std::string& name) const;
    // find(glass).index(wavelength, unit).
    double index(const std::string& glass, double wavelength, TLengthUnit unit) const;

    int size() const { return static_cast<int>(glasses.size()); }
    // Catalogue names in the order they were loaded, each once.
    std::vector<std::string> catalogues() const;

private:
    struct TEntry {
        TGlass glass;
        int layer;  // which load it came from; later loads win
    };
    std::vector<TEntry> glasses;
    std::unordered_map<std::string, std::vector<int>> byName;  // upper-case name → entries
    int layers = 0;

    void add(TGlass glass, int layer);
    std::string unknownGlassMessage(const std::string& name) const;
};

}  // namespace lumivex

#endif
