// SPDX-License-Identifier: Apache-2.0
// Forward-mode tangents carried through transfer and refraction.
//
// At a surface z = z0 + h(x, y), the ray P + t·k meets it where
//   F(t, θ) = z0 + h(Q + t·k) − (Q + t·k).z = 0.
// The library's search finds the point X; its tangent follows from the
// implicit-function theorem at X, whatever the search did to get there:
//   dt = −(∂F/∂θ)/(∂F/∂t),  ∂F/∂t = ∇h·k_xy − k_z,
//   ∂F/∂θ = dz0 + ∂h/∂θ + ∇h·dQ_xy − dQ_z,  dQ = dP + t·dk,
//   dX = dQ + dt·k.
// The unit normal N = (−∇h, 1)/sqrt(1 + |∇h|²) changes with the point and
// the shape; for a rotationally symmetric sag ∇h = 2h′(s)·(x, y), so its
// tangent needs h′′ and ∂h′/∂θ. The refracted direction K = V/|V| with
// V = μ·k − (μ·cosI − cosT)·N is differentiated as written.
#include "optimize/tangent_trace.h"

#include <algorithm>
#include <cmath>
#include <typeinfo>

#include "lumivex/surfaces.h"
#include "system/refraction.h"

namespace lumivex {
namespace detail {

namespace {

// A number with one tangent, for the partial derivatives of the conic sag.
struct Dual {
    double v, d;
};
Dual operator+(Dual a, Dual b) { return {a.v + b.v, a.d + b.d}; }
Dual operator+(double a, Dual b) { return {a + b.v, b.d}; }
Dual operator-(double a, Dual b) { return {a - b.v, -b.d}; }
Dual operator*(Dual a, Dual b) { return {a.v * b.v, a.d * b.v + a.v * b.d}; }
Dual operator*(double a, Dual b) { return {a * b.v, a * b.d}; }
Dual operator/(Dual a, Dual b) { return {a.v / b.v, (a.d * b.v - a.v * b.d) / (b.v * b.v)}; }
Dual sqrt(Dual a) {
    const double r = std::sqrt(a.v);
    return {r, a.d / (2.0 * r)};
}

// The conic part h(s) and its slope dh/ds.
Dual conicSag(Dual s, Dual c, Dual k) {
    const Dual w = sqrt(1.0 - (1.0 + k) * c * c * s);
    return c * s / (1.0 + w);
}
Dual conicSlope(Dual s, Dual c, Dual k) {
    const Dual a = (1.0 + k) * c * c;
    const Dual w = sqrt(1.0 - a * s);
    const Dual D = 1.0 + w;
    return c / D + a * c * s / (2.0 * w * D * D);
}

}  // namespace

TangentShape tangentShape(const TElement& element, ConicSag* sag) {
    const std::type_info& type = typeid(element);
    if (type == typeid(TElement)) return TangentShape::pass;
    if (type == typeid(TSlab)) return TangentShape::plane;
    ConicSag found;
    if (type == typeid(TSphericalLens)) {
        const auto& s = dynamic_cast<const TSphericalLens&>(element);
        if (s.heightModulus != 0.0) return TangentShape::other;
        found.c = 1.0 / s.curvatureRadius;
    } else if (type == typeid(TGeneralLens) || type == typeid(TLens)) {
        const auto& g = dynamic_cast<const TGeneralLens&>(element);
        if (g.heightModulus != 0.0 || !std::isfinite(g.conicConstant)) return TangentShape::other;
        found.c = g.curvatureRadius == 0.0 ? 0.0 : 1.0 / g.curvatureRadius;
        found.k = g.conicConstant;
    } else if (type == typeid(TEvenAsphere)) {
        const auto& a = dynamic_cast<const TEvenAsphere&>(element);
        if (a.heightModulus != 0.0 || !std::isfinite(a.conicConstant)) return TangentShape::other;
        found.c = a.curvatureRadius == 0.0 ? 0.0 : 1.0 / a.curvatureRadius;
        found.k = a.conicConstant;
        found.alpha = a.getCoefficients();
    } else {
        return TangentShape::other;
    }
    if (sag) *sag = found;
    return TangentShape::conic;
}

SagValues sagAt(const ConicSag& sag, double s) {
    const Dual S{s, 1.0}, c{sag.c, 0.0}, k{sag.k, 0.0};
    const Dual h = conicSag(S, c, k);
    const Dual slope = conicSlope(S, c, k);
    SagValues out{h.v, slope.v, slope.d};
    // Σ αᵢ sⁱ and its first two derivatives, by Horner.
    double p = 0.0, dp = 0.0, ddp = 0.0;
    for (int i = 8; i >= 1; --i) {
        const double a = sag.alpha[static_cast<std::size_t>(i - 1)];
        ddp = ddp * s + dp * 2.0;
        dp = dp * s + p;
        p = p * s + a;
    }
    // p(s) now holds Σ αᵢ s^(i−1); the polynomial is s·p(s).
    out.h += s * p;
    out.slope += p + s * dp;
    out.curve += 2.0 * dp + s * ddp;
    return out;
}

void sagPartials(const ConicSag& sag, TVariableKind kind, int term, double s, double& dh,
                 double& dslope) {
    dh = dslope = 0.0;
    if (kind == TVariableKind::curvature || kind == TVariableKind::conic) {
        const bool byCurvature = kind == TVariableKind::curvature;
        const Dual S{s, 0.0};
        const Dual c{sag.c, byCurvature ? 1.0 : 0.0}, k{sag.k, byCurvature ? 0.0 : 1.0};
        dh = conicSag(S, c, k).d;
        dslope = conicSlope(S, c, k).d;
    } else if (kind == TVariableKind::asphere) {
        // ∂(αᵢ sⁱ)/∂αᵢ = sⁱ and its slope i·s^(i−1).
        double power = 1.0;
        for (int i = 1; i < term; ++i) power *= s;
        dslope = term * power;
        dh = power * s;
    }
}

TangentRay traceTangents(const TOpticalSystem& system, const std::vector<ElementTangents>& plan,
                         const TBeamNode& start, double wavelength,
                         const std::vector<int>& active, TVector* dP, TVector* dk,
                         int last, const int* firstElement, const AimFold* fold) {
    TangentRay ray;
    TBeamNode node = start;
    bool folded = false;
    const int n = last >= 0 ? std::min(last + 1, system.getSize()) : system.getSize();
    const TElement behind(0.0);
    try {
        for (int j = 0; j < n; ++j) {
            const TElement& element = *system[j];
            const TElement& next = j + 1 < system.getSize() ? *system[j + 1] : behind;
            const ElementTangents& e = plan[static_cast<std::size_t>(j)];
            if (e.shape == TangentShape::pass) continue;
            if (e.shape == TangentShape::other) {
                // No tangents through it: the caller makes sure none is
                // active here (variables ahead of such an element go by
                // differences).
                TBeam beam(wavelength);
                beam.addNode(node);
                const_cast<TElement&>(element).traceBeam(beam, next);
                node = beam.getLast();
                continue;
            }
            const TSurface& surface = *e.surface;
            const TVector P = node.position, k = node.kVector;
            // The same calls, in the same order, as TSurface::traceBeam.
            const TVector X = surface.findSurfaceIntersection(node);
            if (e.clip > 0.0 && std::hypot(X.x, X.y) > e.clip) {
                ray.vignetted = true;
                return ray;
            }
            const double n1 = surface.getRefIndex(X, 0.0).real();
            const double n2 = next.getRefIndex(X, 0.0).real();
            const TVector N = surface.getSurfaceNormal(X);
            if (!meetsFromFront(k, N)) return ray;
            const TVector K = refract(k, N, n1, n2);

            if (!active.empty()) {
                const double x = X.x, y = X.y, s = x * x + y * y;
                SagValues sv;
                if (e.shape == TangentShape::conic) sv = sagAt(e.sag, s);
                const double gx = 2.0 * sv.slope * x, gy = 2.0 * sv.slope * y;
                const double Ft = gx * k.x + gy * k.y - k.z;
                const double t = (X - P).dot(k) / k.dot(k);
                const double r = 1.0 / std::sqrt(1.0 + gx * gx + gy * gy);
                const double mu = n1 / n2;
                const double cosI = N.dot(k);
                const double cosT = std::sqrt(1.0 - mu * mu * (1.0 - cosI * cosI));
                const double G = mu * cosI - cosT;
                const TVector V = k * mu - N * G;
                const double lengthV = V.length();
                const TVector Kv = V * (1.0 / lengthV);
                // The shape's own parameters change h and h′ at fixed s.
                double dh[10] = {}, dslope[10] = {};
                for (std::size_t m = 0; m < e.reshaped.size() && m < 10; ++m)
                    sagPartials(e.sag, e.reshaped[m].kind, e.reshaped[m].term, s, dh[m],
                                dslope[m]);
                const bool moves = !e.zRate.empty();
                // What every column shares, divisions included.
                const double invFt = 1.0 / Ft, invLengthV = 1.0 / lengthV;
                const double slope2 = 2.0 * sv.slope, rr = r * r;
                const double cosTRate = mu * mu * cosI / cosT;
                for (int v : active) {
                    if ((firstElement && j < firstElement[v]) || (folded && v >= fold->first))
                        continue;
                    double dz0 = 0.0, dhv = 0.0, dslopev = 0.0;
                    if (moves) {
                        dz0 = e.zRate[static_cast<std::size_t>(v)];
                        const int m = e.reshapeIndex[static_cast<std::size_t>(v)];
                        if (m >= 0 && m < 10) {
                            dhv = dh[m];
                            dslopev = dslope[m];
                        }
                    }
                    // Transfer: the converged intersection moves along the ray.
                    const TVector dQ = dP[v] + dk[v] * t;
                    const double Ftheta = dz0 + dhv + gx * dQ.x + gy * dQ.y - dQ.z;
                    const TVector dX = dQ + k * (-Ftheta * invFt);
                    // The normal at the moved point of the changed shape.
                    const double ds = 2.0 * (x * dX.x + y * dX.y);
                    const double along = 2.0 * (sv.curve * ds + dslopev);
                    const double dgx = along * x + slope2 * dX.x;
                    const double dgy = along * y + slope2 * dX.y;
                    const TVector dN =
                        TVector(-dgx * r, -dgy * r, 0.0) - N * (rr * (gx * dgx + gy * dgy));
                    // Refraction.
                    const double dcosI = dN.dot(k) + N.dot(dk[v]);
                    const double dcosT = cosTRate * dcosI;
                    const double dG = mu * dcosI - dcosT;
                    const TVector dV = dk[v] * mu - dN * G - N * dG;
                    dP[v] = dX;
                    dk[v] = (dV - Kv * Kv.dot(dV)) * invLengthV;
                }
                if (fold && j == fold->element) {
                    // The aim moves so that the stop crossing follows its
                    // target: J·Δaim = dT − dS, J = ∂S/∂aim.
                    const int a = fold->first, b = fold->first + 1;
                    const double j11 = dP[a].x, j12 = dP[b].x, j21 = dP[a].y, j22 = dP[b].y;
                    const double det = j11 * j22 - j12 * j21;
                    if (det != 0.0 && std::isfinite(det))
                        for (int v : active) {
                            if (v >= a) continue;
                            const double rx = fold->dTx[v] - dP[v].x, ry = fold->dTy[v] - dP[v].y;
                            const double ax = (rx * j22 - j12 * ry) / det;
                            const double ay = (j11 * ry - rx * j21) / det;
                            dP[v] = dP[v] + dP[a] * ax + dP[b] * ay;
                            dk[v] = dk[v] + dk[a] * ax + dk[b] * ay;
                        }
                    folded = true;
                }
            }
            node = TBeamNode(X, K, node.intensity, node.polarization, node.opticalPath);
        }
    } catch (const xmsg&) {
        return ray;
    }
    ray.ok = true;
    ray.P = node.position;
    ray.k = node.kVector;
    return ray;
}

}  // namespace detail
}  // namespace lumivex
