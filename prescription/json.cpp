// SPDX-License-Identifier: Apache-2.0
// The prescription file: JSON that people read and edit. Numbers are written
// with the digits that read back to the same double (nlohmann writes the
// shortest such text); the infinite object distance and the paraxial image
// plane, which JSON numbers cannot hold, are written as words.
//
//   {"format": "lumivex prescription", "version": 1, "title": "...", "unit": "mm",
//    "object": {"distance": "infinity" | 100.0, "material": {...}},
//    "surfaces": [{"kind": "GeneralLens", "z": 0, "R": 50, "conic": 0, "heightModulus": 0,
//                  "material": {...}, "clear_semi_diameter": 6, "draw_semi_diameter": 0,
//                  "comment": ""}, ...],
//    "stop": 2, "aperture": {"type": "entrance pupil diameter", "value": 8},
//    "fields": {"type": "angle", "points": [{"x": 0, "y": 0, "weight": 1}, ...]},
//    "wavelengths": {"primary": 1, "values": [{"um": 0.4861327, "weight": 1}, ...]},
//    "image": {"z": "paraxial focus" | 52.3}, "aiming": "real" | "paraxial"}
//
// A material is {"type": "air"}, {"type": "glass", "name", "catalogue", "formula",
// "source_formula", "min_um", "max_um", "nd", "coefficients"} (the glass carried
// whole), {"type": "model", "nd", "abbe", "name"} or {"type": "index", "n": [re, im]}.
// A surface is an element record of the catalogue: its keyword as "kind" and
// its fields by their keys; the index fields are left out, the materials
// give them.
#include <fstream>
#include <sstream>

#include <nlohmann/json.hpp>

#include "lumivex/description.h"
#include "lumivex/prescription.h"

namespace lumivex {

namespace {

using json = nlohmann::json;

const char* kFormat = "lumivex prescription";

const char* apertureNames[] = {"entrance pupil diameter", "image F-number", "object NA",
                               "stop semi-diameter"};
const char* formulaNames[] = {"sellmeier poles", "sellmeier squared", "power series", "unsupported"};

json materialJson(const TMaterial& m) {
    json j;
    switch (m.kind) {
        case TMaterial::Kind::air: j["type"] = "air"; break;
        case TMaterial::Kind::glass:
            j["type"] = "glass";
            j["name"] = m.glass.name;
            j["catalogue"] = m.glass.catalogue;
            j["formula"] = formulaNames[static_cast<int>(m.glass.formula)];
            j["source_formula"] = m.glass.sourceFormula;
            j["min_um"] = m.glass.minWavelength;
            j["max_um"] = m.glass.maxWavelength;
            j["nd"] = m.glass.nd;
            j["coefficients"] = m.glass.coefficients;
            break;
        case TMaterial::Kind::model:
            j["type"] = "model";
            j["nd"] = m.nd;
            j["abbe"] = m.abbe;
            if (!m.name.empty()) j["name"] = m.name;
            break;
        case TMaterial::Kind::fixed:
            j["type"] = "index";
            j["n"] = {m.index.real(), m.index.imag()};
            break;
    }
    return j;
}

json surfaceJson(const TPrescriptionSurface& s, std::size_t k) {
    const TElementKind* kind = kindOf(*s.element);
    if (!kind || kind->keyword.empty() || !kind->recordValues || !kind->isExactly(*s.element))
        throw xmsg("prescription JSON: surface " + std::to_string(k) + " (" +
                   (kind ? kind->name : std::string("a host's element")) +
                   ") has no description record to write");
    json j;
    j["kind"] = kind->keyword;
    const std::vector<complex> values = kind->recordValues(*s.element);
    for (std::size_t i = 0; i < kind->fields.size() && i < values.size(); ++i)
        if (!kind->fields[i].isIndex) j[kind->fields[i].key] = values[i].real();
    j["material"] = materialJson(s.material);
    j["clear_semi_diameter"] = s.clearSemiDiameter;
    j["draw_semi_diameter"] = s.drawSemiDiameter;
    if (s.element->radius != 0.0 && s.clearSemiDiameter == 0.0 && s.drawSemiDiameter == 0.0)
        j["radius"] = s.element->radius;
    if (!s.comment.empty()) j["comment"] = s.comment;
    return j;
}

// Reading: every access names the member it wanted.
class TJsonReader {
public:
    explicit TJsonReader(std::string source_) : source(std::move(source_)) {}
    std::string source;

