// SPDX-License-Identifier: Apache-2.0
// The prescription: materials, surfaces, checks, the system at a wavelength
// and the surface table.
#include <algorithm>
#include <cmath>
#include <iomanip>
#include <sstream>

#include "lumivex/description.h"
#include "lumivex/grin.h"
#include "lumivex/prescription.h"
#include "lumivex/surfaces.h"

namespace lumivex {

namespace {

std::string str(double v) {
    std::ostringstream os;
    os.precision(12);
    os << v;
    return os.str();
}

bool finite(double v) { return std::isfinite(v); }

}  // namespace

// ---------------------------------------------------------------------------
// Materials

TMaterial TMaterial::air() { return TMaterial(); }

TMaterial TMaterial::catalogueGlass(const std::string& name, const TGlassCatalog& catalog,
                                    const std::vector<std::string>& preferred) {
    return fromGlass(catalog.find(name, preferred));
}

TMaterial TMaterial::fromGlass(const TGlass& glass) {
    TMaterial m;
    m.kind = Kind::glass;
    m.name = glass.name;
    m.glass = glass;
    return m;
}

TMaterial TMaterial::modelGlass(double nd, double abbe, const std::string& name) {
    if (!(nd >= 1.0) || !finite(nd))
        throw xmsg("model glass" + (name.empty() ? "" : " " + name) +
                   ": nd must be a finite number of at least 1, not " + str(nd));
    if (!(abbe > 0.0) || !finite(abbe))
        throw xmsg("model glass" + (name.empty() ? "" : " " + name) +
                   ": the Abbe number must be positive and finite, not " + str(abbe));
    TMaterial m;
    m.kind = Kind::model;
    m.name = name;
    m.nd = nd;
    m.abbe = abbe;
    return m;
}

TMaterial TMaterial::fixedIndex(const complex& n) {
    if (!(n.real() > 0.0) || !finite(n.real()) || !finite(n.imag()))
        throw xmsg("a fixed index needs a positive finite real part and a finite imaginary part, not (" +
                   str(n.real()) + ", " + str(n.imag()) + ")");
    TMaterial m;
    m.kind = Kind::fixed;
    m.index = n;
    return m;
}

complex TMaterial::indexAt(double wavelengthUm) const {
    switch (kind) {
        case Kind::air: return 1.0;
        case Kind::fixed: return index;
        case Kind::glass: return glass.index(wavelengthUm);
        case Kind::model: {
            if (!(wavelengthUm > 0.0) || !finite(wavelengthUm))
                throw xmsg("model glass: the wavelength must be a positive number of micrometres");
            // Cauchy's n = A + B/λ²: nF − nC = B·(1/λF² − 1/λC²) = (nd − 1)/vd.
            const double B = (nd - 1.0) / abbe /
                             (1.0 / (kLineF * kLineF) - 1.0 / (kLineC * kLineC));
            const double A = nd - B / (kLineD * kLineD);
            return A + B / (wavelengthUm * wavelengthUm);
        }
    }
    return 1.0;
}

std::string TMaterial::label() const {
    switch (kind) {
        case Kind::air: return "air";
        case Kind::glass: return name;
        case Kind::model: {
            std::ostringstream os;
            os << (name.empty() ? std::string() : name + " ") << "model " << nd << "/" << abbe;
            return os.str();
        }
        case Kind::fixed: {
            std::ostringstream os;
            os.precision(8);
            if (index.imag() == 0.0)
                os << "n=" << index.real();
            else
                os << "n=(" << index.real() << "," << index.imag() << ")";
            return os.str();
        }
    }
    return "?";
}

// ---------------------------------------------------------------------------
// Surfaces

TPrescriptionSurface::TPrescriptionSurface(std::unique_ptr<TElement> element_,
                                           const TMaterial& material_, double clear,
                                           double draw)
    : element(std::move(element_)),
      material(material_),
      clearSemiDiameter(clear),
      drawSemiDiameter(draw) {}

namespace {

std::unique_ptr<TElement> copyOf(const std::unique_ptr<TElement>& e) {
    if (!e) return nullptr;
    std::unique_ptr<TElement> copy = cloneElement(*e);
    if (!copy) throw xmsg("a prescription surface holds an element of a class the catalogue cannot copy");
    return copy;
}

}  // namespace

TPrescriptionSurface::TPrescriptionSurface(const TPrescriptionSurface& other)
    : element(copyOf(other.element)),
      material(other.material),
      clearSemiDiameter(other.clearSemiDiameter),
      drawSemiDiameter(other.drawSemiDiameter),
      comment(other.comment) {}

TPrescriptionSurface& TPrescriptionSurface::operator=(const TPrescriptionSurface& other) {
    if (this != &other) *this = TPrescriptionSurface(other);
    return *this;
}

// ---------------------------------------------------------------------------
// The prescription

TPrescription::TPrescription() = default;

TPrescriptionSurface& TPrescription::addSurface(std::unique_ptr<TElement> element,
                                                const TMaterial& behind, double clear,
                                                double draw) {
    if (!element) throw xmsg("TPrescription::addSurface: no element");
    surfaces.emplace_back(std::move(element), behind, clear, draw);
    return surfaces.back();
}

TPrescriptionSurface& TPrescription::addStandard(double z, double radius, const TMaterial& behind,
                                                 double conic, double clear, double draw) {
    if (radius == 0.0) return addSurface(std::make_unique<TSlab>(z, complex(1.0, 0.0)), behind, clear, draw);
    return addSurface(std::make_unique<TGeneralLens>(z, complex(1.0, 0.0), 0.0, radius, conic), behind,
                      clear, draw);
}

double TPrescription::lensUnitsPerMicrometre() const {
    if (unit == "mm") return 1e-3;
    if (unit == "cm") return 1e-4;
    if (unit == "in") return 1e-3 / 25.4;
    if (unit == "m") return 1e-6;
    throw xmsg("prescription: the unit must be mm, cm, in or m, not \"" + unit + "\"");
}

void TPrescription::validate() const {
    lensUnitsPerMicrometre();
    if (surfaces.empty()) throw xmsg("prescription: no surface");
    for (std::size_t k = 0; k < surfaces.size(); ++k) {
        const TPrescriptionSurface& s = surfaces[k];
        const std::string where = "prescription: surface " + std::to_string(k);
        if (!s.element) throw xmsg(where + " has no element");
        if (!finite(s.element->zPosition)) throw xmsg(where + ": z is not finite");
        if (k > 0 && s.element->zPosition < surfaces[k - 1].element->zPosition)
            throw xmsg(where + " lies before surface " + std::to_string(k - 1) + " (z " +
                       str(s.element->zPosition) + " < " +
                       str(surfaces[k - 1].element->zPosition) + ")");
        if (!(s.clearSemiDiameter >= 0.0) || !finite(s.clearSemiDiameter))
            throw xmsg(where + ": the clear semi-diameter must be 0 (none) or positive and finite, not " +
                       str(s.clearSemiDiameter));
        if (!(s.drawSemiDiameter >= 0.0) || !finite(s.drawSemiDiameter))
            throw xmsg(where + ": the drawing semi-diameter must be 0 (none) or positive and finite, not " +
                       str(s.drawSemiDiameter));
    }
    if (surfaces.back().material.kind != TMaterial::Kind::air)
        throw xmsg("prescription: the medium behind the last surface must be air (the image space), not " +
                   surfaces.back().material.label());
    if (stop < 0 || stop >= static_cast<int>(surfaces.size()))
        throw xmsg("prescription: the stop " + std::to_string(stop) + " is not a surface (0 … " +
                   std::to_string(surfaces.size() - 1) + ")");
    if (!(aperture.value > 0.0) || !finite(aperture.value))
        throw xmsg("prescription: the aperture value must be positive and finite, not " +
                   str(aperture.value));
    const bool infinite = std::isinf(objectDistance) && objectDistance > 0.0;
    if (!infinite && (!(objectDistance > 0.0) || !finite(objectDistance)))
        throw xmsg("prescription: the object distance must be positive (finite) or infinite, not " +
                   str(objectDistance));
    if (infinite && aperture.kind == TApertureKind::objectNA)
        throw xmsg("prescription: an object-space numerical aperture needs a finite object distance");
    if (aperture.kind == TApertureKind::objectNA && !(aperture.value < objectMaterial.indexAt(primaryWavelength()).real()))
        throw xmsg("prescription: the object-space numerical aperture " + str(aperture.value) +
                   " must be below the object space's index");
    if (infinite && fieldKind == TFieldKind::objectHeight)
        throw xmsg("prescription: fields given as object heights need a finite object distance");
    if (fields.empty()) throw xmsg("prescription: no field");
    for (std::size_t i = 0; i < fields.size(); ++i) {
        const TField& f = fields[i];
        const std::string where = "prescription: field " + std::to_string(i);
        if (!finite(f.x) || !finite(f.y)) throw xmsg(where + " is not finite");
        if (fieldKind == TFieldKind::angle && (std::abs(f.x) >= 90.0 || std::abs(f.y) >= 90.0))
            throw xmsg(where + ": an angle must lie within ±90 degrees, not (" + str(f.x) + ", " +
                       str(f.y) + ")");
        if (!(f.weight >= 0.0) || !finite(f.weight))
            throw xmsg(where + ": the weight must be non-negative and finite, not " + str(f.weight));
    }
    if (wavelengths.empty()) throw xmsg("prescription: no wavelength");
    for (std::size_t i = 0; i < wavelengths.size(); ++i) {
        const TWavelength& w = wavelengths[i];
        const std::string where = "prescription: wavelength " + std::to_string(i);
        if (!(w.um > 0.0) || !finite(w.um))
            throw xmsg(where + " must be a positive finite number of micrometres, not " + str(w.um));
        if (!(w.weight >= 0.0) || !finite(w.weight))
            throw xmsg(where + ": the weight must be non-negative and finite, not " + str(w.weight));
    }
    if (primary < 0 || primary >= static_cast<int>(wavelengths.size()))
        throw xmsg("prescription: the primary wavelength " + std::to_string(primary) +
                   " is not one of the " + std::to_string(wavelengths.size()) + " wavelengths");
    if (!std::isnan(imageZ) && !finite(imageZ))
        throw xmsg("prescription: the image plane's z must be finite (or NaN for the paraxial focus)");
}

double TPrescription::primaryWavelength() const {
    if (primary < 0 || primary >= static_cast<int>(wavelengths.size()))
        throw xmsg("prescription: the primary wavelength " + std::to_string(primary) +
                   " is not one of the " + std::to_string(wavelengths.size()) + " wavelengths");
    return wavelengths[static_cast<std::size_t>(primary)].um;
}

double TPrescription::resolveWavelength(double um) const {
    if (std::isnan(um)) return primaryWavelength();
    if (!(um > 0.0) || !finite(um))
        throw xmsg("prescription: the wavelength must be a positive finite number of micrometres, not " +
                   str(um));
    return um;
}

double TPrescription::wavelengthInLensUnit(double um) const {
    return resolveWavelength(um) * lensUnitsPerMicrometre();
}

TOpticalSystem TPrescription::systemAt(double um) const {
    validate();
    um = resolveWavelength(um);
    TOpticalSystem system(0.0);
    complex front = objectMaterial.indexAt(um);
    for (std::size_t k = 0; k < surfaces.size(); ++k) {
        const TPrescriptionSurface& s = surfaces[k];
        std::unique_ptr<TElement> e = cloneElement(*s.element);
        if (!e) throw xmsg("prescription: surface " + std::to_string(k) +
                           " holds an element of a class the catalogue cannot copy");
        if (auto* surface = dynamic_cast<TSurface*>(e.get())) surface->refIndex = front;
        if (s.clearSemiDiameter > 0.0)
            e->radius = s.clearSemiDiameter;
        else if (s.drawSemiDiameter > 0.0)
            e->radius = s.drawSemiDiameter;
        e->optRadius = 0.0;
        system.addElement(e.release());
        try {
            front = s.material.indexAt(um);
        } catch (const xmsg& err) {
            throw xmsg("prescription: the material behind surface " + std::to_string(k) + ": " +
                       err.message());
        }
    }
    return system;
}

double TPrescription::objectZ() const {
    if (surfaces.empty() || !surfaces.front().element) throw xmsg("prescription: no surface");
    if (std::isinf(objectDistance)) return -std::numeric_limits<double>::infinity();
    return surfaces.front().element->zPosition - objectDistance;
}

double TPrescription::startZ() const {
    validate();
    double largest = 0.0;
    for (const TPrescriptionSurface& s : surfaces)
        largest = std::max({largest, s.clearSemiDiameter, s.drawSemiDiameter, s.element->radius});
    const double length = surfaces.back().element->zPosition - surfaces.front().element->zPosition;
    if (largest == 0.0) largest = std::max(length, 1.0);
    return surfaces.front().element->zPosition - 2.0 * largest;
}

double TPrescription::imagePlaneZ() const {
    if (!std::isnan(imageZ)) return imageZ;
    return firstOrder().paraxialImageZ;
}

std::vector<double> TPrescription::clipRadii() const {
    validate();
    // NaN, as traceRays reads it, where the prescription gives no clear
    // aperture: a radius of 0 would stop every ray there.
    std::vector<double> clip(surfaces.size(), std::numeric_limits<double>::quiet_NaN());
    for (std::size_t k = 0; k < surfaces.size(); ++k)
        if (surfaces[k].clearSemiDiameter > 0.0) clip[k] = surfaces[k].clearSemiDiameter;
    // Rays aimed at the stop's rim land on it to within the aiming's
    // tolerance; they pass.
    clip[static_cast<std::size_t>(stop)] = firstOrder().stopSemiDiameter * (1.0 + 1e-9);
    return clip;
}

// ---------------------------------------------------------------------------
// The surface table

namespace {

std::string cell(double v, int precision = 6) {
    if (std::isinf(v)) return v > 0 ? "Infinity" : "-Infinity";
    if (std::isnan(v)) return "-";
    if (v == 0.0) v = 0.0;
    std::ostringstream os;
    os << std::setprecision(precision) << v;
    return os.str();
}

// The vertex radius and conic of a surface as a designer reads them.
void shapeOf(const TElement& e, std::string& radius, std::string& conic) {
    radius = "Infinity";
    conic = "0";
    const TElementKind* kind = kindOf(e);
    if (!kind || !kind->parameters) {
        radius = kind ? kind->name : "?";
        return;
    }
    bool hasShape = dynamic_cast<const TSlab*>(&e) != nullptr;
    for (const TElementParameter& p : kind->parameters(e)) {
        if (p.name == "R") {
            radius = p.value.real() == 0.0 ? "Infinity" : cell(p.value.real(), 8);
            hasShape = true;
        } else if (p.name == "conic") {
            conic = cell(p.value.real());
        }
    }
    if (!hasShape) radius = kind->name;
}

}  // namespace

std::string TPrescription::table() const {
    std::ostringstream os;
    if (!title.empty()) os << title << "\n";
    struct Row {
        std::string surf, radius, thickness, material, semi, conic;
    };
    std::vector<Row> rows;
    rows.push_back({"Surf", "Radius", "Thickness", "Material", "Semi-Dia", "Conic"});
    rows.push_back({"OBJ", "Infinity", cell(objectDistance), objectMaterial.label(), "", ""});
    double image = std::numeric_limits<double>::quiet_NaN();
    std::vector<double> paraxial;
    try {
        image = imagePlaneZ();
        paraxial = paraxialSemiDiameters();
    } catch (const xmsg&) {
    }
    for (std::size_t k = 0; k < surfaces.size(); ++k) {
        const TPrescriptionSurface& s = surfaces[k];
        Row r;
        r.surf = static_cast<int>(k) == stop ? "STO" : std::to_string(k + 1);
        if (!s.element) {
            rows.push_back(r);
            continue;
        }
        shapeOf(*s.element, r.radius, r.conic);
        const double next = k + 1 < surfaces.size() && surfaces[k + 1].element
                                ? surfaces[k + 1].element->zPosition
                                : image;
        r.thickness = cell(next - s.element->zPosition, 8);
        r.material = s.material.kind == TMaterial::Kind::air ? "" : s.material.label();
        // A semi-diameter given (C: a clear aperture that vignettes), or
        // the paraxial beams' reach (P).
        if (s.clearSemiDiameter > 0.0)
            r.semi = cell(s.clearSemiDiameter) + " C";
        else if (s.drawSemiDiameter > 0.0)
            r.semi = cell(s.drawSemiDiameter);
        else if (k < paraxial.size())
            r.semi = cell(paraxial[k]) + " P";
        else
            r.semi = cell(s.element->radius);
        rows.push_back(r);
    }
    rows.push_back({"IMA", "Infinity", "", "", "", ""});
    std::size_t w[6] = {0, 0, 0, 0, 0, 0};
    for (const Row& r : rows) {
        const std::string* c[6] = {&r.surf, &r.radius, &r.thickness, &r.material, &r.semi, &r.conic};
        for (int i = 0; i < 6; ++i) w[i] = std::max(w[i], c[i]->size());
    }
    for (const Row& r : rows) {
        const std::string* c[6] = {&r.surf, &r.radius, &r.thickness, &r.material, &r.semi, &r.conic};
        std::string line;
        for (int i = 0; i < 6; ++i) {
            std::string text = *c[i];
            text.resize(w[i], ' ');
            line += (i ? "  " : "") + text;
        }
        while (!line.empty() && line.back() == ' ') line.pop_back();
        os << line << "\n";
    }
    static const char* apertureNames[] = {"entrance pupil diameter", "image-space F-number",
                                          "object-space NA", "stop semi-diameter"};
    os << "Aperture: " << apertureNames[static_cast<int>(aperture.kind)] << " "
       << cell(aperture.value) << "; stop at surface " << (stop + 1) << "; aiming "
       << (aiming == TAiming::real ? "real" : "paraxial") << "\n";
    os << "Fields (" << (fieldKind == TFieldKind::angle ? "degrees" : unit) << "):";
    for (const TField& f : fields)
        os << " (" << cell(f.x) << ", " << cell(f.y) << ")" << (f.weight != 1.0 ? " w" + cell(f.weight) : "");
    os << "\nWavelengths (um):";
    for (std::size_t i = 0; i < wavelengths.size(); ++i)
        os << " " << cell(wavelengths[i].um) << (static_cast<int>(i) == primary ? "*" : "")
           << (wavelengths[i].weight != 1.0 ? " w" + cell(wavelengths[i].weight) : "");
    os << "\nUnit: " << unit << "; image plane "
       << (std::isnan(imageZ) ? "at the paraxial focus" : "given") << ", z = " << cell(image, 8)
       << "\n";
    return os.str();
}

}  // namespace lumivex
