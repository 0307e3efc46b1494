// SPDX-License-Identifier: Apache-2.0
// Collimated beams and the ray sets that sample their pupil.
#include <algorithm>
#include <cmath>
#include <random>

#include "lumivex/analysis.h"

namespace lumivex {

namespace {
constexpr double kPi = 3.141592653589793;
}  // namespace

double entranceRadius(const TOpticalSystem& system) {
    if (system.getSize() == 0) throw xmsg("entranceRadius: the system holds no element");
    const TElement& first = *system[0];
    if (first.radius > 0.0) return first.radius;
    return first.getRadius() > 0.0 ? first.getRadius() : 1.0;
}

TCollimatedBeam resolveBeam(const TOpticalSystem& system, TCollimatedBeam beam) {
    if (system.getSize() == 0) throw xmsg("resolveBeam: the system holds no element");
    if (!(beam.wavelength > 0.0) || !std::isfinite(beam.wavelength))
        throw xmsg("resolveBeam: the wavelength must be a positive number");
    if (!(std::fabs(beam.fieldAngle) < 0.5 * kPi))
        throw xmsg("resolveBeam: the field angle must lie within ±90 degrees");
    if (beam.polarization != 'x' && beam.polarization != 'y')
        throw xmsg("resolveBeam: the polarization must be 'x' or 'y'");
    const TElement* first = system[0];
    const TElement* last = system.getLast();
    const double radius = entranceRadius(system);
    if (std::isnan(beam.pupilRadius)) beam.pupilRadius = 0.8 * radius;
    if (!std::isfinite(beam.pupilRadius) || beam.pupilRadius < 0.0)
        throw xmsg("resolveBeam: the pupil radius must be a finite number of at least 0");
    const double span = last->zPosition - first->zPosition;
    const double margin = 0.15 * std::max(span, 2.0 * radius);
    if (std::isnan(beam.startZ)) beam.startZ = first->zPosition - margin;
    if (!std::isfinite(beam.startZ)) throw xmsg("resolveBeam: the start plane must be finite");
    return beam;
}

TBeamNode startNode(const TOpticalSystem& system, const TCollimatedBeam& beam,
                    const TPupilPoint& point) {
    // Parallel rays aimed so that the beam is centred on the axis where it
    // meets the first element, whatever the field angle.
    const double s = std::sin(beam.fieldAngle);
    const double c = std::cos(beam.fieldAngle);
    const double x = point.x - (s / c) * (system[0]->zPosition - beam.startZ);
    const TVector k(s, 0.0, c);
    // The field stays perpendicular to the ray: in the x–z plane for x.
    const TVector e = beam.polarization == 'x' ? TVector(c, 0.0, -s) : TVector(0.0, 1.0, 0.0);
    return TBeamNode(TVector(x, point.y, beam.startZ), k, 1.0, e, 0.0);
}

TRayBatch rayBatch(const TOpticalSystem& system, const TCollimatedBeam& beam,
                   const std::vector<TPupilPoint>& points) {
    if (system.getSize() == 0) throw xmsg("rayBatch: the system holds no element");
    TRayBatch batch(beam.wavelength);
    batch.reserve(points.size());
    for (const TPupilPoint& p : points) batch.add(startNode(system, beam, p));
    return batch;
}

std::vector<TPupilPoint> meridionalFan(double r, int n) {
    std::vector<TPupilPoint> points;
    for (int i = 0; i < n; ++i)
        points.push_back({n == 1 ? 0.0 : -r + 2.0 * r * i / (n - 1), 0.0});
    return points;
}

std::vector<TPupilPoint> squareGrid(double r, int n) {
    std::vector<TPupilPoint> points;
    const std::vector<TPupilPoint> line = meridionalFan(r, n);
    // Points on the rim belong to the pupil despite rounding.
    const double rim = r * r * (1.0 + 1e-12);
    for (const TPupilPoint& py : line)
        for (const TPupilPoint& px : line)
            if (px.x * px.x + py.x * py.x <= rim) points.push_back({px.x, py.x});
    return points;
}

std::vector<TPupilPoint> hexapolar(double r, int rings) {
    std::vector<TPupilPoint> points{{0.0, 0.0}};
    for (int k = 1; k <= rings; ++k) {
        const double rho = r * k / rings;
        const int count = 6 * k;
        for (int j = 0; j < count; ++j) {
            const double phi = 2.0 * kPi * j / count;
            points.push_back({rho * std::cos(phi), rho * std::sin(phi)});
        }
    }
    return points;
}

std::vector<TPupilPoint> randomPupil(double r, int n, std::uint64_t seed) {
    // std::uniform_real_distribution differs between standard libraries;
    // the top 53 bits of the twister's output make a uniform double in
    // [0, 1) everywhere. The square root of a uniform number is the radius
    // that spreads points evenly over the area.
    std::mt19937_64 engine(seed);
    const auto uniform = [&engine] { return static_cast<double>(engine() >> 11) * 0x1.0p-53; };
    std::vector<TPupilPoint> points;
    points.reserve(n > 0 ? static_cast<std::size_t>(n) : 0);
    for (int i = 0; i < n; ++i) {
        const double rho = r * std::sqrt(uniform());
        const double phi = 2.0 * kPi * uniform();
        points.push_back({rho * std::cos(phi), rho * std::sin(phi)});
    }
    return points;
}

}  // namespace lumivex
