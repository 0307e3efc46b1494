// SPDX-License-Identifier: Apache-2.0
// The vector kernels of the batch trace, compiled once for every instruction
// set Highway targets on x86-64 and chosen at run time.
//
// Each step below is the scalar step of TSurface::traceBeam, the shape's
// heightFunction/heightDerivative, searchSurfaceIntersection and
// normalFromSlopes, refract and transmitAndTurn, with the operands in the
// same order: IEEE addition, multiplication, division and square root give
// the same bits in a lane as in a scalar register, and the library is built
// without contraction into fused multiply-adds. Where the scalar code throws
// or branches off its common path the lane is handed back instead.
#include <cmath>
#include <cstddef>
#include <typeinfo>

#include "trace/kernels.h"

#undef HWY_TARGET_INCLUDE
#define HWY_TARGET_INCLUDE "trace/kernels.cpp"
#include <hwy/foreach_target.h>  // IWYU pragma: keep
#include <hwy/highway.h>

#include "numeric/checked_math.h"
#include "surfaces/height_search.h"
#include "system/refraction.h"

HWY_BEFORE_NAMESPACE();
namespace lumivex {
namespace detail {
namespace HWY_NAMESPACE {

namespace hn = hwy::HWY_NAMESPACE;
using D = hn::ScalableTag<double>;
using V = hn::Vec<D>;
using M = hn::Mask<D>;
static_assert(HWY_LANES(double) <= kMaxLanes, "the blocks are padded to whole vectors");

// The sag and slopes of the shape at (x, y): fails (the lane is handed back)
// where the scalar square root would throw.
struct Shape {
    const SurfaceKernel& s;

    // rho = sqrt(x² + y²) as radialDistance computes it.
    static V radial(D, V x, V y) { return hn::Sqrt(hn::Add(hn::Mul(x, x), hn::Mul(y, y))); }

    // The square root under the shape (q, w) and whether its argument is
    // non-negative; NaN passes, as math::sqrt lets it pass.
    V root(D d, V rho, M& bad) const {
        V arg;
        switch (s.shape) {
            case SurfaceShape::kSphere:  // R² − ρ²
                arg = hn::Sub(hn::Set(d, s.sphere.R2), hn::Mul(rho, rho));
                break;
            case SurfaceShape::kConic:  // 1 − (1 + κ)·C·C·ρ·ρ
            case SurfaceShape::kEvenAsphere:
                arg = hn::Sub(hn::Set(d, 1.0),
                              hn::Mul(hn::Mul(hn::Set(d, s.conic.rootFactor), rho), rho));
                break;
            case SurfaceShape::kEllipse:  // b² − ρ²
                arg = hn::Sub(hn::Set(d, s.semiAxes.b2), hn::Mul(rho, rho));
                break;
            default:  // hyperbola: b² + ρ²
                arg = hn::Add(hn::Set(d, s.semiAxes.b2), hn::Mul(rho, rho));
                break;
        }
        bad = hn::Lt(arg, hn::Zero(d));
        return hn::Sqrt(arg);
    }

    // Horner in ρ² = s over the coefficients, from the last: α1 + s·(α2 + …).
    static V horner(D d, const double* a, V s2) {
        V sum = hn::Zero(d);
        for (int i = AsphereTerms::kCount - 1; i >= 0; --i)
            sum = hn::Add(hn::Mul(sum, s2), hn::Set(d, a[i]));
        return sum;
    }

    // The even asphere's sag, as TEvenAsphere::heightFunction: the conic of
    // ρ = sqrt(s) plus s·(α1 + s·(α2 + …)).
    V asphereHeight(D d, V x, V y, M& bad) const {
        const V s2 = hn::Add(hn::Mul(x, x), hn::Mul(y, y));
        V conic = hn::Zero(d);
        bad = hn::FirstN(d, 0);
        if (s.asphere.conicPart) {
            const V rho = hn::Sqrt(s2);
            const V q = root(d, rho, bad);
            const V C = hn::Set(d, s.conic.C);
            conic = hn::Div(hn::Mul(hn::Mul(C, rho), rho), hn::Add(hn::Set(d, 1.0), q));
        }
        return hn::Add(conic, hn::Mul(horner(d, s.asphere.alpha, s2), s2));
    }

