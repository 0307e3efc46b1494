// SPDX-License-Identifier: Apache-2.0
// The gradient-index rod in vector lanes, compiled once for every
// instruction set Highway targets on x86-64 and chosen at run time.
//
// Each lane integrates one ray as TGRIN::traceBeam and TGrinRod::RKStep do:
// its own step (doubled, halved or kept by the same test of the stages),
// the landing of the last step on the exit plane, the phase of every chord
// with the index at its midpoint, the interior nodes' largest radius, and
// the same limits. The operations are those of the scalar code in its
// order, IEEE addition, multiplication, division and square root, nothing
// fused, so a lane's ray ends with the bits of the scalar trace. Rays take
// some thousand steps, a different number each: a lane that reaches the
// exit face leaves through it (scalar code, once per ray) and takes the
// block's next ray, so the lanes stay full until the block runs dry.
#include <cmath>
#include <cstddef>
#include <limits>
#include <typeinfo>

#include "trace/kernels.h"

#undef HWY_TARGET_INCLUDE
#define HWY_TARGET_INCLUDE "trace/grin_kernel.cpp"
#include <hwy/foreach_target.h>  // IWYU pragma: keep
#include <hwy/highway.h>

#include "grin/rod_profile.h"

HWY_BEFORE_NAMESPACE();
namespace lumivex {
namespace detail {
namespace HWY_NAMESPACE {

namespace hn = hwy::HWY_NAMESPACE;
using D = hn::ScalableTag<double>;
using V = hn::Vec<D>;
using M = hn::Mask<D>;

static_assert(HWY_LANES(double) <= kMaxLanes, "the lanes' state holds every lane");
constexpr double kPhasePi = 3.141592653589793;

// The lanes' state, spilled to memory only when a lane finishes.
struct alignas(64) Lanes {
    double px[kMaxLanes], py[kMaxLanes], pz[kMaxLanes];
    double kx[kMaxLanes], ky[kMaxLanes], kz[kMaxLanes];
    double step[kMaxLanes];    // the next step's length
    double curve[kMaxLanes];   // n0²/β², the ray's factor of the profile's curvature
    double phase[kMaxLanes];
    double zNext[kMaxLanes];   // where the next interior node falls due
    double dzNode[kMaxLanes];  // the medium's length / 50 for this ray
    double steps[kMaxLanes];
    double rho[kMaxLanes];     // the largest radius of the interior nodes
    double active[kMaxLanes];
    long ray[kMaxLanes];       // the block's ray in the lane, −1 for none
};

// One axis's classical Runge–Kutta step for the state (u, s = du/dz) under
// d²u/dz² = c·u, and its proposal for the next step: rungeKuttaStep with
// the rod's slope field, component by component.
void AxisStep(D d, V c, V h, V& u, V& s, V& next) {
    const V half = hn::Set(d, 0.5);
    const V two = hn::Set(d, 2.0);
    const V k1u = hn::Mul(s, h);
    const V k1s = hn::Mul(hn::Mul(c, u), h);
    const V u1 = hn::Add(u, hn::Mul(k1u, half));
    const V s1 = hn::Add(s, hn::Mul(k1s, half));
    const V k2u = hn::Mul(s1, h);
    const V k2s = hn::Mul(hn::Mul(c, u1), h);
    const V u2 = hn::Add(u, hn::Mul(k2u, half));
    const V s2 = hn::Add(s, hn::Mul(k2s, half));
    const V k3u = hn::Mul(s2, h);
    const V k3s = hn::Mul(hn::Mul(c, u2), h);
    const V u3 = hn::Add(u, k3u);
    const V s3 = hn::Add(s, k3s);
    const V k4u = hn::Mul(s3, h);
    const V k4s = hn::Mul(hn::Mul(c, u3), h);
    const V sixth = hn::Set(d, 0.16666666666666666);
    const V sumU = hn::Add(hn::Add(hn::Add(k1u, hn::Mul(k2u, two)), hn::Mul(k3u, two)), k4u);
    const V sumS = hn::Add(hn::Add(hn::Add(k1s, hn::Mul(k2s, two)), hn::Mul(k3s, two)), k4s);
    u = hn::Add(u, hn::Mul(sumU, sixth));
    s = hn::Add(s, hn::Mul(sumS, sixth));

    const V tiny = hn::Set(d, 1e-40);
    const V zero = hn::Zero(d);
    const V du = hn::Sub(k2u, k1u);
    const V ds = hn::Sub(k2s, k1s);
    const V qu = hn::IfThenElse(hn::Lt(hn::Abs(du), tiny), zero,
                                hn::Mul(two, hn::Abs(hn::Div(hn::Sub(k3u, k2u), du))));
    const V qs = hn::IfThenElse(hn::Lt(hn::Abs(ds), tiny), zero,
                                hn::Mul(two, hn::Abs(hn::Div(hn::Sub(k3s, k2s), ds))));
    const V q = hn::IfThenElse(hn::Le(qu, qs), qu, qs);
    next = h;
    next = hn::IfThenElse(hn::Lt(q, hn::Set(d, 0.0002)), hn::Mul(two, next), next);
    next = hn::IfThenElse(hn::Gt(q, hn::Set(d, 0.0016)), hn::Mul(half, next), next);
    next = hn::IfThenElse(hn::Lt(next, hn::Set(d, 1e-8)), hn::Set(d, 1e-8), next);
}

M AllFinite(D d, V a, V b, V c) {
    // x − x is 0 for a finite x and NaN otherwise.
    const V sum = hn::Add(hn::Add(hn::Sub(a, a), hn::Sub(b, b)), hn::Sub(c, c));
    return hn::Eq(sum, hn::Zero(d));
}

// Puts ray j of the block into lane l as TGRIN::traceBeam starts it; false
// when the scalar code would fail at the start or soon after (an index
// beyond the profile, a ray that is not finite or runs across the axis).
bool StartRay(const RodKernel& rod, const RayBlock& b, std::size_t j, Lanes& s, std::size_t l) {
    const double px = b.px[j], py = b.py[j], pz = b.pz[j];
    const double kx = b.kx[j], ky = b.ky[j], kz = b.kz[j];
    if (!(std::isfinite(px) && std::isfinite(py) && std::isfinite(pz) && std::isfinite(kx) &&
          std::isfinite(ky) && std::isfinite(kz)) ||
        kz == 0.0)
        return false;
    double n;
    try {
        n = rodIndex(rod.n0, rod.g, rod.h4, rod.h6, px, py);
    } catch (const xmsg&) {
        return false;
    }
    // findInitialValues: 1/β² from the entry direction and index.
    const double sx = kx / kz;
    const double sy = ky / kz;
    const double inv = (1.0 + sx * sx + sy * sy) / n / n;
    const double curve = rod.nn * inv;
    const double length = rod.z - pz;
    const double dz = length / 50;
    if (!std::isfinite(curve) || !std::isfinite(dz)) return false;
    s.px[l] = px, s.py[l] = py, s.pz[l] = pz;
    s.kx[l] = kx, s.ky[l] = ky, s.kz[l] = kz;
    s.step[l] = kGradientFirstStep;
    s.curve[l] = curve;
    s.phase[l] = b.phase[j];
    s.zNext[l] = pz + dz;
    s.dzNode[l] = dz;
    s.steps[l] = 0.0;
    s.rho[l] = -std::numeric_limits<double>::infinity();
    s.active[l] = 1.0;
    s.ray[l] = static_cast<long>(j);
    return true;
}

// An idle lane: a ray on the axis far from any trouble, never read.
void IdleLane(const RodKernel& rod, Lanes& s, std::size_t l) {
    s.px[l] = 0.0, s.py[l] = 0.0, s.pz[l] = rod.z - 1.0;
    s.kx[l] = 0.0, s.ky[l] = 0.0, s.kz[l] = 1.0;
    s.step[l] = kGradientFirstStep;
    s.curve[l] = 0.0;
    s.phase[l] = 0.0;
    s.zNext[l] = rod.z;
    s.dzNode[l] = 1.0;
    s.steps[l] = 0.0;
    s.rho[l] = 0.0;
    s.active[l] = 0.0;
    s.ray[l] = -1;
}

void HandBack(RayBlock& b, std::size_t j) {
    b.live[j] = 0.0;
    b.handedBack[j] = 1.0;
}

// The ray in lane l has reached the exit face: it leaves through it as
// TGRIN::traceBeam leaves, into the block.
void Leave(const RodKernel& rod, RayBlock& b, const Lanes& s, std::size_t l) {
    const std::size_t j = static_cast<std::size_t>(s.ray[l]);
    const TVector P(s.px[l], s.py[l], s.pz[l]);
    const TVector Kf(s.kx[l], s.ky[l], s.kz[l]);
    try {
        const double nIn = rodIndex(rod.n0, rod.g, rod.h4, rod.h6, P.x, P.y);
        const double nOut = rod.behind.at(P.x, P.y);
        const TBeamNode node = leaveGradientMedium(
            TVector(b.kx[j], b.ky[j], b.kz[j]), TVector(b.ex[j], b.ey[j], b.ez[j]), b.intensity[j],
            P, Kf, s.phase[l], nIn, nOut, TVector(0.0, 0.0, 1.0));
        b.px[j] = node.position.x, b.py[j] = node.position.y, b.pz[j] = node.position.z;
        b.kx[j] = node.kVector.x, b.ky[j] = node.kVector.y, b.kz[j] = node.kVector.z;
        b.ex[j] = node.polarization.x, b.ey[j] = node.polarization.y;
        b.ez[j] = node.polarization.z;
        b.intensity[j] = node.intensity;
        b.phase[j] = node.opticalPath;
        // As the batch measures a ray against a clear aperture.
        b.rho[j] = std::sqrt(P.x * P.x + P.y * P.y);
        b.reach[j] = s.rho[l];
    } catch (const xmsg&) {
        HandBack(b, j);
    }
}

void TraceRodBlock(const RodKernel& rod, RayBlock& b, std::size_t count) {
    const D d;
    const std::size_t N = hn::Lanes(d);
    Lanes s;
    std::size_t next = 0;  // the block's next ray to take
    // Fills lane l with the next ray that starts well, or leaves it idle.
    auto fill = [&](std::size_t l) {
        for (; next < count; ++next) {
            if (b.live[next] != 1.0) continue;
            if (StartRay(rod, b, next, s, l)) {
                ++next;
                return;
            }
            HandBack(b, next);
        }
        IdleLane(rod, s, l);
    };
    for (std::size_t l = 0; l < N; ++l) fill(l);

    const V zero = hn::Zero(d);
    const V one = hn::Set(d, 1.0);
    const V half = hn::Set(d, 0.5);
    const V z = hn::Set(d, rod.z);
    const V zGap = hn::Set(d, rod.zGap);
    const V a4 = hn::Set(d, rod.a4), a6 = hn::Set(d, rod.a6), gg = hn::Set(d, rod.gg);
    const V g = hn::Set(d, rod.g), h4 = hn::Set(d, rod.h4), h6 = hn::Set(d, rod.h6);
    const V n0 = hn::Set(d, rod.n0);
    const V phaseFactor = hn::Set(d, 2.0);
    const V pi = hn::Set(d, kPhasePi);
    const V wavelength = hn::Set(d, rod.wavelength);
    const V maxSteps = hn::Set(d, static_cast<double>(kGradientMaxSteps));
    const V exitTolerance = hn::Set(d, 1e-9);

    V px = hn::Load(d, s.px), py = hn::Load(d, s.py), pz = hn::Load(d, s.pz);
    V kx = hn::Load(d, s.kx), ky = hn::Load(d, s.ky), kz = hn::Load(d, s.kz);
    V step = hn::Load(d, s.step), curve = hn::Load(d, s.curve), phase = hn::Load(d, s.phase);
    V zNext = hn::Load(d, s.zNext), dzNode = hn::Load(d, s.dzNode), steps = hn::Load(d, s.steps);
    V rho = hn::Load(d, s.rho);
    M active = hn::Eq(hn::Load(d, s.active), one);

    while (!hn::AllFalse(d, active)) {
        // Land the last step on the exit plane (findSurfaceIntersection).
        M bad = hn::FirstN(d, 0);
        const M land = hn::And(active, hn::Lt(hn::Sub(zGap, pz), step));
        if (!hn::AllFalse(d, land)) {
            bad = hn::And(land, hn::Eq(kz, zero));
            const V t = hn::Div(hn::Sub(z, pz), kz);
            step = hn::IfThenElse(land, hn::Sub(hn::Add(pz, hn::Mul(kz, t)), pz), step);
        }
        const V h = step;

        // The curvature factor at the start of the step.
        const V r = hn::Sqrt(hn::Add(hn::Mul(px, px), hn::Mul(py, py)));
        const V r2 = hn::Mul(r, r);
        const V profile =
            hn::Sub(hn::Add(hn::Mul(a4, r2), hn::Mul(hn::Mul(a6, r2), r2)), gg);
        const V c = hn::Mul(curve, profile);

        V ux = px, sx = hn::Div(kx, kz), hx;
        V uy = py, sy = hn::Div(ky, kz), hy;
        AxisStep(d, c, h, ux, sx, hx);
        AxisStep(d, c, h, uy, sy, hy);
        step = hn::IfThenElse(hn::Le(hx, hy), hx, hy);

        const V Pz = hn::Add(pz, h);
        const V kzNew = hn::Div(one, hn::Sqrt(hn::Add(hn::Add(hn::Mul(sx, sx), one), hn::Mul(sy, sy))));
        const V kxNew = hn::Mul(sx, kzNew);
        const V kyNew = hn::Mul(sy, kzNew);
        steps = hn::Add(steps, one);
        bad = hn::Or(bad, hn::Not(hn::And(AllFinite(d, ux, uy, Pz), AllFinite(d, kxNew, kyNew, kzNew))));

        // The chord's phase with the index at its midpoint.
        const V dx = hn::Sub(ux, px), dy = hn::Sub(uy, py), dz = hn::Sub(Pz, pz);
        const V mx = hn::Add(px, hn::Mul(dx, half)), my = hn::Add(py, hn::Mul(dy, half));
        const V u = hn::Mul(g, hn::Sqrt(hn::Add(hn::Mul(mx, mx), hn::Mul(my, my))));
        const V u2 = hn::Mul(u, u);
        const V u4 = hn::Mul(u2, u2);
        const V square = hn::Add(hn::Add(hn::Sub(one, u2), hn::Mul(u4, h4)), hn::Mul(hn::Mul(u4, u2), h6));
        bad = hn::Or(bad, hn::Lt(square, zero));
        const V n = hn::Mul(n0, hn::Sqrt(square));
        const V chord = hn::Sqrt(hn::Add(hn::Add(hn::Mul(dx, dx), hn::Mul(dy, dy)), hn::Mul(dz, dz)));
        phase = hn::Add(phase, hn::Div(hn::Mul(hn::Mul(hn::Mul(chord, n), phaseFactor), pi), wavelength));

        px = ux, py = uy, pz = Pz;
        kx = kxNew, ky = kyNew, kz = kzNew;

        // An interior node falls due: only its radius matters here.
        const M node = hn::Ge(pz, zNext);
        zNext = hn::IfThenElse(node, hn::Add(zNext, dzNode), zNext);
        const V radius = hn::Sqrt(hn::Add(hn::Mul(px, px), hn::Mul(py, py)));
        rho = hn::IfThenElse(hn::And(node, hn::Gt(radius, rho)), radius, rho);

        const M out = hn::Not(hn::Gt(hn::Abs(hn::Sub(pz, z)), exitTolerance));
        bad = hn::Or(bad, hn::AndNot(out, hn::Ge(steps, maxSteps)));
        const M finished = hn::And(active, hn::Or(out, bad));
        if (hn::AllFalse(d, finished)) continue;

        // Lanes end: leave or hand back, and take the next rays.
        hn::Store(px, d, s.px), hn::Store(py, d, s.py), hn::Store(pz, d, s.pz);
        hn::Store(kx, d, s.kx), hn::Store(ky, d, s.ky), hn::Store(kz, d, s.kz);
        hn::Store(step, d, s.step), hn::Store(curve, d, s.curve), hn::Store(phase, d, s.phase);
        hn::Store(zNext, d, s.zNext), hn::Store(dzNode, d, s.dzNode), hn::Store(steps, d, s.steps);
        hn::Store(rho, d, s.rho);
        alignas(64) double ended[kMaxLanes], failed[kMaxLanes];
        hn::Store(hn::VecFromMask(d, finished), d, ended);
        hn::Store(hn::VecFromMask(d, bad), d, failed);
        for (std::size_t l = 0; l < N; ++l) {
            if (ended[l] == 0.0) continue;
            if (failed[l] != 0.0) {
                HandBack(b, static_cast<std::size_t>(s.ray[l]));
            } else {
                Leave(rod, b, s, l);
            }
            fill(l);
        }
        px = hn::Load(d, s.px), py = hn::Load(d, s.py), pz = hn::Load(d, s.pz);
        kx = hn::Load(d, s.kx), ky = hn::Load(d, s.ky), kz = hn::Load(d, s.kz);
        step = hn::Load(d, s.step), curve = hn::Load(d, s.curve), phase = hn::Load(d, s.phase);
        zNext = hn::Load(d, s.zNext), dzNode = hn::Load(d, s.dzNode), steps = hn::Load(d, s.steps);
        rho = hn::Load(d, s.rho);
        active = hn::Eq(hn::Load(d, s.active), one);
    }
}

}  // namespace HWY_NAMESPACE
}  // namespace detail
}  // namespace lumivex
HWY_AFTER_NAMESPACE();

