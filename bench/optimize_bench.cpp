// Optimization of a Cooke triplet: the exact Jacobian against the same
// Jacobian by central differences, one damped-least-squares iteration, and a
// recovery from curvatures perturbed by 10 %. Wall-clock times, since the
// Jacobian is evaluated on every core.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cmath>
#include <random>

#include "bench/report.h"
#include "lumivex/analysis.h"
#include "lumivex/optimize.h"
#include "lumivex/surfaces.h"

using namespace lumivex;

namespace {

// F, d and C lines in millimetres.
constexpr double kLines[3] = {4.861327e-4, 5.875618e-4, 6.562725e-4};

// A model glass's index at a wavelength in mm: the Cauchy law through nd
// with nF − nC = (nd − 1)/vd.
double cauchy(double nd, double vd, double lambda) {
    const double um = lambda * 1e3;
    const double B = (nd - 1.0) / vd / (1.0 / (0.4861327 * 0.4861327) - 1.0 / (0.6562725 * 0.6562725));
    return nd - B / (0.5875618 * 0.5875618) + B / (um * um);
}

// A Cooke triplet of focal length about 50 at F/5: SK16, F2, SK16, with its
// image plane at the paraxial focus of the d line.
TOpticalSystem triplet(double lambda) {
    const double R[6] = {21.48, -124.1, -19.1, 22.0, 328.9, -16.7};
    const double z[6] = {0.0, 2.0, 7.26, 8.51, 13.2, 15.45};
    const double crown = cauchy(1.6204, 60.3, lambda), flint = cauchy(1.62004, 36.37, lambda);
    const double n[6] = {1.0, crown, 1.0, flint, 1.0, crown};
    TOpticalSystem system(8.0);
    for (int i = 0; i < 6; ++i)
        system.addElement(new TGeneralLens(z[i], complex(n[i], 0.0), 0.0, R[i], 0.0));
    system.addElement(new TSlab(57.0, complex(1.0, 0.0)));
    TCollimatedBeam beam;
    beam.wavelength = kLines[1];
    beam.pupilRadius = 5.0;
    if (lambda == kLines[1]) {
        system[6]->zPosition = paraxialImageZ(system, resolveBeam(system, beam));
    } else {
        system[6]->zPosition = triplet(kLines[1])[6]->zPosition;
    }
    return system;
}

// Three wavelengths, 3 fields × 3 wavelengths of RMS spots from 1,027 rays
// each, and the focal length held at 50; 6 curvatures and 5 thicknesses
// (the last to the image) vary.
struct Design {
    TOpticalSystem systems[3] = {triplet(kLines[1]), triplet(kLines[0]), triplet(kLines[2])};
    TMeritFunction merit{systems[0], kLines[1], 5.0};

    Design() {
        merit.addConfiguration(systems[1], kLines[0]);
        merit.addConfiguration(systems[2], kLines[2]);
        for (int i = 0; i < 6; ++i) merit.variables.push_back({TVariableKind::curvature, i});
        for (int i : {1, 2, 3, 4, 5}) merit.variables.push_back({TVariableKind::thickness, i});
        for (int c = 0; c < 3; ++c)
            for (double field : {0.0, 0.17, 0.35}) {  // 0, 10 and 20 degrees
                TOperand op;
                op.configuration = c;
                op.fieldAngle = field;
                op.rays = 1000;
                merit.operands.push_back(op);
            }
        TOperand efl;
        efl.kind = TOperandKind::efl;
        efl.target = 50.0;
        efl.weight = 1e-2;
        merit.operands.push_back(efl);
    }
};

double wallSeconds(std::chrono::steady_clock::time_point a) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - a).count();
}

void BM_TripletJacobian(benchmark::State& state) {
    Design d;
    double best = 1e300;
    std::size_t rows = 0;
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        const TEvaluation e = d.merit.evaluate(true);
        const double s = wallSeconds(start);
        rows = e.rows;
        best = std::min(best, s);
        state.SetIterationTime(s);
    }
    bench::summarize("triplet Jacobian, exact",
                     bench::format("%.2f ms", best * 1e3) +
                         bench::format(" (%.0f rows x %.0f variables)", static_cast<double>(rows), 11.0),
                     "<= 15 ms", best <= 15e-3);
}
BENCHMARK(BM_TripletJacobian)->UseManualTime()->Unit(benchmark::kMillisecond)->MinTime(1.0);

void BM_TripletJacobianByDifferences(benchmark::State& state) {
    Design d;
    double best = 1e300;
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        benchmark::DoNotOptimize(d.merit.evaluateByDifferences(1e-6));
        const double s = wallSeconds(start);
        best = std::min(best, s);
        state.SetIterationTime(s);
    }
    bench::summarize("triplet Jacobian, central diff.", bench::format("%.2f ms", best * 1e3), "");
}
BENCHMARK(BM_TripletJacobianByDifferences)->UseManualTime()->Unit(benchmark::kMillisecond);

// The design with every curvature off by ±10 % (fixed seed).
std::vector<double> perturbed(TMeritFunction& merit) {
    std::vector<double> x = merit.values();
    std::mt19937_64 engine(2025);
    for (int i = 0; i < 6; ++i) x[static_cast<std::size_t>(i)] *= (engine() & 1) ? 1.1 : 0.9;
    return x;
}

void BM_TripletIteration(benchmark::State& state) {
    Design d;
    const std::vector<double> start = perturbed(d.merit);
    TOptimizeOptions options;
    options.maxIterations = 1;
    double best = 1e300;
    for (auto _ : state) {
        d.merit.setValues(start);
        const auto t0 = std::chrono::steady_clock::now();
        benchmark::DoNotOptimize(optimize(d.merit, options));
        const double s = wallSeconds(t0);
        best = std::min(best, s);
        state.SetIterationTime(s);
    }
    bench::summarize("triplet DLS iteration", bench::format("%.2f ms", best * 1e3), "<= 30 ms",
                     best <= 30e-3);
}
BENCHMARK(BM_TripletIteration)->UseManualTime()->Unit(benchmark::kMillisecond);

void BM_TripletRecovery(benchmark::State& state) {
    Design d;
    const std::vector<double> design = d.merit.values();
    const double reference = d.merit.evaluate().merit;
    const std::vector<double> start = perturbed(d.merit);
    TOptimizeOptions options;
    options.maxIterations = 200;
    double best = 1e300, reached = 0.0, from = 0.0;
    int iterations = 0;
    for (auto _ : state) {
        d.merit.setValues(start);
        from = d.merit.evaluate().merit;
        // Until the merit is back within 1 % of the design's.
        options.progress = [&](const TIterationReport& r) { return r.merit > 1.01 * reference; };
        const auto t0 = std::chrono::steady_clock::now();
        const TOptimizeResult result = optimize(d.merit, options);
        const double s = wallSeconds(t0);
        reached = result.after.merit;
        iterations = result.iterations;
        best = std::min(best, s);
        state.SetIterationTime(s);
    }
    d.merit.setValues(design);
    const bool met = reached <= 1.01 * reference && best <= 2.0;
    bench::summarize("triplet recovery from 10 % off",
                     bench::format("%.3f s, merit %.3g", best, from) +
                         bench::format(" -> %.3g (design %.3g)", reached, reference) +
                         bench::format(", %.0f iterations", static_cast<double>(iterations)),
                     "<= 2 s to within 1 %", met);
}
BENCHMARK(BM_TripletRecovery)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(1);

}  // namespace
