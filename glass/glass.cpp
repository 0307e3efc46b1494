// SPDX-License-Identifier: Apache-2.0
// Refractive index from the vendors' dispersion formulas.
#include <cmath>
#include <sstream>

#include "lumivex/glass.h"
#include "numeric/checked_math.h"

namespace lumivex {

double micrometresPer(TLengthUnit unit) {
    switch (unit) {
        case TLengthUnit::micrometre: return 1.0;
        case TLengthUnit::nanometre: return 1e-3;
        case TLengthUnit::millimetre: return 1e3;
        case TLengthUnit::metre: return 1e6;
    }
    throw xmsg("micrometresPer: not a length unit");
}

const char* unitSymbol(TLengthUnit unit) {
    switch (unit) {
        case TLengthUnit::micrometre: return "um";
        case TLengthUnit::nanometre: return "nm";
        case TLengthUnit::millimetre: return "mm";
        case TLengthUnit::metre: return "m";
    }
    return "?";
}

std::string TGlass::label() const { return catalogue + " " + name; }

double TGlass::index(double wavelengthUm) const { return index(wavelengthUm, TLengthUnit::micrometre); }

double TGlass::index(double wavelength, TLengthUnit unit) const {
    const double scale = micrometresPer(unit);
    const double lambda = wavelength * scale;
    if (!(wavelength > 0.0) || !std::isfinite(wavelength)) {
        std::ostringstream os;
        os << "glass " << label() << ": the wavelength " << wavelength << " " << unitSymbol(unit)
           << " is not a positive number";
        throw xmsg(os.str());
    }
    if (formula == unsupported) {
        std::ostringstream os;
        os << "glass " << label() << ": dispersion formula " << sourceFormula
           << " of its catalogue is not supported (supported: AGF 1 Schott, AGF 2 Sellmeier 1)";
        throw xmsg(os.str());
    }
    // The range test is made in the caller's unit, so a wavelength given
    // exactly at a catalogue limit is inside it.
    if (!(wavelength >= minWavelength / scale && wavelength <= maxWavelength / scale)) {
        std::ostringstream os;
        os.precision(10);
        os << "glass " << label() << ": wavelength " << wavelength << " " << unitSymbol(unit)
           << " is outside the range of its dispersion formula, " << minWavelength / scale << " to "
           << maxWavelength / scale << " " << unitSymbol(unit);
        throw xmsg(os.str());
    }
    const double l2 = lambda * lambda;
    const std::size_t count = coefficients.size();
    double n2 = count > 0 ? coefficients[0] : 0.0;
    for (std::size_t i = 1; i + 1 < count; i += 2) {
        const double c = coefficients[i];
        const double p = coefficients[i + 1];
        switch (formula) {
            case sellmeierPoles: n2 += c * l2 / (l2 - p * p); break;
            case sellmeierSquared: n2 += c * l2 / (l2 - p); break;
            case powerSeries: n2 += c * math::pow(lambda, p); break;
            case unsupported: break;
        }
    }
    if (formula != powerSeries) n2 += 1.0;
    if (!(n2 > 0.0) || !std::isfinite(n2)) {
        std::ostringstream os;
        os << "glass " << label() << ": its dispersion formula gives n^2 = " << n2 << " at "
           << wavelength << " " << unitSymbol(unit);
        throw xmsg(os.str());
    }
    return math::sqrt(n2);
}

}  // namespace lumivex