    // Its slopes, as TEvenAsphere::heightDerivative: the conic part from s
    // itself, then 2i·αᵢ·s^(i−1) summed by Horner.
    void asphereSlopes(D d, V x, V y, V& sx, V& sy, M& bad) const {
        const V s2 = hn::Add(hn::Mul(x, x), hn::Mul(y, y));
        V S = hn::Zero(d);
        bad = hn::FirstN(d, 0);
        if (s.asphere.conicPart) {
            const V one = hn::Set(d, 1.0);
            const V arg = hn::Sub(one, hn::Mul(hn::Set(d, s.conic.rootFactor), s2));
            bad = hn::Lt(arg, hn::Zero(d));
            const V w = hn::Sqrt(arg);
            const V onePlusW = hn::Add(one, w);
            const V num = hn::Mul(hn::Mul(hn::Set(d, s.conic.C3), s2), hn::Set(d, s.conic.kappaPlus1));
            const V den = hn::Mul(hn::Mul(w, onePlusW), onePlusW);
            S = hn::Add(hn::Div(num, den), hn::Div(hn::Set(d, s.conic.twoC), onePlusW));
        }
        V dpoly = hn::Zero(d);
        for (int i = AsphereTerms::kCount - 1; i >= 0; --i)
            dpoly = hn::Add(hn::Mul(dpoly, s2), hn::Set(d, s.asphere.slopeAlpha[i]));
        S = hn::Add(S, dpoly);
        sx = hn::Mul(S, x);
        sy = hn::Mul(S, y);
    }

    V height(D d, V x, V y, M& bad) const {
        if (s.shape == SurfaceShape::kEvenAsphere) return asphereHeight(d, x, y, bad);
        const V rho = radial(d, x, y);
        const V q = root(d, rho, bad);
        switch (s.shape) {
            case SurfaceShape::kSphere: {
                const V R = hn::Set(d, s.sphere.R);
                return s.sphere.R > 0.0 ? hn::Sub(R, q) : hn::Add(R, q);
            }
            case SurfaceShape::kConic: {
                const V C = hn::Set(d, s.conic.C);
                return hn::Div(hn::Mul(hn::Mul(C, rho), rho), hn::Add(hn::Set(d, 1.0), q));
            }
            default:  // ellipse and hyperbola: q·(a/b) − a
                return hn::Sub(hn::Mul(q, hn::Set(d, s.semiAxes.aOverB)), hn::Set(d, s.semiAxes.a));
        }
    }

