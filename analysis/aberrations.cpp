// SPDX-License-Identifier: Apache-2.0
// The analyses a lens designer reads: paraxial data, spot diagrams, the
// through-focus curve, transverse ray fans and OPD fans.
#include <algorithm>
#include <cmath>
#include <limits>
#include <string>

#include "analysis/reductions.h"
#include "analysis/reference_sphere.h"
#include "lumivex/analysis.h"

namespace lumivex {

namespace detail {

namespace {
constexpr double kPi = 3.141592653589793;
}  // namespace

TBeamNode tracedChief(TOpticalSystem& system, const TCollimatedBeam& beam, const char* who) {
    TBeam chief(beam.wavelength);
    chief.addNode(startNode(system, beam, {0.0, 0.0}));
    try {
        system.traceBeam(chief);
    } catch (const xmsg& e) {
        throw xmsg(std::string(who) + ": the chief ray fails: " + failureSummary(e.message()));
    }
    const TBeamNode& last = chief.getLast();
    if (!(last.kVector.z > 0.0))
        throw xmsg(std::string(who) + ": the chief ray does not leave towards +z");
    return last;
}

double imagePlane(TOpticalSystem& system, const TCollimatedBeam& beam, double imageZ) {
    if (std::isnan(imageZ)) return paraxialImageZ(system, beam);
    if (!std::isfinite(imageZ)) throw xmsg("the image plane must be finite");
    return imageZ;
}

TReferenceSphere referenceSphere(const TOpticalSystem& system, const TCollimatedBeam& beam,
                                 const TBeamNode& chiefLast, const TVector& centre) {
    TReferenceSphere sphere;
    sphere.centre = centre;
    sphere.radius = (chiefLast.position - centre).length();
    sphere.wavelength = beam.wavelength;
    sphere.n0 = system[0]->getRefIndex(TVector(0.0, 0.0, beam.startZ), 0.0).real();
    sphere.k = startNode(system, beam, {0.0, 0.0}).kVector.unit();
    return sphere;
}

double TReferenceSphere::pathInWaves(const TBeamNode& start, const TBeamNode& last,
                                     TVector& onSphere) const {
    const TVector d = last.kVector.unit();
    const TVector w = last.position - centre;
    // |w + t·d| = R on the side the light comes from: the first root.
    const double bHalf = w.dot(d);
    const double c = w.dot(w) - radius * radius;
    const double disc = bHalf * bHalf - c;
    if (!(disc >= 0.0)) return std::numeric_limits<double>::quiet_NaN();
    const double t = -bHalf - std::sqrt(disc);
    onSphere = last.position + d * t;
    return last.opticalPath / (2.0 * kPi) +
           (n0 * start.position.dot(k) + t) / wavelength;
}

}  // namespace detail

namespace {

using detail::imagePlane;
using detail::tracedChief;

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

TRayBatch traced(TOpticalSystem& system, const TCollimatedBeam& beam,
                 const std::vector<TPupilPoint>& pupil, const TTraceOptions& options) {
    TRayBatch batch = rayBatch(system, beam, pupil);
    traceRays(system, batch, options);
    return batch;
}

}  // namespace

TCollimatedBeam resolveFilledBeam(const TOpticalSystem& system, TCollimatedBeam beam) {
    if (system.getSize() > 0 && std::isnan(beam.pupilRadius))
        beam.pupilRadius = entranceRadius(system);
    return resolveBeam(system, beam);
}

double paraxialImageZ(TOpticalSystem& system, const TCollimatedBeam& beam) {
    TCollimatedBeam axial = beam;
    axial.fieldAngle = 0.0;
    const TParaxialFocus focus = paraxialFocus(system, axial);
    if (!focus.found) throw xmsg("no paraxial focus: " + focus.failure);
    if (focus.atInfinity)
        throw xmsg("the paraxial focus is at infinity; give the image plane");
    if (focus.isVirtual) throw xmsg("the paraxial focus is virtual; give the image plane");
    return focus.z;
}

TParaxialData paraxialData(TOpticalSystem& system, const TCollimatedBeam& beam) {
    if (system.getSize() == 0) throw xmsg("paraxialData: the system holds no element");
    TCollimatedBeam axial = beam;
    axial.fieldAngle = 0.0;
    const TParaxialFocus focus = paraxialFocus(system, axial);
    if (!focus.found) throw xmsg("paraxialData: " + focus.failure);
    if (focus.atInfinity) throw xmsg("paraxialData: the system has no optical power (afocal)");

    // The upper near-axis ray of paraxialFocus, for its exit slope. On the
    // axis the beam is parallel to it, so h is the height at entry too.
    const double h = 1e-3 * (beam.pupilRadius > 0.0 ? beam.pupilRadius : 1.0);
    TBeam ray(beam.wavelength);
    ray.addNode(startNode(system, axial, {h, 0.0}));
    system.traceBeam(ray);
    const TBeamNode& exit = ray.getLast();
    const double u = exit.kVector.x / exit.kVector.z;

    TParaxialData data;
    data.pupilRadius = beam.pupilRadius;
    data.wavelength = beam.wavelength;
    data.efl = -h / u;
    data.focusZ = focus.z;
    data.bfl = focus.z - system.getLast()->zPosition;
    data.fNumber = beam.pupilRadius > 0.0 ? std::fabs(data.efl) / (2.0 * beam.pupilRadius)
                                          : std::numeric_limits<double>::infinity();
    data.entrancePupilZ = system[0]->zPosition;
    data.entrancePupilDiameter = 2.0 * beam.pupilRadius;
    return data;
}

TSpotDiagram spotDiagram(TOpticalSystem& system, const TCollimatedBeam& beam,
                         const std::vector<TPupilPoint>& pupil, double imageZ,
                         const TTraceOptions& options) {
    const double z = imagePlane(system, beam, imageZ);
    const TParaxialData paraxial = paraxialData(system, beam);
    const TVector chief = positionAtZ(tracedChief(system, beam, "spotDiagram"), z);

    const TRayBatch batch = traced(system, beam, pupil, options);
    TSpotDiagram d;
    d.fieldAngle = beam.fieldAngle;
    d.z = z;
    d.chiefX = chief.x;
    d.chiefY = chief.y;
    std::vector<TVector> points;
    int failed = 0, vignetted = 0;
    for (std::size_t i = 0; i < batch.size(); ++i) {
        if (!batch.ok(i)) {
            ++(batch.vignetted(i) ? vignetted : failed);
            continue;
        }
        const TVector p = positionAtZ(batch.last(i), z);
        points.push_back(p);
        d.pupil.push_back(pupil[i]);
        d.x.push_back(p.x - chief.x);
        d.y.push_back(p.y - chief.y);
    }
    d.spot = spotOf(points, z, failed, vignetted);
    d.centroidX = d.spot.centroidX - chief.x;
    d.centroidY = d.spot.centroidY - chief.y;
    d.airyRadius = 1.22 * beam.wavelength * paraxial.fNumber;
    d.wavelength = beam.wavelength;
    d.pupilRadius = beam.pupilRadius;
    return d;
}

std::vector<TSpotDiagram> spotDiagrams(TOpticalSystem& system, const TCollimatedBeam& beam,
                                       const std::vector<double>& fieldAngles,
                                       const std::vector<TPupilPoint>& pupil, double imageZ,
                                       const TTraceOptions& options) {
    // One plane for every field: the image plane of the axis.
    const double z = imagePlane(system, beam, imageZ);
    std::vector<TSpotDiagram> diagrams;
    for (double angle : fieldAngles) {
        TCollimatedBeam field = beam;
        field.fieldAngle = angle;
        diagrams.push_back(spotDiagram(system, resolveBeam(system, field), pupil, z, options));
    }
    return diagrams;
}

namespace detail {

TThroughFocus focusCurve(const TRayBatch& batch, std::size_t count, double lastZ, double zFrom,
                         double zTo, int steps, const char* who) {
    const std::string w(who);
    if (steps < 2) throw xmsg(w + ": at least 2 planes are needed");
    if (!std::isfinite(zFrom) || !std::isfinite(zTo))
        throw xmsg(w + ": the planes must be finite");
    if (std::min(zFrom, zTo) < lastZ)
        throw xmsg(w + ": the planes must lie behind the last element (z = " + std::to_string(lastZ) +
                   "), where the rays run straight; z = " + std::to_string(std::min(zFrom, zTo)) +
                   " does not");

    // Each ray's point at z0 and its change per unit z; the spread about the
    // centroid is Σ|a + b·t|² in t = z − z0, least at t = −Σa·b / Σb·b.
    const double z0 = 0.5 * (zFrom + zTo);
    std::vector<TVector> a, b;
    for (std::size_t i = 0; i < count; ++i) {
        if (!batch.ok(i)) continue;
        const TBeamNode& last = batch.last(i);
        if (!(last.kVector.z > 0.0)) continue;
        a.push_back(positionAtZ(last, z0));
        b.push_back(TVector(last.kVector.x / last.kVector.z, last.kVector.y / last.kVector.z, 0.0));
    }
    if (a.empty()) throw xmsg(w + ": no ray goes through");
    TVector ma, mb;
    for (std::size_t i = 0; i < a.size(); ++i) {
        ma = ma + a[i];
        mb = mb + b[i];
    }
    ma = ma * (1.0 / a.size());
    mb = mb * (1.0 / a.size());
    double ab = 0.0, bb = 0.0;
    for (std::size_t i = 0; i < a.size(); ++i) {
        const TVector da = a[i] - ma, db = b[i] - mb;
        ab += da.x * db.x + da.y * db.y;
        bb += db.x * db.x + db.y * db.y;
    }
    const auto rmsAt = [&](double t) {
        double sum = 0.0;
        for (std::size_t i = 0; i < a.size(); ++i) {
            const double dx = a[i].x - ma.x + (b[i].x - mb.x) * t;
            const double dy = a[i].y - ma.y + (b[i].y - mb.y) * t;
            sum += dx * dx + dy * dy;
        }
        return std::sqrt(sum / a.size());
    };

    TThroughFocus curve;
    for (int s = 0; s < steps; ++s) {
        const double z = zFrom + (zTo - zFrom) * s / (steps - 1);
        curve.z.push_back(z);
        curve.rms.push_back(rmsAt(z - z0));
    }
    // Parallel rays keep their spread everywhere: any plane is as good.
    const double t = bb > 0.0 ? -ab / bb : 0.0;
    curve.bestZ = z0 + t;
    curve.bestRms = rmsAt(t);
    return curve;
}

TRayFan fanOf(const TRayBatch& starts, const TRayBatch& batch, const std::vector<long>& rayOf,
              std::size_t chief, const std::vector<double>& rho, const FanGeometry& g) {
    // The path of a traced ray in waves, from the incoming wavefront to the
    // reference sphere, and where it meets the sphere.
    const auto pathToSphere = [&](const TBeamNode& start, const TBeamNode& last, TVector& onSphere) {
        const TVector d = last.kVector.unit();
        const TVector w = last.position - g.Q;
        // |w + t·d| = R on the side the light comes from: the first root.
        const double bHalf = w.dot(d);
        const double c = w.dot(w) - g.R * g.R;
        const double disc = bHalf * bHalf - c;
        if (!(disc >= 0.0)) return kNaN;
        const double t = -bHalf - std::sqrt(disc);
        onSphere = last.position + d * t;
        const double credit = g.planeWave ? g.n0 * start.position.dot(g.k) : 0.0;
        return last.opticalPath / (2.0 * kPi) + (credit + t) / g.lambda;
    };

    TRayFan fan;
    fan.z = g.z;
    fan.referenceRadius = g.R;
    fan.rho = rho;
    fan.wavelength = g.lambda;
    TVector chiefSphere;
    const double chiefPath = pathToSphere(starts.last(chief), batch.last(chief), chiefSphere);
    const std::size_t n = rho.size();
    for (std::size_t i = 0; i < 2 * n; ++i) {
        const bool tangential = i < n;
        const TVector& along = tangential ? g.tangential : g.sagittal;
        double transverse = kNaN, opd = kNaN, height = kNaN;
        const long r = rayOf[i];
        if (r >= 0) {
            const std::size_t j = static_cast<std::size_t>(r);
            if (batch.vignetted(j)) {
                ++fan.vignetted;
            } else if (!batch.ok(j) || !(batch.last(j).kVector.z > 0.0)) {
                ++fan.failed;
                if (fan.failure.empty())
                    fan.failure = batch.ok(j) ? "the ray does not leave towards +z"
                                              : failureSummary(batch.message(j));
            } else {
                const TVector p = positionAtZ(batch.last(j), g.z);
                transverse = (p.x - g.Q.x) * along.x + (p.y - g.Q.y) * along.y;
                TVector s;
                const double path = pathToSphere(starts.last(j), batch.last(j), s);
                opd = chiefPath - path;
                height = (s.x - chiefSphere.x) * along.x + (s.y - chiefSphere.y) * along.y;
            }
        }
        (tangential ? fan.tangential : fan.sagittal).push_back(transverse);
        (tangential ? fan.tangentialOpd : fan.sagittalOpd).push_back(opd);
        (tangential ? fan.tangentialSphere : fan.sagittalSphere).push_back(height);
    }
    return fan;
}

}  // namespace detail

TThroughFocus throughFocus(TOpticalSystem& system, const TCollimatedBeam& beam,
                           const std::vector<TPupilPoint>& pupil, double zFrom, double zTo,
                           int steps, const TTraceOptions& options) {
    if (steps < 2) throw xmsg("throughFocus: at least 2 planes are needed");
    if (!std::isfinite(zFrom) || !std::isfinite(zTo))
        throw xmsg("throughFocus: the planes must be finite");
    const double lastZ = system.getSize() > 0 ? system.getLast()->zPosition : 0.0;
    if (std::min(zFrom, zTo) < lastZ)
        throw xmsg("throughFocus: the planes must lie behind the last element");
    const TRayBatch batch = traced(system, beam, pupil, options);
    TThroughFocus curve = detail::focusCurve(batch, batch.size(), lastZ, zFrom, zTo, steps, "throughFocus");
    curve.fieldAngle = beam.fieldAngle;
    return curve;
}

TThroughFocus throughFocusAbout(TOpticalSystem& system, const TCollimatedBeam& beam,
                                const std::vector<TPupilPoint>& pupil, double imageZ, int steps,
                                const TTraceOptions& options) {
    const TParaxialData paraxial = paraxialData(system, beam);
    const TSpotDiagram spot = spotDiagram(system, beam, pupil, imageZ, options);
    const double N = paraxial.fNumber;
    const double half = std::max(4.0 * N * spot.spot.largest, 4.0 * beam.wavelength * N * N);
    return throughFocus(system, beam, pupil, std::max(spot.z - half, system.getLast()->zPosition),
                        spot.z + half, steps, options);
}

TRayFan rayFan(TOpticalSystem& system, const TCollimatedBeam& beam, int n, double imageZ,
               const TTraceOptions& options) {
    if (n < 2) throw xmsg("rayFan: a fan needs at least 2 rays");
    const double z = imagePlane(system, beam, imageZ);
    const TBeamNode chiefLast = tracedChief(system, beam, "rayFan");
    detail::FanGeometry g;
    g.z = z;
    g.Q = positionAtZ(chiefLast, z);
    g.R = (chiefLast.position - g.Q).length();
    g.lambda = beam.wavelength;
    g.k = startNode(system, beam, {0.0, 0.0}).kVector.unit();
    g.n0 = system[0]->getRefIndex(TVector(0.0, 0.0, beam.startZ), 0.0).real();

    std::vector<double> rho;
    std::vector<TPupilPoint> points;
    for (int i = 0; i < n; ++i) {
        rho.push_back(-1.0 + 2.0 * i / (n - 1));
        points.push_back({rho.back() * beam.pupilRadius, 0.0});
    }
    for (int i = 0; i < n; ++i) points.push_back({0.0, rho[i] * beam.pupilRadius});
    points.push_back({0.0, 0.0});  // the chief ray, traced like the others
    const TRayBatch starts = rayBatch(system, beam, points);
    TRayBatch batch = starts;
    traceRays(system, batch, options);

    std::vector<long> rayOf(2 * static_cast<std::size_t>(n));
    for (std::size_t i = 0; i < rayOf.size(); ++i) rayOf[i] = static_cast<long>(i);
    TRayFan fan = detail::fanOf(starts, batch, rayOf, points.size() - 1, rho, g);
    fan.fieldAngle = beam.fieldAngle;
    return fan;
}

}  // namespace lumivex
