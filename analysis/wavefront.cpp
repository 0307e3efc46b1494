// SPDX-License-Identifier: Apache-2.0
// The wavefront over a square grid of the entrance pupil and its fit by
// Fringe Zernike polynomials.
#include <algorithm>
#include <array>
#include <cmath>
#include <limits>
#include <string>

#include "analysis/lens_rays.h"
#include "analysis/pupil_grid.h"
#include "analysis/reference_sphere.h"
#include "lumivex/diffraction.h"

namespace lumivex {

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

// (n, m) of the Fringe terms: groups of equal (n + m)/2, within a group m
// falling from (n + m)/2 to 0, the cosine term before the sine term; Z37 is
// the lone R(12, 0).
struct TOrder {
    int n, m;
    bool sine;
};

std::array<TOrder, kFringeZernikeTerms> fringeOrders() {
    std::array<TOrder, kFringeZernikeTerms> orders{};
    int j = 0;
    for (int d = 0; d <= 5; ++d)
        for (int m = d; m >= 0; --m) {
            orders[j++] = {2 * d - m, m, false};
            if (m > 0) orders[j++] = {2 * d - m, m, true};
        }
    orders[j] = {12, 0, false};
    return orders;
}

const std::array<TOrder, kFringeZernikeTerms>& orders() {
    static const std::array<TOrder, kFringeZernikeTerms> table = fringeOrders();
    return table;
}

double factorial(int k) {
    double f = 1.0;
    for (int i = 2; i <= k; ++i) f *= i;
    return f;
}

// The coefficients of the radial polynomial R(n, m) by power of ρ:
// Σ_s (−1)^s (n − s)! / (s! ((n + m)/2 − s)! ((n − m)/2 − s)!) ρ^(n − 2s).
std::array<double, 13> radialCoefficients(int n, int m) {
    std::array<double, 13> c{};
    for (int s = 0; s <= (n - m) / 2; ++s)
        c[n - 2 * s] = ((s % 2) ? -1.0 : 1.0) * factorial(n - s) /
                       (factorial(s) * factorial((n + m) / 2 - s) * factorial((n - m) / 2 - s));
    return c;
}

// Every term's polynomial, tabulated once.
struct TFringeTable {
    std::array<std::array<double, 13>, kFringeZernikeTerms> radial;
    TFringeTable() {
        for (int j = 0; j < kFringeZernikeTerms; ++j)
            radial[j] = radialCoefficients(orders()[j].n, orders()[j].m);
    }
    // All 37 terms at one point.
    void evaluate(double rho, double theta, double* z) const {
        std::array<double, 13> power;
        power[0] = 1.0;
        for (int k = 1; k < 13; ++k) power[k] = power[k - 1] * rho;
        for (int j = 0; j < kFringeZernikeTerms; ++j) {
            const TOrder& o = orders()[j];
            double r = 0.0;
            for (int k = o.m; k <= o.n; k += 2) r += radial[j][k] * power[k];
            if (o.m > 0) r *= o.sine ? std::sin(o.m * theta) : std::cos(o.m * theta);
            z[j] = r;
        }
    }
};

const TFringeTable& fringeTable() {
    static const TFringeTable table;
    return table;
}

// Least squares by the normal equations, which stay well conditioned for
// polynomials nearly orthogonal over the disk. A term that the points cannot
// tell from the earlier ones (a pupil vignetted to a sliver) gets 0.
std::vector<double> fitFringe(const std::vector<double>& x, const std::vector<double>& y,
                              const std::vector<double>& w) {
    constexpr int K = kFringeZernikeTerms;
    std::vector<double> ata(K * K, 0.0), atb(K, 0.0);
    std::array<double, K> z;
    const TFringeTable& table = fringeTable();
    for (std::size_t p = 0; p < x.size(); ++p) {
        table.evaluate(std::hypot(x[p], y[p]), std::atan2(y[p], x[p]), z.data());
        for (int a = 0; a < K; ++a) {
            atb[a] += z[a] * w[p];
            for (int b = 0; b <= a; ++b) ata[a * K + b] += z[a] * z[b];
        }
    }
    // Cholesky factor L (lower) in place, skipping dependent columns.
    std::vector<bool> used(K, true);
    for (int a = 0; a < K; ++a) {
        const double scale = ata[a * K + a];
        double d = scale;
        for (int k = 0; k < a; ++k)
            if (used[k]) d -= ata[a * K + k] * ata[a * K + k];
        if (!(d > 1e-10 * scale) || !(scale > 0.0)) {
            used[a] = false;
            continue;
        }
        ata[a * K + a] = std::sqrt(d);
        for (int b = a + 1; b < K; ++b) {
            double s = ata[b * K + a];
            for (int k = 0; k < a; ++k)
                if (used[k]) s -= ata[b * K + k] * ata[a * K + k];
            ata[b * K + a] = s / ata[a * K + a];
        }
    }
    std::vector<double> c(K, 0.0);
    for (int a = 0; a < K; ++a) {  // L·u = Aᵀb
        if (!used[a]) continue;
        double s = atb[a];
        for (int k = 0; k < a; ++k)
            if (used[k]) s -= ata[a * K + k] * c[k];
        c[a] = s / ata[a * K + a];
    }
    for (int a = K - 1; a >= 0; --a) {  // Lᵀ·c = u
        if (!used[a]) continue;
        double s = c[a];
        for (int k = a + 1; k < K; ++k)
            if (used[k]) s -= ata[k * K + a] * c[k];
        c[a] = s / ata[a * K + a];
    }
    return c;
}

// The plane a + b·x + c·y nearest the values by least squares (3 × 3 normal
// equations by Cramer's rule; a singular set, a line of points, keeps a).
std::vector<double> fitPlane(const std::vector<double>& x, const std::vector<double>& y,
                             const std::vector<double>& w) {
    double n = 0, sx = 0, sy = 0, sxx = 0, sxy = 0, syy = 0, sw = 0, sxw = 0, syw = 0;
    for (std::size_t p = 0; p < w.size(); ++p) {
        n += 1;
        sx += x[p];
        sy += y[p];
        sxx += x[p] * x[p];
        sxy += x[p] * y[p];
        syy += y[p] * y[p];
        sw += w[p];
        sxw += x[p] * w[p];
        syw += y[p] * w[p];
    }
    const auto det = [](double a, double b, double c, double d, double e, double f, double g,
                        double h, double i) {
        return a * (e * i - f * h) - b * (d * i - f * g) + c * (d * h - e * g);
    };
    const double D = det(n, sx, sy, sx, sxx, sxy, sy, sxy, syy);
    if (!(std::fabs(D) > 1e-12 * n * n * n)) return {sw / n, 0.0, 0.0};
    return {det(sw, sx, sy, sxw, sxx, sxy, syw, sxy, syy) / D,
            det(n, sw, sy, sx, sxw, sxy, sy, syw, syy) / D,
            det(n, sx, sw, sx, sxx, sxw, sy, sxy, syw) / D};
}

}  // namespace

