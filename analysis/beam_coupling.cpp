// SPDX-License-Identifier: Apache-2.0
// Coupling of a focused Gaussian beam into a single-mode fibre, by the
// overlap of the delivered field with the fibre's mode, in the pupil and in
// the image plane.
#include <cmath>
#include <complex>
#include <string>

#include <kissfft.hh>

#include "analysis/pupil_grid.h"
#include "lumivex/diffraction.h"

namespace lumivex {

namespace {

constexpr double kPi = 3.141592653589793;

void checkLength(double value, const char* what) {
    if (!(value > 0.0) || !std::isfinite(value))
        throw xmsg(std::string("beamCoupling: the ") + what + " must be positive and finite");
}

// The field in the image plane on the M × M grid of pitch λ·f/(M·h) about
// the reference point, U(x) = Σ_h P(h)·exp(2πi·h·x/(λ·f)) with the pupil
// points h = (i + ½ − n/2)·pitch: a transform of the padded pupil function
// along each axis, then the phase of the grid's half-sample offset.
std::vector<complex> imageField(const std::vector<complex>& pupil, int n, int M) {
    const kissfft<double> fft(static_cast<std::size_t>(M), true);
    std::vector<complex> rows(static_cast<std::size_t>(n) * M), in(M), out(M);
    for (int j = 0; j < n; ++j) {
        std::fill(in.begin(), in.end(), complex(0.0, 0.0));
        std::copy(&pupil[static_cast<std::size_t>(j) * n], &pupil[static_cast<std::size_t>(j) * n] + n,
                  in.begin());
        fft.transform(in.data(), &rows[static_cast<std::size_t>(j) * M]);
    }
    // Sample k of the grid sits at (k − M/2)·dx; the transform's index is
    // (k − M/2) mod M, and the pupil's first point at (½ − n/2)·pitch adds
    // the phase 2π·(½ − n/2)·(k − M/2)/M.
    std::vector<complex> shift(M);
    for (int k = 0; k < M; ++k)
        shift[k] = std::polar(1.0, 2.0 * kPi * (0.5 - 0.5 * n) * (k - M / 2) / M);
    std::vector<complex> field(static_cast<std::size_t>(M) * M);
    for (int kx = 0; kx < M; ++kx) {
        const int column = ((kx - M / 2) % M + M) % M;
        std::fill(in.begin(), in.end(), complex(0.0, 0.0));
        for (int j = 0; j < n; ++j) in[j] = rows[static_cast<std::size_t>(j) * M + column];
        fft.transform(in.data(), out.data());
        for (int ky = 0; ky < M; ++ky)
            field[static_cast<std::size_t>(ky) * M + kx] =
                out[((ky - M / 2) % M + M) % M] * shift[kx] * shift[ky];
    }
    return field;
}

}  // namespace

TBeamCoupling beamCoupling(TOpticalSystem& system, const TCollimatedBeam& beam, double modeRadius,
                             double beamRadius, double offsetX, double offsetY, double imageZ,
                             const TDiffractionSampling& sampling, const TTraceOptions& options) {
    checkLength(modeRadius, "mode radius");
    if (!std::isnan(beamRadius)) checkLength(beamRadius, "beam radius");
    if (!std::isfinite(offsetX) || !std::isfinite(offsetY))
        throw xmsg("beamCoupling: the fibre's offset must be finite");
    if (!(beam.pupilRadius > 0.0)) throw xmsg("beamCoupling: the pupil radius must be positive");
    const int N = sampling.pupilSamples;
    if (N < 2 || N > 1024)
        throw xmsg("beamCoupling: the pupil samples must lie within 2 … 1024, not " +
                   std::to_string(N));
    const int M = sampling.fftSize == 0 ? 4 * N : sampling.fftSize;
    if (M < 2 * N || M > 8192)
        throw xmsg("beamCoupling: the FFT size must lie within 2·N = " + std::to_string(2 * N) +
                   " … 8192, not " + std::to_string(M));

    const double lambda = beam.wavelength;
    const double f = std::fabs(paraxialData(system, beam).efl);
    if (!(f > 0.0) || !std::isfinite(f))
        throw xmsg("beamCoupling: the system does not focus the beam (no finite focal length)");
    TBeamCoupling c;
    c.fieldAngle = beam.fieldAngle;
    c.wavelength = lambda;
    c.z = detail::imagePlane(system, beam, imageZ);
    c.modeRadius = modeRadius;
    c.matchedRadius = lambda * f / (kPi * modeRadius);
    c.beamRadius = std::isnan(beamRadius) ? c.matchedRadius : beamRadius;
    c.offsetX = offsetX;
    c.offsetY = offsetY;

    const double r = beam.pupilRadius, h = 2.0 * r / N;
    const detail::TPupilWavefront w = detail::tracePupil(system, beam, c.z, nullptr, N, h, options);
    if (w.valid == 0) throw xmsg("beamCoupling: no ray of the pupil goes through");

    // The delivered pupil function P = A·exp(−ρ²/W²)·exp(2πi·W_opd), and the
    // pupil route's overlap with the mode's far field at the fibre's offset.
    const double W2 = c.beamRadius * c.beamRadius, Wm2 = c.matchedRadius * c.matchedRadius;
    const double tilt = 2.0 * kPi / (lambda * f);
    std::vector<complex> pupil(static_cast<std::size_t>(N) * N, complex(0.0, 0.0));
    complex overlap(0.0, 0.0);
    double delivered = 0.0;
    for (int j = 0; j < N; ++j)
        for (int i = 0; i < N; ++i) {
            const std::size_t p = static_cast<std::size_t>(j) * N + i;
            if (!(w.amplitude[p] > 0.0)) continue;
            const double x = (i + 0.5 - 0.5 * N) * h, y = (j + 0.5 - 0.5 * N) * h;
            const double rho2 = x * x + y * y;
            pupil[p] = std::polar(w.amplitude[p] * std::exp(-rho2 / W2), 2.0 * kPi * w.opd[p]);
            delivered += std::norm(pupil[p]);
            overlap += pupil[p] * std::polar(std::exp(-rho2 / Wm2), tilt * (x * offsetX + y * offsetY));
        }
    // The beam's and the mode's powers over their whole planes, in the
    // pupil's cells: ∫ exp(−2ρ²/W²) dA = π·W²/2.
    const double beamPower = kPi * W2 / 2.0 / (h * h), modePower = kPi * Wm2 / 2.0 / (h * h);
    c.efficiency = std::norm(overlap) / (beamPower * modePower);
    c.transmitted = delivered / beamPower;
    c.modeMatch = c.transmitted > 0.0 ? c.efficiency / c.transmitted : 0.0;

    // The image-plane route: U on the PSF's grid, Σ|U|² = M²·Σ|P|² by
    // Parseval, overlapped with the mode sampled there.
    const std::vector<complex> field = imageField(pupil, N, M);
    const double dx = lambda * f / (M * h), w2 = modeRadius * modeRadius;
    complex imageOverlap(0.0, 0.0);
    double mode = 0.0;
    for (int ky = 0; ky < M; ++ky)
        for (int kx = 0; kx < M; ++kx) {
            const double x = (kx - M / 2) * dx - offsetX, y = (ky - M / 2) * dx - offsetY;
            const double m = std::exp(-(x * x + y * y) / w2);
            imageOverlap += field[static_cast<std::size_t>(ky) * M + kx] * m;
            mode += m * m;
        }
    c.imageEfficiency = std::norm(imageOverlap) / (static_cast<double>(M) * M * mode * beamPower);
    return c;
}

}  // namespace lumivex
