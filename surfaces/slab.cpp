// SPDX-License-Identifier: Apache-2.0
// The plane surface perpendicular to the axis. Its description record is
// the catalogue's (description/records.cpp).
#include "lumivex/surfaces.h"

namespace lumivex {

TSlab::TSlab(double zPosition_, const complex& refIndex_)
    : TElement(zPosition_), TSurface(zPosition_, refIndex_) {}

TVector TSlab::findSurfaceIntersection(const TBeamNode& node) const {
    const TVector& p = node.position;
    const TVector& k = node.kVector;
    if (k.z == 0.0)
        throw xmsg(
            "TSlab::findSurfaceIntersection: the ray runs parallel to the plane (kVector.z is "
            "0)");
    // The line is followed both ways: a plane behind the start is met too.
    const double t = (zPosition - p.z) / k.z;
    return {p.x + t * k.x, p.y + t * k.y, p.z + t * k.z};
}

}  // namespace lumivex
