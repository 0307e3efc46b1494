// SPDX-License-Identifier: Apache-2.0
// Refraction at an interface between two media, shared by the refracting
// surfaces and the exit face of gradient-index media: the refracted direction
// by Snell's law, the Fresnel power transmittance and the turn of the
// polarization, given the incident direction k, the refracted direction K,
// the unit normal N (along the ray) and the field E.
//
// The textbook form works with the angles: θ1 = acos(N·k), θ2 = acos(N·K),
// φ = π/2 − acos(A·Ê) with A the unit normal of the plane of incidence, and
// sines and cosines of their sums, differences and doubles, then a rotation
// by acos(k·K). That is a dozen transcendental calls per surface. Every one
// of them is the sine or cosine of an arccosine, so the same values follow
// exactly from the dot products themselves:
//   cos θ = d,  sin θ = sqrt((1 − d)(1 + d)),  sin 2θ = 2 sin θ cos θ,
//   sin(θ1 + θ2) = s1 c2 + c1 s2,  cos(θ1 − θ2) = c1 c2 + s1 s2,
//   sin φ = A·Ê,  cos²φ = (1 − A·Ê)(1 + A·Ê).
// (1 − d)(1 + d) is exact to the last bits for d near 1, where 1 − d² is not.
//
// Only rays that meet the interface from its front (N·k > 0) are refracted
// at all: from behind, the vector form of Snell's law turns the ray around
// and sin 2θ1 < 0 makes the transmittance a large negative power, so the
// callers refuse those rays first (see meetsFromFront). For the rest the
// identities hold; only where the refracted direction is degenerate (θ1 + θ2
// or θ2 − θ1 exactly at 0 or π/2 outside normal incidence, grazing rays among
// them) is the textbook form kept, since there it divides by a sine that is
// small but never exactly 0 in floating point while the identities may give
// 0, so both fail, and give values, exactly where it does.
#ifndef LUMIVEX_SYSTEM_REFRACTION_H
#define LUMIVEX_SYSTEM_REFRACTION_H

#include <cmath>
#include <string>

#include "lumivex/geometry.h"
#include "numeric/checked_math.h"