#if HWY_ONCE
#include "lumivex/description.h"

namespace lumivex {
namespace detail {

HWY_EXPORT(TraceRodBlock);

void traceRodBlock(const RodKernel& kernel, RayBlock& block, std::size_t count) {
    HWY_DYNAMIC_DISPATCH(TraceRodBlock)(kernel, block, count);
}

double EnteredIndex::at(double x, double y) const {
    return rod ? rodIndex(n0, g, h4, h6, x, y) : n;
}

bool rodKernel(const TElement& element, const TElement& next, double wavelength, RodKernel& k) {
    const TElementKind* kind = exactKindOf(element);
    RodProfile e;
    if (!kind || !kind->rodProfile || !kind->rodProfile(element, e)) return false;
    RodKernel s;
    if (!enteredIndex(next, s.behind)) return false;
    s.z = element.zPosition;
    s.zGap = 0.0 + element.zPosition;
    s.n0 = e.n0, s.g = e.g, s.h4 = e.h4, s.h6 = e.h6;
    // The constants of TGrinRod::RKStep's curvature factor, formed as it
    // forms them.
    const double g2 = e.g * e.g;
    const double g4 = g2 * g2;
    const double g6 = g4 * g2;
    s.nn = e.n0 * e.n0;
    s.a4 = 2.0 * e.h4 * g4;
    s.a6 = 3.0 * e.h6 * g6;
    s.gg = e.g * e.g;
    s.wavelength = wavelength;
    if (!(std::isfinite(s.nn) && std::isfinite(s.a4) && std::isfinite(s.a6) && std::isfinite(s.gg)))
        return false;
    k = s;
    return true;
}

}  // namespace detail
}  // namespace lumivex
#endif
