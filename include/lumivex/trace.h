// SPDX-License-Identifier: Apache-2.0
// Batch tracing: many rays of one wavelength through a system, on every
// core, with the results kept as contiguous arrays.
//
// Every ray's result is, bit for bit, what TOpticalSystem::traceBeam gives
// for that ray alone: its last node, whether it failed, and the message it
// failed with. The thread count changes only how fast. Clear apertures
// (TTraceOptions::clipRadii) end the rays outside them as vignetted, a
// status of its own; every other ray is traced as without them.
#ifndef LUMIVEX_TRACE_H
#define LUMIVEX_TRACE_H

#include <cstddef>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "lumivex/export.h"
#include "lumivex/geometry.h"
#include "lumivex/system.h"

namespace lumivex {

struct TTraceOptions {
    int threads = 0;         // 0: every hardware thread
    bool keepNodes = false;  // keep each ray's whole TBeam, not only its last node
    // Called on the calling thread about every 100 ms while the rays are
    // traced, and once more when all are done, with the rays done so far;
    // returning false stops the trace, which then throws an xmsg saying so
    // (the batch is left partly traced). Empty: not called.
    std::function<bool(std::size_t done, std::size_t total)> progress;
    // Clear apertures, by element: a ray that leaves element k (for a surface:
    // meets it) farther from the axis than clipRadii[k] ends there, vignetted
    // at k, as a mount or a stop would end it. It is vignetted there too when
    // element k could not refract it but found where it meets it, since the
    // mount stops it first. NaN, or no entry (the list may be shorter than the
    // system): no clip. A negative radius, or more entries than elements, is
    // an xmsg.
    std::vector<double> clipRadii;
};

// Rays of one wavelength: their start nodes before tracing, their last nodes
// after it.
class LUMIVEX_API TRayBatch {
public:
    explicit TRayBatch(double wavelength);

    double wavelength() const { return lambda; }

    // Appends one ray.
    void add(const TBeamNode& start);
    // Appends n rays from arrays of n × 3 doubles (x, y, z of ray 0, then of
    // ray 1, ...); null intensities start at 1, null phases at 0.
    void add(std::size_t n, const double* positions, const double* directions,
             const double* polarizations, const double* intensities = nullptr,
             const double* phases = nullptr);
    void reserve(std::size_t n);
    std::size_t size() const { return nodes.size(); }

    // Before tracing the start node, after tracing the ray's last node (for a
    // failed ray the terminal node its failure left).
    // A vignetted ray's last node is the one the element that stopped it left.
    const TBeamNode& last(std::size_t i) const;
    // Whether the ray went through every element: it neither failed nor was
    // vignetted.
    bool ok(std::size_t i) const;
    // The index of the element the ray failed at; −1 when it did not fail (a
    // vignetted ray did not fail).
    int failedElement(std::size_t i) const;
    // The index of the element whose clear aperture stopped the ray; −1 when
    // none did.
    int vignettedElement(std::size_t i) const;
    bool vignetted(std::size_t i) const { return vignettedElement(i) >= 0; }
    // "" when the ray did not fail; otherwise what TOpticalSystem::traceBeam
    // throws for it.
    const std::string& message(std::size_t i) const;
    // The ray's whole beam; an xmsg unless the trace kept the nodes.
    const TBeam& beam(std::size_t i) const;
    bool nodesKept() const { return kept; }

    // The nodes as one contiguous array of size() TBeamNode, and the failed
    // and the vignetting elements as arrays of size() ints: for hosts that
    // read results in place (a TBeamNode is 11 doubles: position, kVector,
    // polarization, intensity, opticalPath).
    const TBeamNode* nodeData() const { return nodes.data(); }
    const int* failedElementData() const { return failed.data(); }
    const int* vignettedElementData() const { return vignettedAt.data(); }

private:
    friend LUMIVEX_API void traceRays(TOpticalSystem&, TRayBatch&, const TTraceOptions&);

    double lambda;
    std::vector<TBeamNode> nodes;
    std::vector<int> failed;                               // −1: ok
    std::vector<int> vignettedAt;                          // −1: not vignetted
    std::vector<std::pair<std::size_t, std::string>> messages;  // failed rays, by ray
    std::vector<TBeam> beams;                              // when the nodes are kept
    bool kept = false;
};

// Traces every ray of the batch through the system, replacing each start
// node by the ray's last node. Before tracing the traced radii are reset as
// TOpticalSystem::traceBeamFan resets them; afterwards every element's
// optRadius is what traceBeamFan over the same rays in order leaves.
//
// Tracing writes element state (the traced radii, a rod's step), so no two
// threads trace through one element: the calling thread traces through the
// system itself, every further thread through its own copies of the
// elements. Elements of a class the element catalogue cannot copy (a host's
// own classes) are traced on the calling thread alone. The rays go through
// the elements as TOpticalSystem::traceBeam takes them, not through an
// override of it.
//
// A ray's failure is recorded in the batch, never thrown. What is thrown is
// an xmsg when the host stopped the trace or a worker could not go on (out
// of memory), after every worker has ended.
LUMIVEX_API void traceRays(TOpticalSystem& system, TRayBatch& batch,
                           const TTraceOptions& options = TTraceOptions());

}  // namespace lumivex

#endif