void fringeZernikeOrder(int j, int& n, int& m) {
    if (j < 1 || j > kFringeZernikeTerms)
        throw xmsg("fringeZernikeOrder: the term must lie within 1 … 37, not " + std::to_string(j));
    n = orders()[j - 1].n;
    m = orders()[j - 1].m;
}

double fringeZernike(int j, double rho, double theta) {
    int n, m;
    fringeZernikeOrder(j, n, m);
    std::array<double, kFringeZernikeTerms> z;
    fringeTable().evaluate(rho, theta, z.data());
    return z[j - 1];
}

namespace detail {

void diskGrid(int n, double pitch, double r, std::vector<TPupilPoint>& points,
              std::vector<std::size_t>& cell) {
    const double rim = r * r * (1.0 + 1e-12);
    for (int j = 0; j < n; ++j)
        for (int i = 0; i < n; ++i) {
            const double x = (i + 0.5 - 0.5 * n) * pitch;
            const double y = (j + 0.5 - 0.5 * n) * pitch;
            if (x * x + y * y > rim) continue;
            points.push_back({x, y});
            cell.push_back(static_cast<std::size_t>(j) * n + i);
        }
}

void fillPupil(TPupilWavefront& w, const TRayBatch& starts, const TRayBatch& batch,
               const std::vector<std::size_t>& cell, std::size_t chief) {
    TVector onSphere;
    const double chiefPath = batch.ok(chief) ? w.sphere.pathInWaves(starts.last(chief),
                                                                    batch.last(chief), onSphere)
                                             : kNaN;
    if (!std::isfinite(chiefPath)) throw xmsg("the wavefront: the chief ray misses the reference sphere");
    for (std::size_t p = 0; p < cell.size(); ++p) {
        if (p == chief || !batch.ok(p)) continue;
        const TBeamNode& last = batch.last(p);
        if (!(last.kVector.z > 0.0) || !(last.intensity >= 0.0)) continue;
        const double path = w.sphere.pathInWaves(starts.last(p), last, onSphere);
        if (!std::isfinite(path)) continue;
        w.opd[cell[p]] = chiefPath - path;
        w.amplitude[cell[p]] = std::sqrt(last.intensity);
        ++w.valid;
    }
}

namespace {

TPupilWavefront emptyGrid(int n, double pitch, const TReferenceSphere& sphere) {
    TPupilWavefront w;
    w.n = n;
    w.pitch = pitch;
    w.sphere = sphere;
    w.opd.assign(static_cast<std::size_t>(n) * n, kNaN);
    w.amplitude.assign(static_cast<std::size_t>(n) * n, 0.0);
    return w;
}

}  // namespace

TPupilWavefront tracePupil(TOpticalSystem& system, const TCollimatedBeam& beam, double z,
                           const TVector* centre, int n, double pitch,
                           const TTraceOptions& options) {
    const TBeamNode chiefLast = tracedChief(system, beam, "the wavefront");
    TPupilWavefront w = emptyGrid(
        n, pitch,
        referenceSphere(system, beam, chiefLast, centre ? *centre : positionAtZ(chiefLast, z)));
    // The grid points on the disk, then the chief ray, traced as the others.
    std::vector<TPupilPoint> points;
    std::vector<std::size_t> cell;
    diskGrid(n, pitch, beam.pupilRadius, points, cell);
    w.disk = static_cast<int>(points.size());
    points.push_back({0.0, 0.0});
    const TRayBatch starts = rayBatch(system, beam, points);
    TRayBatch batch = starts;
    traceRays(system, batch, options);
    cell.push_back(0);
    fillPupil(w, starts, batch, cell, points.size() - 1);
    return w;
}

TPupilWavefront tracePupil(const TPrescription& lens, int field, double wavelengthUm, double z,
                           const TVector* centre, int n, double pitch,
                           const TTraceOptions& options) {
    const char* who = "the wavefront";
    std::vector<TPupilPoint> points;
    std::vector<std::size_t> cell;
    diskGrid(n, pitch, 1.0, points, cell);
    const FieldRays f = traceField(lens, field, points, wavelengthUm, options, who);
    requireChief(f, field, who);
    const TBeamNode& chiefLast = f.batch.last(f.chief);
    // On the sphere through the exit pupil, as the OPD fans. The start
    // wavefront is the plane normal to the chief ray from an object at
    // infinity; from an object point every ray starts at that point, and the
    // plane's credit n0·(P0·k) is then the same for all of them.
    TReferenceSphere sphere;
    sphere.centre = centre ? *centre : positionAtZ(chiefLast, z);
    sphere.radius = (exitPupilPoint(lens, chiefLast, wavelengthUm) - sphere.centre).length();
    sphere.wavelength = f.lambda;
    sphere.n0 = f.system[0]->getRefIndex(f.starts.last(f.chief).position, 0.0).real();
    sphere.k = f.direction.unit();
    TPupilWavefront w = emptyGrid(n, pitch, sphere);
    w.disk = static_cast<int>(points.size());
    // The rays that could be aimed, each with its cell; the chief ray last.
    std::vector<std::size_t> traced(f.batch.size(), 0);
    for (std::size_t p = 0; p < f.chief; ++p) traced[p] = cell[f.point[p]];
    fillPupil(w, f.starts, f.batch, traced, f.chief);
    return w;
}

}  // namespace detail

