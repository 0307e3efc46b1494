#include "focus.h"

#include <algorithm>
#include <cmath>

namespace lumivex::cli {

TVector positionAtZ(const TBeam& beam, double z) {
    const int n = beam.getSize();
    if (n == 0) return TVector();
    auto extend = [z](const TBeamNode& node) {
        if (node.kVector.z == 0.0) return node.position;
        return node.position + node.kVector * ((z - node.position.z) / node.kVector.z);
    };
    const TBeamNode first = beam[0];
    if (n == 1 || z < first.position.z) return extend(first);
    TVector a = first.position;
    for (int i = 1; i < n; ++i) {
        const TVector b = beam[i].position;
        if (b.z != a.z && ((a.z <= z && z <= b.z) || (b.z <= z && z <= a.z)))
            return a + (b - a) * ((z - a.z) / (b.z - a.z));
        a = b;
    }
    return extend(beam.getLast());
}

ParaxialFocus paraxialFocus(TOpticalSystem& system, const Fan& fan) {
    ParaxialFocus focus;
    const double eps = 1e-3 * (fan.halfHeight > 0.0 ? fan.halfHeight : 1.0);
    TBeamNode exits[2];
    for (int i = 0; i < 2; ++i) {
        TBeam beam(fan.wavelength);
        beam.addNode(fanStartNode(fan, system, i == 0 ? -eps : eps));
        try {
            system.traceBeam(beam);
        } catch (const xmsg& e) {
            focus.failure = "a near-axis ray fails: " + failureSummary(e.message());
            return focus;
        }
        exits[i] = beam.getLast();
        if (!(exits[i].kVector.z > 0.0)) {
            focus.failure = "a near-axis ray does not leave towards +z";
            return focus;
        }
    }
    const TVector& p1 = exits[0].position;
    const TVector& p2 = exits[1].position;
    const double s1 = exits[0].kVector.x / exits[0].kVector.z;
    const double s2 = exits[1].kVector.x / exits[1].kVector.z;
    // x1 + (z − z1)·s1 = x2 + (z − z2)·s2
    const double z = (p2.x - p1.x + p1.z * s1 - p2.z * s2) / (s1 - s2);
    const TElement* firstElement = system[0];
    const TElement* lastElement = system.getLast();
    const double scale = std::max({std::fabs(lastElement->zPosition - firstElement->zPosition),
                                   lastElement->getRadius(), 1.0});
    focus.found = true;
    // Beyond ten thousand system lengths the difference of the exit slopes
    // is the integration's rounding rather than optical power.
    if (!std::isfinite(z) || std::fabs(z - lastElement->zPosition) > 1e4 * scale) {
        focus.atInfinity = true;
        return focus;
    }
    focus.z = z;
    focus.x = p1.x + (z - p1.z) * s1;
    focus.isVirtual = z < std::max(p1.z, p2.z);
    return focus;
}

Spot spotAt(const std::vector<TracedRay>& rays, double z) {
    Spot spot;
    spot.z = z;
    std::vector<TVector> points;
    for (const TracedRay& ray : rays)
        if (ray.ok) points.push_back(positionAtZ(ray.beam, z));
    spot.rays = static_cast<int>(points.size());
    if (points.empty()) return spot;
    for (const TVector& p : points) {
        spot.centroidX += p.x;
        spot.centroidY += p.y;
    }
    spot.centroidX /= spot.rays;
    spot.centroidY /= spot.rays;
    double sum = 0.0;
    for (const TVector& p : points) {
        const double dx = p.x - spot.centroidX;
        const double dy = p.y - spot.centroidY;
        sum += dx * dx + dy * dy;
    }
    spot.rms = std::sqrt(sum / spot.rays);
    return spot;
}

}  // namespace lumivex::cli