    // The slopes; `bad` also where the scalar code takes its rim branch.
    void slopes(D d, V x, V y, V& sx, V& sy, M& bad) const {
        if (s.shape == SurfaceShape::kEvenAsphere) return asphereSlopes(d, x, y, sx, sy, bad);
        const V rho = radial(d, x, y);
        const V q = root(d, rho, bad);
        switch (s.shape) {
            case SurfaceShape::kSphere: {
                const V dd = s.sphere.R > 0.0 ? q : hn::Neg(q);
                bad = hn::Or(bad, hn::Eq(dd, hn::Zero(d)));
                sx = hn::Div(x, dd);
                sy = hn::Div(y, dd);
                return;
            }
            case SurfaceShape::kConic: {
                const V one = hn::Set(d, 1.0);
                const V w = q;
                const V onePlusW = hn::Add(one, w);
                const V num = hn::Mul(hn::Mul(hn::Mul(hn::Set(d, s.conic.C3), rho), rho),
                                      hn::Set(d, s.conic.kappaPlus1));
                const V den = hn::Mul(hn::Mul(w, onePlusW), onePlusW);
                const V S = hn::Add(hn::Div(num, den), hn::Div(hn::Set(d, s.conic.twoC), onePlusW));
                sx = hn::Mul(S, x);
                sy = hn::Mul(S, y);
                return;
            }
            case SurfaceShape::kEllipse: {
                bad = hn::Or(bad, hn::Eq(q, hn::Zero(d)));
                const V f = hn::Set(d, s.semiAxes.minusAOverB);
                sx = hn::Div(hn::Mul(f, x), q);
                sy = hn::Div(hn::Mul(f, y), q);
                return;
            }
            default: {
                bad = hn::Or(bad, hn::Eq(q, hn::Zero(d)));
                const V f = hn::Set(d, s.semiAxes.aOverB);
                sx = hn::Div(hn::Mul(f, x), q);
                sy = hn::Div(hn::Mul(f, y), q);
                return;
            }
        }
    }
};

V Dot(V ax, V ay, V az, V bx, V by, V bz) {
    return hn::Add(hn::Add(hn::Mul(ax, bx), hn::Mul(ay, by)), hn::Mul(az, bz));
}

// Lanes in [lo, hi] pass checkUnitDot.
M WithinUnit(D d, V v) {
    return hn::And(hn::Le(v, hn::Set(d, 1.0 + 1e-12)), hn::Ge(v, hn::Set(d, -1.0 - 1e-12)));
}

V ClampUnit(D d, V v) {
    // d > 1 ? 1 : (d < −1 ? −1 : d), NaN kept (it never gets here).
    const V one = hn::Set(d, 1.0);
    const V minusOne = hn::Set(d, -1.0);
    return hn::IfThenElse(hn::Gt(v, one), one, hn::IfThenElse(hn::Lt(v, minusOne), minusOne, v));
}

void TraceSurfaceBlock(const SurfaceKernel& s, RayBlock& b, std::size_t count) {
    const D d;
    const std::size_t N = hn::Lanes(d);
    const V zero = hn::Zero(d);
    const V one = hn::Set(d, 1.0);
    const V z0 = hn::Set(d, s.z0);
    const Shape shape{s};
    for (std::size_t i = 0; i < count; i += N) {
        M live = hn::Eq(hn::Load(d, b.live + i), one);
        if (hn::AllFalse(d, live)) continue;
        const V px = hn::Load(d, b.px + i), py = hn::Load(d, b.py + i), pz = hn::Load(d, b.pz + i);
        const V kx = hn::Load(d, b.kx + i), ky = hn::Load(d, b.ky + i), kz = hn::Load(d, b.kz + i);

        // The ray parallel to the vertex plane has no intersection.
        M back = hn::Eq(kz, zero);
        const V t = hn::Div(hn::Sub(z0, pz), kz);
        V Px, Py, Pz;
        if (s.shape == SurfaceShape::kPlane) {
            Px = hn::Add(px, hn::Mul(t, kx));
            Py = hn::Add(py, hn::Mul(t, ky));
            Pz = hn::Add(pz, hn::Mul(t, kz));
        } else {
            // The fixed-point search along the ray, lane by lane: a lane that
            // converged waits with its point while the others go on.
            Px = hn::Add(px, hn::Mul(kx, t));
            Py = hn::Add(py, hn::Mul(ky, t));
            Pz = hn::Add(pz, hn::Mul(kz, t));
            M searching = hn::AndNot(back, live);
            for (int step = 1;; ++step) {
                M bad;
                const V h = shape.height(d, Px, Py, bad);
                const V delta = hn::Sub(hn::Add(h, z0), Pz);
                const V u = hn::Div(delta, kz);
                Px = hn::IfThenElse(searching, hn::Add(Px, hn::Mul(kx, u)), Px);
                Py = hn::IfThenElse(searching, hn::Add(Py, hn::Mul(ky, u)), Py);
                Pz = hn::IfThenElse(searching, hn::Add(Pz, hn::Mul(kz, u)), Pz);
                // A failed root, a NaN gap (the scalar search runs to its
                // limit on it) and the limit itself go back to the scalar code.
                const M nan = hn::Ne(delta, delta);
                back = hn::Or(back, hn::And(searching, hn::Or(bad, nan)));
                if (step == kSearchLimit) {
                    back = hn::Or(back, searching);
                    break;
                }
                const M converged = hn::Le(hn::Abs(delta), hn::Set(d, kSearchTolerance));
                searching = hn::AndNot(hn::Or(converged, hn::Or(bad, nan)), searching);
                if (hn::AllFalse(d, searching)) break;
            }
        }

        // The normal.
        V Nx, Ny, Nz;
        if (s.shape == SurfaceShape::kPlane) {
            Nx = zero;
            Ny = zero;
            Nz = one;
        } else {
            V sx, sy;
            M bad;
            shape.slopes(d, Px, Py, sx, sy, bad);
            back = hn::Or(back, bad);
            const V r = hn::Div(one, hn::Sqrt(hn::Add(hn::Add(one, hn::Mul(sx, sx)), hn::Mul(sy, sy))));
            Nx = hn::Mul(hn::Neg(sx), r);
            Ny = hn::Mul(hn::Neg(sy), r);
            Nz = r;
        }

        // Snell's law; only rays met from the front.
        const V cosI = Dot(Nx, Ny, Nz, kx, ky, kz);
        back = hn::Or(back, hn::Not(hn::Gt(cosI, zero)));
        const V ratio = hn::Set(d, s.ratio);
        const V radicand = hn::Sub(one, hn::Mul(hn::Mul(ratio, ratio), hn::Sub(one, hn::Mul(cosI, cosI))));
        back = hn::Or(back, hn::Lt(radicand, zero));
        const V cosT = hn::Sqrt(radicand);
        const V g = hn::Sub(hn::Mul(ratio, cosI), cosT);
        const V vx = hn::Sub(hn::Mul(kx, ratio), hn::Mul(Nx, g));
        const V vy = hn::Sub(hn::Mul(ky, ratio), hn::Mul(Ny, g));
        const V vz = hn::Sub(hn::Mul(kz, ratio), hn::Mul(Nz, g));
        const V vLength = hn::Sqrt(Dot(vx, vy, vz, vx, vy, vz));
        back = hn::Or(back, hn::Eq(vLength, zero));
        const V vr = hn::Div(one, vLength);
        const V Kx = hn::Mul(vx, vr), Ky = hn::Mul(vy, vr), Kz = hn::Mul(vz, vr);

        // The transmittance and the turn of the field.
        const V ex = hn::Load(d, b.ex + i), ey = hn::Load(d, b.ey + i), ez = hn::Load(d, b.ez + i);
        const V cosR = Dot(Nx, Ny, Nz, Kx, Ky, Kz);
        V Ax = hn::Sub(hn::Mul(Ky, kz), hn::Mul(Kz, ky));
        V Ay = hn::Sub(hn::Mul(Kz, kx), hn::Mul(Kx, kz));
        V Az = hn::Sub(hn::Mul(Kx, ky), hn::Mul(Ky, kx));
        const V lengthA = hn::Sqrt(Dot(Ax, Ay, Az, Ax, Ay, Az));
        const M turned = hn::Gt(lengthA, zero);
        const V ar = hn::Div(one, lengthA);
        Ax = hn::IfThenElse(turned, hn::Mul(Ax, ar), Ax);
        Ay = hn::IfThenElse(turned, hn::Mul(Ay, ar), Ay);
        Az = hn::IfThenElse(turned, hn::Mul(Az, ar), Az);
        const V eLength = hn::Sqrt(Dot(ex, ey, ez, ex, ey, ez));
        back = hn::Or(back, hn::Eq(eLength, zero));
        const V er = hn::Div(one, eLength);
        const V a = Dot(Ax, Ay, Az, hn::Mul(ex, er), hn::Mul(ey, er), hn::Mul(ez, er));
        back = hn::Or(back, hn::Not(hn::And(WithinUnit(d, cosI),
                                            hn::And(WithinUnit(d, cosR), WithinUnit(d, a)))));

        const V nearNormal = hn::Set(d, kNearNormalCosine);
        M normal = hn::And(hn::Gt(cosI, nearNormal), hn::Gt(cosR, nearNormal));
        normal = hn::AndNot(back, hn::And(normal, live));
        if (!hn::AllFalse(d, normal)) {
            // Near the axis the sum of the two angles decides: computed here
            // with the scalar arccosine, lane by lane (rare).
            alignas(64) double ci[kMaxLanes], cr[kMaxLanes], flag[kMaxLanes];
            hn::Store(cosI, d, ci);
            hn::Store(cosR, d, cr);
            hn::Store(hn::VecFromMask(d, normal), d, flag);
            double isNormal[kMaxLanes];
            for (std::size_t l = 0; l < N; ++l) {
                bool yes = false;
                if (flag[l] != 0.0) yes = math::acosUnit(ci[l]) + math::acosUnit(cr[l]) < 1e-4;
                isNormal[l] = yes ? 1.0 : 0.0;
            }
            normal = hn::Eq(hn::LoadU(d, isNormal), one);
        }
        // The angles' sines fail on NaN.
        back = hn::Or(back, hn::AndNot(normal, hn::Or(hn::Ne(cosR, cosR), hn::Ne(a, a))));
        const V c1 = ClampUnit(d, cosI), c2 = ClampUnit(d, cosR);
        const V s1 = hn::Sqrt(hn::Mul(hn::Sub(one, c1), hn::Add(one, c1)));
        const V s2 = hn::Sqrt(hn::Mul(hn::Sub(one, c2), hn::Add(one, c2)));
        const V sinPhi = ClampUnit(d, a);
        const V cos2Phi = hn::Mul(hn::Sub(one, sinPhi), hn::Add(one, sinPhi));
        const V sin2Product = hn::Mul(hn::Mul(hn::Mul(hn::Mul(hn::Set(d, 4.0), s1), c1), s2), c2);
        const V sinSum = hn::Add(hn::Mul(s1, c2), hn::Mul(c1, s2));
        const V cosDifference = hn::Add(hn::Mul(c1, c2), hn::Mul(s1, s2));
        // The degenerate refracted directions take the textbook form.
        back = hn::Or(back, hn::AndNot(normal, hn::Not(hn::And(hn::Gt(sinSum, zero),
                                                               hn::Gt(cosDifference, zero)))));
        const V Ts = hn::Div(sin2Product, hn::Mul(sinSum, sinSum));
        const V Tp = hn::Div(Ts, hn::Mul(cosDifference, cosDifference));
        V Tangle = hn::Add(hn::Mul(cos2Phi, Tp), hn::Mul(hn::Mul(sinPhi, sinPhi), Ts));
        // Never below 0, as the scalar path clamps a grazing ray's rounding.
        Tangle = hn::IfThenElse(hn::Lt(Tangle, zero), zero, Tangle);
        const V T = hn::IfThenElse(normal, hn::Set(d, s.normalT), Tangle);

        // E turned about A by the angle from k to K.
        const V dk = Dot(kx, ky, kz, Kx, Ky, Kz);
        const M inside = hn::Lt(hn::Abs(dk), one);
        const V C = hn::IfThenElse(inside, dk, one);
        const V S = hn::IfThenElse(inside, hn::Sqrt(hn::Mul(hn::Sub(one, dk), hn::Add(one, dk))), zero);
        const V tt = hn::Sub(one, C);
        const V rx = hn::Add(hn::Add(hn::Mul(hn::Add(hn::Mul(hn::Mul(Ax, Ax), tt), C), ex),
                                     hn::Mul(hn::Add(hn::Mul(hn::Mul(Ax, Ay), tt), hn::Mul(Az, S)), ey)),
                             hn::Mul(hn::Sub(hn::Mul(hn::Mul(Ax, Az), tt), hn::Mul(Ay, S)), ez));
        const V ry = hn::Add(hn::Add(hn::Mul(hn::Sub(hn::Mul(hn::Mul(Ax, Ay), tt), hn::Mul(Az, S)), ex),
                                     hn::Mul(hn::Add(hn::Mul(hn::Mul(Ay, Ay), tt), C), ey)),
                             hn::Mul(hn::Add(hn::Mul(hn::Mul(Ay, Az), tt), hn::Mul(Ax, S)), ez));
        const V rz = hn::Add(hn::Add(hn::Mul(hn::Add(hn::Mul(hn::Mul(Ax, Az), tt), hn::Mul(Ay, S)), ex),
                                     hn::Mul(hn::Sub(hn::Mul(hn::Mul(Ay, Az), tt), hn::Mul(Ax, S)), ey)),
                             hn::Mul(hn::Add(hn::Mul(hn::Mul(Az, Az), tt), C), ez));
        const V Ex = hn::IfThenElse(turned, rx, ex);
        const V Ey = hn::IfThenElse(turned, ry, ey);
        const V Ez = hn::IfThenElse(turned, rz, ez);
        const V polLength = hn::Sqrt(Dot(Ex, Ey, Ez, Ex, Ey, Ez));
        back = hn::Or(back, hn::Eq(polLength, zero));
        const V pr = hn::Div(one, polLength);

        // The phase of the segment from the last node to P.
        const V dx = hn::Sub(Px, px), dy = hn::Sub(Py, py), dz = hn::Sub(Pz, pz);
        const V segment = hn::Sqrt(Dot(dx, dy, dz, dx, dy, dz));
        const V phase = hn::Add(hn::Load(d, b.phase + i),
                                hn::Div(hn::Mul(hn::Set(d, s.phaseFactor), segment),
                                        hn::Set(d, s.wavelength)));

        back = hn::And(back, live);
        const M ok = hn::AndNot(back, live);
        hn::Store(hn::IfThenElse(ok, Px, px), d, b.px + i);
        hn::Store(hn::IfThenElse(ok, Py, py), d, b.py + i);
        hn::Store(hn::IfThenElse(ok, Pz, pz), d, b.pz + i);
        hn::Store(hn::IfThenElse(ok, Kx, kx), d, b.kx + i);
        hn::Store(hn::IfThenElse(ok, Ky, ky), d, b.ky + i);
        hn::Store(hn::IfThenElse(ok, Kz, kz), d, b.kz + i);
        hn::Store(hn::IfThenElse(ok, hn::Mul(Ex, pr), ex), d, b.ex + i);
        hn::Store(hn::IfThenElse(ok, hn::Mul(Ey, pr), ey), d, b.ey + i);
        hn::Store(hn::IfThenElse(ok, hn::Mul(Ez, pr), ez), d, b.ez + i);
        const V I = hn::Load(d, b.intensity + i);
        hn::Store(hn::IfThenElse(ok, hn::Mul(I, T), I), d, b.intensity + i);
        hn::Store(hn::IfThenElse(ok, phase, hn::Load(d, b.phase + i)), d, b.phase + i);
        hn::Store(Shape::radial(d, Px, Py), d, b.rho + i);
        hn::Store(hn::IfThenElse(ok, one, zero), d, b.live + i);
        hn::Store(hn::IfThenElse(back, one, zero), d, b.handedBack + i);
    }
}

}  // namespace HWY_NAMESPACE
}  // namespace detail
}  // namespace lumivex
HWY_AFTER_NAMESPACE();