namespace {

void checkSamples(int samples) {
    if (samples < 2 || samples > 1024)
        throw xmsg("wavefrontMap: the pupil samples must lie within 2 … 1024, not " +
                   std::to_string(samples));
}

// The map of a traced grid whose pitch is in units of the pupil radius
// `radius`; the reductions see the points at ρ = (x, y)/radius.
TWavefrontMap mapOf(detail::TPupilWavefront traced, double radius);

}  // namespace

TWavefrontMap wavefrontMap(TOpticalSystem& system, const TCollimatedBeam& beam, double imageZ,
                           int samples, const TTraceOptions& options) {
    checkSamples(samples);
    if (!(beam.pupilRadius > 0.0)) throw xmsg("wavefrontMap: the pupil radius must be positive");
    const double z = detail::imagePlane(system, beam, imageZ);
    const double r = beam.pupilRadius;
    TWavefrontMap map = mapOf(
        detail::tracePupil(system, beam, z, nullptr, samples, 2.0 * r / samples, options), r);
    map.fieldAngle = beam.fieldAngle;
    map.wavelength = beam.wavelength;
    map.z = z;
    map.pupilRadius = r;
    return map;
}

TWavefrontMap wavefrontMap(const TPrescription& lens, int field, double imageZ,
                           double wavelengthUm, int samples, const TTraceOptions& options) {
    const char* who = "wavefrontMap";
    checkSamples(samples);
    detail::checkField(lens, field, who);
    const double um = lens.resolveWavelength(wavelengthUm);
    const TFirstOrder first = lens.firstOrder(um);
    const double z = detail::usablePlane(lens, lens.systemAt(um), imageZ, who);
    TWavefrontMap map =
        mapOf(detail::tracePupil(lens, field, um, z, nullptr, samples, 2.0 / samples, options), 1.0);
    map.field = field;
    map.fieldAngle = detail::chiefAngle(lens.rays(field, {{0.0, 0.0}}, um).front().direction);
    map.wavelength = lens.wavelengthInLensUnit(um);
    map.z = z;
    map.pupilRadius = 0.5 * first.entrancePupilDiameter;
    map.pitch *= map.pupilRadius;
    return map;
}

