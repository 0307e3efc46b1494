// SPDX-License-Identifier: Apache-2.0
// The point spread function by FFT of the pupil function, its encircled and
// ensquared energy, and the MTF from its line spread functions.
//
// The transforms are kissfft's C++ class template (kissfft.hh) in double
// precision: a mixed-radix FFT for any size, fastest for sizes of 2, 3 and 5.
#include <algorithm>
#include <cmath>
#include <complex>
#include <limits>
#include <exception>
#include <mutex>
#include <string>
#include <thread>

#include <kissfft.hh>

#include "analysis/lens_rays.h"
#include "analysis/pupil_grid.h"
#include "lumivex/diffraction.h"

namespace lumivex {

namespace {

constexpr double kPi = 3.141592653589793;
constexpr int kLargestFft = 8192;

using Fft = kissfft<double>;

// Runs body(begin, end) over [0, count) in contiguous parts on `threads`
// threads (0: every hardware thread). Each part writes its own samples, so
// the result has the same bits on any number of threads.
template <class Body>
void inParallel(int count, int threads, const Body& body) {
    int workers = threads > 0 ? threads : static_cast<int>(std::thread::hardware_concurrency());
    workers = std::max(1, std::min(workers, count / 64));
    if (workers == 1) {
        body(0, count);
        return;
    }
    std::vector<std::thread> pool;
    std::exception_ptr failure;
    std::mutex guard;
    for (int t = 0; t < workers; ++t)
        pool.emplace_back([&, t] {
            try {
                body(static_cast<int>(static_cast<long long>(count) * t / workers),
                     static_cast<int>(static_cast<long long>(count) * (t + 1) / workers));
            } catch (...) {
                const std::lock_guard<std::mutex> lock(guard);
                failure = std::current_exception();
            }
        });
    for (std::thread& t : pool) t.join();
    if (failure) std::rethrow_exception(failure);
}

// Adds scale·|U|² to image (M × M, centred), U the field in the image plane:
//   U(x) = Σ_h P(h)·exp(+2πi·h·x/(λ·f)),
// the sum over the pupil points h of the pupil function P = A·exp(2πi·W).
// A point whose wavefront leads (W > 0) is one whose path to the image is
// short, and the kernel's sign follows from that: a tilt W = a·h puts the
// peak at x = −a·f, where the transverse aberration −f·∂W/∂h of the OPD
// fans puts it. The rows pass skips the pupil's zero padding; the columns
// pass goes through the columns in blocks, so that its reads and writes
// run along rows of memory.
void addIntensity(const detail::TPupilWavefront& w, int M, double scale, int threads,
                  std::vector<double>& image) {
    const Fft fft(static_cast<std::size_t>(M), true);
    const int n = w.n;
    std::vector<complex> rows(static_cast<std::size_t>(n) * M);
    std::vector<char> empty(n, 1);
    inParallel(n, threads, [&](int from, int to) {
        std::vector<complex> in(M);
        for (int j = from; j < to; ++j) {
            std::fill(in.begin(), in.end(), complex(0.0, 0.0));
            for (int i = 0; i < n; ++i) {
                const std::size_t p = static_cast<std::size_t>(j) * n + i;
                if (w.amplitude[p] > 0.0) {
                    in[i] = std::polar(w.amplitude[p], 2.0 * kPi * w.opd[p]);
                    empty[j] = 0;
                }
            }
            if (!empty[j]) fft.transform(in.data(), &rows[static_cast<std::size_t>(j) * M]);
        }
    });
    constexpr int kBlock = 16;
    const int half = M / 2;
    const int blocks = (M + kBlock - 1) / kBlock;
    inParallel(blocks, threads, [&](int from, int to) {
        std::vector<complex> in(static_cast<std::size_t>(kBlock) * M), out(in.size());
        for (int block = from; block < to; ++block) {
            const int kx0 = block * kBlock, width = std::min(kBlock, M - kx0);
            for (int j = 0; j < n; ++j)
                for (int c = 0; c < width; ++c)
                    in[static_cast<std::size_t>(c) * M + j] =
                        empty[j] ? complex(0.0, 0.0) : rows[static_cast<std::size_t>(j) * M + kx0 + c];
            for (int c = 0; c < width; ++c)
                fft.transform(&in[static_cast<std::size_t>(c) * M], &out[static_cast<std::size_t>(c) * M]);
            for (int ky = 0; ky < M; ++ky) {
                double* row = &image[static_cast<std::size_t>((ky + half) % M) * M];
                for (int c = 0; c < width; ++c)
                    row[(kx0 + c + half) % M] += scale * std::norm(out[static_cast<std::size_t>(c) * M + ky]);
            }
        }
    });
}

double aberrationFree(double nu) {
    if (nu >= 1.0) return 0.0;
    return 2.0 / kPi * (std::acos(nu) - nu * std::sqrt(1.0 - nu * nu));
}

}  // namespace

TPsf pointSpread(TOpticalSystem& system, const TCollimatedBeam& beam, double imageZ,
                 const TDiffractionSampling& sampling, const TTraceOptions& options) {
    return pointSpread(std::vector<TSpectralSystem>{{&system, beam, 1.0}}, imageZ, sampling,
                       options);
}

namespace detail {

TDiffractionSampling checkedSampling(const TDiffractionSampling& sampling, const char* who) {
    const int N = sampling.pupilSamples;
    if (N < 2 || N > 1024)
        throw xmsg(std::string(who) + ": the pupil samples must lie within 2 … 1024, not " +
                   std::to_string(N));
    const int M = sampling.fftSize == 0 ? 4 * N : sampling.fftSize;
    if (M < 2 * N || M > kLargestFft)
        throw xmsg(std::string(who) + ": the FFT size must lie within 2·N = " +
                   std::to_string(2 * N) + " … " + std::to_string(kLargestFft) + ", not " +
                   std::to_string(M));
    return {N, M};
}

TPsf spreadOf(const std::vector<TSpectralPupil>& spectrum, double z, const TVector& centre,
              const TDiffractionSampling& sampling, int threads) {
    const int N = sampling.pupilSamples, M = sampling.fftSize;
    double weightSum = 0.0;
    for (const TSpectralPupil& part : spectrum) {
        if (!(part.weight >= 0.0) || !std::isfinite(part.weight))
            throw xmsg("pointSpread: the weights must be finite and not negative");
        weightSum += part.weight;
    }
    if (!(weightSum > 0.0)) throw xmsg("pointSpread: the weights sum to 0");

    TPsf psf;
    psf.z = z;
    psf.pupilSamples = N;
    psf.size = M;
    psf.centreX = centre.x;
    psf.centreY = centre.y;
    psf.image.assign(static_cast<std::size_t>(M) * M, 0.0);

    double freePeak = 0.0;
    int valid = 0;
    for (std::size_t s = 0; s < spectrum.size(); ++s) {
        const TSpectralPupil& part = spectrum[s];
        const double f = part.focal;
        const double r = part.radius;
        if (s == 0) psf.dx = part.wavelength * f / (M * (2.0 * r / N));
        // The pupil pitch that puts this wavelength's PSF on the reference grid.
        const double h = part.wavelength * f / (M * psf.dx);
        const int n = s == 0 ? N : static_cast<int>(std::ceil(2.0 * r / h - 1e-9));
        if (2 * n > M)
            throw xmsg("pointSpread: the FFT size " + std::to_string(M) + " is too small for " +
                       std::to_string(n) + " pupil samples at the wavelength " +
                       std::to_string(part.wavelength) + "; at least " +
                       std::to_string(2 * n) + " are needed");
        const TPupilWavefront w = part.trace(n, h, centre);
        valid += w.valid;

        const double weight = part.weight / weightSum;
        const double scale = 1.0 / (static_cast<double>(M) * M * w.disk);
        double amplitudes = 0.0, power = 0.0;
        for (double a : w.amplitude) {
            amplitudes += a;
            power += a * a;
        }
        if (weight > 0.0 && w.valid > 0) addIntensity(w, M, weight * scale, threads, psf.image);
        freePeak += weight * scale * amplitudes * amplitudes;
        psf.wavelengths.push_back(part.wavelength);
        psf.weights.push_back(weight);
        psf.fNumbers.push_back(part.fNumber);
        psf.powers.push_back(power / w.disk);
    }
    if (valid == 0) throw xmsg("pointSpread: no ray of the pupil goes through");

    for (double v : psf.image) {
        psf.power += v;
        psf.peak = std::max(psf.peak, v);
    }
    psf.strehl = freePeak > 0.0 ? psf.peak / freePeak : 0.0;
    return psf;
}

}  // namespace detail

TPsf pointSpread(const std::vector<TSpectralSystem>& spectrum, double imageZ,
                 const TDiffractionSampling& sampling, const TTraceOptions& options) {
    if (spectrum.empty()) throw xmsg("pointSpread: no wavelength given");
    const TDiffractionSampling checked = detail::checkedSampling(sampling, "pointSpread");
    for (const TSpectralSystem& part : spectrum) {
        if (!part.system || part.system->getSize() == 0)
            throw xmsg("pointSpread: a wavelength's system holds no element");
        if (!(part.beam.pupilRadius > 0.0))
            throw xmsg("pointSpread: the pupil radius must be positive");
    }
    const TSpectralSystem& reference = spectrum.front();
    const double z = detail::imagePlane(*reference.system, reference.beam, imageZ);
    const TVector centre =
        positionAtZ(detail::tracedChief(*reference.system, reference.beam, "pointSpread"), z);

    std::vector<detail::TSpectralPupil> pupils;
    for (const TSpectralSystem& part : spectrum) {
        const TParaxialData paraxial = paraxialData(*part.system, part.beam);
        detail::TSpectralPupil pupil;
        pupil.wavelength = part.beam.wavelength;
        pupil.weight = part.weight;
        pupil.fNumber = paraxial.fNumber;
        pupil.focal = std::fabs(paraxial.efl);
        pupil.radius = part.beam.pupilRadius;
        pupil.trace = [&part, z, &options](int n, double h, const TVector& c) {
            return detail::tracePupil(*part.system, part.beam, z, &c, n, h, options);
        };
        pupils.push_back(std::move(pupil));
    }
    TPsf psf = detail::spreadOf(pupils, z, centre, checked, options.threads);
    psf.fieldAngle = reference.beam.fieldAngle;
    return psf;
}

TPsf pointSpread(const TPrescription& lens, int field, double imageZ,
                 const std::vector<TWavelength>& wavelengths, const TDiffractionSampling& sampling,
                 const TTraceOptions& options) {
    const char* who = "pointSpread";
    const TDiffractionSampling checked = detail::checkedSampling(sampling, who);
    lens.validate();
    detail::checkField(lens, field, who);
    // The prescription's own spectrum, its primary first: the reference.
    std::vector<TWavelength> spectrum = wavelengths;
    if (spectrum.empty()) {
        spectrum = lens.wavelengths;
        std::rotate(spectrum.begin(), spectrum.begin() + lens.primary,
                    spectrum.begin() + lens.primary + 1);
    }
    for (const TWavelength& w : spectrum) lens.resolveWavelength(w.um);
    const double reference = spectrum.front().um;
    const double z = detail::usablePlane(lens, lens.systemAt(reference), imageZ, who);
    // The grid's centre: the reference wavelength's chief ray in the plane.
    const detail::FieldRays chief = detail::traceField(lens, field, {}, reference, options, who);
    detail::requireChief(chief, field, who);
    const TVector centre = positionAtZ(chief.batch.last(chief.chief), z);

    // In units of the entrance pupil's radius, a focal length of 2·F# gives
    // the image pitch λ·F#·N/M of the working F-number.
    std::vector<detail::TSpectralPupil> pupils;
    for (const TWavelength& w : spectrum) {
        detail::TSpectralPupil pupil;
        pupil.wavelength = lens.wavelengthInLensUnit(w.um);
        pupil.weight = w.weight;
        pupil.fNumber = lens.firstOrder(w.um).fNumber;
        pupil.focal = 2.0 * pupil.fNumber;
        pupil.radius = 1.0;
        const double um = w.um;
        pupil.trace = [&lens, field, um, z, &options](int n, double h, const TVector& c) {
            return detail::tracePupil(lens, field, um, z, &c, n, h, options);
        };
        pupils.push_back(std::move(pupil));
    }
    TPsf psf = detail::spreadOf(pupils, z, centre, checked, options.threads);
    psf.field = field;
    psf.fieldAngle = detail::chiefAngle(chief.direction);
    return psf;
}

namespace {

// The PSF's centroid in samples from the grid's corner sample (0, 0).
void centroid(const TPsf& psf, double& cx, double& cy, double& total) {
    const int M = psf.size;
    double sx = 0.0, sy = 0.0;
    total = 0.0;
    for (int j = 0; j < M; ++j)
        for (int i = 0; i < M; ++i) {
            const double v = psf.image[static_cast<std::size_t>(j) * M + i];
            sx += v * i;
            sy += v * j;
            total += v;
        }
    if (!(total > 0.0)) throw xmsg("the PSF holds no energy");
    cx = sx / total;
    cy = sy / total;
}

void checkSizes(const std::vector<double>& sizes, const char* who) {
    for (double s : sizes)
        if (!(s >= 0.0) || !std::isfinite(s))
            throw xmsg(std::string(who) + ": every size must be a finite number of at least 0");
}

void checkPsf(const TPsf& psf, const char* who) {
    if (psf.size < 2 || psf.image.size() != static_cast<std::size_t>(psf.size) * psf.size ||
        !(psf.dx > 0.0))
        throw xmsg(std::string(who) + ": not a PSF (its image is not size × size samples)");
}

// The length of [a − ½, a + ½] inside [lo, hi].
double overlap(double a, double lo, double hi) {
    return std::max(0.0, std::min(a + 0.5, hi) - std::max(a - 0.5, lo));
}

}  // namespace

std::vector<double> encircledEnergy(const TPsf& psf, const std::vector<double>& radii) {
    checkPsf(psf, "encircledEnergy");
    checkSizes(radii, "encircledEnergy");
    double cx, cy, total;
    centroid(psf, cx, cy, total);
    const int M = psf.size;
    constexpr int kSub = 8;  // sub-cells per side where the circle cuts a cell
    std::vector<double> energy;
    for (double radius : radii) {
        const double rho = radius / psf.dx;  // in samples
        double e = 0.0;
        for (int j = 0; j < M; ++j) {
            const double dy = j - cy;
            const double nearY = std::max(0.0, std::fabs(dy) - 0.5);
            if (nearY >= rho) continue;
            const double farY = std::fabs(dy) + 0.5;
            for (int i = 0; i < M; ++i) {
                const double v = psf.image[static_cast<std::size_t>(j) * M + i];
                if (v == 0.0) continue;
                const double dx = i - cx;
                const double nearX = std::max(0.0, std::fabs(dx) - 0.5);
                if (nearX * nearX + nearY * nearY >= rho * rho) continue;
                const double farX = std::fabs(dx) + 0.5;
                if (farX * farX + farY * farY <= rho * rho) {
                    e += v;
                    continue;
                }
                int inside = 0;
                for (int b = 0; b < kSub; ++b)
                    for (int a = 0; a < kSub; ++a) {
                        const double u = dx - 0.5 + (a + 0.5) / kSub;
                        const double t = dy - 0.5 + (b + 0.5) / kSub;
                        if (u * u + t * t <= rho * rho) ++inside;
                    }
                e += v * inside / (kSub * kSub);
            }
        }
        energy.push_back(e / total);
    }
    return energy;
}

std::vector<double> ensquaredEnergy(const TPsf& psf, const std::vector<double>& halfWidths) {
    checkPsf(psf, "ensquaredEnergy");
    checkSizes(halfWidths, "ensquaredEnergy");
    double cx, cy, total;
    centroid(psf, cx, cy, total);
    const int M = psf.size;
    std::vector<double> energy;
    for (double halfWidth : halfWidths) {
        const double a = halfWidth / psf.dx;
        double e = 0.0;
        for (int j = 0; j < M; ++j) {
            const double fy = overlap(j, cy - a, cy + a);
            if (fy == 0.0) continue;
            double row = 0.0;
            for (int i = 0; i < M; ++i)
                row += psf.image[static_cast<std::size_t>(j) * M + i] * overlap(i, cx - a, cx + a);
            e += fy * row;
        }
        energy.push_back(e / total);
    }
    return energy;
}

TMtf modulationTransfer(const TPsf& psf) {
    checkPsf(psf, "modulationTransfer");
    if (!(psf.power > 0.0)) throw xmsg("modulationTransfer: the PSF holds no energy");
    const int M = psf.size;
    // The OTF along x at zero y-frequency is the transform of the line
    // spread function, the PSF summed over y; likewise along y.
    std::vector<complex> lineX(M), lineY(M), outX(M), outY(M);
    for (int j = 0; j < M; ++j)
        for (int i = 0; i < M; ++i) {
            const double v = psf.image[static_cast<std::size_t>(j) * M + i];
            lineX[i] += v;
            lineY[j] += v;
        }
    const Fft fft(static_cast<std::size_t>(M), false);
    fft.transform(lineX.data(), outX.data());
    fft.transform(lineY.data(), outY.data());

    TMtf mtf;
    mtf.field = psf.field;
    mtf.fieldAngle = psf.fieldAngle;
    mtf.z = psf.z;
    double powerSum = 0.0;
    for (std::size_t s = 0; s < psf.wavelengths.size(); ++s) {
        mtf.cutoff = std::max(mtf.cutoff, 1.0 / (psf.wavelengths[s] * psf.fNumbers[s]));
        powerSum += psf.weights[s] * psf.powers[s];
    }
    const double step = 1.0 / (M * psf.dx);
    const int K = std::min(M / 2, static_cast<int>(std::floor(mtf.cutoff / step + 1e-6)));
    for (int k = 0; k <= K; ++k) {
        const double f = k * step;
        mtf.frequency.push_back(f);
        mtf.tangential.push_back(std::abs(outX[k]) / std::abs(outX[0]));
        mtf.sagittal.push_back(std::abs(outY[k]) / std::abs(outY[0]));
        double limit = 0.0;
        for (std::size_t s = 0; s < psf.wavelengths.size(); ++s)
            limit += psf.weights[s] * psf.powers[s] *
                     aberrationFree(f * psf.wavelengths[s] * psf.fNumbers[s]);
        mtf.diffractionLimit.push_back(powerSum > 0.0 ? limit / powerSum : 0.0);
    }
    return mtf;
}

TMtf modulationTransfer(TOpticalSystem& system, const TCollimatedBeam& beam, double imageZ,
                        const TDiffractionSampling& sampling, const TTraceOptions& options) {
    return modulationTransfer(pointSpread(system, beam, imageZ, sampling, options));
}

TMtf modulationTransfer(const TPrescription& lens, int field, double imageZ,
                        const std::vector<TWavelength>& wavelengths,
                        const TDiffractionSampling& sampling, const TTraceOptions& options) {
    return modulationTransfer(pointSpread(lens, field, imageZ, wavelengths, sampling, options));
}

}  // namespace lumivex
