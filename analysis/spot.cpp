// SPDX-License-Identifier: Apache-2.0
// Where traced rays cross a plane: positions, the paraxial focus and spots.
#include <algorithm>
#include <cmath>
#include <sstream>

#include "lumivex/analysis.h"

namespace lumivex {

namespace {

TVector extend(const TBeamNode& node, double z) {
    if (node.kVector.z == 0.0) return node.position;
    return node.position + node.kVector * ((z - node.position.z) / node.kVector.z);
}

}  // namespace

TVector positionAtZ(const TBeamNode& last, double z) { return extend(last, z); }

TVector positionAtZ(const TBeam& beam, double z) {
    const int n = beam.getSize();
    if (n == 0) return TVector();
    const TBeamNode first = beam[0];
    if (n == 1 || z < first.position.z) return extend(first, z);
    TVector a = first.position;
    for (int i = 1; i < n; ++i) {
        const TVector b = beam[i].position;
        if (b.z != a.z && ((a.z <= z && z <= b.z) || (b.z <= z && z <= a.z)))
            return a + (b - a) * ((z - a.z) / (b.z - a.z));
        a = b;
    }
    return extend(beam.getLast(), z);
}

std::string failureSummary(const std::string& message) {
    static const std::string driverContext = "TOpticalSystem::traceBeam: \n";
    std::string rest = message;
    if (rest.compare(0, driverContext.size(), driverContext) == 0)
        rest.erase(0, driverContext.size());
    std::size_t start = 0;
    while (start <= rest.size()) {
        std::size_t end = rest.find_first_of("\r\n", start);
        if (end == std::string::npos) end = rest.size();
        const std::string line = rest.substr(start, end - start);
        const std::size_t first = line.find_first_not_of(" \t");
        if (first != std::string::npos) {
            const std::size_t last = line.find_last_not_of(" \t");
            return line.substr(first, last - first + 1);
        }
        start = end + 1;
    }
    return "failed";
}

TParaxialFocus paraxialFocus(TOpticalSystem& system, const TCollimatedBeam& beam) {
    TParaxialFocus focus;
    if (system.getSize() == 0) {
        focus.failure = "the system holds no element";
        return focus;
    }
    const double eps = 1e-3 * (beam.pupilRadius > 0.0 ? beam.pupilRadius : 1.0);
    TBeamNode exits[2];
    for (int i = 0; i < 2; ++i) {
        TBeam ray(beam.wavelength);
        ray.addNode(startNode(system, beam, {i == 0 ? -eps : eps, 0.0}));
        try {
            system.traceBeam(ray);
        } catch (const xmsg& e) {
            focus.failure = "a near-axis ray fails: " + failureSummary(e.message());
            return focus;
        }
        exits[i] = ray.getLast();
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

TSpot spotOf(const std::vector<TVector>& points, double z, int failed, int vignetted) {
    return spotOf(points, std::vector<double>(points.size(), 1.0), z, failed, vignetted);
}

// Unit weights give the plain mean's bits: w·x = x, and Σw is the count.
TSpot spotOf(const std::vector<TVector>& points, const std::vector<double>& weights, double z,
             int failed, int vignetted) {
    if (weights.size() != points.size())
        throw xmsg("spotOf: one weight per point is needed");
    TSpot spot;
    spot.z = z;
    spot.failed = failed;
    spot.vignetted = vignetted;
    spot.rays = static_cast<int>(points.size());
    if (points.empty()) return spot;
    double total = 0.0;
    for (std::size_t i = 0; i < points.size(); ++i) {
        if (!(weights[i] >= 0.0) || !std::isfinite(weights[i]))
            throw xmsg("spotOf: the weights must be finite and not negative");
        spot.centroidX += weights[i] * points[i].x;
        spot.centroidY += weights[i] * points[i].y;
        total += weights[i];
    }
    if (!(total > 0.0)) throw xmsg("spotOf: the weights sum to 0");
    spot.centroidX /= total;
    spot.centroidY /= total;
    double sum = 0.0;
    double largest2 = 0.0;
    for (std::size_t i = 0; i < points.size(); ++i) {
        const double dx = points[i].x - spot.centroidX;
        const double dy = points[i].y - spot.centroidY;
        const double d2 = dx * dx + dy * dy;
        sum += weights[i] * d2;
        largest2 = std::max(largest2, d2);
    }
    spot.rms = std::sqrt(sum / total);
    spot.largest = std::sqrt(largest2);
    // A plane so far away that the squared spread overflows has no spot
    // size to report; an infinite radius is not an answer.
    if (!std::isfinite(spot.rms) || !std::isfinite(spot.largest) ||
        !std::isfinite(spot.centroidX) || !std::isfinite(spot.centroidY)) {
        std::ostringstream os;
        os << "the spot at z = " << z
           << " has no finite size: the rays are spread too far (is the image plane that far "
              "away?)";
        throw xmsg(os.str());
    }
    return spot;
}

TSpot spotAt(const TRayBatch& batch, double z) {
    std::vector<TVector> points;
    points.reserve(batch.size());
    int failed = 0, vignetted = 0;
    for (std::size_t i = 0; i < batch.size(); ++i) {
        if (!batch.ok(i)) {
            ++(batch.vignetted(i) ? vignetted : failed);
            continue;
        }
        points.push_back(batch.nodesKept() ? positionAtZ(batch.beam(i), z)
                                           : positionAtZ(batch.last(i), z));
    }
    return spotOf(points, z, failed, vignetted);
}

}  // namespace lumivex
