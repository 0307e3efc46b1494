// SPDX-License-Identifier: Apache-2.0
// Vector kernels of the batch trace: many rays through one refracting
// surface at a time, in the lanes of the widest vector unit the processor
// has (chosen when the library runs, not when it is built).
//
// A kernel repeats the scalar tracing of the surface operation for operation
// (the same sums in the same order, IEEE division and square root, nothing
// fused), so every ray it carries ends with the bits TSurface::traceBeam
// gives. A ray on which the scalar code would fail, or would take one of its
// rare branches (a grazing or degenerate refraction, a search that does not
// converge, a surface met from behind, a rim), is handed back untouched: the
// batch then traces it through the element itself.
#ifndef LUMIVEX_TRACE_KERNELS_H
#define LUMIVEX_TRACE_KERNELS_H

#include <cstddef>

#include "description/kernel_shape.h"
#include "lumivex/system.h"

namespace lumivex {
namespace detail {

constexpr std::size_t kBlockRays = 256;
// The most doubles one vector holds on any instruction set the kernels run
// on (AVX-512): a kernel takes its rays in whole multiples of it, the lanes
// past the last ray not live.
constexpr std::size_t kMaxLanes = 8;
static_assert(kBlockRays % kMaxLanes == 0, "a block is whole vectors");

// The rays up to `count` rounded up to whole vectors.
constexpr std::size_t paddedToLanes(std::size_t count) {
    return (count + kMaxLanes - 1) / kMaxLanes * kMaxLanes;
}

// The rays of one block as structure of arrays. `live` is 1 for a ray the
// kernels still carry, 0 otherwise; a kernel sets `handedBack` to 1 for a
// ray it leaves (and clears its `live`), and `rho` to the ray's distance
// from the axis at the surface for every ray it carried through.
struct alignas(64) RayBlock {
    double px[kBlockRays], py[kBlockRays], pz[kBlockRays];
    double kx[kBlockRays], ky[kBlockRays], kz[kBlockRays];
    double ex[kBlockRays], ey[kBlockRays], ez[kBlockRays];
    double intensity[kBlockRays], phase[kBlockRays];
    double live[kBlockRays], handedBack[kBlockRays], rho[kBlockRays];
    // For a gradient-index rod: the largest distance from the axis among the
    // ray's interior nodes, which widens the rod's traced radius (−∞ for none).
    double reach[kBlockRays];
};

// One surface as its kernel needs it: the shape the element's catalogue
// entry describes, and the refraction's constants worked out once, each as
// the scalar code computes it.
struct SurfaceKernel : KernelShape {
    double z0 = 0.0;
    double n1 = 1.0, n2 = 1.0;   // the indices in front of and behind the surface
    double ratio = 1.0;          // n1/n2
    double normalT = 1.0;        // the transmittance at normal incidence
    double phaseFactor = 0.0;    // 2π·n1
    double wavelength = 1.0;
};

// Whether `element`, followed by `next`, has a kernel, and its constants:
// the element must be of exactly a catalogue class whose entry has a kernel
// shape, and `next` of a class whose index is constant.
bool surfaceKernel(const TElement& element, const TElement& next, double wavelength,
                   SurfaceKernel& kernel);

// Carries the live rays among the first `count` (a multiple of kMaxLanes,
// the rest not live) through the surface.
void traceSurfaceBlock(const SurfaceKernel& kernel, RayBlock& block, std::size_t count);

// The index of the element a ray enters: a constant, or a gradient-index
// rod's profile at the point.
struct EnteredIndex {
    bool rod = false;
    double n = 1.0;                           // the constant
    double n0 = 0.0, g = 0.0, h4 = 0.0, h6 = 0.0;  // the rod's profile
    // As the element's getRefIndex gives it (the rod's throws beyond its
    // profile's domain).
    double at(double x, double y) const;
};

// Whether rays entering `next` meet an index the kernels can work out (a
// constant or a TGrinRod's profile), and which.
bool enteredIndex(const TElement& next, EnteredIndex& index);

// A gradient-index rod (exactly a TGrinRod) as its kernel needs it: the
// profile's constants worked out once, as TGrinRod::RKStep forms them.
struct RodKernel {
    double z = 0.0;     // the exit plane
    double zGap = 0.0;  // 0 + z: the exit height plus z, as the landing test adds them
    double n0 = 1.0, g = 0.0, h4 = 0.0, h6 = 0.0;
    double nn = 1.0;  // n0·n0
    double a4 = 0.0;  // 2·h4·g⁴
    double a6 = 0.0;  // 3·h6·g⁶
    double gg = 0.0;  // g·g
    double wavelength = 1.0;
    EnteredIndex behind;  // the element the exit face refracts into
};

bool rodKernel(const TElement& element, const TElement& next, double wavelength, RodKernel& kernel);

// Integrates the live rays among the first `count` through the rod and out
// of its exit face, each in its own lane with its own step, a finished lane
// taking the block's next ray. A ray the scalar code would fail (or that
// might) is handed back untouched; `rho` is the distance from the axis where
// the ray leaves, `reach` the largest among its interior nodes.
void traceRodBlock(const RodKernel& kernel, RayBlock& block, std::size_t count);

// The instruction set the kernels run on ("AVX2", "SSE4", ...).
const char* kernelTarget();

}  // namespace detail
}  // namespace lumivex

#endif
