// SPDX-License-Identifier: Apache-2.0
// Tracing benchmarks: each pass traces the same rays through the library and
// through its floor, one after the other in the same iteration, so the ratio
// of the two holds on a noisy machine.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include <hwy/targets.h>

#include "bench/floor.h"
#include "bench/report.h"
#include "bench/soa_floor.h"
#include "lumivex/grin.h"
#include "lumivex/surfaces.h"
#include "lumivex/system.h"
#include "lumivex/trace.h"
#include "trace/kernels.h"

using namespace lumivex;

namespace {

using bench::Clock;
using bench::Record;

constexpr double kWavelength = 5e-4;

// What one scenario gathers over all its iterations.
struct Tally {
    double library = 0.0;  // seconds
    double floor = 0.0;
    std::int64_t surfaces = 0;  // ray-surfaces traced by the library
    std::int64_t allocations = 0;
    std::int64_t failures = 0;       // rays the library could not trace
    std::int64_t floorFailures = 0;  // rays the floor could not trace
    std::int64_t steps = 0;          // search or integration steps, counted by the floor
    std::int64_t floorRays = 0;

    void report(benchmark::State& state, const std::string& scenario, double targetNs,
                double targetRatio, bool perRayMicroseconds = false, int surfacesPerRay = 1,
                const char* stepsName = nullptr) {
        const double ratio = library / floor;
        state.counters["ratio"] = ratio;
        state.counters["allocs/surf"] = static_cast<double>(allocations) / surfaces;
        if (failures) state.counters["failures"] = static_cast<double>(failures);
        std::string figure;
        std::string target;
        bool met = true;
        if (perRayMicroseconds) {
            const double rays = static_cast<double>(surfaces) / surfacesPerRay;
            const double us = library / rays * 1e6;
            state.counters["us/ray"] = us;
            state.counters["floor_us"] = floor / rays * 1e6;
            figure = bench::format("%.1f us/ray", us) +
                     bench::format(", floor %.1f", floor / rays * 1e6);
            target = bench::format("<= %.0f us", targetNs / 1000.0);
            met = us <= targetNs / 1000.0;
        } else {
            const double ns = library / surfaces * 1e9;
            state.counters["ns/surf"] = ns;
            state.counters["floor_ns"] = floor / surfaces * 1e9;
            figure = bench::format("%.0f ns/ray-surface", ns) +
                     bench::format(", floor %.0f", floor / surfaces * 1e9);
            if (targetNs > 0) {
                target = bench::format("<= %.0f ns", targetNs);
                met = ns <= targetNs;
            }
        }
        figure += bench::format(", ratio %.2f", ratio);
        if (targetRatio > 0) {
            target += (target.empty() ? "" : ", ") + bench::format("ratio <= %.1f", targetRatio);
            met = met && ratio <= targetRatio;
        }
        if (stepsName && floorRays > 0) {
            const double perRay = static_cast<double>(steps) / floorRays;
            state.counters[stepsName] = perRay;
            figure += bench::format(", %.1f ", perRay) + stepsName;
        }
        if (failures || floorFailures) {
            const double rays = static_cast<double>(surfaces) / surfacesPerRay;
            figure += bench::format(", %.1f%% failed (floor %.1f%%)", 100.0 * failures / rays,
                                    100.0 * floorFailures / rays);
        }
        bench::summarize(scenario, figure, target, met);
    }
};

// Times `library` and `floor` once each per iteration.
template <class Library, class Floor>
void measure(benchmark::State& state, Tally& tally, const Library& library, const Floor& floor) {
    for (auto _ : state) {
        const auto before = bench::heapCount().allocations;
        const auto t0 = Clock::now();
        library();
        const auto t1 = Clock::now();
        tally.allocations += bench::heapCount().allocations - before;
        floor();
        const auto t2 = Clock::now();
        const double lib = bench::seconds(t0, t1);
        tally.library += lib;
        tally.floor += bench::seconds(t1, t2);
        state.SetIterationTime(lib);
    }
}

// ---- singlet -----------------------------------------------------------------

// A biconvex singlet of radii ±50 and thickness 5 in N-BK7 (1.5168), the
// image plane at its paraxial focus.
constexpr double kImagePlane = 52.536227;

void fillSinglet(TOpticalSystem& system, double imagePlane) {
    system.addElement(new TSphericalLens(0.0, complex(1.0, 0.0), 0.0, 50.0));
    system.addElement(new TSphericalLens(5.0, complex(1.5168, 0.0), 0.0, -50.0));
    system.addElement(new TSlab(imagePlane, complex(1.0, 0.0)));
}

// Where the ray meets the sphere of signed radius R with its vertex at z0,
// in closed form, and the outward unit normal there.
bool sphereHit(const Record& in, double z0, double R, TVector& P, TVector& N) {
    const TVector C(0.0, 0.0, z0 + R);
    const TVector o = in.position - C;
    const double b = o.dot(in.kVector);
    const double disc = b * b - (o.dot(o) - R * R);
    if (disc < 0.0) return false;
    const double t = R > 0.0 ? -b - std::sqrt(disc) : -b + std::sqrt(disc);
    P = in.position + in.kVector * t;
    N = (C - P) * (1.0 / R);
    return true;
}

void BM_Singlet(benchmark::State& state) {
    const int n = 100000;
    TOpticalSystem system(12.0);
    fillSinglet(system, kImagePlane);
    std::vector<TVector> starts(n);
    for (int i = 0; i < n; ++i) starts[i] = bench::vogelPoint(i, n, 9.99, -10.0);
    std::vector<Record> records(3);
    double optRadius[3] = {0, 0, 0};

    Tally tally;
    double libraryRms = 0.0, floorRms = 0.0;
    const auto library = [&] {
        double sum = 0.0;
        for (int i = 0; i < n; ++i) {
            TBeam beam(kWavelength);
            beam.addNode(TBeamNode(starts[i], TVector(0, 0, 1), 1.0, TVector(1, 0, 0), 0.0));
            try {
                system.traceBeam(beam);
            } catch (const xmsg&) {
                ++tally.failures;
                continue;
            }
            const TVector& p = beam.getLast().position;
            sum += p.x * p.x + p.y * p.y;
        }
        libraryRms = std::sqrt(sum / n);
        tally.surfaces += 3LL * n;
    };
    const auto floor = [&] {
        double sum = 0.0;
        for (int i = 0; i < n; ++i) {
            const Record start{starts[i], TVector(0, 0, 1), TVector(1, 0, 0), 1.0, 0.0};
            Record* out = records.data();
            TVector P, N;
            if (!sphereHit(start, 0.0, 50.0, P, N) ||
                !bench::traceSurface(start, P, N, 1.0, 1.5168, kWavelength, optRadius[0], out[0]) ||
                !sphereHit(out[0], 5.0, -50.0, P, N) ||
                !bench::traceSurface(out[0], P, N, 1.5168, 1.0, kWavelength, optRadius[1],
                                     out[1])) {
                ++tally.floorFailures;
                continue;
            }
            P = bench::planeHit(out[1], kImagePlane);
            if (!bench::traceSurface(out[1], P, TVector(0, 0, 1), 1.0, 1.0, kWavelength,
                                     optRadius[2], out[2])) {
                ++tally.floorFailures;
                continue;
            }
            sum += P.x * P.x + P.y * P.y;
            benchmark::ClobberMemory();  // the records are stored, as nodes are
        }
        floorRms = std::sqrt(sum / n);
    };
    measure(state, tally, library, floor);
    state.counters["rms_spot"] = libraryRms;
    tally.report(state, "singlet", 200.0, 0.0);
    bench::summarize("singlet RMS spot radius",
                     bench::format("%.6f (closed-form floor %.6f)", libraryRms, floorRms), "");
}
BENCHMARK(BM_Singlet)->UseManualTime()->Unit(benchmark::kMillisecond);

// ---- ten slabs ------------------------------------------------------------------

void BM_TenSlabs(benchmark::State& state) {
    const int n = 100000;
    TOpticalSystem system(12.0);
    double index[10];
    for (int i = 0; i < 10; ++i) {
        index[i] = i % 2 == 0 ? 1.0 : 1.5;
        system.addElement(new TSlab(1.0 + i, complex(index[i], 0.0)));
    }
    // Converging rays, up to 14 degrees off the axis.
    std::vector<TVector> starts(n), directions(n);
    for (int i = 0; i < n; ++i) {
        starts[i] = bench::vogelPoint(i, n, 5.0, 0.0);
        directions[i] = TVector(-starts[i].x / 20.0, -starts[i].y / 20.0, 1.0).unit();
    }
    std::vector<Record> records(10);
    double optRadius[10] = {};

    Tally tally;
    double libraryCheck = 0.0, floorCheck = 0.0;
    const auto library = [&] {
        double sum = 0.0;
        for (int i = 0; i < n; ++i) {
            TBeam beam(kWavelength);
            beam.addNode(TBeamNode(starts[i], directions[i], 1.0, TVector(1, 0, 0), 0.0));
            try {
                system.traceBeam(beam);
            } catch (const xmsg&) {
                ++tally.failures;
                continue;
            }
            sum += beam.getLast().intensity;
        }
        libraryCheck = sum;
        tally.surfaces += 10LL * n;
    };
    const auto floor = [&] {
        double sum = 0.0;
        for (int i = 0; i < n; ++i) {
            Record previous{starts[i], directions[i], TVector(1, 0, 0), 1.0, 0.0};
            Record* out = records.data();
            bool ok = true;
            for (int s = 0; s < 10 && ok; ++s) {
                const TVector P = bench::planeHit(previous, 1.0 + s);
                const double n2 = s + 1 < 10 ? index[s + 1] : 1.0;
                ok = bench::traceSurface(previous, P, TVector(0, 0, 1), index[s], n2, kWavelength,
                                         optRadius[s], out[s]);
                previous = out[s];
            }
            if (!ok) {
                ++tally.floorFailures;
                continue;
            }
            sum += previous.intensity;
            benchmark::ClobberMemory();
        }
        floorCheck = sum;
    };
    measure(state, tally, library, floor);
    tally.report(state, "ten slabs", 100.0, 0.0);
    if (std::fabs(libraryCheck - floorCheck) > 1e-9 * std::fabs(floorCheck))
        std::printf("ten slabs: library and floor disagree (%.17g vs %.17g)\n", libraryCheck,
                    floorCheck);
}
BENCHMARK(BM_TenSlabs)->UseManualTime()->Unit(benchmark::kMillisecond);

// ---- one surface of each searched kind ----------------------------------------------

// Tilted collimated rays from z = −10 over a radius of 9.99, through one
// surface into `next`. The floor traces the same rays with the same search,
// whose steps it counts.
template <class Height, class Slope>
void searchedSurface(benchmark::State& state, const std::string& scenario, TSurface& surface,
                     const TElement& next, double n1, double n2, const Height& height,
                     const Slope& slope) {
    const int n = 20000;
    const TVector k = TVector(0.05, 0.02, 1.0).unit();
    std::vector<TVector> starts(n);
    for (int i = 0; i < n; ++i) starts[i] = bench::vogelPoint(i, n, 9.99, -10.0);
    Record record;
    double optRadius = 0.0;
    const double z0 = surface.zPosition;

    Tally tally;
    double libraryCheck = 0.0, floorCheck = 0.0;
    const auto library = [&] {
        double sum = 0.0;
        for (int i = 0; i < n; ++i) {
            TBeam beam(kWavelength);
            beam.addNode(TBeamNode(starts[i], k, 1.0, TVector(1, 0, 0), 0.0));
            try {
                surface.traceBeam(beam, next);
            } catch (const xmsg&) {
                ++tally.failures;
                continue;
            }
            sum += beam.getLast().intensity;
        }
        libraryCheck = sum;
        tally.surfaces += n;
    };
    const auto floor = [&] {
        double sum = 0.0;
        for (int i = 0; i < n; ++i) {
            const Record start{starts[i], k, TVector(1, 0, 0), 1.0, 0.0};
            TVector P;
            if (!bench::searchHit(start, z0, height, P, tally.steps)) {
                ++tally.floorFailures;
                continue;
            }
            const TVector s = slope(P);
            if (!bench::traceSurface(start, P, bench::normalFromSlopes(s.x, s.y), n1, n2,
                                     kWavelength, optRadius, record)) {
                ++tally.floorFailures;
                continue;
            }
            sum += record.intensity;
            benchmark::ClobberMemory();
        }
        floorCheck = sum;
        tally.floorRays += n;
    };
    measure(state, tally, library, floor);
    tally.report(state, scenario, 0.0, 1.5, false, 1, "steps");
    if (std::fabs(libraryCheck - floorCheck) > 1e-9 * std::fabs(floorCheck))
        std::printf("%s: library and floor disagree (%.17g vs %.17g)\n", scenario.c_str(),
                    libraryCheck, floorCheck);
}

// TLens: the conic of the description format, here R = 50 and κ = −(1/1.5)².
void BM_ConicLens(benchmark::State& state) {
    TLens lens(0.0, complex(1.0, 0.0), 0.0, 1.5, -100.0);
    const TSlab glass(30.0, complex(1.5, 0.0));
    const double C = 1.0 / lens.curvatureRadius;
    const double kappa = lens.conicConstant;
    const auto height = [C, kappa](const TVector& p) {
        const double rho = math::sqrt(p.x * p.x + p.y * p.y);
        return C * rho * rho / (1.0 + math::sqrt(1.0 - (1.0 + kappa) * C * C * rho * rho));
    };
    const auto slope = [C, kappa](const TVector& p) {
        const double rho = math::sqrt(p.x * p.x + p.y * p.y);
        const double w = math::sqrt(1.0 - (1.0 + kappa) * C * C * rho * rho);
        const double S = C * C * C * rho * rho * (kappa + 1.0) / (w * (1.0 + w) * (1.0 + w)) +
                         2.0 * C / (1.0 + w);
        return TVector(S * p.x, S * p.y, 0.0);
    };
    searchedSurface(state, "conic TLens", lens, glass, 1.0, 1.5, height, slope);
}
BENCHMARK(BM_ConicLens)->UseManualTime()->Unit(benchmark::kMillisecond);

// A Fresnel facet profile in glass (f = 50, relative index 1.5) folded into
// zones 0.5 deep.
void BM_FresnelLens(benchmark::State& state) {
    TFresnelLens lens(0.0, complex(1.5, 0.0), 0.5, 1.5, 50.0);
    const TElement air(0.0);
    const double e = lens.indexRatio, c = lens.focalLength, modulus = lens.heightModulus;
    const auto height = [e, c, modulus](const TVector& p) {
        const double u = math::sqrt(p.x * p.x + p.y * p.y) / c;
        const double s = math::sqrt(u * u + 1.0);
        const double e2 = e * e;
        const double A = c * ((1.0 + u * u) * e2 - 1.0);
        const double B = (1.0 + u * u) * e2 + 1.0 + 2.0 * e * s;
        const double h = -c * (math::log(A * A / (B * (e2 * e2))) + 2.0 * e * s) / (2.0 * e2);
        return math::fmod(h, modulus);
    };
    const auto slope = [e, c](const TVector& p) {
        const double u = math::sqrt(p.x * p.x + p.y * p.y) / c;
        const double s = math::sqrt(u * u + 1.0);
        const double D = (s * e - 1.0) * c;
        if (D == 0.0) return TVector();
        return TVector(-p.x / D, -p.y / D, 0.0);
    };
    searchedSurface(state, "folded TFresnelLens", lens, air, 1.5, 1.0, height, slope);
}
BENCHMARK(BM_FresnelLens)->UseManualTime()->Unit(benchmark::kMillisecond);

// The sphere R = 50 sampled on 101 × 101 points 0.2 apart.
void BM_MatrixLens(benchmark::State& state) {
    TMatrixLens lens(0.0, complex(1.0, 0.0), 50.0, 0.0, 0.0, 101, 101, 0.2, 0.2);
    const TSlab glass(30.0, complex(1.5, 0.0));
    const int columns = lens.heightTable->columns, rows = lens.heightTable->rows;
    std::vector<double> table(static_cast<std::size_t>(columns) * rows);
    for (std::size_t i = 0; i < table.size(); ++i) table[i] = lens.heightTable->data[i].real();
    const double dx = lens.dx, dy = lens.dy;
    const auto cell = [](double u, double spacing, int count, int& index) {
        const double t = u / spacing + 0.5 * count;
        if (!(t > -1.0 && t < count)) return false;
        index = static_cast<int>(t);
        return true;
    };
    const auto at = [&table, columns](int c, int r) {
        return table[static_cast<std::size_t>(r) * columns + c];
    };
    const auto height = [&](const TVector& p) {
        int c, r;
        if (!cell(p.x, dx, columns, c) || !cell(p.y, dy, rows, r)) return 0.0;
        return at(c, r);
    };
    const auto axisSlope = [](int i, int count, double spacing, const auto& sample) {
        if (count <= 1) return 0.0;
        const double h0 = sample(i);
        if (i == count - 1) return (h0 - sample(i - 1)) / spacing;
        const double hPlus = sample(i + 1);
        if (i == 0 || std::fabs(hPlus - h0) < spacing) return (hPlus - h0) / spacing;
        return (h0 - sample(i - 1)) / spacing;
    };
    const auto slope = [&](const TVector& p) {
        int c = 0, r = 0;
        if (columns > 1 && !cell(p.x, dx, columns, c)) return TVector();
        if (rows > 1 && !cell(p.y, dy, rows, r)) return TVector();
        const double sx = axisSlope(c, columns, dx, [&](int k) { return at(k, r); });
        const double sy = axisSlope(r, rows, dy, [&](int k) { return at(c, k); });
        return TVector(sx, sy, 0.0);
    };
    searchedSurface(state, "101x101 TMatrixLens", lens, glass, 1.0, 1.5, height, slope);
}
BENCHMARK(BM_MatrixLens)->UseManualTime()->Unit(benchmark::kMillisecond);

// ---- gradient-index rod --------------------------------------------------------------

struct Rod {
    double z, n0, g, h4, h6;
    double step;

