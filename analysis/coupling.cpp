// SPDX-License-Identifier: Apache-2.0
// Fibre-to-fibre coupling through a prescription by the overlap of the
// modes' far fields over the pupil: the source's angular spectrum carried
// ray by ray to the image space, where the receiving fibre's far field is a
// spherical wave about its centre.
#include <algorithm>
#include <cmath>
#include <memory>
#include <utility>
#include <limits>
#include <string>
#include <vector>

#include "analysis/lens_rays.h"
#include "analysis/reference_sphere.h"
#include "lumivex/diffraction.h"
#include "lumivex/field.h"

namespace lumivex {

namespace {

constexpr double kPi = 3.141592653589793;

// The image-plane route along x: η_x for the offsets dx and dy and the
// row's transmitted fraction. The fan starts at the source point, is traced
// through the system with its clips, and is read in the plane z about the
// chief ray's point there.
struct RowOverlap {
    double etaX = 0.0, etaY = 0.0, transmitted = 0.0;
};

RowOverlap rowOverlap(TOpticalSystem& system, const TTraceOptions& options, const TVector& source, const TVector& centre,
                      double z, double lambda, double sourceRadius, double receiverRadius,
                      double imageRadius, double offsetX, double offsetY, int samples) {
    const int W = 2 * samples + 1;
    const double dx = 8.0 * sourceRadius / (W - 1);
    TMatrix input(W, 1);
    double inputPower = 0.0;
    for (int c = 0; c < W; ++c) {
        const double x = (c - (W - 1) / 2) * dx;
        input.at(c, 0) = complex(std::exp(-x * x / (sourceRadius * sourceRadius)), 0.0);
        inputPower += std::norm(input.at(c, 0)) * dx;
    }
    TBeamFan made;
    const int beams = W - 1;
    fieldToBeamFan(input, dx, 0.0, beams, 1, lambda, made);
    TRayBatch batch(lambda);
    for (int i = 0; i < made.getSize(); ++i) {
        const TBeamNode& start = (*made[i])[0];
        TBeamNode node = start;
        node.position = start.position + source;
        node.polarization = start.polarization.unit();
        batch.add(node);
    }
    traceRays(system, batch, options);
    // Each beam's point and phase in the plane z, in the order of its x.
    std::vector<std::pair<double, TBeamNode>> ends;
    for (std::size_t i = 0; i < batch.size(); ++i) {
        if (!batch.ok(i)) throw xmsg("fibreCoupling: a beam of the image-plane route does not go through");
        TBeamNode end = batch.last(i);
        const TVector at = positionAtZ(end, z);
        end.opticalPath += 2.0 * kPi * (at - end.position).length() / lambda;
        end.position = at - TVector(centre.x, centre.y, 0.0);
        ends.emplace_back(end.position.x, end);
    }
    std::sort(ends.begin(), ends.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
    TBeamFan arrived;
    for (const auto& [x, node] : ends) {
        auto beam = std::make_unique<TBeam>(lambda);
        beam->addNode(node);
        arrived.addBeam(beam.get());
        beam.release();
    }
    const int C = W;
    const double dxOut = 8.0 * std::max(imageRadius, receiverRadius) / (C - 1);
    TMatrix output(C, 1);
    beamFanToField(arrived, dxOut, 0.0, (W - 2) * dx, 0.0, &output);
    RowOverlap r;
    const double receiverPower = receiverRadius * std::sqrt(kPi / 2.0);
    const auto eta = [&](double offset) {
        complex sum(0.0, 0.0);
        for (int c = 0; c < C; ++c) {
            const double x = (c - C / 2) * dxOut - offset;
            sum += output.at(c, 0) * std::exp(-x * x / (receiverRadius * receiverRadius)) * dxOut;
        }
        return std::norm(sum) / (inputPower * receiverPower);
    };
    double outputPower = 0.0;
    for (int c = 0; c < C; ++c) outputPower += std::norm(output.at(c, 0)) * dxOut;
    r.etaX = eta(offsetX);
    r.etaY = eta(offsetY);
    r.transmitted = outputPower / inputPower;
    return r;
}

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

    // The source point: an object height as given, or where the chief ray of
    // an angle starts. The receiver is placed about the point where the
    // source fibre's axial ray (along z) meets the image plane; through a
    // gradient-index rod, which has no paraxial model, nothing is aimed and
    // the stop does not clip.
    TOpticalSystem system = lens.systemAt(um);
    TTraceOptions o = options;
    if (o.clipRadii.empty()) {
        try {
            o.clipRadii = lens.clipRadii();
            for (double& r : o.clipRadii)
                if (!(r > 0.0)) r = std::numeric_limits<double>::quiet_NaN();
        } catch (const xmsg&) {
            o.clipRadii.clear();
        }
    }
    const TField& f = lens.fields[static_cast<std::size_t>(field)];
    TVector source(f.x, f.y, lens.objectZ());
    if (lens.fieldKind == TFieldKind::angle) {
        const TAimedRay chief = lens.rays(field, {{0.0, 0.0}}, um).front();
        if (!chief.ok) throw xmsg(std::string(who) + ": the chief ray cannot be aimed: " + chief.message);
        source = chief.position;
    }
    const double z = detail::usablePlane(lens, system, std::numeric_limits<double>::quiet_NaN(), who);
    TRayBatch axial(lambda);
    axial.add(TBeamNode(source, TVector(0.0, 0.0, 1.0), 1.0, TVector(1.0, 0.0, 0.0), 0.0));
    traceRays(system, axial, o);
    if (!axial.ok(0))
        throw xmsg(std::string(who) + ": the source fibre's axial ray does not reach the image plane: " +
                   failureSummary(axial.message(0)));
    const TBeamNode& chiefLast = axial.last(0);
    TFibreCoupling c;
    c.field = field;
    c.wavelength = lambda;
    c.z = z;
    const TVector at = positionAtZ(chiefLast, z);
    c.receiverX = at.x + offsetX;
    c.receiverY = at.y + offsetY;
    detail::TReferenceSphere sphere;
    sphere.centre = TVector(c.receiverX, c.receiverY, z);
    // Far enough that the receiver's field on it is its far field: a
    // thousand Rayleigh ranges, or the distance back to the last element.
    sphere.radius = std::max((chiefLast.position - sphere.centre).length(),
                             1e3 * kPi * receiverRadius * receiverRadius / lambda);
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
    traceRays(system, batch, o);

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

    double m = 1.0;
    try {
        m = std::fabs(lens.firstOrder(um).magnification);
    } catch (const xmsg&) {
    }
    const RowOverlap row = rowOverlap(system, o, source, at, z, lambda, sourceRadius, receiverRadius,
                                      m * sourceRadius, offsetX, offsetY, samples);
    c.imagePlaneEfficiency = row.transmitted > 0.0 ? row.etaX * row.etaY / row.transmitted : 0.0;
    return c;
}

}  // namespace lumivex
