// SPDX-License-Identifier: Apache-2.0
// The even asphere: a conic plus a polynomial in ρ², with its exact slopes.
#include <cmath>
#include <string>

#include "lumivex/surfaces.h"
#include "numeric/checked_math.h"
#include "system/element_checks.h"

namespace lumivex {

TEvenAsphere::TEvenAsphere(double zPosition_, const complex& refIndex_, double heightModulus_,
                           double curvatureRadius_, double conicConstant_,
                           const std::vector<double>& coefficients)
    : TElement(zPosition_),
      TFunctionalSurface(zPosition_, refIndex_, heightModulus_),
      curvatureRadius(curvatureRadius_),
      conicConstant(conicConstant_) {
    detail::requireFinite("TEvenAsphere", "the curvature radius", curvatureRadius);
    // An infinite conic constant is a surface without shape, which refuses
    // to give heights; a NaN is no value at all.
    detail::requireNumber("TEvenAsphere", "the conic constant", conicConstant);
    setCoefficients(coefficients);
}

void TEvenAsphere::setCoefficients(const std::vector<double>& coefficients) {
    if (coefficients.size() > static_cast<std::size_t>(kMaxCoefficients))
        throw xmsg("TEvenAsphere: " + std::to_string(coefficients.size()) +
                   " polynomial coefficients given; at most 8 (rho^2 … rho^16)");
    for (double v : coefficients) detail::requireFinite("TEvenAsphere", "a coefficient", v);
    alpha.fill(0.0);
    for (std::size_t i = 0; i < coefficients.size(); ++i) alpha[i] = coefficients[i];
}

namespace {

void checkConic(const char* operation, double conicConstant) {
    if (std::isfinite(conicConstant)) return;
    throw xmsg(std::string("TEvenAsphere::") + operation +
               ": the conic constant is not finite, the surface has no shape");
}

}  // namespace

double TEvenAsphere::heightFunction(const TVector& p) const {
    checkConic("heightFunction", conicConstant);
    const double s = p.x * p.x + p.y * p.y;  // ρ²
    double conic = 0.0;
    if (curvatureRadius != 0.0) {
        // The same expression as TGeneralLens, so the two agree to the bit
        // when every α is 0.
        const double C = 1.0 / curvatureRadius;
        const double k = conicConstant;
        const double rho = math::sqrt(s);
        conic = C * rho * rho / (1.0 + math::sqrt(1.0 - (1.0 + k) * C * C * rho * rho));
    }
    // Horner in ρ²: α1·s + α2·s² + … = s·(α1 + s·(α2 + …)).
    double poly = 0.0;
    for (int i = kMaxCoefficients - 1; i >= 0; --i) poly = poly * s + alpha[static_cast<std::size_t>(i)];
    return conic + poly * s;
}

TVector TEvenAsphere::heightDerivative(const TVector& p) const {
    checkConic("heightDerivative", conicConstant);
    const double s = p.x * p.x + p.y * p.y;
    // Both parts as (dh/dρ)/ρ, which is finite on the axis; the slopes are
    // that times x and y.
    double S = 0.0;
    if (curvatureRadius != 0.0) {
        const double C = 1.0 / curvatureRadius;
        const double k = conicConstant;
        const double w = math::sqrt(1.0 - (1.0 + k) * C * C * s);
        S = C * C * C * s * (k + 1.0) / (w * (1.0 + w) * (1.0 + w)) + 2.0 * C / (1.0 + w);
    }
    // d(αᵢ·ρ^2i)/dρ / ρ = 2i·αᵢ·ρ^(2i−2).
    double dpoly = 0.0;
    for (int i = kMaxCoefficients; i >= 1; --i)
        dpoly = dpoly * s + 2.0 * i * alpha[static_cast<std::size_t>(i - 1)];
    S += dpoly;
    return {S * p.x, S * p.y, 0.0};
}

}  // namespace lumivex