    double index(const TVector& p) const {
        const double u = g * math::sqrt(p.x * p.x + p.y * p.y);
        const double u2 = u * u;
        return n0 * math::sqrt(((1.0 - u2) + u2 * u2 * h4) + u2 * u2 * u2 * h6);
    }
    // d²u/dz² = c·u for one axis: c is half the transverse derivative of n²
    // over u, scaled by d, with the radius of pos; the same for all stages.
    double factor(const TVector& pos, double d) const {
        const double r = math::sqrt(pos.x * pos.x + pos.y * pos.y);
        const double r2 = r * r;
        const double g2 = g * g;
        const double g4 = g2 * g2;
        const double g6 = g4 * g2;
        return n0 * n0 * d * (2.0 * h4 * g4 * r2 + 3.0 * h6 * g6 * r2 * r2 - g * g);
    }
    // The classical Runge–Kutta step with the library's step control.
    void rungeKutta(double& u, double& s, double h, double c) {
        const double a1 = s * h, b1 = c * u * h;
        const double a2 = (s + b1 * 0.5) * h, b2 = c * (u + a1 * 0.5) * h;
        const double a3 = (s + b2 * 0.5) * h, b3 = c * (u + a2 * 0.5) * h;
        const double a4 = (s + b3) * h, b4 = c * (u + a3) * h;
        u = u + (a1 + a2 * 2.0 + a3 * 2.0 + a4) * 0.16666666666666666;
        s = s + (b1 + b2 * 2.0 + b3 * 2.0 + b4) * 0.16666666666666666;
        step = h;
        const double qx = std::fabs(a2 - a1) < 1e-40 ? 0.0 : 2.0 * std::fabs((a3 - a2) / (a2 - a1));
        const double qy = std::fabs(b2 - b1) < 1e-40 ? 0.0 : 2.0 * std::fabs((b3 - b2) / (b2 - b1));
        const double q = qx <= qy ? qx : qy;
        if (q < 0.0002) step = 2.0 * step;
        if (q > 0.0016) step = 0.5 * step;
        if (step < 1e-8) step = 1e-8;
    }
};

// The rod from its entry node to its exit node, recording as the library
// does; returns the number of records written after `out`.
int traceRod(Rod& rod, const Record& entry, double wavelength, double& optRadius, Record* out,
             std::int64_t& steps) {
    const TVector K0 = entry.kVector;
    const TVector V0 = entry.polarization;
    double phase = entry.opticalPath;
    rod.step = 6e-7;
    const double nEntry = rod.index(entry.position);
    const double sx0 = K0.x / K0.z, sy0 = K0.y / K0.z;
    const double D = (1.0 + sx0 * sx0 + sy0 * sy0) / nEntry / nEntry;
    const double length = rod.z - entry.position.z;
    double zNext = entry.position.z + length / 50;
    TVector P = entry.position, K = K0, Pprev = P;
    int written = 0;
    for (;;) {
        // One step of both axes.
        if (0.0 + rod.z - P.z < rod.step) {
            const double t = (rod.z - P.z) / K.z;
            rod.step = (P.z + K.z * t) - P.z;
        }
        const double h = rod.step;
        const TVector pos(P.x, P.y, P.z + h);
        double ux = P.x, sx = K.x / K.z, uy = P.y, sy = K.y / K.z;
        const double c = rod.factor(pos, D);
        rod.rungeKutta(ux, sx, h, c);
        const double hx = rod.step;
        rod.rungeKutta(uy, sy, h, c);
        const double hy = rod.step;
        rod.step = hx <= hy ? hx : hy;
        P = TVector(ux, uy, P.z + h);
        const double kz = 1.0 / math::sqrt(sx * sx + 1.0 + sy * sy);
        K = TVector(sx * kz, sy * kz, kz);
        ++steps;
        if (!std::isfinite(P.x + P.y + K.x + K.y + K.z)) return -1;

        const TVector delta = P - Pprev;
        const double n = rod.index(Pprev + delta * 0.5);
        phase = phase + delta.length() * n * 2.0 * bench::kPi / wavelength;
        Pprev = P;
        if (P.z >= zNext) {
            out[written++] = Record{P, K, V0, entry.intensity, phase};
            zNext = zNext + length / 50;
            const double rho = math::sqrt(P.x * P.x + P.y * P.y);
            if (rho > optRadius) optRadius = rho;
        }
        if (!(std::fabs(P.z - rod.z - 0.0) > 1e-9)) break;
    }
    // Carry the field from the entry direction to the last one inside.
    TVector V1 = V0;
    const TVector C = K.cross(K0);
    if (C.length() != 0.0) {
        const double d = K.dot(K0);
        const double cosA = std::fabs(d) < 1.0 ? d : 1.0;
        const double sinA = std::fabs(d) < 1.0 ? std::sqrt((1.0 - d) * (1.0 + d)) : 0.0;
        const TVector u = C.unit();
        const double t = 1.0 - cosA;
        V1 = TVector((u.x * u.x * t + cosA) * V0.x + (u.x * u.y * t + u.z * sinA) * V0.y +
                         (u.x * u.z * t - u.y * sinA) * V0.z,
                     (u.x * u.y * t - u.z * sinA) * V0.x + (u.y * u.y * t + cosA) * V0.y +
                         (u.y * u.z * t + u.x * sinA) * V0.z,
                     (u.x * u.z * t + u.y * sinA) * V0.x + (u.y * u.z * t - u.x * sinA) * V0.y +
                         (u.z * u.z * t + cosA) * V0.z);
    }
    TVector Kt, V2;
    double T;
    if (!bench::refract(K, V1, TVector(0, 0, 1), rod.index(P), 1.0, Kt, T, V2)) return -1;
    out[written++] = Record{P, Kt, V2.unit(), entry.intensity * T, phase};
    return written;
}

// A quarter-pitch rod (n0 1.6, g 0.2) behind a slab at z = 0; collimated
// rays up to 1 from the axis enter at the slab.
void BM_GrinRod(benchmark::State& state) {
    const int n = 64;
    const double g = 0.2;
    const double length = bench::kPi / (2.0 * g);
    TOpticalSystem system(2.0);
    system.addElement(new TSlab(0.0, complex(1.0, 0.0)));
    system.addElement(new TGrinRod(length, 1.6, g, 0.0, 0.0));
    std::vector<TVector> starts(n);
    for (int i = 0; i < n; ++i) starts[i] = bench::vogelPoint(i, n, 1.0, -1.0);
    std::vector<Record> records(200);
    double optRadius[2] = {0, 0};
    Rod rod{length, 1.6, g, 0.0, 0.0, 0.0};

    Tally tally;
    std::int64_t libraryNodes = 0, floorNodes = 0;
    double libraryCheck = 0.0, floorCheck = 0.0;
    const auto library = [&] {
        libraryNodes = 0;
        double sum = 0.0;
        for (int i = 0; i < n; ++i) {
            TBeam beam(kWavelength);
            beam.addNode(TBeamNode(starts[i], TVector(0, 0, 1), 1.0, TVector(1, 0, 0), 0.0));
            try {
                system.traceBeam(beam);
            } catch (const xmsg&) {
                ++tally.failures;
                continue;
            }
            libraryNodes += beam.getSize();
            sum += beam.getLast().position.x;
        }
        libraryCheck = sum;
        tally.surfaces += 2LL * n;
    };
    const auto floor = [&] {
        floorNodes = 0;
        double sum = 0.0;
        for (int i = 0; i < n; ++i) {
            const Record start{starts[i], TVector(0, 0, 1), TVector(1, 0, 0), 1.0, 0.0};
            const TVector P = bench::planeHit(start, 0.0);
            if (!bench::traceSurface(start, P, TVector(0, 0, 1), 1.0, rod.index(P), kWavelength,
                                     optRadius[0], records[0])) {
                ++tally.floorFailures;
                continue;
            }
            const int written =
                traceRod(rod, records[0], kWavelength, optRadius[1], &records[1], tally.steps);
            if (written < 0) {
                ++tally.floorFailures;
                continue;
            }
            floorNodes += 2 + written;
            sum += records[written].position.x;
            benchmark::ClobberMemory();
        }
        floorCheck = sum;
        tally.floorRays += n;
    };
    measure(state, tally, library, floor);
    state.counters["nodes/ray"] = static_cast<double>(libraryNodes) / n;
    tally.report(state, "quarter-pitch TGrinRod", 40000.0, 1.3, true, 2, "steps/ray");
    if (libraryNodes != floorNodes || std::fabs(libraryCheck - floorCheck) > 1e-9)
        std::printf("GRIN rod: library and floor disagree (%lld vs %lld nodes, %.17g vs %.17g)\n",
                    static_cast<long long>(libraryNodes), static_cast<long long>(floorNodes),
                    libraryCheck, floorCheck);
}
BENCHMARK(BM_GrinRod)->UseManualTime()->Unit(benchmark::kMillisecond);

// ---- batch tracing -------------------------------------------------------------------

namespace batch {

using Wall = std::chrono::steady_clock;

// The processor time of the whole process: the workers' and the caller's.
double processSeconds() {
    timespec t;
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + 1e-9 * static_cast<double>(t.tv_nsec);
}

// Traces copies of the same batch on one and on two threads. One thread
// traces on the calling thread, so its processor time is the figure. Two
// threads are timed by the wall clock, and by the processor time of the
// process: on a machine whose other core is busy the wall clock shows the
// sharing, while the processor time per ray shows what the second thread
// costs, so 2 × (time on one) / (time on two) is the speed-up two free cores
// give.
//
// With floor surfaces, each iteration also traces the rays through the
// structure-of-arrays floor on the calling thread, and the figure is set
// beside it.
void measureBatch(benchmark::State& state, TOpticalSystem& system, const TRayBatch& rays,
                  int surfacesPerRay, const std::string& scenario, double targetNs,
                  bool perRayMicroseconds, const std::vector<bench::SoaSurface>& floorSurfaces = {},
                  double targetRatio = 0.0, double targetFloorNs = 0.0) {
    double one = 0.0, twoWall = 0.0, twoProcessor = 0.0, floor = 0.0;
    double bestOne = 1e300, bestFloor = 1e300;
    std::int64_t traced = 0, allocations = 0, failures = 0;
    bench::SoaRays soa(rays.size());
    std::vector<double> floorRadius(floorSurfaces.size());
    for (auto _ : state) {
        if (!floorSurfaces.empty()) {
            for (std::size_t i = 0; i < rays.size(); ++i) {
                const TBeamNode& s = rays.last(i);
                soa.px[i] = s.position.x, soa.py[i] = s.position.y, soa.pz[i] = s.position.z;
                soa.kx[i] = s.kVector.x, soa.ky[i] = s.kVector.y, soa.kz[i] = s.kVector.z;
                soa.ex[i] = s.polarization.x, soa.ey[i] = s.polarization.y;
                soa.ez[i] = s.polarization.z;
                soa.intensity[i] = s.intensity, soa.phase[i] = s.opticalPath;
            }
            const auto f0 = Clock::now();
            bench::traceSoa(soa, floorSurfaces, kWavelength, floorRadius.data());
            const double f = bench::seconds(f0, Clock::now());
            floor += f;
            bestFloor = std::min(bestFloor, f);
            benchmark::DoNotOptimize(soa.px.data());
        }
        TRayBatch batch = rays;
        TTraceOptions options;
        options.threads = 1;
        const auto before = bench::heapCount().allocations;
        const auto t0 = Clock::now();
        traceRays(system, batch, options);
        const auto t1 = Clock::now();
        allocations += bench::heapCount().allocations - before;
        for (std::size_t i = 0; i < batch.size(); ++i) failures += !batch.ok(i);
        one += bench::seconds(t0, t1);
        bestOne = std::min(bestOne, bench::seconds(t0, t1));
        state.SetIterationTime(bench::seconds(t0, t1));

        batch = rays;
        options.threads = 2;
        const double p0 = processSeconds();
        const auto w0 = Wall::now();
        traceRays(system, batch, options);
        twoWall += std::chrono::duration<double>(Wall::now() - w0).count();
        twoProcessor += processSeconds() - p0;
        traced += static_cast<std::int64_t>(rays.size());
    }
    const double perSecondOne = traced / one;
    const double perSecondTwo = traced / twoWall;
    const double speedUp = 2.0 * one / twoProcessor;
    const double surfaces = static_cast<double>(traced) * surfacesPerRay;
    state.counters["rays/s 1T"] = perSecondOne;
    state.counters["rays/s 2T"] = perSecondTwo;
    state.counters["allocs/ray"] = static_cast<double>(allocations) / traced;
    std::string figure, target;
    bool met;
    if (perRayMicroseconds) {
        const double us = one / traced * 1e6;
        figure = bench::format("%.1f us/ray", us);
        target = bench::format("<= %.0f us", targetNs / 1000.0);
        met = us <= targetNs / 1000.0;
    } else {
        const double ns = one / surfaces * 1e9;
        figure = bench::format("%.1f ns/ray-surface", ns);
        target = bench::format("<= %.0f ns", targetNs);
        met = ns <= targetNs;
    }
    if (!floorSurfaces.empty()) {
        // The best of the repetitions, each against the floor's best.
        const double perSurface = static_cast<double>(rays.size()) * surfacesPerRay;
        const double bestNs = bestOne / perSurface * 1e9;
        const double floorNs = bestFloor / perSurface * 1e9;
        state.counters["floor_ns"] = floorNs;
        std::string vsFloor = bench::format("best %.1f ns/ray-surface", bestNs) +
                              bench::format(", SoA floor %.1f, ratio %.2f", floorNs, bestNs / floorNs);
        std::string vsTarget;
        bool floorMet = true;
        if (targetFloorNs > 0) {
            vsTarget = bench::format("<= %.0f ns", targetFloorNs);
            floorMet = bestNs <= targetFloorNs;
        }
        if (targetRatio > 0) {
            vsTarget += (vsTarget.empty() ? "" : ", ") + bench::format("ratio <= %.0f", targetRatio);
            floorMet = floorMet && bestNs / floorNs <= targetRatio;
        }
        bench::summarize("batch " + scenario + " vs SoA floor (kernels " +
                             detail::kernelTarget() + ", floor " + bench::soaFloorTarget() + ")",
                         vsFloor, vsTarget, floorMet);
    }
    figure += bench::format(", %.3g rays/s", perSecondOne) +
              bench::format(", %.2f allocs/ray", static_cast<double>(allocations) / traced);
    if (failures) figure += bench::format(", %.1f%% failed", 100.0 * failures / traced);
    bench::summarize("batch " + scenario + ", 1 thread", figure, target, met);
    bench::summarize("batch " + scenario + ", 2 threads",
                     bench::format("%.2f x one thread on free cores", speedUp) +
                         bench::format(" (%.3g rays/s wall, %.2f x)", perSecondTwo,
                                       perSecondTwo / perSecondOne),
                     ">= 1.85 x", speedUp >= 1.85);
}

TRayBatch collimated(const std::vector<TVector>& starts, const std::vector<TVector>& directions) {
    TRayBatch batch(kWavelength);
    for (std::size_t i = 0; i < starts.size(); ++i)
        batch.add(TBeamNode(starts[i], directions.empty() ? TVector(0, 0, 1) : directions[i], 1.0,
                            TVector(1, 0, 0), 0.0));
    return batch;
}

void BM_BatchSinglet(benchmark::State& state) {
    const int n = 100000;
    TOpticalSystem system(12.0);
    fillSinglet(system, kImagePlane);
    std::vector<TVector> starts(n);
    for (int i = 0; i < n; ++i) starts[i] = bench::vogelPoint(i, n, 9.99, -10.0);
    const std::vector<bench::SoaSurface> floor = {
        {0.0, 50.0, 1.0, 1.5168}, {5.0, -50.0, 1.5168, 1.0}, {kImagePlane, 0.0, 1.0, 1.0}};
    measureBatch(state, system, collimated(starts, {}), 3, "singlet", 150.0, false, floor, 3.0,
                 15.0);
}
BENCHMARK(BM_BatchSinglet)->UseManualTime()->Unit(benchmark::kMillisecond);

void BM_BatchTenSlabs(benchmark::State& state) {
    const int n = 100000;
    TOpticalSystem system(12.0);
    for (int i = 0; i < 10; ++i)
        system.addElement(new TSlab(1.0 + i, complex(i % 2 == 0 ? 1.0 : 1.5, 0.0)));
    std::vector<TVector> starts(n), directions(n);
    for (int i = 0; i < n; ++i) {
        starts[i] = bench::vogelPoint(i, n, 5.0, 0.0);
        directions[i] = TVector(-starts[i].x / 20.0, -starts[i].y / 20.0, 1.0).unit();
    }
    std::vector<bench::SoaSurface> floor;
    for (int i = 0; i < 10; ++i)
        floor.push_back({1.0 + i, 0.0, i % 2 == 0 ? 1.0 : 1.5, i + 1 < 10 && i % 2 == 0 ? 1.5 : 1.0});
    measureBatch(state, system, collimated(starts, directions), 10, "ten slabs", 100.0, false, floor,
                 0.0, 10.0);
}
BENCHMARK(BM_BatchTenSlabs)->UseManualTime()->Unit(benchmark::kMillisecond);

// Arg 1: on AVX2 (its four lanes), whatever the processor has beyond it.
void BM_BatchGrinRod(benchmark::State& state) {
    const bool avx2 = state.range(0) == 1;
    if (avx2) {
        if (!(hwy::SupportedTargets() & HWY_AVX2)) {
            state.SkipWithError("no AVX2 on this processor");
            return;
        }
        hwy::SetSupportedTargetsForTest(HWY_AVX2);
    }
    const int n = 2048;
    const double g = 0.2;
    TOpticalSystem system(2.0);
    system.addElement(new TSlab(0.0, complex(1.0, 0.0)));
    system.addElement(new TGrinRod(bench::kPi / (2.0 * g), 1.6, g, 0.0, 0.0));
    std::vector<TVector> starts(n);
    for (int i = 0; i < n; ++i) starts[i] = bench::vogelPoint(i, n, 1.0, -1.0);
    // The rod's lanes: 10 us a ray with AVX-512's eight, 15 with AVX2's four.
    const std::string target = detail::kernelTarget();
    const double targetNs = target.rfind("AVX3", 0) == 0 ? 10000.0 : 15000.0;
    measureBatch(state, system, collimated(starts, {}), 2,
                 "quarter-pitch TGrinRod (kernels " + target + ")", targetNs, true);
    if (avx2) hwy::SetSupportedTargetsForTest(0);
}
BENCHMARK(BM_BatchGrinRod)->Arg(0)->Arg(1)->UseManualTime()->Unit(benchmark::kMillisecond);

}  // namespace batch

}  // namespace
