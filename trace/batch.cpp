// SPDX-License-Identifier: Apache-2.0
// Batch tracing, ray by ray through the elements as TOpticalSystem::traceBeam
// goes through them, on as many threads as asked.
//
// Tracing writes element state (the traced radius of every element, a rod's
// integration step), so no two threads ever trace through one element: the
// calling thread, worker 0, traces through the system's own elements, every
// other worker through copies of them, and the traced radii are merged by
// their maximum afterwards, which is what one thread tracing the rays in
// order leaves. Each ray starts from nothing but its start node (a
// rod restarts its step for every ray), so a ray's result does not depend on
// which thread traced it or which rays went before.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <exception>
#include <limits>
#include <memory>
#include <mutex>
#include <new>
#include <thread>

#include "lumivex/description.h"
#include "lumivex/trace.h"
#include "trace/kernels.h"

namespace lumivex {

namespace {

const std::string kNoMessage;
const char* const kDriverContext = "TOpticalSystem::traceBeam: \n";

using Clock = std::chrono::steady_clock;
constexpr auto kProgressPeriod = std::chrono::milliseconds(100);

// What every thread of one trace shares. Each ray's slots (node, failure,
// beam) are written by the one thread that traces it.
struct Job {
    double wavelength;
    TBeamNode* nodes;
    int* failed;
    int* vignetted;
    std::vector<double> clip;  // by element; NaN: none
    TBeam* beams;  // null unless the nodes are kept
    std::size_t rays;
    std::size_t chunkSize;
    std::size_t chunks;
    std::atomic<std::size_t> nextChunk{0};
    std::atomic<std::size_t> done{0};
    std::atomic<bool> stop{false};
    // The vector kernel of each element, where it has one (and none when
    // the trace keeps whole beams).
    std::vector<detail::SurfaceKernel> kernels;
    std::vector<detail::RodKernel> rods;
    std::vector<char> hasKernel;  // 1: a surface's kernel, 2: a rod's
    bool anyKernel = false;
};

// One thread's elements and what it gathers.
struct Lane {
    std::vector<std::unique_ptr<TElement>> copies;  // empty when tracing through the system
    std::vector<TElement*> elements;
    std::vector<std::pair<std::size_t, std::string>> messages;
    std::string error;  // a failure that is not a ray's (memory, ...)
    std::unique_ptr<detail::RayBlock> block;  // the rays the kernels carry
};

// Whether a ray whose node at element i is `node` lies outside the element's
// clear aperture. rho as the surfaces and the kernels compute it, so every
// path sees the same bits; a NaN clip (none) or a NaN rho clips nothing.
bool outsideClip(const Job& job, int i, const TBeamNode& node) {
    const double clip = job.clip[static_cast<std::size_t>(i)];
    if (clip != clip) return false;
    const TVector& P = node.position;
    return std::sqrt(P.x * P.x + P.y * P.y) > clip;
}

// Element i alone, as TOpticalSystem::traceBeam takes it; false when the ray
// ends there, failed (the element and the message that would throw recorded)
// or vignetted. A vignetted ray does not widen the element's traced radius.
bool traceElement(Job& job, const std::vector<TElement*>& elements, int i, const TElement& behind,
                  TBeam& beam, std::size_t ray, Lane& lane) {
    const int n = static_cast<int>(elements.size());
    TElement& element = *elements[i];
    const double radiusBefore = element.optRadius;
    const int nodesBefore = beam.getSize();
    try {
        element.traceBeam(beam, i + 1 < n ? *elements[i + 1] : behind);
    } catch (const xmsg& e) {
        // A surface that found the intersection but could not refract there
        // leaves its terminal node at it: outside the clip the mount stops
        // the ray before the surface could.
        if (beam.getSize() > nodesBefore && outsideClip(job, i, beam.getLast())) {
            element.optRadius = radiusBefore;
            job.vignetted[ray] = i;
            return false;
        }
        job.failed[ray] = i;
        lane.messages.emplace_back(ray, kDriverContext + e.message());
        return false;
    }
    if (outsideClip(job, i, beam.getLast())) {
        element.optRadius = radiusBefore;
        job.vignetted[ray] = i;
        return false;
    }
    return true;
}

// Traces the beam through the elements from element `first` on. An
// element's tracing depends only on the beam's last node and the element
// behind, so a ray resumed at element i ends as the ray traced from its start.
void traceFrom(Job& job, const std::vector<TElement*>& elements, int first, const TElement& behind,
               TBeam& beam, std::size_t ray, Lane& lane) {
    const int n = static_cast<int>(elements.size());
    for (int i = first; i < n; ++i)
        if (!traceElement(job, elements, i, behind, beam, ray, lane)) return;
}

TBeamNode blockNode(const detail::RayBlock& b, std::size_t j) {
    return TBeamNode(TVector(b.px[j], b.py[j], b.pz[j]), TVector(b.kx[j], b.ky[j], b.kz[j]),
                     b.intensity[j], TVector(b.ex[j], b.ey[j], b.ez[j]), b.phase[j]);
}

void setBlockNode(detail::RayBlock& b, std::size_t j, const TBeamNode& node) {
    b.px[j] = node.position.x;
    b.py[j] = node.position.y;
    b.pz[j] = node.position.z;
    b.kx[j] = node.kVector.x;
    b.ky[j] = node.kVector.y;
    b.kz[j] = node.kVector.z;
    b.ex[j] = node.polarization.x;
    b.ey[j] = node.polarization.y;
    b.ez[j] = node.polarization.z;
    b.intensity[j] = node.intensity;
    b.phase[j] = node.opticalPath;
}

// Traces the rays begin … end − 1 element by element: an element with a
// kernel takes all the block's rays at once, any other element takes them
// one by one. A ray a kernel hands back goes on alone through the scalar
// code from that element on.
void traceBlock(Job& job, std::size_t begin, std::size_t end, Lane& lane, TBeam& beam,
                const TElement& behind) {
    detail::RayBlock& b = *lane.block;
    const std::size_t count = end - begin;
    // Whole vectors of the widest kind: the lanes past the rays are not live.
    const std::size_t padded = detail::paddedToLanes(count);
    for (std::size_t j = 0; j < padded; ++j) {
        if (j < count) {
            setBlockNode(b, j, job.nodes[begin + j]);
            b.live[j] = 1.0;
        } else {
            setBlockNode(b, j, TBeamNode());
            b.live[j] = 0.0;
        }
        b.handedBack[j] = 0.0;
    }
    const std::vector<TElement*>& elements = lane.elements;
    const int n = static_cast<int>(elements.size());
    for (int i = 0; i < n; ++i) {
        if (job.hasKernel[i]) {
            if (job.hasKernel[i] == 2) {
                detail::traceRodBlock(job.rods[i], b, padded);
            } else {
                detail::traceSurfaceBlock(job.kernels[i], b, padded);
            }
            double& radius = elements[i]->optRadius;
            // The kernel leaves every ray it carried at the surface with its
            // rho, the scalar code's: outside the clip it ends there. A rod's
            // rays widen its radius by their interior nodes instead.
            const double clip = job.clip[static_cast<std::size_t>(i)];
            const double* reach = job.hasKernel[i] == 2 ? b.reach : b.rho;
            for (std::size_t j = 0; j < count; ++j) {
                if (b.live[j] != 0.0) {
                    if (b.rho[j] > clip) {
                        b.live[j] = 0.0;
                        const std::size_t r = begin + j;
                        job.vignetted[r] = i;
                        job.nodes[r] = blockNode(b, j);
                    } else if (reach[j] > radius) {
                        radius = reach[j];
                    }
                } else if (b.handedBack[j] != 0.0) {
                    b.handedBack[j] = 0.0;
                    const std::size_t r = begin + j;
                    beam.clear();
                    beam.addNode(blockNode(b, j));
                    traceFrom(job, elements, i, behind, beam, r, lane);
                    job.nodes[r] = beam.getLast();
                }
            }
        } else {
            for (std::size_t j = 0; j < count; ++j) {
                if (b.live[j] == 0.0) continue;
                const std::size_t r = begin + j;
                beam.clear();
                beam.addNode(blockNode(b, j));
                if (traceElement(job, elements, i, behind, beam, r, lane)) {
                    setBlockNode(b, j, beam.getLast());
                } else {
                    b.live[j] = 0.0;
                    job.nodes[r] = beam.getLast();
                }
            }
        }
    }
    for (std::size_t j = 0; j < count; ++j) {
        if (b.live[j] == 0.0) continue;
        job.nodes[begin + j] = blockNode(b, j);
    }
}

// Traces the rays of one chunk. Without kept nodes one beam serves every ray
// of the lane: cleared between rays it keeps its room, so once it has held
// the longest ray nothing is allocated per ray or per surface.
void traceChunk(Job& job, std::size_t chunk, Lane& lane, TBeam& scratch) {
    const TElement behind(0.0);  // the medium of index 1 behind the last element
    const std::size_t begin = chunk * job.chunkSize;
    const std::size_t end = std::min(job.rays, begin + job.chunkSize);
    std::size_t r = begin;
    if (job.anyKernel) {
        // A stopped trace ends after the block at hand.
        if (!lane.block) lane.block.reset(new detail::RayBlock);
        for (; r < end && !job.stop.load(std::memory_order_relaxed);) {
            const std::size_t blockEnd = std::min(end, r + detail::kBlockRays);
            traceBlock(job, r, blockEnd, lane, scratch, behind);
            r = blockEnd;
        }
        job.done.fetch_add(r - begin, std::memory_order_relaxed);
        return;
    }
    // A stopped trace ends after the ray at hand, not after the chunk: rays
    // through a long rod take milliseconds each.
    for (; r < end && !job.stop.load(std::memory_order_relaxed); ++r) {
        TBeam& beam = job.beams ? job.beams[r] : scratch;
        beam.clear();
        beam.addNode(job.nodes[r]);
        traceFrom(job, lane.elements, 0, behind, beam, r, lane);
        job.nodes[r] = beam.getLast();
    }
    job.done.fetch_add(r - begin, std::memory_order_relaxed);
}

std::string describe(const std::exception& e) { return e.what(); }

// Traces the next chunk no worker has taken; false when none is left or the
// trace is stopped.
bool traceNextChunk(Job& job, Lane& lane, TBeam& scratch) {
    if (job.stop.load(std::memory_order_relaxed)) return false;
    const std::size_t chunk = job.nextChunk.fetch_add(1, std::memory_order_relaxed);
    if (chunk >= job.chunks) return false;
    traceChunk(job, chunk, lane, scratch);
    return true;
}

// A worker on a thread of its own. A failure that is not a ray's stops every
// worker; it is reported after they have all ended.
void runWorker(Job& job, Lane& lane) {
    try {
        TBeam scratch(job.wavelength);
        while (traceNextChunk(job, lane, scratch)) {
        }
        return;
    } catch (const std::bad_alloc&) {
        lane.error = "out of memory";
    } catch (const std::exception& e) {
        lane.error = describe(e);
    } catch (...) {
        lane.error = "an unknown exception";
    }
    job.stop.store(true);
}

xmsg stoppedByHost(std::size_t done, std::size_t total) {
    return xmsg("traceRays: stopped by the host after " + std::to_string(done) + " of " +
                std::to_string(total) + " rays");
}

}  // namespace

TRayBatch::TRayBatch(double wavelength) : lambda(wavelength) {}

void TRayBatch::add(const TBeamNode& start) {
    nodes.push_back(start);
    failed.push_back(-1);
    vignettedAt.push_back(-1);
}

void TRayBatch::add(std::size_t n, const double* positions, const double* directions,
                    const double* polarizations, const double* intensities, const double* phases) {
    // Grown geometrically: hosts that add a few rays at a time stay linear.
    if (size() + n > nodes.capacity()) reserve(std::max(size() + n, 2 * nodes.capacity()));
    for (std::size_t i = 0; i < n; ++i) {
        const double* p = positions + 3 * i;
        const double* k = directions + 3 * i;
        const double* e = polarizations + 3 * i;
        add(TBeamNode(TVector(p[0], p[1], p[2]), TVector(k[0], k[1], k[2]),
                      intensities ? intensities[i] : 1.0, TVector(e[0], e[1], e[2]),
                      phases ? phases[i] : 0.0));
    }
}

void TRayBatch::reserve(std::size_t n) {
    nodes.reserve(n);
    failed.reserve(n);
    vignettedAt.reserve(n);
}

const TBeamNode& TRayBatch::last(std::size_t i) const {
    if (i >= nodes.size()) throw xmsg("TRayBatch: no ray " + std::to_string(i));
    return nodes[i];
}

bool TRayBatch::ok(std::size_t i) const { return failedElement(i) < 0 && vignettedAt[i] < 0; }

int TRayBatch::failedElement(std::size_t i) const {
    if (i >= failed.size()) throw xmsg("TRayBatch: no ray " + std::to_string(i));
    return failed[i];
}

int TRayBatch::vignettedElement(std::size_t i) const {
    if (i >= vignettedAt.size()) throw xmsg("TRayBatch: no ray " + std::to_string(i));
    return vignettedAt[i];
}

const std::string& TRayBatch::message(std::size_t i) const {
    if (failedElement(i) < 0) return kNoMessage;
    // Failures are few and kept in ray order.
    auto it = std::lower_bound(messages.begin(), messages.end(), i,
                               [](const auto& m, std::size_t ray) { return m.first < ray; });
    return it != messages.end() && it->first == i ? it->second : kNoMessage;
}

const TBeam& TRayBatch::beam(std::size_t i) const {
    if (!kept) throw xmsg("TRayBatch: the trace did not keep the rays' nodes");
    if (i >= beams.size()) throw xmsg("TRayBatch: no ray " + std::to_string(i));
    return beams[i];
}

void traceRays(TOpticalSystem& system, TRayBatch& batch, const TTraceOptions& options) {
    const int n = system.getSize();
    if (options.clipRadii.size() > static_cast<std::size_t>(n))
        throw xmsg("traceRays: " + std::to_string(options.clipRadii.size()) +
                   " clip radii for a system of " + std::to_string(n) + " elements");
    for (std::size_t i = 0; i < options.clipRadii.size(); ++i)
        if (options.clipRadii[i] < 0.0)
            throw xmsg("traceRays: the clip radius of element " + std::to_string(i) +
                       " is negative (" + std::to_string(options.clipRadii[i]) + ")");
    system.initOptRadius();
    batch.messages.clear();
    batch.beams.clear();
    batch.kept = options.keepNodes;
    const std::size_t total = batch.size();
    std::fill(batch.failed.begin(), batch.failed.end(), -1);
    std::fill(batch.vignettedAt.begin(), batch.vignettedAt.end(), -1);
    if (options.keepNodes) batch.beams.assign(total, TBeam(batch.lambda));
    if (n == 0) {
        // Nothing to pass through: every ray stays at its start.
        for (std::size_t r = 0; r < total; ++r) {
            if (options.keepNodes) batch.beams[r].addNode(batch.nodes[r]);
        }
        if (options.progress && !options.progress(total, total)) throw stoppedByHost(total, total);
        return;
    }
    if (total == 0) return;

    unsigned threads = options.threads > 0 ? static_cast<unsigned>(options.threads)
                                           : std::thread::hardware_concurrency();
    if (threads == 0) threads = 1;
    Job job;
    job.wavelength = batch.lambda;
    job.nodes = batch.nodes.data();
    job.failed = batch.failed.data();
    job.vignetted = batch.vignettedAt.data();
    job.clip.assign(static_cast<std::size_t>(n), std::numeric_limits<double>::quiet_NaN());
    std::copy(options.clipRadii.begin(), options.clipRadii.end(), job.clip.begin());
    job.beams = options.keepNodes ? batch.beams.data() : nullptr;
    job.rays = total;
    // Chunks small enough to share the work out evenly at the end, large
    // enough that taking one costs nothing next to tracing it.
    job.chunkSize = std::max<std::size_t>(1, std::min<std::size_t>(1024, total / (16 * threads)));
    job.chunks = (total + job.chunkSize - 1) / job.chunkSize;
    if (threads > job.chunks) threads = static_cast<unsigned>(job.chunks);
    // The vector kernels carry only last nodes, so a trace that keeps whole
    // beams goes ray by ray.
    job.kernels.resize(static_cast<std::size_t>(n));
    job.rods.resize(static_cast<std::size_t>(n));
    job.hasKernel.assign(static_cast<std::size_t>(n), 0);
    if (!options.keepNodes) {
        const TElement behind(0.0);
        for (int i = 0; i < n; ++i) {
            const TElement& next = i + 1 < n ? *system[i + 1] : behind;
            if (detail::surfaceKernel(*system[i], next, batch.lambda, job.kernels[i])) {
                job.hasKernel[i] = 1;
            } else if (detail::rodKernel(*system[i], next, batch.lambda, job.rods[i])) {
                job.hasKernel[i] = 2;
            }
            job.anyKernel = job.anyKernel || job.hasKernel[i];
        }
    }

    // The calling thread is worker 0 and traces through the system's own
    // elements; every other worker traces through its own copies. A host's
    // own element class cannot be copied, so then the calling thread traces
    // alone.
    std::vector<Lane> lanes(threads);
    for (int i = 0; i < n; ++i) lanes[0].elements.push_back(system[i]);
    bool copied = true;
    for (unsigned t = 1; t < threads && copied; ++t) {
        for (int i = 0; i < n && copied; ++i) {
            std::unique_ptr<TElement> copy = cloneElement(*system[i]);
            copied = copy != nullptr;
            if (copied) {
                lanes[t].elements.push_back(copy.get());
                lanes[t].copies.push_back(std::move(copy));
            }
        }
    }
    if (!copied) lanes.resize(1);

    std::mutex mutex;
    std::condition_variable finished;
    unsigned running = static_cast<unsigned>(lanes.size()) - 1;  // workers on threads of their own
    std::vector<std::thread> workers;
    std::string startFailure;
    try {
        for (std::size_t t = 1; t < lanes.size(); ++t) {
            workers.emplace_back([&job, &lanes, t, &mutex, &finished, &running] {
                runWorker(job, lanes[t]);
                std::lock_guard<std::mutex> lock(mutex);
                if (--running == 0) finished.notify_one();
            });
        }
    } catch (const std::exception& e) {
        // A thread that could not start: stop the others and say so.
        job.stop.store(true);
        startFailure = describe(e);
        std::lock_guard<std::mutex> lock(mutex);
        running -= static_cast<unsigned>(lanes.size() - 1 - workers.size());
    }

    // The host's progress function is called on the calling thread only:
    // between its own chunks, then while it waits for the other workers, and
    // once more when all have ended. What it throws, and what the calling
    // thread's own tracing throws, is thrown once every worker has ended.
    bool stoppedByCaller = false;
    std::size_t doneAtStop = 0;
    std::exception_ptr failure;
    auto askHost = [&] {
        const std::size_t done = job.done.load(std::memory_order_relaxed);
        bool goOn = false;
        try {
            goOn = options.progress(done, total);
        } catch (...) {
            failure = std::current_exception();
        }
        if (!goOn) {
            stoppedByCaller = !failure;
            doneAtStop = done;
            job.stop.store(true);
        }
    };
    try {
        TBeam scratch(batch.lambda);
        auto lastCall = Clock::now();
        while (traceNextChunk(job, lanes[0], scratch)) {
            if (options.progress && job.done.load(std::memory_order_relaxed) < total &&
                Clock::now() - lastCall >= kProgressPeriod) {
                lastCall = Clock::now();
                askHost();
            }
        }
    } catch (const std::bad_alloc&) {
        failure = std::make_exception_ptr(xmsg("traceRays: out of memory"));
    } catch (...) {
        failure = std::current_exception();
    }
    if (failure) job.stop.store(true);
    {
        std::unique_lock<std::mutex> lock(mutex);
        for (;;) {
            const bool allDone =
                finished.wait_for(lock, kProgressPeriod, [&running] { return running == 0; });
            if (options.progress && !job.stop.load()) {
                lock.unlock();
                askHost();
                lock.lock();
            }
            if (allDone) break;
        }
    }
    for (std::thread& w : workers) w.join();

    // The traced radii: the largest any worker saw, as one worker tracing
    // every ray in order would have left them.
    for (std::size_t t = 1; t < lanes.size(); ++t)
        for (int i = 0; i < n; ++i)
            system[i]->optRadius = std::max(system[i]->optRadius, lanes[t].elements[i]->optRadius);

    if (!startFailure.empty()) throw xmsg("traceRays: a worker thread could not start: " + startFailure);
    for (const Lane& lane : lanes)
        if (!lane.error.empty()) throw xmsg("traceRays: a worker thread failed: " + lane.error);
    if (failure) std::rethrow_exception(failure);
    if (stoppedByCaller) throw stoppedByHost(doneAtStop, total);

    std::size_t failures = 0;
    for (const Lane& lane : lanes) failures += lane.messages.size();
    batch.messages.reserve(failures);
    for (Lane& lane : lanes)
        for (auto& m : lane.messages) batch.messages.push_back(std::move(m));
    std::sort(batch.messages.begin(), batch.messages.end(),
              [](const auto& a, const auto& b) { return a.first < b.first; });
}

}  // namespace lumivex
