// SPDX-License-Identifier: Apache-2.0
// The heap a traced beam keeps for its nodes, counted by the program's
// operator new: usable bytes of every block the beams hold, plus the 8-byte
// header glibc keeps in front of each block.
#include <benchmark/benchmark.h>

#include <cmath>
#include <string>
#include <vector>

#include "bench/floor.h"
#include "bench/report.h"
#include "lumivex/grin.h"
#include "lumivex/surfaces.h"
#include "lumivex/system.h"

using namespace lumivex;

namespace {

constexpr double kTarget = 96.0;

// Traces `count` beams made by `start` through `system` and keeps them; the
// beam objects live in storage reserved beforehand, so only what the beams
// allocate themselves is counted.
template <class Start>
void beamMemory(benchmark::State& state, const std::string& scenario, TOpticalSystem& system,
                int count, const Start& start) {
    double perNode = 0.0, usablePerNode = 0.0, nodesPerBeam = 0.0;
    for (auto _ : state) {
        std::vector<TBeam> beams;
        beams.reserve(static_cast<std::size_t>(count));
        bench::countHeapBytes(true);
        const bench::HeapCount before = bench::heapCount();
        std::int64_t nodes = 0;
        for (int i = 0; i < count; ++i) {
            beams.emplace_back(5e-4);
            beams.back().addNode(start(i));
            system.traceBeam(beams.back());
            nodes += beams.back().getSize();
        }
        const bench::HeapCount after = bench::heapCount();
        const double bytes = static_cast<double>(after.liveBytes - before.liveBytes);
        const double blocks = static_cast<double>(after.liveBlocks - before.liveBlocks);
        usablePerNode = bytes / nodes;
        perNode = (bytes + 8.0 * blocks) / nodes;
        nodesPerBeam = static_cast<double>(nodes) / count;
        beams.clear();
        bench::countHeapBytes(false);
    }
    state.counters["bytes/node"] = perNode;
    state.counters["usable/node"] = usablePerNode;
    state.counters["nodes/beam"] = nodesPerBeam;
    bench::summarize("memory: " + scenario,
                     bench::format("%.1f bytes per node (%.1f usable)", perNode, usablePerNode) +
                         bench::format(", %.0f nodes per beam", nodesPerBeam),
                     "<= 96 bytes", perNode <= kTarget);
}

void BM_MemorySinglet(benchmark::State& state) {
    TOpticalSystem system(12.0);
    system.addElement(new TSphericalLens(0.0, complex(1.0, 0.0), 0.0, 50.0));
    system.addElement(new TSphericalLens(5.0, complex(1.5168, 0.0), 0.0, -50.0));
    system.addElement(new TSlab(52.536227, complex(1.0, 0.0)));
    beamMemory(state, "singlet beam", system, 10000, [](int i) {
        return TBeamNode(bench::vogelPoint(i, 10000, 9.99, -10.0), TVector(0, 0, 1), 1.0,
                         TVector(1, 0, 0), 0.0);
    });
}
BENCHMARK(BM_MemorySinglet)->Iterations(1);

void BM_MemoryTenSlabs(benchmark::State& state) {
    TOpticalSystem system(12.0);
    for (int i = 0; i < 10; ++i)
        system.addElement(new TSlab(1.0 + i, complex(i % 2 == 0 ? 1.0 : 1.5, 0.0)));
    beamMemory(state, "ten-slab beam", system, 10000, [](int i) {
        const TVector p = bench::vogelPoint(i, 10000, 5.0, 0.0);
        return TBeamNode(p, TVector(-p.x / 20.0, -p.y / 20.0, 1.0).unit(), 1.0, TVector(1, 0, 0),
                         0.0);
    });
}
BENCHMARK(BM_MemoryTenSlabs)->Iterations(1);

void BM_MemoryGrinRod(benchmark::State& state) {
    TOpticalSystem system(2.0);
    system.addElement(new TSlab(0.0, complex(1.0, 0.0)));
    system.addElement(new TGrinRod(bench::kPi / 0.4, 1.6, 0.2, 0.0, 0.0));
    beamMemory(state, "rod beam", system, 64, [](int i) {
        return TBeamNode(bench::vogelPoint(i, 64, 1.0, -1.0), TVector(0, 0, 1), 1.0,
                         TVector(1, 0, 0), 0.0);
    });
}
BENCHMARK(BM_MemoryGrinRod)->Iterations(1);

// Beams of any length up to 1000 nodes, appended one by one: the worst case
// of the growth policy over all lengths, not only the lengths tracing makes.
void BM_MemoryAnyLength(benchmark::State& state) {
    double worst = 0.0;
    int worstLength = 0;
    for (auto _ : state) {
        bench::countHeapBytes(true);
        for (int length = 1; length <= 1000; ++length) {
            const bench::HeapCount before = bench::heapCount();
            {
                TBeam beam(5e-4);
                for (int i = 0; i < length; ++i) beam.addNode(TBeamNode());
                const bench::HeapCount after = bench::heapCount();
                const double bytes =
                    static_cast<double>(after.liveBytes - before.liveBytes) +
                    8.0 * static_cast<double>(after.liveBlocks - before.liveBlocks);
                if (bytes / length > worst) {
                    worst = bytes / length;
                    worstLength = length;
                }
            }
        }
        bench::countHeapBytes(false);
    }
    state.counters["worst_bytes/node"] = worst;
    state.counters["at_length"] = worstLength;
    bench::summarize("memory: any beam of 1..1000 nodes",
                     bench::format("worst %.1f bytes per node", worst) +
                         bench::format(" (at %.0f nodes)", worstLength),
                     "<= 96 bytes", worst <= kTarget);
}
BENCHMARK(BM_MemoryAnyLength)->Iterations(1);

}  // namespace
