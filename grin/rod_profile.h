// SPDX-License-Identifier: Apache-2.0
// What the scalar rod and the batch's vector lanes share, so that both are
// one computation: the rod's index profile and the exit from a
// gradient-index medium into the element behind it.
#ifndef LUMIVEX_GRIN_ROD_PROFILE_H
#define LUMIVEX_GRIN_ROD_PROFILE_H

#include <cmath>
#include <sstream>

#include "lumivex/geometry.h"
#include "numeric/checked_math.h"
#include "system/refraction.h"

namespace lumivex {
namespace detail {

// A gradient-index trace that needs more integration steps than this is not
// going to finish: at the 1e-8 floor it would still cover 0.1 length units.
constexpr long kGradientMaxSteps = 10000000;

// The first step of every ray through a gradient-index medium.
constexpr double kGradientFirstStep = 6e-7;

// n(r) = n0·sqrt(1 − (g·r)² + h4·(g·r)⁴ + h6·(g·r)⁶) at (x, y); beyond the
// profile's domain (n² < 0) the square root reports the failure.
inline double rodIndex(double n0, double g, double h4, double h6, double x, double y) {
    const double u = g * math::sqrt(x * x + y * y);
    const double u2 = u * u;
    return n0 * math::sqrt(((1.0 - u2) + u2 * u2 * h4) + u2 * u2 * u2 * h6);
}

// The angle that turns unit vector a into unit vector b; 0 when their dot
// product has rounded to ±1 or beyond.
inline double turnAngle(const TVector& a, const TVector& b) {
    const double d = a.dot(b);
    return std::fabs(d) < 1.0 ? math::acosUnit(d) : 0.0;
}

// The node a gradient-index medium leaves at P on its exit face of unit
// normal N: the ray arrived along Kf, having entered along K0 with field V0
// and intensity I0. One rotation carries the polarization from the entry
// direction to the last direction inside, then the face refracts from nIn
// into nOut as any surface does. Throws an xmsg for a ray that meets the
// face from behind, and the refraction's xmsg where it has none.
inline TBeamNode leaveGradientMedium(const TVector& K0, const TVector& V0, double I0,
                                     const TVector& P, const TVector& Kf, double phase,
                                     double nIn, double nOut, const TVector& N) {
    const TVector C = Kf.cross(K0);
    const TVector V1 = C.length() == 0.0
                           ? V0
                           : rotateAboutAxis(V0.x, V0.y, V0.z, C.x, C.y, C.z, turnAngle(Kf, K0));
    if (!meetsFromFront(Kf, N)) {
        std::ostringstream os;
        os << "TGRIN::traceBeam: the ray meets the exit surface from behind (direction " << Kf
           << ", normal " << N << ", N.k " << N.dot(Kf) << ")";
        throw xmsg(os.str());
    }
    const TVector Kt = refract(Kf, N, nIn, nOut);
    double T = 0.0;
    TVector V2;
    transmitAndTurn(Kf, Kt, N, V1, nIn, nOut, T, V2);
    return TBeamNode(P, Kt, I0 * T, V2.unit(), phase);
}

}  // namespace detail
}  // namespace lumivex

#endif