#if HWY_ONCE
#include "lumivex/description.h"
#include "lumivex/surfaces.h"

namespace lumivex {
namespace detail {

HWY_EXPORT(TraceSurfaceBlock);

void traceSurfaceBlock(const SurfaceKernel& kernel, RayBlock& block, std::size_t count) {
    HWY_DYNAMIC_DISPATCH(TraceSurfaceBlock)(kernel, block, count);
}

const char* kernelTarget() {
    // The target the dispatch picks: the best of those compiled in that the
    // processor supports.
    const int64_t targets = hwy::SupportedTargets() & HWY_TARGETS;
    return hwy::TargetName(targets & -targets);
}

namespace {

// The index a surface refracts into: a constant behind a plain element and
// an element whose catalogue entry says so, not in a gradient-index medium or
// a host's own class.
bool constantIndex(const TElement& next, double& n) {
    const TElementKind* kind = exactKindOf(next);
    if (typeid(next) != typeid(TElement) && !(kind && kind->constantIndex)) return false;
    n = next.getRefIndex(TVector(), 0.0).real();
    return true;
}

}  // namespace

bool enteredIndex(const TElement& next, EnteredIndex& index) {
    const TElementKind* kind = exactKindOf(next);
    RodProfile profile;
    if (kind && kind->rodProfile && kind->rodProfile(next, profile)) {
        index.rod = true;
        index.n0 = profile.n0, index.g = profile.g, index.h4 = profile.h4, index.h6 = profile.h6;
        return true;
    }
    index.rod = false;
    return constantIndex(next, index.n);
}

bool surfaceKernel(const TElement& element, const TElement& next, double wavelength,
                   SurfaceKernel& k) {
    const TElementKind* kind = exactKindOf(element);
    SurfaceKernel s;
    if (!kind || !kind->kernelShape || !kind->kernelShape(element, s)) return false;
    const auto& surface = dynamic_cast<const TSurface&>(element);
    s.z0 = surface.zPosition;
    s.n1 = surface.refIndex.real();
    if (!constantIndex(next, s.n2)) return false;
    // Indices that are not finite and positive are left to the scalar code
    // and its messages.
    if (!(s.n1 > 0.0 && s.n2 > 0.0 && std::isfinite(s.n1) && std::isfinite(s.n2))) return false;
    const double m = s.n2 / s.n1;
    if (std::isinf(m)) return false;
    s.ratio = s.n1 / s.n2;
    s.normalT = 4.0 * m / ((m + 1.0) * (m + 1.0));
    s.phaseFactor = 2.0 * 3.141592653589793 * s.n1;
    s.wavelength = wavelength;
    k = s;
    return true;
}

}  // namespace detail
}  // namespace lumivex
#endif
