// SPDX-License-Identifier: Apache-2.0
// The family of functional surfaces: each supplies its sag h(x, y) measured
// along z from the element's zPosition, and the gradient of that sag.
#include <algorithm>
#include <ostream>
#include <cmath>
#include <exception>
#include <new>
#include <string>

#include "lumivex/surfaces.h"
#include "numeric/checked_math.h"
#include "system/element_checks.h"

namespace lumivex {

namespace {

constexpr int kYTermLimit = 10;  // columns of the x–y coefficient table

double radialDistance(const TVector& p) { return math::sqrt(p.x * p.x + p.y * p.y); }

}  // namespace

// ---- TPolynomialSurface ----------------------------------------------------

TPolynomialSurface::TPolynomialSurface(double zPosition_, const complex& refIndex_,
                                       double heightModulus_)
    : TElement(zPosition_), TFunctionalSurface(zPosition_, refIndex_, heightModulus_) {}

void TPolynomialSurface::setCoefficients(const std::vector<double>& c) {
    for (double v : c) detail::requireFinite("TPolynomialSurface", "a coefficient", v);
    try {
        coefficients = c;
    } catch (const std::bad_alloc&) {
        throw xmsg("TPolynomialSurface::setCoefficients: no memory for " +
                   std::to_string(c.size()) + " coefficients");
    }
}

double TPolynomialSurface::heightFunction(const TVector& p) const {
    const int n = coefficientCount();
    if (n == 0) throw xmsg("TPolynomialSurface::heightFunction: the surface has no coefficients");
    const double rho = radialDistance(p);
    if (rho == 0.0) return coefficients[0];
    double h = 0.0;
    for (int i = 0; i < n; ++i) h += coefficients[static_cast<std::size_t>(i)] * math::pow(rho, i);
    return h;
}

TVector TPolynomialSurface::heightDerivative(const TVector& p) const {
    const double rho = radialDistance(p);
    if (rho == 0.0) return {};
    // dh/dρ·(x, y)/ρ, with the 1/ρ folded into the powers.
    double S = 0.0;
    for (int i = 1; i < coefficientCount(); ++i)
        S += i * coefficients[static_cast<std::size_t>(i)] * math::pow(rho, i - 2);
    return {S * p.x, S * p.y, 0.0};
}

// ---- TPolynomialXYSurface --------------------------------------------------

namespace {

// Widens the coefficient table to `rows` powers of x, the new ones 0.
void growTable(std::vector<double>& coefficients, std::size_t rows, const char* operation) {
    try {
        coefficients.resize(rows * kYTermLimit, 0.0);
    } catch (const std::exception&) {  // std::bad_alloc, std::length_error
        throw xmsg(std::string(operation) + ": no memory for " + std::to_string(rows) + " x " +
                   std::to_string(kYTermLimit) + " coefficients");
    }
}

}  // namespace

TPolynomialXYSurface::TPolynomialXYSurface(double zPosition_, const complex& refIndex_,
                                           double heightModulus_, int xTermCount_, int yTermCount_)
    : TElement(zPosition_),
      TFunctionalSurface(zPosition_, refIndex_, heightModulus_),
      xTermCount(xTermCount_),
      yTermCount(yTermCount_) {
    if (xTermCount < 0)
        throw xmsg("TPolynomialXYSurface: xTermCount must not be negative, got " +
                   std::to_string(xTermCount));
    if (yTermCount < 0 || yTermCount > kYTermLimit)
        throw xmsg("TPolynomialXYSurface: yTermCount must lie in 0 ... 10, got " +
                   std::to_string(yTermCount));
    growTable(coefficients, static_cast<std::size_t>(xTermCount), "TPolynomialXYSurface");
}

namespace {

void checkTerm(const char* operation, int i, int j, int xTermCount, int yTermCount) {
    if (i >= 0 && i < xTermCount && j >= 0 && j < yTermCount && j < kYTermLimit) return;
    throw xmsg(std::string("TPolynomialXYSurface::") + operation + ": no term x^" +
               std::to_string(i) + " y^" + std::to_string(j) + " in a surface of " +
               std::to_string(xTermCount) + " x and " + std::to_string(yTermCount) + " y terms");
}

}  // namespace

void TPolynomialXYSurface::setCoefficient(int i, int j, double value) {
    checkTerm("setCoefficient", i, j, xTermCount, yTermCount);
    detail::requireFinite("TPolynomialXYSurface", "a coefficient", value);
    // xTermCount is public and may have grown since construction.
    const std::size_t index =
        static_cast<std::size_t>(i) * kYTermLimit + static_cast<std::size_t>(j);
    if (index >= coefficients.size())
        growTable(coefficients, static_cast<std::size_t>(i) + 1,
                  "TPolynomialXYSurface::setCoefficient");
    coefficients[index] = value;
}

double TPolynomialXYSurface::getCoefficient(int i, int j) const {
    checkTerm("getCoefficient", i, j, xTermCount, yTermCount);
    const std::size_t index =
        static_cast<std::size_t>(i) * kYTermLimit + static_cast<std::size_t>(j);
    return index < coefficients.size() ? coefficients[index] : 0.0;
}

// Rows never stored hold zeros; the counts are public fields, so the loops
// keep to the table that exists.
double TPolynomialXYSurface::heightFunction(const TVector& p) const {
    const int nx = std::min(xTermCount, static_cast<int>(coefficients.size()) / kYTermLimit);
    const int ny = std::min(yTermCount, kYTermLimit);
    double h = 0.0;
    for (int i = 0; i < nx; ++i) {
        // x^0 and y^0 are 1 without a power, so x = 0 or y = 0 is fine.
        const double xi = i == 0 ? 1.0 : math::pow(p.x, i);
        for (int j = 0; j < ny; ++j) {
            const double yj = j == 0 ? 1.0 : math::pow(p.y, j);
            h += coefficients[static_cast<std::size_t>(i * kYTermLimit + j)] * xi * yj;
        }
    }
    return h;
}

TVector TPolynomialXYSurface::heightDerivative(const TVector& p) const {
    const int nx = std::min(xTermCount, static_cast<int>(coefficients.size()) / kYTermLimit);
    const int ny = std::min(yTermCount, kYTermLimit);
    const auto c = [this](int i, int j) {
        return coefficients[static_cast<std::size_t>(i * kYTermLimit + j)];
    };
    const auto power = [](double v, int e) { return e == 0 ? 1.0 : math::pow(v, e); };
    double dx = 0.0;
    for (int i = 1; i < nx; ++i)
        for (int j = 0; j < ny; ++j) dx += i * c(i, j) * power(p.x, i - 1) * power(p.y, j);
    double dy = 0.0;
    for (int i = 0; i < nx; ++i)
        for (int j = 1; j < ny; ++j) dy += j * c(i, j) * power(p.x, i) * power(p.y, j - 1);
    return {dx, dy, 0.0};
}

// ---- TSphericalLens --------------------------------------------------------

TSphericalLens::TSphericalLens(double zPosition_, const complex& refIndex_, double heightModulus_,
                               double curvatureRadius_)
    : TElement(zPosition_),
      TFunctionalSurface(zPosition_, refIndex_, heightModulus_),
      curvatureRadius(curvatureRadius_) {
    detail::requireFinite("TSphericalLens", "the curvature radius", curvatureRadius);
}

// The vertex sits at zPosition and the centre at zPosition + R; a point
// beyond |R| from the axis fails in the square root.
double TSphericalLens::heightFunction(const TVector& p) const {
    const double R = curvatureRadius;
    const double rho = radialDistance(p);
    if (R > 0.0) return R - math::sqrt(R * R - rho * rho);
    return R + math::sqrt(R * R - rho * rho);
}

TVector TSphericalLens::heightDerivative(const TVector& p) const {
    const double R = curvatureRadius;
    const double rho = radialDistance(p);
    const double d = R > 0.0 ? math::sqrt(R * R - rho * rho) : -math::sqrt(R * R - rho * rho);
    if (d == 0.0) return {};  // the rim: the slope is infinite, take the axial normal
    return {p.x / d, p.y / d, 0.0};
}

// ---- TEllipticalLens -------------------------------------------------------

TEllipticalLens::TEllipticalLens(double zPosition_, const complex& refIndex_, double heightModulus_,
                                 double axialSemiAxis_, double radialSemiAxis_)
    : TElement(zPosition_),
      TFunctionalSurface(zPosition_, refIndex_, heightModulus_),
      axialSemiAxis(axialSemiAxis_),
      radialSemiAxis(radialSemiAxis_) {
    detail::requireFinite("TEllipticalLens", "the axial semi-axis", axialSemiAxis);
    detail::requireFinite("TEllipticalLens", "the radial semi-axis", radialSemiAxis);
}

double TEllipticalLens::heightFunction(const TVector& p) const {
    const double a = axialSemiAxis;
    const double b = radialSemiAxis;
    const double rho = radialDistance(p);
    return math::sqrt(b * b - rho * rho) * (a / b) - a;
}

TVector TEllipticalLens::heightDerivative(const TVector& p) const {
    const double a = axialSemiAxis;
    const double b = radialSemiAxis;
    const double rho = radialDistance(p);
    const double q = math::sqrt(b * b - rho * rho);
    if (q == 0.0) return {};  // the rim
    return {-(a / b) * p.x / q, -(a / b) * p.y / q, 0.0};
}

// ---- THyperbolicLens -------------------------------------------------------

THyperbolicLens::THyperbolicLens(double zPosition_, const complex& refIndex_, double heightModulus_,
                                 double axialSemiAxis_, double radialSemiAxis_)
    : TElement(zPosition_),
      TFunctionalSurface(zPosition_, refIndex_, heightModulus_),
      axialSemiAxis(axialSemiAxis_),
      radialSemiAxis(radialSemiAxis_) {
    detail::requireFinite("THyperbolicLens", "the axial semi-axis", axialSemiAxis);
    detail::requireFinite("THyperbolicLens", "the radial semi-axis", radialSemiAxis);
}

double THyperbolicLens::heightFunction(const TVector& p) const {
    const double a = axialSemiAxis;
    const double b = radialSemiAxis;
    const double rho = radialDistance(p);
    return math::sqrt(b * b + rho * rho) * (a / b) - a;
}

TVector THyperbolicLens::heightDerivative(const TVector& p) const {
    const double a = axialSemiAxis;
    const double b = radialSemiAxis;
    const double rho = radialDistance(p);
    const double q = math::sqrt(b * b + rho * rho);
    if (q == 0.0) return {};
    return {(a / b) * p.x / q, (a / b) * p.y / q, 0.0};
}

// ---- TFresnelLens ----------------------------------------------------------

TFresnelLens::TFresnelLens(double zPosition_, const complex& refIndex_, double heightModulus_,
                           double indexRatio_, double focalLength_)
    : TElement(zPosition_),
      TFunctionalSurface(zPosition_, refIndex_, heightModulus_),
      indexRatio(indexRatio_),
      focalLength(focalLength_) {
    detail::requireFinite("TFresnelLens", "the index ratio", indexRatio);
    detail::requireFinite("TFresnelLens", "the focal length", focalLength);
}

// An antiderivative of the facet slope −ρ/(e·sqrt(c² + ρ²) − c) for every e:
// −(c/(2e²))·(2es + ln(c²·(es − 1)²/e⁴)). Where es = 1 (on the axis for
// e = 1) the slope is infinite and the logarithm fails.
double TFresnelLens::heightFunction(const TVector& p) const {
    const double e = indexRatio;
    const double c = focalLength;
    const double u = radialDistance(p) / c;
    const double s = math::sqrt(u * u + 1.0);
    const double e2 = e * e;
    const double A = c * ((1.0 + u * u) * e2 - 1.0);
    const double B = (1.0 + u * u) * e2 + 1.0 + 2.0 * e * s;
    return -c * (math::log(A * A / (B * (e2 * e2))) + 2.0 * e * s) / (2.0 * e2);
}

TVector TFresnelLens::heightDerivative(const TVector& p) const {
    const double e = indexRatio;
    const double c = focalLength;
    const double u = radialDistance(p) / c;
    const double s = math::sqrt(u * u + 1.0);
    const double D = (s * e - 1.0) * c;
    if (D == 0.0) return {};
    return {-p.x / D, -p.y / D, 0.0};
}

// ---- TGeneralLens ----------------------------------------------------------

TGeneralLens::TGeneralLens(double zPosition_, const complex& refIndex_, double heightModulus_,
                           double curvatureRadius_, double conicConstant_)
    : TElement(zPosition_),
      TFunctionalSurface(zPosition_, refIndex_, heightModulus_),
      curvatureRadius(curvatureRadius_),
      conicConstant(conicConstant_) {
    detail::requireFinite("TGeneralLens", "the curvature radius", curvatureRadius);
    // An infinite conic constant is a surface without shape, which refuses
    // to give heights; a NaN is no value at all.
    detail::requireNumber("TGeneralLens", "the conic constant", conicConstant);
}

namespace {

void checkConic(const char* operation, double conicConstant) {
    if (std::isfinite(conicConstant)) return;
    throw xmsg(std::string("TGeneralLens::") + operation +
               ": the conic constant is not finite, the surface has no shape");
}

}  // namespace

double TGeneralLens::heightFunction(const TVector& p) const {
    checkConic("heightFunction", conicConstant);
    // A zero radius stands for an infinite one: the plane.
    if (curvatureRadius == 0.0) return 0.0;
    const double C = 1.0 / curvatureRadius;
    const double k = conicConstant;
    const double rho = radialDistance(p);
    return C * rho * rho / (1.0 + math::sqrt(1.0 - (1.0 + k) * C * C * rho * rho));
}

TVector TGeneralLens::heightDerivative(const TVector& p) const {
    checkConic("heightDerivative", conicConstant);
    if (curvatureRadius == 0.0) return {};
    const double C = 1.0 / curvatureRadius;
    const double k = conicConstant;
    const double rho = radialDistance(p);
    const double w = math::sqrt(1.0 - (1.0 + k) * C * C * rho * rho);
    // dh/dρ divided by ρ.
    const double S =
        C * C * C * rho * rho * (k + 1.0) / (w * (1.0 + w) * (1.0 + w)) + 2.0 * C / (1.0 + w);
    return {S * p.x, S * p.y, 0.0};
}

}  // namespace lumivex
