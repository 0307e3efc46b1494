// SPDX-License-Identifier: Apache-2.0
// The trace with tangents: a ray through a system together with the
// derivatives of its position and direction with respect to the design
// variables, found at each surface from the converged intersection by
// implicit differentiation (see lumivex/optimize.h).
#ifndef LUMIVEX_OPTIMIZE_TANGENT_TRACE_H
#define LUMIVEX_OPTIMIZE_TANGENT_TRACE_H

#include <array>
#include <vector>

#include "lumivex/geometry.h"
#include "lumivex/optimize.h"
#include "lumivex/surfaces.h"
#include "lumivex/system.h"

namespace lumivex {
namespace detail {

// How a ray's tangents pass an element.
enum class TangentShape {
    pass,   // a plain TElement: the beam goes on unchanged
    plane,  // TSlab
    conic,  // conic plus even polynomial in ρ²: sphere, general lens, Lens record, even asphere
    other   // anything else: traced by its own traceBeam, tangents not carried
};

// The sag z − z0 = c·s/(1 + sqrt(1 − (1 + k)·c²·s)) + Σ αᵢ·sⁱ, s = x² + y².
struct ConicSag {
    double c = 0.0;
    double k = 0.0;
    std::array<double, 8> alpha{};
};

TangentShape tangentShape(const TElement& element, ConicSag* sag = nullptr);

// h(s), dh/ds and d²h/ds².
struct SagValues {
    double h = 0.0, slope = 0.0, curve = 0.0;
};
SagValues sagAt(const ConicSag& sag, double s);

// ∂h/∂p and ∂(dh/ds)/∂p at s for the variable's parameter p of this shape
// (its curvature, conic constant or asphere coefficient).
void sagPartials(const ConicSag& sag, TVariableKind kind, int term, double s, double& dh,
                 double& dslope);

// What moves element j per unit of variable v: its z (thickness variables
// ahead of it) and the parameter of its own shape.
struct ElementTangents {
    TangentShape shape = TangentShape::other;
    const TSurface* surface = nullptr;  // for the plane and conic shapes
    ConicSag sag;
    // Per variable: dz/dθ of the element, 1 for a thickness ahead of it (for
    // an image plane that follows the focus, the focus's own rate), and the
    // index into `reshaped` of the variable that changes its shape, or −1.
    // Empty: nothing moves it.
    std::vector<double> zRate;
    std::vector<int> reshapeIndex;
    double clip = 0.0;  // > 0: a ray meeting it farther from the axis is vignetted
    struct Reshape {
        int variable;
        TVariableKind kind;
        int term;
    };
    std::vector<Reshape> reshaped;  // at most one per parameter: curvature, conic, 8 terms
};

// A ray's state after the trace, tangents for the variables with the exact
// flag, failed when the ray found no way through.
struct TangentRay {
    bool ok = false;
    bool vignetted = false;  // stopped by a clear aperture (ok is false too)
    TVector P, k;
};

// Traces one ray through the system: positions by the elements' own
// intersection, normal and refraction (the bits TSurface::traceBeam gives),
// tangents dP[v], dk[v] for the variables v in `active`, which hold the
// start's own tangents on entry (zero when the start does not move).
// Elements of shape `other` are traced by their traceBeam, which is not safe
// for concurrent use; the caller keeps such systems to one thread. `last`
// ≥ 0 ends the trace at that element.
//
// `firstElement[v]` (null: 0 for every column) is the first element where
// column v can be other than zero: before it the column is skipped and must
// be zero. With `fold`, columns fold.first and fold.first + 1 are the aim's
// (a unit change of the start's two unknowns); at element fold.element, the
// stop, every other column gets the aim's change added that keeps the stop
// crossing at its target, whose change per variable is (dTx[v], dTy[v]),
// and the aim columns end there.
struct AimFold {
    int element = -1;
    int first = 0;
    const double* dTx = nullptr;
    const double* dTy = nullptr;
};
TangentRay traceTangents(const TOpticalSystem& system, const std::vector<ElementTangents>& plan,
                         const TBeamNode& start, double wavelength,
                         const std::vector<int>& active, TVector* dP, TVector* dk, int last = -1,
                         const int* firstElement = nullptr, const AimFold* fold = nullptr);

}  // namespace detail
}  // namespace lumivex

#endif
