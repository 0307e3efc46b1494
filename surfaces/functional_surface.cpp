// SPDX-License-Identifier: Apache-2.0
// Surfaces given by a height function: folding into zones, the normal from
// the slopes, the search for the intersection along the ray, and the outline.
#include "lumivex/surfaces.h"
#include "numeric/checked_math.h"
#include "surfaces/height_search.h"
#include "system/element_checks.h"

namespace lumivex {

TFunctionalSurface::TFunctionalSurface(double zPosition_, const complex& refIndex_,
                                       double heightModulus_)
    : TElement(zPosition_), TSurface(zPosition_, refIndex_), heightModulus(heightModulus_) {
    detail::requireFinite("TFunctionalSurface", "the height modulus", heightModulus);
}

double TFunctionalSurface::Height(const TVector& p) const {
    const double h = heightFunction(p);
    // The remainder keeps the sign of h, so zones fold towards the vertex
    // plane from either side.
    if (heightModulus != 0.0) return math::fmod(h, heightModulus);
    return h;
}

TVector TFunctionalSurface::getSurfaceNormal(const TVector& p) const {
    // Slopes of the unfolded shape: a zoned surface keeps the facet normals.
    return detail::normalFromSlopes(heightDerivative(p));
}

TVector TFunctionalSurface::findSurfaceIntersection(const TBeamNode& node) const {
    return detail::searchSurfaceIntersection(node, zPosition,
                                             [this](const TVector& P) { return Height(P); });
}

void TFunctionalSurface::getPolygon(TPolygon& polygon, bool reverse, double r) const {
    constexpr int kPoints = 500;
    constexpr double kStep = 1.0 / 499;  // 0.002004008016032064: ends exactly at both edges
    const double a = reverse ? r : -r;
    const double b = reverse ? -r : r;
    const double z0 = zPosition;
    for (int i = 0; i < kPoints; ++i) {
        const double x = a + (b - a) * i * kStep;
        const double z = Height(TVector(x, 0.0, 0.0)) + z0;
        polygon.addPoint(TVector(x, 0.0, z));
    }
}

}  // namespace lumivex
