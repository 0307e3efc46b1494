// Fibre-to-fibre coupling through a prescription by the overlap of the
// modes' far fields over the pupil: the source's angular spectrum carried
// ray by ray to the image space, where the receiving fibre's far field is a
// spherical wave about its centre.
#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "analysis/lens_rays.h"
#include "analysis/reference_sphere.h"
#include "lumivex/diffraction.h"

namespace lumivex {

namespace {

constexpr double kPi = 3.141592653589793;

}  // namespace

TFibreCoupling fibreCoupling(const TPrescription& lens, int field, double sourceRadius,
                             double receiverRadius, double offsetX, double offsetY,
                             double wavelengthUm, int samples, const TTraceOptions& options) {
    const char* who = "fibreCoupling";
    lens.validate();
    detail::checkField(lens, field, who);
    if (!(sourceRadius > 0.0) || !std::isfinite(sourceRadius) || !(receiverRadius > 0.0) ||
        !std::isfinite(receiverRadius))
        throw xmsg(std::string(who) + ": the mode field radii must be positive and finite");
    if (!std::isfinite(offsetX) || !std::isfinite(offsetY))
        throw xmsg(std::string(who) + ": the receiver's offset must be finite");
    if (samples < 8 || samples > 1024)
        throw xmsg(std::string(who) + ": the samples must lie within 8 … 1024, not " +
                   std::to_string(samples));
    if (!std::isfinite(lens.objectZ()))
        throw xmsg(std::string(who) + ": a fibre is a point of the object; the prescription's "
                                      "object is at infinity");
    const double um = lens.resolveWavelength(wavelengthUm);
    const double lambda = lens.wavelengthInLensUnit(um);
    const double n0 = lens.objectMaterial.indexAt(um).real();

    // The chief ray sets the image point; the rays start where it starts.
    detail::FieldRays chief = detail::traceField(lens, field, {}, um, options, who);
    detail::requireChief(chief, field, who);
    const double z = detail::usablePlane(lens, chief.system, std::numeric_limits<double>::quiet_NaN(), who);
    const TBeamNode& chiefLast = chief.batch.last(chief.chief);
    const TVector source = chief.starts.last(chief.chief).position;
    TFibreCoupling c;
    c.field = field;
    c.wavelength = lambda;
    c.z = z;
    const TVector at = positionAtZ(chiefLast, z);
    c.receiverX = at.x + offsetX;
    c.receiverY = at.y + offsetY;
    detail::TReferenceSphere sphere;
    sphere.centre = TVector(c.receiverX, c.receiverY, z);
    sphere.radius = (chiefLast.position - sphere.centre).length();
    sphere.wavelength = lambda;
    sphere.n0 = n0;
    sphere.k = TVector(0.0, 0.0, 1.0);  // every ray starts at the source: a constant credit

    // The source's far field over a grid of direction cosines.
    const double a = kPi * n0 * sourceRadius / lambda;  // A = exp(−(a·u)²)
    const double b = kPi * receiverRadius / lambda;      // F = exp(−(b·u′)²), in air
    const double reach = std::min(4.0 / a, 0.999);
    const int n = samples;
    const double h = 2.0 * reach / n;
    std::vector<double> ux, uy;
    TRayBatch starts(lambda);
    std::vector<std::size_t> cellOf;
    for (int j = 0; j < n; ++j)
        for (int i = 0; i < n; ++i) {
            const double x = (i + 0.5 - 0.5 * n) * h, y = (j + 0.5 - 0.5 * n) * h;
            if (x * x + y * y >= 1.0) continue;
            const TVector k(x, y, std::sqrt(1.0 - x * x - y * y));
            TVector e = TVector(1.0, 0.0, 0.0) - k * k.x;
            if (e.length() < 1e-6) e = TVector(0.0, 1.0, 0.0) - k * k.y;
            starts.add(TBeamNode(source, k, 1.0, e.unit(), 0.0));
            cellOf.push_back(static_cast<std::size_t>(j) * n + i);
        }
    TRayBatch batch = starts;
    traceRays(chief.system, batch, chief.options);

    // Per cell: the exit direction cosines, the field's phase and the
    // transmitted amplitude; NaN where no ray went through.
    const std::size_t cells = static_cast<std::size_t>(n) * n;
    const double nan = std::numeric_limits<double>::quiet_NaN();
    std::vector<double> vx(cells, nan), vy(cells, nan), phase(cells, nan), amplitude(cells, 0.0);
    TVector onSphere;
    for (std::size_t p = 0; p < cellOf.size(); ++p) {
        if (!batch.ok(p)) continue;
        const TBeamNode& last = batch.last(p);
        if (!(last.kVector.z > 0.0) || !(last.intensity >= 0.0)) continue;
        const double path = sphere.pathInWaves(starts.last(p), last, onSphere);
        if (!std::isfinite(path)) continue;
        const TVector k = last.kVector.unit();
        vx[cellOf[p]] = k.x;
        vy[cellOf[p]] = k.y;
        phase[cellOf[p]] = 2.0 * kPi * path;
        amplitude[cellOf[p]] = std::sqrt(last.intensity);
    }
    // The spread of the exit directions by central differences, where the
    // neighbours went through; a cell without them is left out (the grid
    // reaches far into the Gaussian's tail, where that loses nothing).
    complex sum(0.0, 0.0);
    double power = 0.0;
    for (int j = 1; j + 1 < n; ++j)
        for (int i = 1; i + 1 < n; ++i) {
            const std::size_t q = static_cast<std::size_t>(j) * n + i;
            const std::size_t l = q - 1, r = q + 1, d = q - n, u = q + n;
            if (std::isnan(phase[q]) || std::isnan(vx[l]) || std::isnan(vx[r]) || std::isnan(vx[d]) ||
                std::isnan(vx[u]))
                continue;
            const double J = std::fabs((vx[r] - vx[l]) * (vy[u] - vy[d]) - (vx[u] - vx[d]) * (vy[r] - vy[l])) /
                             (4.0 * h * h);
            const double x = (i + 0.5 - 0.5 * n) * h, y = (j + 0.5 - 0.5 * n) * h;
            const double A = std::exp(-a * a * (x * x + y * y));
            const double F = std::exp(-b * b * (vx[q] * vx[q] + vy[q] * vy[q]));
            const double t = amplitude[q] * amplitude[q];
            sum += std::polar(A * std::sqrt(t * J) * F, phase[q]);
            power += A * A * t;
            ++c.rays;
        }
    // ∫exp(−2c²u²) d²u = π/(2c²) for either mode.
    const double sourcePower = kPi / (2.0 * a * a), receiverPower = kPi / (2.0 * b * b);
    c.efficiency = std::norm(sum) * h * h * h * h / (sourcePower * receiverPower);
    c.transmitted = power * h * h / sourcePower;
    c.modeMatch = c.transmitted > 0.0 ? c.efficiency / c.transmitted : 0.0;
    return c;
}

}  // namespace lumivex
