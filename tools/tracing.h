// SPDX-License-Identifier: Apache-2.0
// Tracing many rays on every core, so that one failing ray does not stop the
// rest, with a progress bar for long work.
#ifndef LUMIVEX_TOOLS_TRACING_H
#define LUMIVEX_TOOLS_TRACING_H

#include <chrono>
#include <cstddef>
#include <string>
#include <vector>

#include "lumivex/lumivex.h"

namespace lumivex::cli {

struct TracedRay {
    TBeam beam;
    bool ok = true;
    std::string message;  // the whole failure message
    std::string status;   // "ok" or failureSummary(message)
    explicit TracedRay(const TBeam& traced) : beam(traced) {}
};

// A progress bar on standard error, drawn only when standard error is a
// terminal and only once the work has taken long enough to be worth it.
class Progress {
public:
    Progress(std::string label, std::size_t total);
    ~Progress();
    Progress(const Progress&) = delete;
    Progress& operator=(const Progress&) = delete;

    // `done` of the total are finished.
    void update(std::size_t done);
    void finish();

private:
    void draw();

    std::string label;
    std::size_t total;
    std::size_t done = 0;
    bool enabled;
    bool shown = false;
    std::chrono::steady_clock::time_point start;
    std::chrono::steady_clock::time_point lastDraw;
};

// Trace options on `threads` threads that move the progress bar.
TTraceOptions withProgress(int threads, Progress& progress);

// Traces every ray of the batch on `threads` threads (0: every core), each
// ray on its own, keeping the rays' nodes. The traced radii are reset first,
// as TOpticalSystem::traceBeamFan does.
std::vector<TracedRay> traceEach(TOpticalSystem& system, TRayBatch& batch, int threads,
                                 Progress* progress);

}  // namespace lumivex::cli

#endif
