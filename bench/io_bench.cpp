// SPDX-License-Identifier: Apache-2.0
// Benchmarks reported without a floor: the field round trip and the system
// description.
#include <benchmark/benchmark.h>

#include <cmath>
#include <sstream>
#include <string>

#include "bench/report.h"
#include "lumivex/field.h"
#include "lumivex/grin.h"
#include "lumivex/surfaces.h"
#include "lumivex/system.h"

using namespace lumivex;

namespace {

// A Gaussian beam of 1024 samples 0.02 apart (waist 5) becomes 256 beams,
// passes the singlet of the tracing benchmarks to a plane at z = 20, ahead of
// every crossing of the rays, and becomes 1024 samples again.
void BM_FieldRoundTrip(benchmark::State& state) {
    const int samples = 1024, beams = 256;
    const double dx = 0.02;
    TMatrix field(samples, 1);
    for (int c = 0; c < samples; ++c) {
        const double x = (c - (samples - 1) * 0.5) * dx;
        field.at(c, 0) = complex(std::exp(-(x * x) / 25.0), 0.0);
    }
    TOpticalSystem system(12.0);
    system.addElement(new TSphericalLens(0.0, complex(1.0, 0.0), 0.0, 50.0));
    system.addElement(new TSphericalLens(5.0, complex(1.5168, 0.0), 0.0, -50.0));
    system.addElement(new TSlab(20.0, complex(1.0, 0.0)));
    const double fanWidth = (samples - 2) * dx;
    TMatrix out(samples, 1);
    double power = 0.0, elapsed = 0.0;
    for (auto _ : state) {
        const auto t0 = bench::Clock::now();
        TBeamFan fan;
        fieldToBeamFan(field, dx, dx, beams, 1, 5e-4, fan);
        system.traceBeamFan(fan);
        beamFanToField(fan, 0.013, dx, fanWidth, 0.0, &out);
        benchmark::DoNotOptimize(out.data);
        elapsed += bench::seconds(t0, bench::Clock::now());
    }
    // The power in and out, as a check that the round trip is the physics.
    double powerIn = 0.0;
    for (int c = 0; c < samples; ++c) {
        power += std::norm(out.at(c, 0)) * 0.013;
        powerIn += std::norm(field.at(c, 0)) * dx;
    }
    state.counters["power_in"] = powerIn;
    state.counters["power_out"] = power;
    const double ms = elapsed / state.iterations() * 1e3;
    bench::summarize("field round trip", bench::format("%.2f ms per round trip", ms), "");
}
BENCHMARK(BM_FieldRoundTrip)->Unit(benchmark::kMillisecond);

void fillDescription(TOpticalSystem& system, int records) {
    for (int i = 0; i < records; ++i) {
        const double z = 0.5 * i;
        switch (i % 3) {
            case 0:
                system.addElement(new TSlab(z, complex(1.5168, 0.0)));
                break;
            case 1:
                system.addElement(new TLens(z, complex(1.0, 0.0), 0.25, 1.5, -100.0 - i));
                break;
            default:
                system.addElement(new TGrinRod(z, 1.6, 0.2, 0.01 * (i % 7), 0.0));
                break;
        }
    }
}

void BM_WriteDescription(benchmark::State& state) {
    TOpticalSystem system(5.0);
    fillDescription(system, 10000);
    std::size_t bytes = 0;
    double elapsed = 0.0;
    for (auto _ : state) {
        const auto t0 = bench::Clock::now();
        std::ostringstream os;
        system.operator<<(os);
        bytes = os.str().size();
        elapsed += bench::seconds(t0, bench::Clock::now());
    }
    state.counters["bytes"] = static_cast<double>(bytes);
    bench::summarize("write 10,000 records",
                     bench::format("%.2f ms", elapsed / state.iterations() * 1e3), "");
}
BENCHMARK(BM_WriteDescription)->Unit(benchmark::kMillisecond);

void BM_ReadDescription(benchmark::State& state) {
    TOpticalSystem source(5.0);
    fillDescription(source, 10000);
    std::ostringstream os;
    source.operator<<(os);
    const std::string text = os.str();
    int elements = 0;
    double elapsed = 0.0;
    for (auto _ : state) {
        const auto t0 = bench::Clock::now();
        std::istringstream is(text);
        TOpticalSystem system(1.0);
        system.operator>>(is);
        elements = system.getSize();
        elapsed += bench::seconds(t0, bench::Clock::now());
    }
    state.counters["records"] = elements;
    bench::summarize("read 10,000 records",
                     bench::format("%.2f ms", elapsed / state.iterations() * 1e3) +
                         bench::format(" (%.0f records read)", elements),
                     "");
}
BENCHMARK(BM_ReadDescription)->Unit(benchmark::kMillisecond);

}  // namespace
