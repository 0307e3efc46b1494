// SPDX-License-Identifier: Apache-2.0
// What the surfaces given by a height (a function or a table) share: the
// intersection search along the ray and the normal from the slopes.
#ifndef LUMIVEX_SURFACES_HEIGHT_SEARCH_H
#define LUMIVEX_SURFACES_HEIGHT_SEARCH_H

#include <cmath>

#include "lumivex/geometry.h"
#include "lumivex/numeric.h"
#include "numeric/checked_math.h"

namespace lumivex {
namespace detail {

// The exact unit normal of the surface z = h(x, y) for the slopes
// (∂h/∂x, ∂h/∂y): (−dx, −dy, 1)/sqrt(1 + dx² + dy²), with positive z.
inline TVector normalFromSlopes(const TVector& slope) {
    const double r = 1.0 / math::sqrt(1.0 + slope.x * slope.x + slope.y * slope.y);
    return {-slope.x * r, -slope.y * r, r};
}

constexpr double kSearchTolerance = 1e-9;  // axial gap, length unit of the system
constexpr int kSearchLimit = 1000;

// Fixed-point search along the ray for the point where it meets the surface
// z = z0 + height(P): start on the vertex plane, then move along the ray by
// the axial gap to the surface until the gap is at most 1e-9. It uses heights
// only, never slopes, and converges where the ray crosses the surface at a
// moderate angle to its slope. `height` takes a TVector.
template <class Height>
TVector searchSurfaceIntersection(const TBeamNode& node, double z0, const Height& height) {
    const TVector& p = node.position;
    const TVector& k = node.kVector;
    if (k.z == 0.0)
        throw xmsg(
            "TFunctionalSurface::findSurfaceIntersection: the ray runs parallel to the vertex "
            "plane (kVector.z is 0)");
    TVector P = p + k * ((z0 - p.z) / k.z);
    for (int i = 1;; ++i) {
        const double delta = height(P) + z0 - P.z;
        P += k * (delta / k.z);
        if (i == kSearchLimit)
            throw xmsg("Too many iterations in TFunctionalSurface::findSurfaceIntersection(...)");
        if (std::fabs(delta) <= kSearchTolerance) return P;
    }
}

}  // namespace detail
}  // namespace lumivex

#endif
