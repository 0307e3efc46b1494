// Tracing many rays one by one, so that one failing ray does not stop the
// rest, with a progress bar for long work.
#ifndef LUMIVEX_TOOLS_TRACING_H
#define LUMIVEX_TOOLS_TRACING_H

#include <chrono>
#include <string>
#include <vector>

#include "fan.h"
#include "lumivex/lumivex.h"

namespace lumivex::cli {

// The meaningful first line of a failure message: the trace driver's
// context line and blank lines are dropped.
std::string failureSummary(const std::string& message);

struct TracedRay {
    TBeam beam;
    bool ok = true;
    std::string message;  // the whole failure message
    std::string status;   // "ok" or failureSummary(message)
    explicit TracedRay(const TBeam& start) : beam(start) {}
};

// A progress bar on standard error, drawn only when standard error is a
// terminal and only once the work has taken long enough to be worth it.
class Progress {
public:
    Progress(std::string label, int total);
    ~Progress();
    Progress(const Progress&) = delete;
    Progress& operator=(const Progress&) = delete;

    void advance();
    void finish();

private:
    void draw();

    std::string label;
    int total;
    int done = 0;
    bool enabled;
    bool shown = false;
    std::chrono::steady_clock::time_point start;
    std::chrono::steady_clock::time_point lastDraw;
};

// Traces every beam on its own. Resets the traced radii first, as
// TOpticalSystem::traceBeamFan does.
std::vector<TracedRay> traceEach(TOpticalSystem& system, const std::vector<TBeam>& beams,
                                 Progress* progress);
std::vector<TracedRay> traceFan(TOpticalSystem& system, const Fan& fan, Progress* progress);

}  // namespace lumivex::cli

#endif
