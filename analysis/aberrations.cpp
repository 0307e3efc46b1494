// The analyses a lens designer reads: paraxial data, spot diagrams, the
// through-focus curve, transverse ray fans and OPD fans.
#include <algorithm>
#include <cmath>
#include <limits>

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
    data.efl = -h / u;
    data.focusZ = focus.z;
    data.bfl = focus.z - system.getLast()->zPosition;
    data.fNumber = beam.pupilRadius > 0.0 ? std::fabs(data.efl) / (2.0 * beam.pupilRadius)
                                          : std::numeric_limits<double>::infinity();
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

    // Each ray's point at z0 and its change per unit z; the spread about the
    // centroid is Σ|a + b·t|² in t = z − z0, least at t = −Σa·b / Σb·b.
    const double z0 = 0.5 * (zFrom + zTo);
    std::vector<TVector> a, b;
    for (std::size_t i = 0; i < batch.size(); ++i) {
        if (!batch.ok(i)) continue;
        const TBeamNode& last = batch.last(i);
        if (!(last.kVector.z > 0.0)) continue;
        a.push_back(positionAtZ(last, z0));
        b.push_back(TVector(last.kVector.x / last.kVector.z, last.kVector.y / last.kVector.z, 0.0));
    }
    if (a.empty()) throw xmsg("throughFocus: no ray goes through");
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

TRayFan rayFan(TOpticalSystem& system, const TCollimatedBeam& beam, int n, double imageZ,
               const TTraceOptions& options) {
    if (n < 2) throw xmsg("rayFan: a fan needs at least 2 rays");
    const double z = imagePlane(system, beam, imageZ);
    const TBeamNode chiefLast = tracedChief(system, beam, "rayFan");
    const detail::TReferenceSphere sphere =
        detail::referenceSphere(system, beam, chiefLast, positionAtZ(chiefLast, z));
    const TVector& Q = sphere.centre;

    TRayFan fan;
    fan.fieldAngle = beam.fieldAngle;
    fan.z = z;
    fan.referenceRadius = sphere.radius;
    std::vector<TPupilPoint> points;
    for (int i = 0; i < n; ++i) {
        const double rho = -1.0 + 2.0 * i / (n - 1);
        fan.rho.push_back(rho);
        points.push_back({rho * beam.pupilRadius, 0.0});
    }
    for (int i = 0; i < n; ++i) points.push_back({0.0, fan.rho[i] * beam.pupilRadius});
    points.push_back({0.0, 0.0});  // the chief ray, traced like the others
    const TRayBatch starts = rayBatch(system, beam, points);
    TRayBatch batch = starts;
    traceRays(system, batch, options);

    const std::size_t chief = points.size() - 1;
    TVector chiefSphere;
    const double chiefPath = sphere.pathInWaves(starts.last(chief), batch.last(chief), chiefSphere);
    for (std::size_t i = 0; i < chief; ++i) {
        const bool tangential = i < static_cast<std::size_t>(n);
        double transverse = kNaN, opd = kNaN, height = kNaN;
        if (batch.ok(i) && batch.last(i).kVector.z > 0.0) {
            const TVector p = positionAtZ(batch.last(i), z);
            transverse = tangential ? p.x - Q.x : p.y - Q.y;
            TVector s;
            const double path = sphere.pathInWaves(starts.last(i), batch.last(i), s);
            opd = chiefPath - path;
            height = tangential ? s.x - chiefSphere.x : s.y - chiefSphere.y;
        }
        (tangential ? fan.tangential : fan.sagittal).push_back(transverse);
        (tangential ? fan.tangentialOpd : fan.sagittalOpd).push_back(opd);
        (tangential ? fan.tangentialSphere : fan.sagittalSphere).push_back(height);
    }
    return fan;
}

}  // namespace lumivex
