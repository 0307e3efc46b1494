// SPDX-License-Identifier: Apache-2.0
// Colour and field curves of a prescription: the paraxial focus against the
// wavelength, the chief ray's height against the field at the extreme
// wavelengths, and the astigmatic foci and distortion against the field.
#include <algorithm>
#include <cmath>
#include <limits>
#include <string>

#include "analysis/lens_rays.h"
#include "lumivex/analysis.h"

namespace lumivex {

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kRadians = 3.141592653589793 / 180.0;

void checkSamples(int samples, const char* who) {
    if (samples < 2 || samples > 10000)
        throw xmsg(std::string(who) + ": the samples must lie within 2 … 10000, not " +
                   std::to_string(samples));
}

// The fields from the axis to the largest field along its direction, in a
// copy of the prescription whose fields they are; `unit` is that
// direction in the image plane.
struct FieldRange {
    TPrescription probe;
    std::vector<double> value;  // t·F
    double largest = 0.0;       // F
    TVector unit;
};

FieldRange fieldRange(const TPrescription& lens, int samples, const char* who) {
    lens.validate();
    FieldRange r;
    TField far;
    for (const TField& f : lens.fields)
        if (std::hypot(f.x, f.y) > r.largest) {
            r.largest = std::hypot(f.x, f.y);
            far = f;
        }
    if (!(r.largest > 0.0))
        throw xmsg(std::string(who) + ": the prescription has no field off the axis");
    r.unit = TVector(far.x / r.largest, far.y / r.largest, 0.0);
    r.probe = lens;
    r.probe.fields.clear();
    for (int i = 0; i < samples; ++i) {
        const double t = static_cast<double>(i) / (samples - 1);
        r.value.push_back(t * r.largest);
        r.probe.fields.push_back({t * far.x, t * far.y, 1.0});
    }
    return r;
}

// Options that clip nothing: the chief ray of the largest field may pass
// outside a clear aperture the designer drew for the axial beam.
TTraceOptions unclipped(const TPrescription& lens, const TTraceOptions& options) {
    TTraceOptions o = options;
    o.clipRadii.assign(lens.clipRadii().size(), kNaN);
    return o;
}

// The chief ray's point in the plane z.
TVector chiefAt(const detail::FieldRays& f, double z) { return positionAtZ(f.batch.last(f.chief), z); }

// Where rays a and b of a traced batch, read along `across`, meet: the z at
// which the lines of their last nodes have the same component along it.
double crossingZ(const TRayBatch& batch, std::size_t a, std::size_t b, const TVector& across) {
    if (!batch.ok(a) || !batch.ok(b)) return kNaN;
    const TBeamNode& A = batch.last(a);
    const TBeamNode& B = batch.last(b);
    if (!(A.kVector.z > 0.0) || !(B.kVector.z > 0.0)) return kNaN;
    const TVector da = A.kVector * (1.0 / A.kVector.z), db = B.kVector * (1.0 / B.kVector.z);
    // s(z) = [(A + (z − A.z)·da) − (B + (z − B.z)·db)]·across = s0 + s1·z.
    const double s1 = (da - db).dot(across);
    const double s0 = (A.position - da * A.position.z - (B.position - db * B.position.z)).dot(across);
    return s1 != 0.0 ? -s0 / s1 : kNaN;
}

}  // namespace

TFocalShift chromaticFocalShift(const TPrescription& lens, int samples, double fromUm, double toUm) {
    const char* who = "chromaticFocalShift";
    checkSamples(samples, who);
    lens.validate();
    double lo = fromUm, hi = toUm;
    if (std::isnan(lo) || std::isnan(hi)) {
        lo = hi = lens.wavelengths.front().um;
        for (const TWavelength& w : lens.wavelengths) {
            lo = std::min(lo, w.um);
            hi = std::max(hi, w.um);
        }
        if (!std::isnan(fromUm)) lo = fromUm;
        if (!std::isnan(toUm)) hi = toUm;
    }
    lens.resolveWavelength(lo);
    lens.resolveWavelength(hi);
    if (!(hi > lo))
        throw xmsg(std::string(who) + ": the wavelengths span nothing (" + std::to_string(lo) +
                   " … " + std::to_string(hi) + " µm); the prescription needs two, or give the range");
    TFocalShift s;
    s.primaryFocusZ = lens.firstOrder().paraxialImageZ;
    for (int i = 0; i < samples; ++i) {
        const double um = lo + (hi - lo) * i / (samples - 1);
        const double z = lens.firstOrder(um).paraxialImageZ;
        s.wavelengths.push_back(um);
        s.focusZ.push_back(z);
        s.shift.push_back(z - s.primaryFocusZ);
    }
    const auto [least, most] = std::minmax_element(s.shift.begin(), s.shift.end());
    s.range = *most - *least;
    return s;
}

