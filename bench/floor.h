// SPDX-License-Identifier: Apache-2.0
// The floors the library is measured against: the same mathematics as the
// library's tracing, written as plain inline code with no virtual calls and
// no beam objects, writing one plain record per surface into storage made
// beforehand. Formulas, orders of operations and constants are the
// library's, so a floor and the library agree to the last bits on every ray
// (the benchmarks check that they do).
#ifndef LUMIVEX_BENCH_FLOOR_H
#define LUMIVEX_BENCH_FLOOR_H

#include <cmath>
#include <cstdint>
#include <vector>

#include "lumivex/geometry.h"
#include "numeric/checked_math.h"

namespace bench {

using lumivex::TVector;
namespace math = lumivex::math;

constexpr double kPi = 3.141592653589793;

// A ray's state after a surface, as the library's node holds it.
struct Record {
    TVector position, kVector, polarization;
    double intensity, opticalPath;
};

// The start of ray i of n on a Vogel (sunflower) spiral of the given radius:
// equal area per ray, no rings.
inline TVector vogelPoint(int i, int n, double radius, double z) {
    const double r = radius * std::sqrt((i + 0.5) / n);
    const double theta = i * kPi * (3.0 - std::sqrt(5.0));
    return {r * std::cos(theta), r * std::sin(theta), z};
}

// Snell's law in vector form, the Fresnel power transmittance and the turn of
// the polarization, evaluated with the identities of the library's fast path.
// Returns false where the library would fail (total internal reflection).
inline bool refract(const TVector& k, const TVector& E, const TVector& N, double n1, double n2,
                    TVector& K, double& T, TVector& polarization) {
    const double r = n1 / n2;
    const double cosI = N.dot(k);
    const double radicand = 1.0 - r * r * (1.0 - cosI * cosI);
    if (radicand < 0.0) return false;
    const double cosT = std::sqrt(radicand);
    const double g = r * cosI - cosT;
    K = (k * r - N * g).unit();
    const double cosR = N.dot(K);
    TVector A = K.cross(k);
    const double lengthA = A.length();
    if (lengthA > 0.0) A = A * (1.0 / lengthA);
    const double a = A.dot(E.unit());
    if (cosI > 0.99999999 && cosR > 0.99999999 &&
        math::acosUnit(cosI) + math::acosUnit(cosR) < 1e-4) {
        const double m = n2 / n1;
        T = 4.0 * m / ((m + 1.0) * (m + 1.0));
    } else {
        const double c1 = cosI > 1.0 ? 1.0 : cosI;
        const double c2 = cosR > 1.0 ? 1.0 : cosR;
        const double s1 = std::sqrt((1.0 - c1) * (1.0 + c1));
        const double s2 = std::sqrt((1.0 - c2) * (1.0 + c2));
        const double sinPhi = a > 1.0 ? 1.0 : (a < -1.0 ? -1.0 : a);
        const double cos2Phi = (1.0 - sinPhi) * (1.0 + sinPhi);
        const double sin2Product = 4.0 * s1 * c1 * s2 * c2;
        const double sinSum = s1 * c2 + c1 * s2;
        const double cosDifference = c1 * c2 + s1 * s2;
        const double Ts = sin2Product / (sinSum * sinSum);
        const double Tp = Ts / (cosDifference * cosDifference);
        T = cos2Phi * Tp + sinPhi * sinPhi * Ts;
    }
    polarization = E;
    if (lengthA > 0.0) {
        const double d = k.dot(K);
        double C = 1.0, S = 0.0;
        if (std::fabs(d) < 1.0) {
            C = d;
            S = std::sqrt((1.0 - d) * (1.0 + d));
        }
        const double t = 1.0 - C;
        const double ux = A.x, uy = A.y, uz = A.z;
        polarization = {
            (ux * ux * t + C) * E.x + (ux * uy * t + uz * S) * E.y + (ux * uz * t - uy * S) * E.z,
            (ux * uy * t - uz * S) * E.x + (uy * uy * t + C) * E.y + (uy * uz * t + ux * S) * E.z,
            (ux * uz * t + uy * S) * E.x + (uy * uz * t - ux * S) * E.y + (uz * uz * t + C) * E.z};
    }
    return true;
}

// One surface: refract at P with normal N and write the record; false on
// failure. optRadius is raised as the library raises it.
inline bool traceSurface(const Record& in, const TVector& P, const TVector& N, double n1, double n2,
                         double wavelength, double& optRadius, Record& out) {
    TVector K, E;
    double T;
    if (!refract(in.kVector, in.polarization, N, n1, n2, K, T, E)) return false;
    const double rho = std::sqrt(P.x * P.x + P.y * P.y);
    if (rho > optRadius) optRadius = rho;
    out.position = P;
    out.kVector = K;
    out.intensity = in.intensity * T;
    out.polarization = E.unit();
    out.opticalPath = in.opticalPath + 2.0 * kPi * n1 * (P - in.position).length() / wavelength;
    return true;
}

inline TVector planeHit(const Record& in, double z) {
    const TVector& p = in.position;
    const TVector& k = in.kVector;
    const double t = (z - p.z) / k.z;
    return {p.x + t * k.x, p.y + t * k.y, p.z + t * k.z};
}

// The fixed-point search of the functional and tabulated surfaces; counts its
// steps. False after 1000 steps.
template <class Height>
inline bool searchHit(const Record& in, double z0, const Height& height, TVector& P,
                      std::int64_t& steps) {
    const TVector& p = in.position;
    const TVector& k = in.kVector;
    P = p + k * ((z0 - p.z) / k.z);
    for (int i = 1;; ++i) {
        ++steps;
        const double delta = height(P) + z0 - P.z;
        P += k * (delta / k.z);
        if (i == 1000) return false;
        if (std::fabs(delta) <= 1e-9) return true;
    }
}

inline TVector normalFromSlopes(double dx, double dy) {
    const double r = 1.0 / std::sqrt(1.0 + dx * dx + dy * dy);
    return {-dx * r, -dy * r, r};
}

}  // namespace bench

#endif
