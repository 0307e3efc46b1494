// SPDX-License-Identifier: Apache-2.0
// What the batch trace's vector kernels need to know of an element: for a
// surface, the formula its sag follows and that formula's constants, each
// worked out once as the surface's own scalar code works it out, so that a
// lane repeats the scalar arithmetic operation for operation; for a
// gradient-index rod, its profile.
//
// The element catalogue fills them (TElementKind::kernelShape, rodProfile)
// for the kinds that have a kernel; trace/ evaluates them. A new surface
// kind with a kernel is its class, its catalogue entry and its formula in
// trace/kernels.cpp.
#ifndef LUMIVEX_DESCRIPTION_KERNEL_SHAPE_H
#define LUMIVEX_DESCRIPTION_KERNEL_SHAPE_H

#include "lumivex/grin.h"
#include "lumivex/surfaces.h"

namespace lumivex {
namespace detail {

enum class SurfaceShape { kPlane, kSphere, kConic, kEllipse, kHyperbola, kEvenAsphere };

// The sphere of radius R about (0, 0, R): z = R − sqrt(R² − ρ²) for R > 0,
// R + sqrt(R² − ρ²) otherwise.
struct SphereConstants {
    double R = 0.0;
    double R2 = 0.0;  // R·R
};

// The conic of curvature C = 1/R and conic constant κ, as TGeneralLens has
// it: z = C·ρ·ρ / (1 + w), w = sqrt(1 − (1 + κ)·C·C·ρ·ρ), and the slopes'
// common factor C·C·C·ρ²·(κ + 1) / (w·(1 + w)²) + 2·C / (1 + w).
struct ConicConstants {
    double C = 0.0;
    double rootFactor = 0.0;  // (1 + κ)·C·C, the factor of ρ² under the root
    double C3 = 0.0;          // C·C·C
    double kappaPlus1 = 0.0;  // κ + 1
    double twoC = 0.0;        // 2·C
};

// The ellipse (q = sqrt(b² − ρ²)) and the hyperbola (q = sqrt(b² + ρ²)) of
// axial semi-axis a and radial semi-axis b: z = q·(a/b) − a.
struct SemiAxisConstants {
    double a = 0.0;
    double b2 = 0.0;          // b·b
    double aOverB = 0.0;      // a/b
    double minusAOverB = 0.0; // −(a/b), the ellipse's slope factor
};

// The even asphere: its conic (where the radius is not 0) plus
// α1·ρ² + … + α8·ρ¹⁶, and 2i·αᵢ for the slopes.
struct AsphereTerms {
    static constexpr int kCount = TEvenAsphere::kMaxCoefficients;
    bool conicPart = false;
    double alpha[kCount] = {};
    double slopeAlpha[kCount] = {};
};

// A gradient-index rod's profile, n(r)² = n0²·(1 − (g·r)² + h4·(g·r)⁴ +
// h6·(g·r)⁶), as TGrinRod has it: the rod kernel integrates rays through it,
// and the kernel of a surface in front of the rod refracts into it.
struct RodProfile {
    double n0 = 0.0, g = 0.0, h4 = 0.0, h6 = 0.0;
};

// A shape and the constants of that shape; the others stay unset.
struct KernelShape {
    SurfaceShape shape = SurfaceShape::kPlane;
    SphereConstants sphere;
    ConicConstants conic;  // also the even asphere's conic part
    SemiAxisConstants semiAxes;
    AsphereTerms asphere;
};

}  // namespace detail
}  // namespace lumivex

#endif