    [[noreturn]] void fail(const std::string& path, const std::string& what) const {
        throw xmsg(source + ": " + path + ": " + what);
    }
    const json& member(const json& j, const std::string& key, const std::string& path) const {
        if (!j.is_object()) fail(path, "must be an object");
        auto it = j.find(key);
        if (it == j.end()) fail(path, "lacks \"" + key + "\"");
        return *it;
    }
    double number(const json& j, const std::string& key, const std::string& path) const {
        const json& v = member(j, key, path);
        if (!v.is_number()) fail(path + "." + key, "must be a number");
        return v.get<double>();
    }
    double numberOr(const json& j, const std::string& key, const std::string& path, double otherwise) const {
        if (!j.is_object() || !j.contains(key)) return otherwise;
        return number(j, key, path);
    }
    std::string text(const json& j, const std::string& key, const std::string& path) const {
        const json& v = member(j, key, path);
        if (!v.is_string()) fail(path + "." + key, "must be a string");
        return v.get<std::string>();
    }
    std::string textOr(const json& j, const std::string& key, const std::string& path,
                       const std::string& otherwise) const {
        if (!j.is_object() || !j.contains(key)) return otherwise;
        return text(j, key, path);
    }
    int integer(const json& j, const std::string& key, const std::string& path) const {
        const json& v = member(j, key, path);
        if (!v.is_number_integer()) fail(path + "." + key, "must be a whole number");
        return v.get<int>();
    }

    TMaterial material(const json& j, const std::string& path) const {
        const std::string type = text(j, "type", path);
        try {
            if (type == "air") return TMaterial::air();
            if (type == "model")
                return TMaterial::modelGlass(number(j, "nd", path), number(j, "abbe", path),
                                             textOr(j, "name", path, ""));
            if (type == "index") {
                const json& n = member(j, "n", path);
                if (!n.is_array() || n.size() != 2 || !n[0].is_number() || !n[1].is_number())
                    fail(path + ".n", "must be [real, imaginary]");
                return TMaterial::fixedIndex(complex(n[0].get<double>(), n[1].get<double>()));
            }
            if (type == "glass") {
                TGlass g;
                g.name = text(j, "name", path);
                g.catalogue = text(j, "catalogue", path);
                const std::string formula = text(j, "formula", path);
                int f = -1;
                for (int i = 0; i < 4; ++i)
                    if (formula == formulaNames[i]) f = i;
                if (f < 0) fail(path + ".formula", "is not a dispersion formula: \"" + formula + "\"");
                g.formula = static_cast<TGlass::Formula>(f);
                g.sourceFormula = integer(j, "source_formula", path);
                g.minWavelength = number(j, "min_um", path);
                g.maxWavelength = number(j, "max_um", path);
                g.nd = number(j, "nd", path);
                const json& c = member(j, "coefficients", path);
                if (!c.is_array()) fail(path + ".coefficients", "must be an array of numbers");
                for (const json& v : c) {
                    if (!v.is_number()) fail(path + ".coefficients", "must be an array of numbers");
                    g.coefficients.push_back(v.get<double>());
                }
                return TMaterial::fromGlass(g);
            }
        } catch (const xmsg& e) {
            if (e.message().rfind(source, 0) == 0) throw;
            fail(path, e.message());
        }
        fail(path + ".type", "is not a material type (air, glass, model, index): \"" + type + "\"");
    }

