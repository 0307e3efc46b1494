// SPDX-License-Identifier: Apache-2.0
// Gradient-index media: rays traced by integrating the ray equation along z
// with a classical fourth-order Runge–Kutta scheme and adaptive steps.
#ifndef LUMIVEX_GRIN_H
#define LUMIVEX_GRIN_H

#include <iosfwd>

#include "lumivex/export.h"
#include "lumivex/geometry.h"
#include "lumivex/numeric.h"
#include "lumivex/system.h"

namespace lumivex {

// A medium whose index varies across the axis, from the element in front of
// it to its exit surface at zPosition + exitHeight. The ray enters already
// refracted by the element in front. The transverse axes are integrated
// separately with the state (u, du/dz, 0) per axis.
//
// Tracing writes `step`, so one element must not trace two beams at once.
class LUMIVEX_API TGRIN : public virtual TElement {
public:
    TGRIN(double zPosition, double n0, double g, double h4, double h6);
    ~TGRIN() override;

    double n0;    // index on the axis
    double g;     // gradient constant, reciprocal length
    double h4;    // fourth-order profile coefficient
    double h6;    // sixth-order profile coefficient
    double step;  // current integration step along z (working state)

    // Integrates the ray to the exit surface, recording a node about every
    // 1/50 of the medium's length, then refracts into `next` and appends the
    // exit node. Throws an xmsg beginning "TGRIN::traceBeam: " when the ray
    // stops being finite, the integration does not finish within 10,000,000
    // steps, or the ray meets the exit surface from behind (N·k ≤ 0).
    void traceBeam(TBeam& beam, const TElement& next) override;
    // Axial offset of the exit surface from zPosition at (p.x, p.y).
    virtual double exitHeight(const TVector& p) const = 0;
    // Advances the node by one step in place and returns a copy of it.
    virtual TBeamNode RKStep(TBeamNode& node, const TVector& D);
    // Unit normal of the exit surface, along the direction of travel.
    virtual TVector exitNormal(const TVector& p) const;
    // The per-axis constants (Dx, Dy, 0) of the ray equation: both the
    // reciprocal square of the ray invariant, (1 + (kx/kz)² + (ky/kz)²)/n².
    virtual TVector findInitialValues(const TBeamNode& node) const;
    // One classical Runge–Kutta step of length h for one axis; sets `step`
    // to its proposal for the next step (never below 1e-8).
    virtual TVector RungeKutta(TVector& y, const TVector& pos, double h, double d);
    // d/dz of the one-axis state y = (u, s, 0): (s, a, 0).
    virtual TVector P(const TVector& y, const TVector& pos, double d) const = 0;
    // Where the straight continuation of the node's ray meets the exit surface.
    virtual TVector findSurfaceIntersection(const TBeamNode& node) const = 0;
    complex getRefIndex(const TVector& p, double unused) const override = 0;
};

// A rod with the radial profile n(r)² = n0²·(1 − (g·r)² + h4·(g·r)⁴ +
// h6·(g·r)⁶) and a plane exit face at zPosition.
class LUMIVEX_API TGrinRod : public TGRIN {
public:
    TGrinRod();  // every field 0
    TGrinRod(double zPosition, double n0, double g, double h4, double h6);
    ~TGrinRod() override;

    double exitHeight(const TVector& p) const override;
    TBeamNode RKStep(TBeamNode& node, const TVector& D) override;
    TVector P(const TVector& y, const TVector& pos, double d) const override;
    TVector findSurfaceIntersection(const TBeamNode& node) const override;
    complex getRefIndex(const TVector& p, double unused) const override;
    // The diameter of the exit face, (−r, 0, z) … (r, 0, z).
    void getPolygon(TPolygon& polygon, bool reverse, double r) const override;
    // "GrinRod\t" zPosition, n0, g, h4, h6, tab separated, no line end.
    std::ostream& write(std::ostream& os) const override;
    // The five record values; a field is assigned only when its extraction
    // succeeds.
    virtual std::istream& read(std::istream& is);
};

}  // namespace lumivex

#endif
