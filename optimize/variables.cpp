// SPDX-License-Identifier: Apache-2.0
// Design variables: reading and setting curvatures, thicknesses, conic
// constants and asphere terms on the elements that have them.
#include <cmath>
#include <string>
#include <typeinfo>

#include "lumivex/description.h"
#include "lumivex/optimize.h"
#include "lumivex/surfaces.h"
#include "optimize/variables.h"

namespace lumivex {

namespace {

const char* kindWord(TVariableKind kind) {
    switch (kind) {
        case TVariableKind::curvature: return "curvature";
        case TVariableKind::thickness: return "thickness";
        case TVariableKind::conic: return "conic";
        case TVariableKind::asphere: return "asphere";
    }
    return "?";
}

std::string elementLabel(const TElement& e, int i) {
    const TElementKind* kind = kindOf(e);
    return "element " + std::to_string(i) + " (" + (kind ? kind->name : "a host's class") + ")";
}

[[noreturn]] void noSuchParameter(const TElement& e, const TDesignVariable& v) {
    throw xmsg(variableName(v) + ": " + elementLabel(e, v.element) + " has no " +
               kindWord(v.kind) + " to vary");
}

double curvatureOf(double radius) { return radius == 0.0 ? 0.0 : 1.0 / radius; }

}  // namespace

std::string variableName(const TDesignVariable& v) {
    std::string name = std::string(kindWord(v.kind)) + " " + std::to_string(v.element);
    if (v.kind == TVariableKind::asphere) name += " term " + std::to_string(v.term);
    return name;
}

double variableValue(const TOpticalSystem& system, const TDesignVariable& v) {
    detail::ElementList elements;
    for (int i = 0; i < system.getSize(); ++i) elements.push_back(system[i]);
    return detail::valueIn(elements, v);
}

namespace detail {

double valueIn(const ElementList& elements, const TDesignVariable& v) {
    const int n = static_cast<int>(elements.size());
    if (v.element < 0 || v.element >= n)
        throw xmsg(variableName(v) + ": the system has no element " + std::to_string(v.element));
    const TElement& e = *elements[static_cast<std::size_t>(v.element)];
    switch (v.kind) {
        case TVariableKind::thickness:
            if (v.element + 1 >= n)
                throw xmsg(variableName(v) + ": the last element has no thickness behind it");
            return elements[static_cast<std::size_t>(v.element + 1)]->zPosition - e.zPosition;
        case TVariableKind::curvature:
            if (auto* s = dynamic_cast<const TSphericalLens*>(&e)) return 1.0 / s->curvatureRadius;
            if (auto* g = dynamic_cast<const TGeneralLens*>(&e)) return curvatureOf(g->curvatureRadius);
            if (auto* a = dynamic_cast<const TEvenAsphere*>(&e)) return curvatureOf(a->curvatureRadius);
            break;
        case TVariableKind::conic:
            if (auto* g = dynamic_cast<const TGeneralLens*>(&e)) return g->conicConstant;
            if (auto* a = dynamic_cast<const TEvenAsphere*>(&e)) return a->conicConstant;
            break;
        case TVariableKind::asphere:
            if (auto* a = dynamic_cast<const TEvenAsphere*>(&e)) {
                if (v.term < 1 || v.term > TEvenAsphere::kMaxCoefficients)
                    throw xmsg(variableName(v) + ": the even asphere's terms are 1 to 8");
                return a->getCoefficients()[static_cast<std::size_t>(v.term - 1)];
            }
            break;
    }
    noSuchParameter(e, v);
}

// [0] z, [1] curvature radius, [2] conic constant, [3] vertex length,
// [4] second index, [5 …] asphere terms.
std::vector<double> elementState(const TElement& e) {
    std::vector<double> s(5 + TEvenAsphere::kMaxCoefficients, 0.0);
    s[0] = e.zPosition;
    if (auto* sphere = dynamic_cast<const TSphericalLens*>(&e)) s[1] = sphere->curvatureRadius;
    if (auto* g = dynamic_cast<const TGeneralLens*>(&e)) {
        s[1] = g->curvatureRadius;
        s[2] = g->conicConstant;
    }
    if (auto* lens = dynamic_cast<const TLens*>(&e)) {
        s[3] = lens->vertexLength;
        s[4] = lens->secondIndex;
    }
    if (auto* a = dynamic_cast<const TEvenAsphere*>(&e)) {
        s[1] = a->curvatureRadius;
        s[2] = a->conicConstant;
        for (int i = 0; i < TEvenAsphere::kMaxCoefficients; ++i)
            s[static_cast<std::size_t>(5 + i)] = a->getCoefficients()[static_cast<std::size_t>(i)];
    }
    return s;
}

void restoreState(TElement& e, const std::vector<double>& s) {
    e.zPosition = s[0];
    if (auto* sphere = dynamic_cast<TSphericalLens*>(&e)) sphere->curvatureRadius = s[1];
    if (auto* g = dynamic_cast<TGeneralLens*>(&e)) {
        g->curvatureRadius = s[1];
        g->conicConstant = s[2];
    }
    if (auto* lens = dynamic_cast<TLens*>(&e)) {
        lens->vertexLength = s[3];
        lens->secondIndex = s[4];
    }
    if (auto* a = dynamic_cast<TEvenAsphere*>(&e)) {
        a->curvatureRadius = s[1];
        a->conicConstant = s[2];
        if (a->getCoefficients() != std::array<double, TEvenAsphere::kMaxCoefficients>{} ||
            s[5] != 0.0)
            a->setCoefficients(std::vector<double>(s.begin() + 5, s.end()));
    }
}

void setShape(TElement& e, const TDesignVariable& v, double value) {
    switch (v.kind) {
        case TVariableKind::thickness: break;  // the caller moves the elements behind
        case TVariableKind::curvature:
            if (auto* sphere = dynamic_cast<TSphericalLens*>(&e)) {
                if (value == 0.0)
                    throw xmsg(variableName(v) +
                               ": a SphericalLens cannot be flat (use a GeneralLens)");
                sphere->curvatureRadius = 1.0 / value;
                return;
            }
            if (auto* lens = dynamic_cast<TLens*>(&e)) {
                lens->curvatureRadius = value == 0.0 ? 0.0 : 1.0 / value;
                // R = −vertexLength/2 in the Lens record.
                lens->vertexLength = -2.0 * lens->curvatureRadius;
                return;
            }
            if (auto* g = dynamic_cast<TGeneralLens*>(&e)) {
                g->curvatureRadius = value == 0.0 ? 0.0 : 1.0 / value;
                return;
            }
            if (auto* a = dynamic_cast<TEvenAsphere*>(&e)) {
                a->curvatureRadius = value == 0.0 ? 0.0 : 1.0 / value;
                return;
            }
            break;
        case TVariableKind::conic:
            if (auto* lens = dynamic_cast<TLens*>(&e)) {
                // The record holds the conic as −(n/secondIndex)².
                if (!(value < 0.0))
                    throw xmsg(variableName(v) +
                               ": a Lens record holds conic constants below 0 only");
                lens->secondIndex = lens->refIndex.real() / std::sqrt(-value);
                lens->conicConstant = value;
                return;
            }
            if (auto* g = dynamic_cast<TGeneralLens*>(&e)) {
                g->conicConstant = value;
                return;
            }
            if (auto* a = dynamic_cast<TEvenAsphere*>(&e)) {
                a->conicConstant = value;
                return;
            }
            break;
        case TVariableKind::asphere:
            if (auto* a = dynamic_cast<TEvenAsphere*>(&e)) {
                const auto& held = a->getCoefficients();
                std::vector<double> terms(held.begin(), held.end());
                terms[static_cast<std::size_t>(v.term - 1)] = value;
                a->setCoefficients(terms);
                return;
            }
            break;
    }
    noSuchParameter(e, v);
}

void applyValues(const ElementList& elements, const std::vector<std::vector<double>>& base,
                 const std::vector<TDesignVariable>& variables, const std::vector<double>& values) {
    const std::size_t n = elements.size();
    for (std::size_t i = 0; i < n; ++i) restoreState(*elements[i], base[i]);
    // Every value applies to the design as first seen; an unchanged one
    // leaves its element alone, so the first values restore every bit.
    std::vector<double> shift(n, 0.0);
    for (std::size_t m = 0; m < variables.size(); ++m) {
        const TDesignVariable& v = variables[m];
        const double was = valueIn(elements, v);
        if (!std::isfinite(values[m])) throw xmsg(variableName(v) + ": the value is not finite");
        if (values[m] == was) continue;
        if (v.kind == TVariableKind::thickness) {
            for (std::size_t j = static_cast<std::size_t>(v.element) + 1; j < n; ++j)
                shift[j] += values[m] - was;
        } else {
            setShape(*elements[static_cast<std::size_t>(v.element)], v, values[m]);
        }
    }
    for (std::size_t j = 0; j < n; ++j)
        if (shift[j] != 0.0) elements[j]->zPosition += shift[j];
}

}  // namespace detail
}  // namespace lumivex
