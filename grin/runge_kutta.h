// SPDX-License-Identifier: Apache-2.0
// The classical fourth-order Runge–Kutta step of one transverse axis and the
// step-size control of the gradient-index integration, shared by the virtual
// TGRIN::RungeKutta and the rod's devirtualised step.
#ifndef LUMIVEX_GRIN_RUNGE_KUTTA_H
#define LUMIVEX_GRIN_RUNGE_KUTTA_H

#include <cmath>

#include "lumivex/geometry.h"

namespace lumivex {
namespace detail {

// Advances the state y = (u, du/dz, 0) by h with the slope field `slope`
// (y ↦ d/dz of y) and sets `step` to the proposal for the next step: doubled
// where the stages' slopes barely stray from a line, halved where they stray
// much, never below 1e-8.
template <class Slope>
inline TVector rungeKuttaStep(const TVector& y, const double h, double& step, const Slope& slope) {
    const TVector k1 = slope(y) * h;
    const TVector k2 = slope(y + k1 * 0.5) * h;
    const TVector k3 = slope(y + k2 * 0.5) * h;
    const TVector k4 = slope(y + k3) * h;
    const TVector ynew = y + (k1 + k2 * 2.0 + k3 * 2.0 + k4) * 0.16666666666666666;

    // How far the stages' slopes stray from a straight line, per component;
    // the smaller measure steers the next step.
    step = h;
    const double qx =
        std::fabs(k2.x - k1.x) < 1e-40 ? 0.0 : 2.0 * std::fabs((k3.x - k2.x) / (k2.x - k1.x));
    const double qy =
        std::fabs(k2.y - k1.y) < 1e-40 ? 0.0 : 2.0 * std::fabs((k3.y - k2.y) / (k2.y - k1.y));
    const double q = qx <= qy ? qx : qy;
    if (q < 0.0002) step = 2.0 * step;
    if (q > 0.0016) step = 0.5 * step;
    if (step < 1e-8) step = 1e-8;
    return ynew;
}

}  // namespace detail
}  // namespace lumivex

#endif
