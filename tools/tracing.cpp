#include "tracing.h"

#include <unistd.h>

#include <iostream>

namespace lumivex::cli {

std::string failureSummary(const std::string& message) {
    static const std::string driverContext = "TOpticalSystem::traceBeam: \n";
    std::string rest = message;
    if (rest.compare(0, driverContext.size(), driverContext) == 0)
        rest.erase(0, driverContext.size());
    std::size_t start = 0;
    while (start <= rest.size()) {
        std::size_t end = rest.find_first_of("\r\n", start);
        if (end == std::string::npos) end = rest.size();
        std::string line = rest.substr(start, end - start);
        const std::size_t first = line.find_first_not_of(" \t");
        if (first != std::string::npos) {
            const std::size_t last = line.find_last_not_of(" \t");
            return line.substr(first, last - first + 1);
        }
        start = end + 1;
    }
    return "failed";
}

std::vector<TracedRay> traceEach(TOpticalSystem& system, const std::vector<TBeam>& beams,
                                 Progress* progress) {
    system.initOptRadius();
    std::vector<TracedRay> traced;
    traced.reserve(beams.size());
    for (const TBeam& start : beams) {
        traced.emplace_back(start);
        TracedRay& ray = traced.back();
        try {
            system.traceBeam(ray.beam);
            ray.status = "ok";
        } catch (const xmsg& e) {
            ray.ok = false;
            ray.message = e.message();
            ray.status = failureSummary(ray.message);
        }
        if (progress) progress->advance();
    }
    if (progress) progress->finish();
    return traced;
}

std::vector<TracedRay> traceFan(TOpticalSystem& system, const Fan& fan, Progress* progress) {
    return traceEach(system, fanBeams(fan, system), progress);
}

Progress::Progress(std::string label_, int total_)
    : label(std::move(label_)),
      total(total_),
      enabled(::isatty(STDERR_FILENO) == 1),
      start(std::chrono::steady_clock::now()),
      lastDraw(start) {}

Progress::~Progress() { finish(); }

void Progress::advance() {
    ++done;
    if (!enabled) return;
    const auto now = std::chrono::steady_clock::now();
    // Quick work draws nothing; long work redraws about ten times a second.
    if (!shown && now - start < std::chrono::milliseconds(300)) return;
    if (shown && now - lastDraw < std::chrono::milliseconds(100) && done < total) return;
    lastDraw = now;
    draw();
}

void Progress::draw() {
    constexpr int width = 30;
    const int filled = total > 0 ? width * done / total : width;
    std::string bar(static_cast<std::size_t>(filled), '#');
    bar.append(static_cast<std::size_t>(width - filled), '.');
    std::cerr << '\r' << label << " [" << bar << "] " << done << '/' << total << std::flush;
    shown = true;
}

void Progress::finish() {
    if (shown) std::cerr << "\r\033[K" << std::flush;
    shown = false;
}

}  // namespace lumivex::cli
