// Batch tracing, ray by ray through the elements as TOpticalSystem::traceBeam
// goes through them.
#include <algorithm>

#include "lumivex/trace.h"

namespace lumivex {

namespace {

const std::string kNoMessage;
const char* const kDriverContext = "TOpticalSystem::traceBeam: \n";

}  // namespace

TRayBatch::TRayBatch(double wavelength) : lambda(wavelength) {}

void TRayBatch::add(const TBeamNode& start) {
    nodes.push_back(start);
    failed.push_back(-1);
}

void TRayBatch::add(std::size_t n, const double* positions, const double* directions,
                    const double* polarizations, const double* intensities, const double* phases) {
    reserve(size() + n);
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
}

const TBeamNode& TRayBatch::last(std::size_t i) const {
    if (i >= nodes.size()) throw xmsg("TRayBatch: no ray " + std::to_string(i));
    return nodes[i];
}

bool TRayBatch::ok(std::size_t i) const { return failedElement(i) < 0; }

int TRayBatch::failedElement(std::size_t i) const {
    if (i >= failed.size()) throw xmsg("TRayBatch: no ray " + std::to_string(i));
    return failed[i];
}

const std::string& TRayBatch::message(std::size_t i) const {
    if (ok(i)) return kNoMessage;
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
    system.initOptRadius();
    batch.messages.clear();
    batch.beams.clear();
    batch.kept = options.keepNodes;
    const int n = system.getSize();
    const TElement behind(0.0);  // the medium of index 1 behind the last element
    for (std::size_t r = 0; r < batch.size(); ++r) {
        TBeam beam(batch.lambda);
        beam.addNode(batch.nodes[r]);
        batch.failed[r] = -1;
        for (int i = 0; i < n; ++i) {
            try {
                system[i]->traceBeam(beam, i + 1 < n ? *system[i + 1] : behind);
            } catch (const xmsg& e) {
                batch.failed[r] = i;
                batch.messages.emplace_back(r, kDriverContext + e.message());
                break;
            }
        }
        batch.nodes[r] = beam.getLast();
        if (options.keepNodes) batch.beams.push_back(std::move(beam));
        if (options.progress && !options.progress(r + 1, batch.size()))
            throw xmsg("traceRays: stopped by the host after " + std::to_string(r + 1) + " of " +
                       std::to_string(batch.size()) + " rays");
    }
}

}  // namespace lumivex