    TPrescriptionSurface surface(const json& j, const std::string& path) const {
        const std::string keyword = text(j, "kind", path);
        const TElementKind* kind = kindForKeyword(keyword);
        if (!kind || !kind->make) fail(path + ".kind", "is not an element record: \"" + keyword + "\"");
        std::vector<complex> values;
        for (const TRecordField& field : kind->fields)
            values.push_back(field.isIndex ? complex(1.0, 0.0) : complex(number(j, field.key, path), 0.0));
        std::unique_ptr<TElement> e;
        try {
            e = kind->make(values);
        } catch (const xmsg& err) {
            fail(path, err.message());
        }
        const double radius = numberOr(j, "radius", path, 0.0);
        e->radius = radius;
        TPrescriptionSurface s(std::move(e), material(member(j, "material", path), path + ".material"),
                               numberOr(j, "clear_semi_diameter", path, 0.0),
                               numberOr(j, "draw_semi_diameter", path, 0.0));
        s.comment = textOr(j, "comment", path, "");
        return s;
    }
};

}  // namespace

std::string TMaterial::toJson() const { return materialJson(*this).dump(); }

TMaterial TMaterial::fromJson(const std::string& text) {
    json j;
    try {
        j = json::parse(text);
    } catch (const json::parse_error& e) {
        throw xmsg(std::string("material: not JSON: ") + e.what());
    }
    return TJsonReader("material").material(j, "material");
}

std::string TPrescription::toJson() const {
    validate();
    json j;
    j["format"] = kFormat;
    j["version"] = 1;
    j["title"] = title;
    j["unit"] = unit;
    json object;
    if (std::isinf(objectDistance))
        object["distance"] = "infinity";
    else
        object["distance"] = objectDistance;
    object["material"] = materialJson(objectMaterial);
    j["object"] = object;
    json list = json::array();
    for (std::size_t k = 0; k < surfaces.size(); ++k) list.push_back(surfaceJson(surfaces[k], k));
    j["surfaces"] = list;
    j["stop"] = stop;
    j["aperture"] = {{"type", apertureNames[static_cast<int>(aperture.kind)]}, {"value", aperture.value}};
    json points = json::array();
    for (const TField& f : fields) points.push_back({{"x", f.x}, {"y", f.y}, {"weight", f.weight}});
    j["fields"] = {{"type", fieldKind == TFieldKind::angle ? "angle" : "object height"}, {"points", points}};
    json waves = json::array();
    for (const TWavelength& w : wavelengths) waves.push_back({{"um", w.um}, {"weight", w.weight}});
    j["wavelengths"] = {{"primary", primary}, {"values", waves}};
    if (std::isnan(imageZ))
        j["image"] = {{"z", "paraxial focus"}};
    else
        j["image"] = {{"z", imageZ}};
    j["aiming"] = aiming == TAiming::real ? "real" : "paraxial";
    return j.dump(2) + "\n";
}

TPrescription TPrescription::fromJson(const std::string& text, const std::string& source) {
    json j;
    try {
        j = json::parse(text);
    } catch (const json::parse_error& e) {
        throw xmsg(source + ": not JSON: " + e.what());
    }
    const TJsonReader r(source);
    if (!j.is_object()) r.fail("the top level", "must be an object");
    if (r.textOr(j, "format", "the top level", "") != kFormat)
        r.fail("format", std::string("must be \"") + kFormat + "\"");
    TPrescription p;
    p.title = r.textOr(j, "title", "the top level", "");
    p.unit = r.textOr(j, "unit", "the top level", "mm");
    const json& object = r.member(j, "object", "the top level");
    const json& distance = r.member(object, "distance", "object");
    if (distance.is_string() && distance.get<std::string>() == "infinity")
        p.objectDistance = std::numeric_limits<double>::infinity();
    else if (distance.is_number())
        p.objectDistance = distance.get<double>();
    else
        r.fail("object.distance", "must be a number or \"infinity\"");
    if (object.contains("material")) p.objectMaterial = r.material(object["material"], "object.material");
    const json& list = r.member(j, "surfaces", "the top level");
    if (!list.is_array()) r.fail("surfaces", "must be an array");
    for (std::size_t k = 0; k < list.size(); ++k)
        p.surfaces.push_back(r.surface(list[k], "surfaces[" + std::to_string(k) + "]"));
    p.stop = r.integer(j, "stop", "the top level");
    const json& aperture = r.member(j, "aperture", "the top level");
    const std::string type = r.text(aperture, "type", "aperture");
    int kind = -1;
    for (int i = 0; i < 4; ++i)
        if (type == apertureNames[i]) kind = i;
    if (kind < 0) r.fail("aperture.type", "is not an aperture type: \"" + type + "\"");
    p.aperture.kind = static_cast<TApertureKind>(kind);
    p.aperture.value = r.number(aperture, "value", "aperture");
    const json& fields = r.member(j, "fields", "the top level");
    const std::string fieldType = r.text(fields, "type", "fields");
    if (fieldType == "angle")
        p.fieldKind = TFieldKind::angle;
    else if (fieldType == "object height")
        p.fieldKind = TFieldKind::objectHeight;
    else
        r.fail("fields.type", "must be \"angle\" or \"object height\"");
    const json& points = r.member(fields, "points", "fields");
    if (!points.is_array()) r.fail("fields.points", "must be an array");
    for (std::size_t i = 0; i < points.size(); ++i) {
        const std::string path = "fields.points[" + std::to_string(i) + "]";
        p.fields.push_back({r.numberOr(points[i], "x", path, 0.0), r.numberOr(points[i], "y", path, 0.0),
                            r.numberOr(points[i], "weight", path, 1.0)});
    }
    const json& waves = r.member(j, "wavelengths", "the top level");
    p.primary = r.integer(waves, "primary", "wavelengths");
    const json& values = r.member(waves, "values", "wavelengths");
    if (!values.is_array()) r.fail("wavelengths.values", "must be an array");
    for (std::size_t i = 0; i < values.size(); ++i) {
        const std::string path = "wavelengths.values[" + std::to_string(i) + "]";
        p.wavelengths.push_back({r.number(values[i], "um", path), r.numberOr(values[i], "weight", path, 1.0)});
    }
    const json& image = r.member(j, "image", "the top level");
    const json& z = r.member(image, "z", "image");
    if (z.is_string() && z.get<std::string>() == "paraxial focus")
        p.imageZ = std::numeric_limits<double>::quiet_NaN();
    else if (z.is_number())
        p.imageZ = z.get<double>();
    else
        r.fail("image.z", "must be a number or \"paraxial focus\"");
    const std::string aiming = r.textOr(j, "aiming", "the top level", "real");
    if (aiming == "real")
        p.aiming = TAiming::real;
    else if (aiming == "paraxial")
        p.aiming = TAiming::paraxial;
    else
        r.fail("aiming", "must be \"real\" or \"paraxial\"");
    try {
        p.validate();
    } catch (const xmsg& e) {
        throw xmsg(source + ": " + e.message());
    }
    return p;
}

void TPrescription::write(const std::string& path) const {
    const std::string text = toJson();
    std::ofstream os(path, std::ios::binary);
    if (!os) throw xmsg("prescription: cannot write \"" + path + "\"");
    os << text;
    if (!os.flush()) throw xmsg("prescription: writing \"" + path + "\" failed");
}

TPrescription TPrescription::readJson(const std::string& path) {
    std::ifstream is(path, std::ios::binary);
    if (!is) throw xmsg("prescription: cannot open \"" + path + "\"");
    std::ostringstream text;
    text << is.rdbuf();
    return fromJson(text.str(), path);
}

}  // namespace lumivex
