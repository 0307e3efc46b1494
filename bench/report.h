// SPDX-License-Identifier: Apache-2.0
// What the benchmarks share besides the floors: the heap counters fed by the
// program's own operator new, and the closing summary table.
#ifndef LUMIVEX_BENCH_REPORT_H
#define LUMIVEX_BENCH_REPORT_H

#include <time.h>

#include <cstdint>
#include <string>

namespace bench {

// Heap blocks and bytes since the program started, as glibc hands them out
// (usable size of each block; a block also costs glibc an 8-byte header).
struct HeapCount {
    std::int64_t allocations = 0;
    std::int64_t liveBlocks = 0;
    std::int64_t liveBytes = 0;
};
HeapCount heapCount();
// Live blocks and bytes are counted only while switched on; a measurement
// switches it on before the objects it measures are made, and off after they
// are gone.
void countHeapBytes(bool on);

// One line of the summary printed after all benchmarks ran: the figure, the
// target and whether the target is met (empty target: reported only).
void summarize(const std::string& scenario, const std::string& figure, const std::string& target,
               bool met = true);

std::string format(const char* fmt, double value);
std::string format(const char* fmt, double a, double b);

// The CPU time of the calling thread: unlike the wall clock it does not run
// on while other programs have the processor, so figures and floor ratios
// hold on a busy machine.
struct Clock {
    using time_point = double;
    static time_point now() {
        timespec t;
        clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
        return static_cast<double>(t.tv_sec) + 1e-9 * static_cast<double>(t.tv_nsec);
    }
};
inline double seconds(Clock::time_point a, Clock::time_point b) { return b - a; }

}  // namespace bench

#endif
