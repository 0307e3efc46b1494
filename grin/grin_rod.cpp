// SPDX-License-Identifier: Apache-2.0
// The radial-profile gradient-index rod: n(r)² = n0²·(1 − (g·r)² + h4·(g·r)⁴
// + h6·(g·r)⁶), with its exit face the plane z = zPosition.
#include <istream>
#include <ostream>
#include <sstream>
#include <typeinfo>

#include "grin/rod_profile.h"
#include "grin/runge_kutta.h"
#include "lumivex/grin.h"
#include "numeric/checked_math.h"

namespace lumivex {

TGrinRod::TGrinRod() : TElement(0.0), TGRIN(0.0, 0.0, 0.0, 0.0, 0.0) {}

TGrinRod::TGrinRod(double zPosition_, double n0_, double g_, double h4_, double h6_)
    : TElement(zPosition_), TGRIN(zPosition_, n0_, g_, h4_, h6_) {}

TGrinRod::~TGrinRod() = default;

double TGrinRod::exitHeight(const TVector&) const { return 0.0; }

complex TGrinRod::getRefIndex(const TVector& p, double) const {
    return {detail::rodIndex(n0, g, h4, h6, p.x, p.y), 0.0};
}

TVector TGrinRod::P(const TVector& y, const TVector& pos, const double d) const {
    // Half the transverse derivative of n², scaled by d = 1/β² into the
    // curvature d²u/dz², with the radius of pos.
    const double r = math::sqrt(pos.x * pos.x + pos.y * pos.y);
    const double r2 = r * r;
    const double g2 = g * g;
    const double g4 = g2 * g2;
    const double g6 = g4 * g2;
    const double a = n0 * n0 * d * (2.0 * h4 * g4 * r2 + 3.0 * h6 * g6 * r2 * r2 - g * g) * y.x;
    return {y.y, a, 0.0};
}

TVector TGrinRod::findSurfaceIntersection(const TBeamNode& node) const {
    const TVector& p = node.position;
    const TVector& k = node.kVector;
    if (k.z == 0.0) {
        std::ostringstream os;
        os << "TGrinRod::findSurfaceIntersection: the ray " << p << " along " << k
           << " runs parallel to the exit plane z = " << zPosition;
        throw xmsg(os.str());
    }
    const double t = (zPosition - p.z) / k.z;
    return p + k * t;
}

TBeamNode TGrinRod::RKStep(TBeamNode& node, const TVector& D) {
    const TVector p = node.position;
    const TVector k = node.kVector;
    // Land the last step on the exit plane.
    if (exitHeight(p) + zPosition - p.z < step) step = findSurfaceIntersection(node).z - p.z;
    const double h = step;
    // The profile does not depend on z, so only the start-of-step x and y of
    // this position matter.
    const TVector pos(p.x, p.y, p.z + h);

    TVector yx(p.x, k.x / k.z, 0.0);
    TVector yy(p.y, k.y / k.z, 0.0);
    double hx, hy;
    if (typeid(*this) == typeid(TGrinRod)) {
        // A rod of exactly this class uses its own P and TGRIN's RungeKutta:
        // take both without virtual calls, and P's factor of u, the same at
        // every stage, once per axis. The operations and their order are P's,
        // so the bits are the same.
        const double r = math::sqrt(pos.x * pos.x + pos.y * pos.y);
        const double r2 = r * r;
        const double g2 = g * g;
        const double g4 = g2 * g2;
        const double g6 = g4 * g2;
        const double profile = 2.0 * h4 * g4 * r2 + 3.0 * h6 * g6 * r2 * r2 - g * g;
        const double cx = n0 * n0 * D.x * profile;
        const double cy = n0 * n0 * D.y * profile;
        yx = detail::rungeKuttaStep(yx, h, hx,
                                    [cx](const TVector& v) { return TVector(v.y, cx * v.x, 0.0); });
        yy = detail::rungeKuttaStep(yy, h, hy,
                                    [cy](const TVector& v) { return TVector(v.y, cy * v.x, 0.0); });
    } else {
        yx = RungeKutta(yx, pos, h, D.x);
        hx = step;
        yy = RungeKutta(yy, pos, h, D.y);
        hy = step;
    }
    step = hx <= hy ? hx : hy;

    node.position = TVector(yx.x, yy.x, p.z + h);
    const double sx = yx.y;
    const double sy = yy.y;
    const double kz = 1.0 / math::sqrt(sx * sx + 1.0 + sy * sy);
    node.kVector = TVector(sx * kz, sy * kz, kz);
    return node;
}

void TGrinRod::getPolygon(TPolygon& polygon, const bool reverse, const double r) const {
    const TVector left(-r, 0.0, zPosition);
    const TVector right(r, 0.0, zPosition);
    if (reverse) {
        polygon.addPoint(right).addPoint(left);
    } else {
        polygon.addPoint(left).addPoint(right);
    }
}

}  // namespace lumivex