namespace lumivex {
namespace detail {

constexpr double kRefractionPi = 3.141592653589793;

// Below this cosine an angle exceeds 1.4e-4, so two such angles cannot add
// up to the 1e-4 of normal incidence.
constexpr double kNearNormalCosine = 0.99999999;

// Whether a ray of direction k meets an interface of unit normal N (along
// +z, the way rays run) from its front. A ray from behind has no refracted
// ray here, and neither has a normal or direction that is not a number.
inline bool meetsFromFront(const TVector& k, const TVector& N) { return N.dot(k) > 0.0; }

// Snell's law in vector form for a unit normal N that points along the ray:
// with r = n1/n2 and cosI = N·k, K = unit(r·k − (r·cosI − cosT)·N) where
// cosT = sqrt(1 − r²·(1 − cosI²)). Beyond the critical angle the square root
// fails (the math xmsg): there is no refracted ray, and no reflected one is
// followed.
inline TVector refract(const TVector& k, const TVector& N, double n1, double n2) {
    const double r = n1 / n2;
    const double cosI = N.dot(k);
    const double cosT = math::sqrt(1.0 - r * r * (1.0 - cosI * cosI));
    const double g = r * cosI - cosT;
    const TVector K = (k * r - N * g).unit();
    // With indices some 1e16 apart the two terms cancel: no direction.
    if (K.x == 0.0 && K.y == 0.0 && K.z == 0.0)
        throw xmsg("refraction: the refracted direction has no length (indices " +
                   std::to_string(n1) + " and " + std::to_string(n2) + ")");
    return K;
}

// rotateAboutAxis for a unit axis u and an angle given by its cosine C and
// sine S: v·C + (v × u)·S + u·(u·v)·(1 − C), the same expression.
inline TVector rotateAboutUnitAxis(const TVector& v, const TVector& u, double C, double S) {
    const double t = 1.0 - C;
    const double ux = u.x, uy = u.y, uz = u.z;
    return {(ux * ux * t + C) * v.x + (ux * uy * t + uz * S) * v.y + (ux * uz * t - uy * S) * v.z,
            (ux * uy * t - uz * S) * v.x + (uy * uy * t + C) * v.y + (uy * uz * t + ux * S) * v.z,
            (ux * uz * t + uy * S) * v.x + (uy * uz * t - ux * S) * v.y + (uz * uz * t + C) * v.z};
}

// The transmittance at normal incidence, 4m/(m + 1)² with m = n2/n1. An
// index of 0 in front (a description record cut short leaves one) makes m
// infinite and the quotient NaN, and m = −1 divides by 0: those are
// failures, not values.
inline double normalTransmittance(double n1, double n2) {
    const double m = n2 / n1;
    if (std::isinf(m))
        throw xmsg("normal-incidence transmittance: n2/n1 is infinite (index 0 in front)");
    // Indices of opposite sign and equal size (m = −1) divide by 0: no value.
    const double T = 4.0 * m / ((m + 1.0) * (m + 1.0));
    if (!std::isfinite(T))
        throw xmsg("normal-incidence transmittance: not finite for n2/n1 = " + std::to_string(m));
    return T;
}

// Fails exactly where acosUnit(d) fails: beyond ±1 by more than rounding.
inline void checkUnitDot(double d) {
    if (d > 1.0 + 1e-12 || d < -1.0 - 1e-12) math::acosUnit(d);
}

// cos and sin of acosUnit(d) for d within its domain.
inline void cosSinOfUnitDot(double d, double& c, double& s) {
    c = d > 1.0 ? 1.0 : (d < -1.0 ? -1.0 : d);
    s = std::sqrt((1.0 - c) * (1.0 + c));
}

// The textbook evaluation with the angles themselves.
inline void transmitAndTurnByAngles(const TVector& k, const TVector& K, const TVector& N,
                                    const TVector& E, double n1, double n2, double& T,
                                    TVector& polarization) {
    const double theta1 = math::acosUnit(N.dot(k));
    const double theta2 = math::acosUnit(N.dot(K));
    TVector A = K.cross(k);
    const double lengthA = A.length();
    if (lengthA > 0.0) A = A.unit();
    const double phi = kRefractionPi / 2.0 - math::acosUnit(A.dot(E.unit()));
    if (theta1 + theta2 < 1e-4) {
        T = normalTransmittance(n1, n2);
    } else {
        const double cosPhi = math::cos(phi);
        const double sinPhi = math::sin(phi);
        const double sin2Theta1 = math::sin(2.0 * theta1);
        const double sin2Theta2 = math::sin(2.0 * theta2);
        const double sinSum = math::sin(theta1 + theta2);
        const double cosDifference = math::cos(theta1 - theta2);
        const double p = sinSum * cosDifference;
        T = cosPhi * cosPhi * sin2Theta1 * sin2Theta2 / (p * p) +
            sinPhi * sinPhi * sin2Theta1 * sin2Theta2 / (sinSum * sinSum);
    }
    polarization = E;
    if (lengthA > 0.0) {
        const double d = k.dot(K);
        const double alpha = std::fabs(d) < 1.0 ? math::acosUnit(d) : 0.0;
        polarization = rotateAboutAxis(E.x, E.y, E.z, A.x, A.y, A.z, alpha);
    }
}

// Sets T, the power transmittance from index n1 into n2 for the field E
// (s share sin²φ, p share cos²φ; the normal-incidence value when θ1 + θ2 <
// 1e-4), and `polarization`, E turned with the ray from k to K (not scaled).
// Throws the math xmsg where the textbook evaluation throws, and an xmsg
// where the normal-incidence formula divides by an index of 0. For a ray that
// meets the interface from its front only (meetsFromFront).
inline void transmitAndTurn(const TVector& k, const TVector& K, const TVector& N, const TVector& E,
                            double n1, double n2, double& T, TVector& polarization) {
    const double cosI = N.dot(k);
    const double cosR = N.dot(K);
    TVector A = K.cross(k);
    const double lengthA = A.length();
    if (lengthA > 0.0) A = A * (1.0 / lengthA);  // A.unit(), bit for bit
    const double a = A.dot(E.unit());
    checkUnitDot(cosI);
    checkUnitDot(cosR);
    checkUnitDot(a);

    bool normal = false;
    if (cosI > kNearNormalCosine && cosR > kNearNormalCosine)
        normal = math::acosUnit(cosI) + math::acosUnit(cosR) < 1e-4;
    if (normal) {
        T = normalTransmittance(n1, n2);
    } else {
        // The angles' sines fail on a NaN; so does this.
        if (std::isnan(cosR)) math::sin(cosR);
        if (std::isnan(a)) math::cos(a);
        double c1, s1, c2, s2;
        cosSinOfUnitDot(cosI, c1, s1);
        cosSinOfUnitDot(cosR, c2, s2);
        const double sinPhi = a > 1.0 ? 1.0 : (a < -1.0 ? -1.0 : a);
        const double cos2Phi = (1.0 - sinPhi) * (1.0 + sinPhi);
        const double sin2Product = 4.0 * s1 * c1 * s2 * c2;  // sin 2θ1 · sin 2θ2
        const double sinSum = s1 * c2 + c1 * s2;
        const double cosDifference = c1 * c2 + s1 * s2;
        if (!(sinSum > 0.0 && cosDifference > 0.0)) {
            // Only a degenerate refracted direction gets here (θ1 + θ2 or
            // θ2 − θ1 exactly at 0 or π/2 outside normal incidence).
            transmitAndTurnByAngles(k, K, N, E, n1, n2, T, polarization);
            if (T < 0.0) T = 0.0;
            return;
        }
        const double Ts = sin2Product / (sinSum * sinSum);
        const double Tp = Ts / (cosDifference * cosDifference);
        T = cos2Phi * Tp + sinPhi * sinPhi * Ts;
        // A power transmittance is never negative, but at grazing incidence
        // the refracted ray's cosine can round to a hair below 0 and take
        // sin 2θ2, and with it T, a hair below 0: no power gets through.
        if (T < 0.0) T = 0.0;
    }

    polarization = E;
    if (lengthA > 0.0) {
        // The turn from k to K about A: cos α = k·K, sin α ≥ 0.
        const double d = k.dot(K);
        double C = 1.0, S = 0.0;
        if (std::fabs(d) < 1.0) {
            C = d;
            S = std::sqrt((1.0 - d) * (1.0 + d));
        }
        polarization = rotateAboutUnitAxis(E, A, C, S);
    }
}

}  // namespace detail
}  // namespace lumivex

#endif
