// SPDX-License-Identifier: Apache-2.0
// The merit file: a prescription's variables and operands as JSON a
// designer writes by hand.
//
//   {"variables": [{"vary": "curvature", "element": 1},
//                  {"vary": "thickness", "element": 3, "bounds": [1, 10]},
//                  {"vary": "asphere", "element": 4, "term": 2}],
//    "operands": [{"operand": "rms_spot", "field": "all", "wavelength": "all", "rays": 100},
//                 {"operand": "efl", "target": 50, "weight": 0.01},
//                 {"operand": "min_thickness", "element": 3, "target": 1}],
//    "image_at_focus": true, "max_iterations": 50}
//
// Elements index p.systemAt(); wavelengths are in µm, "all" (every one of
// the prescription's) or absent (the primary); fields index its fields, or
// "all". A target left out is 0 for rms_spot and ray_error and the lens's
// present value for the others, which are then held.
#include <cmath>
#include <fstream>
#include <limits>
#include <nlohmann/json.hpp>
#include <set>
#include <sstream>

#include "lumivex/optimize.h"

namespace lumivex {

namespace {

using json = nlohmann::json;

struct Reader {
    std::string source;

    [[noreturn]] void fail(const std::string& where, const std::string& what) const {
        throw xmsg(source + ": " + where + ": " + what);
    }
    void onlyKeys(const json& j, const std::string& where,
                  const std::set<std::string>& keys) const {
        for (auto it = j.begin(); it != j.end(); ++it)
            if (!keys.count(it.key())) {
                std::string known;
                for (const std::string& k : keys)
                    known += (known.empty() ? "" : ", ") + ("\"" + k + "\"");
                fail(where, "has no key \"" + it.key() + "\" (it takes " + known + ")");
            }
    }
    double number(const json& j, const std::string& key, const std::string& where) const {
        const json& v = j.at(key);
        if (!v.is_number()) fail(where + "." + key, "must be a number");
        return v.get<double>();
    }
    int integer(const json& j, const std::string& key, const std::string& where) const {
        const json& v = j.at(key);
        if (!v.is_number_integer()) fail(where + "." + key, "must be an integer");
        return v.get<int>();
    }
    std::string text(const json& j, const std::string& key, const std::string& where) const {
        if (!j.contains(key)) fail(where, "lacks \"" + key + "\"");
        const json& v = j.at(key);
        if (!v.is_string()) fail(where + "." + key, "must be a string");
        return v.get<std::string>();
    }
    // A list of indices: an integer, or "all" for 0 … count − 1.
    std::vector<int> indices(const json& j, const std::string& key, const std::string& where,
                             int count, const char* what) const {
        if (!j.contains(key)) return {0};
        const json& v = j.at(key);
        std::vector<int> out;
        if (v.is_string() && v.get<std::string>() == "all") {
            for (int i = 0; i < count; ++i) out.push_back(i);
            return out;
        }
        if (!v.is_number_integer()) fail(where + "." + key, "must be an integer or \"all\"");
        const int i = v.get<int>();
        if (i < 0 || i >= count)
            fail(where + "." + key, "the prescription has no " + std::string(what) + " " +
                                        std::to_string(i) + " (it has " + std::to_string(count) +
                                        ")");
        return {i};
    }
};

}  // namespace

TVariableKind variableKindNamed(const std::string& name) {
    if (name == "curvature") return TVariableKind::curvature;
    if (name == "thickness") return TVariableKind::thickness;
    if (name == "conic") return TVariableKind::conic;
    if (name == "asphere") return TVariableKind::asphere;
    throw xmsg("unknown variable kind \"" + name +
               "\" (the kinds are \"curvature\", \"thickness\", \"conic\", \"asphere\")");
}

TOperandKind operandKindNamed(const std::string& name) {
    static const std::pair<const char*, TOperandKind> kinds[] = {
        {"rms_spot", TOperandKind::rmsSpot},
        {"ray_error", TOperandKind::rayError},
        {"efl", TOperandKind::efl},
        {"bfl", TOperandKind::bfl},
        {"f_number", TOperandKind::fNumber},
        {"total_track", TOperandKind::totalTrack},
        {"image_height", TOperandKind::imageHeight},
        {"min_thickness", TOperandKind::minThickness},
        {"max_thickness", TOperandKind::maxThickness},
        {"min_edge_thickness", TOperandKind::minEdgeThickness}};
    std::string known;
    for (const auto& k : kinds) {
        if (name == k.first) return k.second;
        known += std::string(known.empty() ? "" : ", ") + "\"" + k.first + "\"";
    }
    throw xmsg("unknown operand \"" + name + "\" (the operands are " + known + ")");
}

TMeritFunction meritFromJson(const TPrescription& lens, const std::string& text,
                             const std::string& source, TOptimizeOptions* options) {
    json j;
    try {
        j = json::parse(text);
    } catch (const json::parse_error& e) {
        // nlohmann says where: "parse error at line 3, column 5: …".
        std::string what = e.what();
        const std::size_t at = what.find("parse error");
        throw xmsg(source + ": not JSON: " + (at == std::string::npos ? what : what.substr(at)));
    }
    const Reader r{source};
    if (!j.is_object()) r.fail("the top level", "must be an object");
    r.onlyKeys(j, "the top level", {"variables", "operands", "image_at_focus", "max_iterations"});
    bool atFocus = std::isnan(lens.imageZ);
    if (j.contains("image_at_focus")) {
        if (!j["image_at_focus"].is_boolean()) r.fail("image_at_focus", "must be true or false");
        atFocus = j["image_at_focus"].get<bool>();
    }
    if (options && j.contains("max_iterations")) {
        options->maxIterations = r.integer(j, "max_iterations", "the top level");
        if (options->maxIterations < 0) r.fail("max_iterations", "must be at least 0");
    }
    TMeritFunction merit(lens, atFocus);
    const int elements = static_cast<int>(lens.surfaces.size());

    const json empty = json::array();
    const json& variables = j.contains("variables") ? j["variables"] : empty;
    if (!variables.is_array()) r.fail("variables", "must be a list");
    for (std::size_t i = 0; i < variables.size(); ++i) {
        const std::string where = "variables[" + std::to_string(i) + "]";
        const json& v = variables[i];
        if (!v.is_object()) r.fail(where, "must be an object");
        r.onlyKeys(v, where, {"vary", "element", "term", "bounds"});
        TDesignVariable var;
        try {
            var.kind = variableKindNamed(r.text(v, "vary", where));
        } catch (const xmsg& e) {
            if (e.message().rfind(source, 0) == 0) throw;
            r.fail(where + ".vary", e.message());
        }
        if (!v.contains("element")) r.fail(where, "lacks \"element\"");
        var.element = r.integer(v, "element", where);
        if (var.kind == TVariableKind::asphere) {
            if (!v.contains("term")) r.fail(where, "an asphere variable needs \"term\" (1 to 8)");
            var.term = r.integer(v, "term", where);
        } else if (v.contains("term")) {
            r.fail(where + ".term", "is for asphere variables only");
        }
        if (v.contains("bounds")) {
            const json& b = v["bounds"];
            if (!b.is_array() || b.size() != 2) r.fail(where + ".bounds", "must be [lower, upper]");
            const auto bound = [&](const json& x, double otherwise) {
                if (x.is_null()) return otherwise;
                if (!x.is_number()) r.fail(where + ".bounds", "must hold numbers or null");
                return x.get<double>();
            };
            var.lower = bound(b[0], -std::numeric_limits<double>::infinity());
            var.upper = bound(b[1], std::numeric_limits<double>::infinity());
            if (!(var.lower <= var.upper))
                r.fail(where + ".bounds", "the lower bound lies above the upper");
        }
        if (var.element < 0 || var.element > elements)
            r.fail(where + ".element", "the system has no element " + std::to_string(var.element) +
                                           " (it has 0 to " + std::to_string(elements - 1) + ")");
        merit.variables.push_back(var);
        try {
            variableValue(merit.system(0), var);
            merit.values();
        } catch (const xmsg& e) {
            r.fail(where, e.message());
        }
    }

    const json& operands = j.contains("operands") ? j["operands"] : empty;
    if (!operands.is_array()) r.fail("operands", "must be a list");
    std::vector<std::size_t> held;  // operands whose target is what the lens has now
    const int fields = static_cast<int>(lens.fields.size());
    for (std::size_t i = 0; i < operands.size(); ++i) {
        const std::string where = "operands[" + std::to_string(i) + "]";
        const json& o = operands[i];
        if (!o.is_object()) r.fail(where, "must be an object");
        TOperand op;
        try {
            op.kind = operandKindNamed(r.text(o, "operand", where));
        } catch (const xmsg& e) {
            if (e.message().rfind(source, 0) == 0) throw;
            r.fail(where + ".operand", e.message());
        }
        std::set<std::string> keys = {"operand", "target", "weight"};
        const bool rays = op.kind == TOperandKind::rmsSpot || op.kind == TOperandKind::rayError;
        const bool thickness = op.kind == TOperandKind::minThickness ||
                               op.kind == TOperandKind::maxThickness ||
                               op.kind == TOperandKind::minEdgeThickness;
        if (rays || op.kind == TOperandKind::imageHeight) keys.insert("field");
        if (op.kind != TOperandKind::totalTrack && !thickness) keys.insert("wavelength");
        if (op.kind == TOperandKind::rmsSpot) keys.insert({"rays", "about_chief"});
        if (op.kind == TOperandKind::rayError) keys.insert("pupil");
        if (thickness) keys.insert("element");
        if (op.kind == TOperandKind::minEdgeThickness) keys.insert("height");
        r.onlyKeys(o, where, keys);
        if (o.contains("weight")) {
            op.weight = r.number(o, "weight", where);
            if (!(op.weight >= 0.0)) r.fail(where + ".weight", "must be at least 0");
        }
        const bool hold = !o.contains("target") && !rays;
        if (o.contains("target")) op.target = r.number(o, "target", where);
        if (o.contains("rays")) {
            op.rays = r.integer(o, "rays", where);
            if (op.rays < 1) r.fail(where + ".rays", "must be at least 1");
        }
        if (o.contains("about_chief")) {
            if (!o["about_chief"].is_boolean())
                r.fail(where + ".about_chief", "must be true or false");
            op.aboutChief = o["about_chief"].get<bool>();
        }
        if (o.contains("pupil")) {
            const json& p = o["pupil"];
            if (!p.is_array() || p.size() != 2 || !p[0].is_number() || !p[1].is_number())
                r.fail(where + ".pupil", "must be [px, py]");
            op.pupil = {p[0].get<double>(), p[1].get<double>()};
        }
        if (thickness) {
            if (!o.contains("element")) r.fail(where, "lacks \"element\"");
            op.element = r.integer(o, "element", where);
            if (op.element < 0 || op.element >= elements)
                r.fail(where + ".element",
                       "the system has no gap behind element " + std::to_string(op.element));
        }
        if (o.contains("height")) op.height = r.number(o, "height", where);
        std::vector<int> configurations;
        if (o.contains("wavelength") && o["wavelength"].is_string()) {
            if (o["wavelength"].get<std::string>() != "all")
                r.fail(where + ".wavelength", "must be micrometres or \"all\"");
            for (const TWavelength& w : lens.wavelengths)
                configurations.push_back(merit.wavelengthConfiguration(w.um));
        } else {
            double um = std::numeric_limits<double>::quiet_NaN();
            if (o.contains("wavelength")) um = r.number(o, "wavelength", where);
            try {
                configurations.push_back(merit.wavelengthConfiguration(um));
            } catch (const xmsg& e) {
                r.fail(where + ".wavelength", e.message());
            }
        }
        const std::vector<int> which = keys.count("field")
                                           ? r.indices(o, "field", where, fields, "field")
                                           : std::vector<int>{0};
        for (int q : configurations)
            for (int f : which) {
                op.configuration = q;
                op.field = f;
                if (hold) held.push_back(merit.operands.size());
                merit.operands.push_back(op);
            }
    }
    if (merit.variables.empty()) r.fail("variables", "there is nothing to vary");
    if (merit.operands.empty()) r.fail("operands", "there is nothing to measure");
    TEvaluation now;
    try {
        now = merit.evaluate();
    } catch (const xmsg& e) {
        throw xmsg(source + ": " + e.message());
    }
    for (std::size_t o : held) merit.operands[o].target = now.values[o];
    return merit;
}

TMeritFunction readMerit(const TPrescription& lens, const std::string& path,
                         TOptimizeOptions* options) {
    std::ifstream in(path, std::ios::binary);
    if (!in) throw xmsg(path + ": cannot be opened");
    std::ostringstream text;
    text << in.rdbuf();
    return meritFromJson(lens, text.str(), path, options);
}

}  // namespace lumivex
