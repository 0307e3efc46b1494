// SPDX-License-Identifier: Apache-2.0
#include "tracing.h"

#include <unistd.h>

#include <iostream>

namespace lumivex::cli {

TTraceOptions withProgress(int threads, Progress& progress) {
    TTraceOptions options;
    options.threads = threads;
    options.progress = [&progress](std::size_t done, std::size_t) {
        progress.update(done);
        return true;
    };
    return options;
}

std::vector<TracedRay> traceEach(TOpticalSystem& system, TRayBatch& batch, int threads,
                                 Progress* progress) {
    TTraceOptions options;
    if (progress)
        options = withProgress(threads, *progress);
    else
        options.threads = threads;
    options.keepNodes = true;
    traceRays(system, batch, options);
    if (progress) progress->finish();

    std::vector<TracedRay> traced;
    traced.reserve(batch.size());
    for (std::size_t i = 0; i < batch.size(); ++i) {
        traced.emplace_back(batch.beam(i));
        TracedRay& ray = traced.back();
        ray.ok = batch.ok(i);
        ray.message = batch.message(i);
        ray.status = ray.ok ? "ok" : failureSummary(ray.message);
    }
    return traced;
}

Progress::Progress(std::string label_, std::size_t total_)
    : label(std::move(label_)),
      total(total_),
      enabled(::isatty(STDERR_FILENO) == 1),
      start(std::chrono::steady_clock::now()),
      lastDraw(start) {}

Progress::~Progress() { finish(); }

void Progress::update(std::size_t done_) {
    done = done_;
    if (!enabled) return;
    const auto now = std::chrono::steady_clock::now();
    // Quick work draws nothing; long work redraws about ten times a second.
    if (!shown && now - start < std::chrono::milliseconds(300)) return;
    if (shown && now - lastDraw < std::chrono::milliseconds(100) && done < total) return;
    lastDraw = now;
    draw();
}

void Progress::draw() {
    constexpr std::size_t width = 30;
    const std::size_t filled = total > 0 ? width * done / total : width;
    std::string bar(filled, '#');
    bar.append(width - filled, '.');
    std::cerr << '\r' << label << " [" << bar << "] " << done << '/' << total << std::flush;
    shown = true;
}

void Progress::finish() {
    if (shown) std::cerr << "\r\033[K" << std::flush;
    shown = false;
}

}  // namespace lumivex::cli
