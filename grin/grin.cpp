// SPDX-License-Identifier: Apache-2.0
// Tracing through a gradient-index medium: the ray equation integrated along z
// axis by axis with the classical fourth-order Runge–Kutta scheme, the phase
// summed step by step, and one refraction at the exit surface.
#include "lumivex/grin.h"

#include <cmath>
#include <sstream>

#include "grin/rod_profile.h"
#include "grin/runge_kutta.h"
#include "numeric/checked_math.h"
#include "system/element_checks.h"

namespace lumivex {

namespace {

constexpr double kPi = 3.141592653589793;

constexpr long kMaxSteps = detail::kGradientMaxSteps;

bool isFinite(const TVector& v) {
    return std::isfinite(v.x) && std::isfinite(v.y) && std::isfinite(v.z);
}

}  // namespace

TGRIN::TGRIN(double zPosition_, double n0_, double g_, double h4_, double h6_)
    : TElement(zPosition_), n0(n0_), g(g_), h4(h4_), h6(h6_), step(0.0) {
    detail::requireIndex("TGRIN", "the index on the axis n0", complex(n0, 0.0));
    detail::requireFinite("TGRIN", "the gradient constant g", g);
    detail::requireFinite("TGRIN", "h4", h4);
    detail::requireFinite("TGRIN", "h6", h6);
}

TGRIN::~TGRIN() = default;

TBeamNode TGRIN::RKStep(TBeamNode& node, const TVector&) { return node; }

TVector TGRIN::exitNormal(const TVector&) const { return {0.0, 0.0, 1.0}; }

TVector TGRIN::findInitialValues(const TBeamNode& node) const {
    const TVector& k = node.kVector;
    const double n = getRefIndex(node.position, 0.0).real();
    const double sx = k.x / k.z;
    const double sy = k.y / k.z;
    // 1/β² with β = n·cos θ the ray invariant, conserved along any ray in a
    // medium whose index does not depend on z. Both axes need the whole
    // invariant: the curvature of one axis depends on the full direction.
    const double D = (1.0 + sx * sx + sy * sy) / n / n;
    return {D, D, 0.0};
}

TVector TGRIN::RungeKutta(TVector& y, const TVector& pos, const double h, const double d) {
    // The index gradient is taken at pos for all four stages.
    return detail::rungeKuttaStep(y, h, step, [&](const TVector& v) { return P(v, pos, d); });
}

void TGRIN::traceBeam(TBeam& beam, const TElement& next) {
    const TBeamNode entry = beam.getLast();
    const TVector K0 = entry.kVector;
    const TVector V0 = entry.polarization;
    const double I0 = entry.intensity;
    double phase = entry.opticalPath;

    step = detail::kGradientFirstStep;
    const TVector D = findInitialValues(entry);
    const double length = zPosition - entry.position.z;
    double zNext = entry.position.z + length / 50;

    TBeamNode Q = entry;
    TVector Pprev = entry.position;
    TVector P = Pprev;
    TVector K = K0;
    long steps = 0;
    for (;;) {
        RKStep(Q, D);
        P = Q.position;
        K = Q.kVector;
        ++steps;
        if (!isFinite(P) || !isFinite(K)) {
            std::ostringstream os;
            os << "TGRIN::traceBeam: position or direction no longer finite after " << steps
               << " integration steps (position " << P << ", direction " << K << ")";
            throw xmsg(os.str());
        }

        // Phase of the chord, with the index at its midpoint.
        const TVector delta = P - Pprev;
        const TVector M = Pprev + delta * 0.5;
        const double n = getRefIndex(M, 0.0).real();
        phase = phase + delta.length() * n * 2.0 * kPi / beam.wavelength;
        Pprev = P;

        if (P.z >= zNext) {
            beam.addNode(TBeamNode(P, K, I0, V0, phase));
            zNext = zNext + length / 50;
            const double rho = math::sqrt(P.x * P.x + P.y * P.y);
            if (rho > optRadius) optRadius = rho;
        }

        if (!(std::fabs(P.z - zPosition - exitHeight(P)) > 1e-9)) break;
        if (steps >= kMaxSteps) {
            std::ostringstream os;
            os << "TGRIN::traceBeam: more than " << kMaxSteps
               << " integration steps without reaching the exit surface (last position " << P
               << ", step " << step << ")";
            throw xmsg(os.str());
        }
    }

    // The exit face refracts as any surface does (see leaveGradientMedium).
    const double nIn = getRefIndex(P, 0.0).real();
    const double nOut = next.getRefIndex(P, 0.0).real();
    beam.addNode(detail::leaveGradientMedium(K0, V0, I0, P, K, phase, nIn, nOut, exitNormal(P)));
}

}  // namespace lumivex