TLateralColour lateralColour(const TPrescription& lens, int samples, const TTraceOptions& options) {
    const char* who = "lateralColour";
    checkSamples(samples, who);
    const FieldRange r = fieldRange(lens, samples, who);
    TLateralColour c;
    c.shortUm = c.longUm = lens.wavelengths.front().um;
    for (const TWavelength& w : lens.wavelengths) {
        c.shortUm = std::min(c.shortUm, w.um);
        c.longUm = std::max(c.longUm, w.um);
    }
    c.z = detail::usablePlane(lens, lens.systemAt(), kNaN, who);
    const TTraceOptions o = unclipped(lens, options);
    c.field = r.value;
    for (int k = 0; k < samples; ++k) {
        const auto height = [&](double um) {
            const detail::FieldRays f = detail::traceField(r.probe, k, {}, um, o, who);
            detail::requireChief(f, k, who);
            return chiefAt(f, c.z).dot(r.unit);
        };
        c.shortHeight.push_back(height(c.shortUm));
        c.longHeight.push_back(height(c.longUm));
        c.difference.push_back(c.longHeight.back() - c.shortHeight.back());
    }
    return c;
}

TFieldCurves fieldCurves(const TPrescription& lens, int samples, double wavelengthUm,
                         const TTraceOptions& options) {
    const char* who = "fieldCurves";
    checkSamples(samples, who);
    const FieldRange r = fieldRange(lens, samples, who);
    TFieldCurves c;
    c.wavelengthUm = lens.resolveWavelength(wavelengthUm);
    c.z = detail::usablePlane(lens, lens.systemAt(c.wavelengthUm), kNaN, who);
    const TTraceOptions o = unclipped(lens, options);
    c.field = r.value;

    // The paraxial height per unit of tan θ (or of object height), from a
    // chief ray very near the axis.
    const bool angles = lens.fieldKind == TFieldKind::angle;
    const auto measure = [&](double t) { return angles ? std::tan(t * kRadians) : t; };
    TPrescription nearAxis = r.probe;
    const double delta = 1e-6 * r.largest;
    nearAxis.fields = {{delta * r.unit.x, delta * r.unit.y, 1.0}};
    const detail::FieldRays near = detail::traceField(nearAxis, 0, {}, c.wavelengthUm, o, who);
    detail::requireChief(near, 0, who);
    const double perUnit = chiefAt(near, c.z).dot(r.unit) / measure(delta);

    constexpr double e = 1e-3;
    const TVector t = r.unit, s(-r.unit.y, r.unit.x, 0.0);
    const std::vector<TPupilPoint> pupil{{e * t.x, e * t.y}, {-e * t.x, -e * t.y},
                                         {e * s.x, e * s.y}, {-e * s.x, -e * s.y}};
    for (int k = 0; k < samples; ++k) {
        const detail::FieldRays f = detail::traceField(r.probe, k, pupil, c.wavelengthUm, o, who);
        detail::requireChief(f, k, who);
        if (f.unaimed > 0)
            throw xmsg(std::string(who) + ": rays beside the chief ray of field " +
                       std::to_string(r.value[k]) + " cannot be aimed: " + f.unaimedWhy);
        c.tangential.push_back(crossingZ(f.batch, 0, 1, t) - c.z);
        c.sagittal.push_back(crossingZ(f.batch, 2, 3, s) - c.z);
        const double h = chiefAt(f, c.z).dot(r.unit);
        const double paraxial = perUnit * measure(r.value[k]);
        c.height.push_back(h);
        c.paraxialHeight.push_back(paraxial);
        c.distortion.push_back(k == 0 ? 0.0 : 100.0 * (h - paraxial) / paraxial);
    }
    return c;
}

}  // namespace lumivex
