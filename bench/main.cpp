// SPDX-License-Identifier: Apache-2.0
// The benchmark driver: Google Benchmark's own main, a counting operator new,
// and the summary of figures against their targets.
#include <benchmark/benchmark.h>
#include <malloc.h>

#include <cstdio>
#include <cstdlib>
#include <map>
#include <new>
#include <string>

#include "bench/report.h"

namespace {

bench::HeapCount counts;
// Sizes cost a call per block, which the timed benchmarks do not pay.
bool countBytes = false;

void* allocate(std::size_t size) {
    void* p = std::malloc(size == 0 ? 1 : size);
    if (!p) throw std::bad_alloc();
    ++counts.allocations;
    if (countBytes) {
        ++counts.liveBlocks;
        counts.liveBytes += static_cast<std::int64_t>(malloc_usable_size(p));
    }
    return p;
}

void release(void* p) noexcept {
    if (!p) return;
    if (countBytes) {
        --counts.liveBlocks;
        counts.liveBytes -= static_cast<std::int64_t>(malloc_usable_size(p));
    }
    std::free(p);
}

struct Line {
    std::string figure, target;
    bool met;
};

std::map<std::string, Line>& lines() {
    static std::map<std::string, Line> table;
    return table;
}

}  // namespace

// Every allocation of the program and of the library goes through these.
void* operator new(std::size_t size) { return allocate(size); }
void* operator new[](std::size_t size) { return allocate(size); }
void operator delete(void* p) noexcept { release(p); }
void operator delete[](void* p) noexcept { release(p); }
void operator delete(void* p, std::size_t) noexcept { release(p); }
void operator delete[](void* p, std::size_t) noexcept { release(p); }

namespace bench {

HeapCount heapCount() { return counts; }

void countHeapBytes(bool on) { countBytes = on; }

void summarize(const std::string& scenario, const std::string& figure, const std::string& target,
               bool met) {
    lines()[scenario] = Line{figure, target, met};
}

std::string format(const char* fmt, double value) {
    char buffer[128];
    std::snprintf(buffer, sizeof buffer, fmt, value);
    return buffer;
}

std::string format(const char* fmt, double a, double b) {
    char buffer[128];
    std::snprintf(buffer, sizeof buffer, fmt, a, b);
    return buffer;
}

}  // namespace bench

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();

    if (lines().empty()) return 0;
    int missed = 0;
    std::printf("\n%-34s %-72s %-26s %s\n", "scenario", "figure", "target", "");
    for (const auto& [scenario, line] : lines()) {
        const char* verdict = line.target.empty() ? "" : (line.met ? "met" : "MISSED");
        if (!line.target.empty() && !line.met) ++missed;
        std::printf("%-34s %-72s %-26s %s\n", scenario.c_str(), line.figure.c_str(),
                    line.target.c_str(), verdict);
    }
    std::printf("\n%s\n", missed == 0 ? "every target met" : "some targets missed");
    return 0;
}
