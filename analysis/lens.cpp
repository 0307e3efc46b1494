// SPDX-License-Identifier: Apache-2.0
// The analyses of a prescription: the rays of its fields aimed through its
// stop, traced through the system at one wavelength with its clear
// apertures clipping, and read by the same reductions as a bare system's.
#include <algorithm>
#include <cmath>
#include <limits>
#include <string>

#include "analysis/lens_rays.h"
#include "analysis/reductions.h"
#include "lumivex/analysis.h"

namespace lumivex {

namespace detail {

TBeamNode aimedStart(const TAimedRay& ray) {
    // The field perpendicular to the ray in the plane of the ray and x; y
    // for a ray along x.
    const TVector& k = ray.direction;
    TVector e = TVector(1.0, 0.0, 0.0) - k * k.x;
    if (e.length() < 1e-6) e = TVector(0.0, 1.0, 0.0) - k * k.y;
    return TBeamNode(ray.position, k, 1.0, e.unit(), 0.0);
}

}  // namespace detail

namespace {

std::string surfaceName(int element) { return "surface " + std::to_string(element + 1); }

}  // namespace

namespace detail {

void checkField(const TPrescription& lens, int field, const char* who) {
    if (field < 0 || field >= static_cast<int>(lens.fields.size()))
        throw xmsg(std::string(who) + ": the prescription has no field " + std::to_string(field) +
                   " (it has " + std::to_string(lens.fields.size()) + ")");
}


// Aims the pupil points and the chief ray and traces them. The prescription's
// clear apertures and stop clip, unless the caller's options give clips.
FieldRays traceField(const TPrescription& lens, int field, const std::vector<TPupilPoint>& pupil,
                     double wavelengthUm, const TTraceOptions& options, const char* who) {
    checkField(lens, field, who);
    FieldRays f(lens.systemAt(wavelengthUm));
    f.lambda = lens.wavelengthInLensUnit(wavelengthUm);
    f.options = options;
    if (f.options.clipRadii.empty()) f.options.clipRadii = lens.clipRadii();
    std::vector<std::pair<double, double>> points;
    points.reserve(pupil.size() + 1);
    for (const TPupilPoint& p : pupil) points.emplace_back(p.x, p.y);
    points.emplace_back(0.0, 0.0);
    const std::vector<TAimedRay> aimed = lens.rays(field, points, wavelengthUm);
    const TAimedRay& chief = aimed.back();
    if (!chief.ok)
        throw xmsg(std::string(who) + ": the chief ray of field " + std::to_string(field) +
                   " cannot be aimed: " + chief.message);
    f.direction = chief.direction;
    f.starts = TRayBatch(f.lambda);
    f.starts.reserve(aimed.size());
    for (std::size_t i = 0; i < aimed.size(); ++i) {
        if (!aimed[i].ok) {
            ++f.unaimed;
            if (f.unaimedWhy.empty()) f.unaimedWhy = aimed[i].message;
            continue;
        }
        f.starts.add(detail::aimedStart(aimed[i]));
        f.point.push_back(i);
    }
    f.chief = f.starts.size() - 1;
    f.batch = f.starts;
    traceRays(f.system, f.batch, f.options);
    return f;
}

namespace {

// Why the chief ray did not go through, in words, or "".
std::string chiefTrouble(const FieldRays& f) {
    if (f.batch.vignetted(f.chief))
        return "is vignetted at " + surfaceName(f.batch.vignettedElement(f.chief));
    if (!f.batch.ok(f.chief))
        return "fails at " + surfaceName(f.batch.failedElement(f.chief)) + ": " +
               failureSummary(f.batch.message(f.chief));
    if (!(f.batch.last(f.chief).kVector.z > 0.0)) return "does not leave towards +z";
    return "";
}

}  // namespace

void requireChief(const FieldRays& f, int field, const char* who) {
    const std::string trouble = chiefTrouble(f);
    if (!trouble.empty())
        throw xmsg(std::string(who) + ": the chief ray of field " + std::to_string(field) + " " +
                   trouble);
}

namespace {

double lastSurfaceZ(const TOpticalSystem& system) { return system.getLast()->zPosition; }

}  // namespace

// The plane an analysis looks at: the one asked for, else the
// prescription's; behind the last lens surface, in words when not.
double usablePlane(const TPrescription& lens, const TOpticalSystem& system, double imageZ,
                   const char* who) {
    double z = imageZ;
    if (std::isnan(z)) {
        try {
            z = lens.imagePlaneZ();
        } catch (const xmsg& e) {
            throw xmsg(std::string(who) + ": the prescription's image plane cannot be used: " +
                       e.message());
        }
    }
    if (!std::isfinite(z)) throw xmsg(std::string(who) + ": the image plane must be finite");
    const double last = lastSurfaceZ(system);
    if (z < last)
        throw xmsg(std::string(who) + ": the image plane z = " + std::to_string(z) +
                   " lies in front of the last lens surface (z = " + std::to_string(last) +
                   "); rays cross it only behind that surface");
    return z;
}

// The chief ray's angle to the axis in object space, towards +x (or +y for
// a field along y alone).
double chiefAngle(const TVector& k) {
    const double off = std::sqrt(k.x * k.x + k.y * k.y);
    const double sign = (k.x != 0.0 ? k.x : k.y) < 0.0 ? -1.0 : 1.0;
    return sign * std::atan2(off, k.z);
}

TVector exitPupilPoint(const TPrescription& lens, const TBeamNode& chiefLast, double wavelengthUm) {
    try {
        const double exitZ = lens.firstOrder(wavelengthUm).exitPupilZ;
        if (std::isfinite(exitZ)) return positionAtZ(chiefLast, exitZ);
    } catch (const xmsg&) {
    }
    return chiefLast.position;
}

}  // namespace detail

using detail::chiefAngle;
using detail::lastSurfaceZ;
using detail::checkField;
using detail::FieldRays;
using detail::requireChief;
using detail::traceField;
using detail::usablePlane;

TParaxialData paraxialData(const TPrescription& lens, double wavelengthUm) {
    const TFirstOrder first = lens.firstOrder(wavelengthUm);
    const TOpticalSystem system = lens.systemAt(wavelengthUm);
    TParaxialData data;
    data.pupilRadius = 0.5 * first.entrancePupilDiameter;
    data.efl = first.efl;
    data.focusZ = first.paraxialImageZ;
    data.bfl = first.paraxialImageZ - lastSurfaceZ(system);
    data.fNumber = first.fNumber;
    data.wavelength = lens.wavelengthInLensUnit(wavelengthUm);
    data.entrancePupilZ = first.entrancePupilZ;
    data.entrancePupilDiameter = first.entrancePupilDiameter;
    data.exitPupilZ = first.exitPupilZ;
    data.exitPupilDiameter = first.exitPupilDiameter;
    return data;
}

TSpotDiagram polychromaticSpot(const TPrescription& lens, int field,
                               const std::vector<TPupilPoint>& pupil, double imageZ,
                               const std::vector<TWavelength>& wavelengths,
                               const TTraceOptions& options) {
    const char* who = "polychromaticSpot";
    lens.validate();
    std::vector<TWavelength> spectrum = wavelengths;
    if (spectrum.empty()) {
        spectrum = lens.wavelengths;
        std::rotate(spectrum.begin(), spectrum.begin() + lens.primary,
                    spectrum.begin() + lens.primary + 1);
    }
    double total = 0.0;
    for (const TWavelength& w : spectrum) {
        lens.resolveWavelength(w.um);
        if (!(w.weight >= 0.0) || !std::isfinite(w.weight))
            throw xmsg(std::string(who) + ": the weights must be finite and not negative");
        total += w.weight;
    }
    if (!(total > 0.0)) throw xmsg(std::string(who) + ": the weights sum to 0");
    // The reference wavelength's spot sets the plane, the chief ray and the
    // Airy radius; the others' rays join it, relative to the same chief ray.
    TSpotDiagram d = spotDiagram(lens, field, pupil, imageZ, spectrum.front().um, options);
    std::vector<TVector> points;
    std::vector<double> weights;
    for (std::size_t i = 0; i < d.x.size(); ++i) {
        points.emplace_back(d.chiefX + d.x[i], d.chiefY + d.y[i], d.z);
        weights.push_back(spectrum.front().weight / total);
    }
    d.wave.assign(d.x.size(), 0);
    int failed = d.spot.failed, vignetted = d.spot.vignetted;
    for (std::size_t k = 0; k < spectrum.size(); ++k) {
        d.wavelengthsUm.push_back(spectrum[k].um);
        d.weights.push_back(spectrum[k].weight / total);
        if (k == 0) continue;
        const TSpotDiagram other = spotDiagram(lens, field, pupil, d.z, spectrum[k].um, options);
        for (std::size_t i = 0; i < other.x.size(); ++i) {
            const TVector p(other.chiefX + other.x[i], other.chiefY + other.y[i], d.z);
            points.push_back(p);
            weights.push_back(d.weights.back());
            d.pupil.push_back(other.pupil[i]);
            d.x.push_back(p.x - d.chiefX);
            d.y.push_back(p.y - d.chiefY);
            d.wave.push_back(static_cast<int>(k));
        }
        failed += other.spot.failed;
        vignetted += other.spot.vignetted;
    }
    // One wavelength keeps its monochromatic spot's bits.
    if (spectrum.size() == 1) return d;
    d.spot = spotOf(points, weights, d.z, failed, vignetted);
    d.centroidX = d.spot.centroidX - d.chiefX;
    d.centroidY = d.spot.centroidY - d.chiefY;
    return d;
}

TSpotDiagram spotDiagram(const TPrescription& lens, int field, const std::vector<TPupilPoint>& pupil,
                         double imageZ, double wavelengthUm, const TTraceOptions& options) {
    const char* who = "spotDiagram";
    const TFirstOrder first = lens.firstOrder(wavelengthUm);
    FieldRays f = traceField(lens, field, pupil, wavelengthUm, options, who);
    const double z = usablePlane(lens, f.system, imageZ, who);
    requireChief(f, field, who);
    const TVector chief = positionAtZ(f.batch.last(f.chief), z);
    const double pupilRadius = 0.5 * first.entrancePupilDiameter;

    TSpotDiagram d;
    d.field = field;
    d.fieldAngle = chiefAngle(f.direction);
    d.z = z;
    d.chiefX = chief.x;
    d.chiefY = chief.y;
    std::vector<TVector> points;
    int failed = f.unaimed, vignetted = 0;
    for (std::size_t i = 0; i < f.chief; ++i) {
        if (!f.batch.ok(i)) {
            ++(f.batch.vignetted(i) ? vignetted : failed);
            continue;
        }
        const TVector p = positionAtZ(f.batch.last(i), z);
        const TPupilPoint& at = pupil[f.point[i]];
        points.push_back(p);
        d.pupil.push_back({at.x * pupilRadius, at.y * pupilRadius});
        d.x.push_back(p.x - chief.x);
        d.y.push_back(p.y - chief.y);
    }
    d.spot = spotOf(points, z, failed, vignetted);
    d.centroidX = d.spot.centroidX - chief.x;
    d.centroidY = d.spot.centroidY - chief.y;
    d.airyRadius = 1.22 * f.lambda * first.fNumber;
    d.wavelength = f.lambda;
    d.pupilRadius = pupilRadius;
    return d;
}

std::vector<TSpotDiagram> spotDiagrams(const TPrescription& lens, const std::vector<TPupilPoint>& pupil,
                                       double imageZ, double wavelengthUm,
                                       const TTraceOptions& options) {
    std::vector<TSpotDiagram> diagrams;
    for (int field = 0; field < static_cast<int>(lens.fields.size()); ++field)
        diagrams.push_back(spotDiagram(lens, field, pupil, imageZ, wavelengthUm, options));
    return diagrams;
}

TThroughFocus throughFocus(const TPrescription& lens, int field, const std::vector<TPupilPoint>& pupil,
                           double zFrom, double zTo, int steps, double wavelengthUm,
                           const TTraceOptions& options) {
    const char* who = "throughFocus";
    FieldRays f = traceField(lens, field, pupil, wavelengthUm, options, who);
    TThroughFocus curve = detail::focusCurve(f.batch, f.chief, lastSurfaceZ(f.system), zFrom, zTo, steps, who);
    curve.fieldAngle = chiefAngle(f.direction);
    return curve;
}

TRayFan rayFan(const TPrescription& lens, int field, int n, double imageZ, double wavelengthUm,
               const TTraceOptions& options) {
    const char* who = "rayFan";
    if (n < 2) throw xmsg("rayFan: a fan needs at least 2 rays");
    checkField(lens, field, who);
    // Tangential along the field's own direction in the pupil.
    const TField& at = lens.fields[static_cast<std::size_t>(field)];
    double tx = 1.0, ty = 0.0;
    if (at.x != 0.0 || at.y != 0.0) {
        const double length = std::hypot(at.x, at.y);
        tx = at.x / length;
        ty = at.y / length;
    }
    std::vector<double> rho;
    std::vector<TPupilPoint> pupil;
    for (int i = 0; i < n; ++i) rho.push_back(-1.0 + 2.0 * i / (n - 1));
    for (int i = 0; i < n; ++i) pupil.push_back({rho[i] * tx, rho[i] * ty});
    for (int i = 0; i < n; ++i) pupil.push_back({-rho[i] * ty, rho[i] * tx});

    FieldRays f = traceField(lens, field, pupil, wavelengthUm, options, who);
    const double z = usablePlane(lens, f.system, imageZ, who);
    requireChief(f, field, who);
    const TBeamNode& chiefLast = f.batch.last(f.chief);
    const TVector Q = positionAtZ(chiefLast, z);
    // The reference sphere through the chief ray's crossing of the exit
    // pupil plane, where the designer's OPD is defined; through its last
    // node when the exit pupil is at infinity.
    const TVector onSphere = detail::exitPupilPoint(lens, chiefLast, wavelengthUm);
    detail::FanGeometry g;
    g.z = z;
    g.Q = Q;
    g.R = (onSphere - Q).length();
    g.lambda = f.lambda;
    g.tangential = TVector(tx, ty, 0.0);
    g.sagittal = TVector(-ty, tx, 0.0);
    // From an object at infinity the rays start on a plane wavefront's
    // plane; from an object point they all start at that point, on the
    // spherical wavefront of radius 0.
    g.planeWave = std::isinf(lens.objectZ());
    g.k = f.direction.unit();
    g.n0 = f.system[0]->getRefIndex(f.starts.last(f.chief).position, 0.0).real();

    // Rays that could not be aimed keep NaN.
    std::vector<long> rayOf(pupil.size(), -1);
    for (std::size_t i = 0; i < f.chief; ++i) rayOf[f.point[i]] = static_cast<long>(i);
    TRayFan fan = detail::fanOf(f.starts, f.batch, rayOf, f.chief, rho, g);
    fan.field = field;
    fan.fieldAngle = chiefAngle(f.direction);
    fan.failed += f.unaimed;
    if (fan.failure.empty()) fan.failure = f.unaimedWhy;
    return fan;
}

}  // namespace lumivex
