// SPDX-License-Identifier: Apache-2.0
// The diffraction analyses at the sizes a designer asks for: the MTF of a
// Cooke triplet at three wavelengths and nine fields, and a PSF from a
// 512 × 512 pupil. Timed on the wall clock, since both trace and transform
// on every core.
#include <benchmark/benchmark.h>

#include <chrono>
#include <limits>
#include <string>
#include <vector>

#include "bench/report.h"
#include "lumivex/diffraction.h"
#include "lumivex/glass.h"
#include "lumivex/lensfile.h"
#include "lumivex/surfaces.h"

using namespace lumivex;

namespace {

// The F, d and C lines in millimetres.
const double kWavelengths[3] = {4.861327e-4, 5.875618e-4, 6.562725e-4};

// The classic Cooke triplet of f = 50, F/5 (N-SK16, F2, N-SK16), its stop on
// the first surface so that the collimated beams fill it; the indices of
// the catalogue at the wavelength. Each record's index is the medium in
// front of the surface.
TOpticalSystem triplet(double wavelength) {
    const TGlassCatalog& glasses = TGlassCatalog::builtin();
    const double sk16 = glasses.index("N-SK16", wavelength, TLengthUnit::millimetre);
    const double f2 = glasses.index("F2", wavelength, TLengthUnit::millimetre);
    TOpticalSystem system(5.0);
    const double z[6] = {0.0, 3.25896, 9.26651, 10.26648, 15.01689, 17.96897};
    const double radius[6] = {22.01359, -435.76044, -22.21328, 20.29192, 79.68360, -18.39533};
    const double front[6] = {1.0, sk16, 1.0, f2, 1.0, sk16};
    for (int i = 0; i < 6; ++i)
        system.addElement(new TSphericalLens(z[i], complex(front[i], 0.0), 0.0, radius[i]));
    return system;
}

double wallSeconds(std::chrono::steady_clock::time_point since) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

void BM_TripletMtf(benchmark::State& state) {
    std::vector<TOpticalSystem> systems;
    for (double lambda : kWavelengths) systems.push_back(triplet(lambda));
    TDiffractionSampling sampling;
    sampling.pupilSamples = 64;
    sampling.fftSize = 256;
    double seconds = 0.0, strehl = 0.0;
    for (auto _ : state) {
        const auto t0 = std::chrono::steady_clock::now();
        double imageZ = 0.0;
        for (int field = 0; field < 9; ++field) {
            std::vector<TSpectralSystem> spectrum;
            for (int w = 0; w < 3; ++w) {
                TCollimatedBeam beam;
                beam.wavelength = kWavelengths[(w + 1) % 3];  // d first: the reference
                beam.fieldAngle = field * 2.0 * 3.141592653589793 / 180.0;
                beam.pupilRadius = 5.0;
                spectrum.push_back({&systems[(w + 1) % 3], resolveBeam(systems[(w + 1) % 3], beam), 1.0});
            }
            if (field == 0) imageZ = paraxialImageZ(*spectrum[0].system, spectrum[0].beam);
            const TPsf psf = pointSpread(spectrum, imageZ, sampling);
            const TMtf mtf = modulationTransfer(psf);
            benchmark::DoNotOptimize(mtf.tangential.data());
            if (field == 0) strehl = psf.strehl;
        }
        const double s = wallSeconds(t0);
        seconds += s;
        state.SetIterationTime(s);
    }
    state.counters["axial_strehl"] = strehl;
    const double each = seconds / state.iterations();
    bench::summarize("triplet MTF, 3 wavelengths x 9 fields, 64 pupil, 256 FFT",
                     bench::format("%.3f s", each), "< 1 s", each < 1.0);
}
BENCHMARK(BM_TripletMtf)->UseManualTime()->Iterations(3)->Unit(benchmark::kMillisecond);

// The same work through the prescription: examples/triplet.zmx (F/3, its
// stop between the first two elements, every ray aimed at it), its three
// wavelengths with their weights and nine fields from the axis to 14°.
void BM_PrescriptionTripletMtf(benchmark::State& state) {
    TPrescription lens = importZmxPrescription(LUMIVEX_EXAMPLES_DIR "/triplet.zmx").prescription;
    lens.fields.clear();
    for (int k = 0; k < 9; ++k) lens.fields.push_back({14.0 * k / 8, 0.0, 1.0});
    TDiffractionSampling sampling;
    sampling.pupilSamples = 64;
    sampling.fftSize = 256;
    double seconds = 0.0;
    for (auto _ : state) {
        const auto t0 = std::chrono::steady_clock::now();
        for (int field = 0; field < 9; ++field) {
            const TMtf mtf = modulationTransfer(lens, field, std::numeric_limits<double>::quiet_NaN(),
                                                {}, sampling);
            benchmark::DoNotOptimize(mtf.tangential.data());
        }
        const double s = wallSeconds(t0);
        seconds += s;
        state.SetIterationTime(s);
    }
    const double each = seconds / state.iterations();
    bench::summarize("triplet.zmx MTF as a prescription, 3 wavelengths x 9 fields, 64 pupil, 256 FFT",
                     bench::format("%.3f s", each), "< 1 s", each < 1.0);
}
BENCHMARK(BM_PrescriptionTripletMtf)->UseManualTime()->Iterations(3)->Unit(benchmark::kMillisecond);

void BM_LargePupilPsf(benchmark::State& state) {
    TOpticalSystem system = triplet(kWavelengths[1]);
    TCollimatedBeam beam;
    beam.wavelength = kWavelengths[1];
    beam.pupilRadius = 5.0;
    beam = resolveBeam(system, beam);
    TDiffractionSampling sampling;
    sampling.pupilSamples = 512;  // and the default FFT of 4 × 512
    double seconds = 0.0;
    int size = 0;
    for (auto _ : state) {
        const auto t0 = std::chrono::steady_clock::now();
        const TPsf psf = pointSpread(system, beam, std::numeric_limits<double>::quiet_NaN(), sampling);
        benchmark::DoNotOptimize(psf.image.data());
        const double s = wallSeconds(t0);
        seconds += s;
        size = psf.size;
        state.SetIterationTime(s);
    }
    const double each = seconds / state.iterations();
    bench::summarize("PSF of a 512 x 512 pupil, " + std::to_string(size) + " FFT",
                     bench::format("%.3f s", each), "< 2 s", each < 2.0);
}
BENCHMARK(BM_LargePupilPsf)->UseManualTime()->Iterations(2)->Unit(benchmark::kMillisecond);

}  // namespace