namespace {

TWavefrontMap mapOf(detail::TPupilWavefront traced, double r) {
    if (traced.valid == 0) throw xmsg("wavefrontMap: no ray of the pupil goes through");
    const int samples = traced.n;
    TWavefrontMap map;
    map.referenceX = traced.sphere.centre.x;
    map.referenceY = traced.sphere.centre.y;
    map.referenceRadius = traced.sphere.radius;
    map.samples = samples;
    map.pitch = traced.pitch;
    map.disk = traced.disk;
    map.valid = traced.valid;

    std::vector<double> x, y, w;
    for (int j = 0; j < samples; ++j)
        for (int i = 0; i < samples; ++i) {
            const double opd = traced.opd[static_cast<std::size_t>(j) * samples + i];
            if (std::isnan(opd)) continue;
            x.push_back((i + 0.5 - 0.5 * samples) * traced.pitch / r);
            y.push_back((j + 0.5 - 0.5 * samples) * traced.pitch / r);
            w.push_back(opd);
        }
    // About the mean (to the chief ray's point), and about the plane fitted
    // by least squares (piston and tilt removed: to the point the wavefront
    // best converges on, the measure the Strehl ratio follows).
    const std::vector<double> plane = fitPlane(x, y, w);
    double sum = 0.0;
    for (double v : w) sum += v;
    const double mean = sum / w.size();
    double toChief = 0.0, square = 0.0, lo = std::numeric_limits<double>::infinity(), hi = -lo;
    for (std::size_t p = 0; p < w.size(); ++p) {
        toChief += (w[p] - mean) * (w[p] - mean);
        const double d = w[p] - plane[0] - plane[1] * x[p] - plane[2] * y[p];
        square += d * d;
        lo = std::min(lo, d);
        hi = std::max(hi, d);
    }
    map.rmsToChief = std::sqrt(toChief / w.size());
    map.rms = std::sqrt(square / w.size());
    map.pv = hi - lo;
    map.zernike = fitFringe(x, y, w);
    map.opd = std::move(traced.opd);
    map.amplitude = std::move(traced.amplitude);
    return map;
}

}  // namespace

}  // namespace lumivex
