// SPDX-License-Identifier: Apache-2.0
// Refracting surfaces: the shared tracing routine (intersection, Snell
// refraction, Fresnel transmittance, polarization, optical phase), the plane
// slab, surfaces given by a height function and their shapes, the lens, and
// surfaces given by a table of heights.
//
// Conventions: a surface sits at its element's zPosition; its shape is a
// height (sag) along z measured from zPosition as a function of x and y; its
// unit normal has a positive z component, pointing the way light travels.
#ifndef LUMIVEX_SURFACES_H
#define LUMIVEX_SURFACES_H

#include <array>
#include <iosfwd>
#include <vector>

#include "lumivex/export.h"
#include "lumivex/field.h"
#include "lumivex/geometry.h"
#include "lumivex/numeric.h"
#include "lumivex/system.h"

namespace lumivex {

// The abstract refracting surface. refIndex is the index of the medium in
// front of the surface; only its real part takes part in tracing.
class LUMIVEX_API TSurface : public virtual TElement {
public:
    TSurface(double zPosition, const complex& refIndex);
    ~TSurface() override;

    complex refIndex;

    // Where the straight ray from the node's position along its kVector
    // meets the surface (also behind the start point).
    virtual TVector findSurfaceIntersection(const TBeamNode& node) const = 0;
    // Appends one node: the refracted ray at the intersection, its intensity
    // weighted by the Fresnel power transmittance for its polarization, the
    // polarization turned with the ray, and the phase of the segment. On
    // failure (no intersection, total internal reflection, a ray that meets
    // the surface from behind, N·k ≤ 0, ...) appends a terminal node with
    // zero direction and throws an xmsg beginning
    // "Could not compute new k-Vector!".
    void traceBeam(TBeam& beam, const TElement& next) override;
    // refIndex, wherever asked.
    complex getRefIndex(const TVector& p, double unused) const override;
    // The unit normal at a point of the surface, positive z; (0, 0, 1) here.
    virtual TVector getSurfaceNormal(const TVector& p) const;
    // The straight section (−r, 0, z) … (r, 0, z).
    void getPolygon(TPolygon& polygon, bool reverse, double r) const override;
};

// The plane z = zPosition.
class LUMIVEX_API TSlab : public TSurface {
public:
    TSlab(double zPosition, const complex& refIndex);

    TVector findSurfaceIntersection(const TBeamNode& node) const override;
    // "Slab\t" zPosition "\t" re(refIndex), no line end.
    std::ostream& write(std::ostream& os) const override;
    // zPosition, then refIndex (re, "(re)" or "(re,im)"); a field is assigned
    // only when its extraction succeeds.
    virtual std::istream& read(std::istream& is);
};

// A surface whose sag is a function of x and y. heightModulus ≠ 0 folds the
// sag into zones of that depth, as a Fresnel lens is cut from a smooth
// profile; the normals stay those of the unfolded shape.
class LUMIVEX_API TFunctionalSurface : public TSurface {
public:
    TFunctionalSurface(double zPosition, const complex& refIndex, double heightModulus);

    double heightModulus;

    // Fixed-point search along the ray from the vertex plane until the axial
    // gap to the surface is at most 1e-9; throws "Too many iterations in
    // TFunctionalSurface::findSurfaceIntersection(...)" after 1000 steps.
    TVector findSurfaceIntersection(const TBeamNode& node) const override;
    // The exact unit normal (−dx, −dy, 1)/sqrt(1 + dx² + dy²) from the slopes.
    TVector getSurfaceNormal(const TVector& p) const override;
    // 500 points of the folded profile in the x–z plane.
    void getPolygon(TPolygon& polygon, bool reverse, double r) const override;

    // The sag folded by heightModulus (remainder with the sign of the sag).
    virtual double Height(const TVector& p) const;
    // The sag at (p.x, p.y) along z from zPosition; p.z is ignored.
    virtual double heightFunction(const TVector& p) const = 0;
    // (∂h/∂x, ∂h/∂y, 0) of heightFunction at (p.x, p.y).
    virtual TVector heightDerivative(const TVector& p) const = 0;
};

// h(ρ) = Σ c_i·ρ^i, rotationally symmetric.
class LUMIVEX_API TPolynomialSurface : public TFunctionalSurface {
public:
    TPolynomialSurface(double zPosition, const complex& refIndex, double heightModulus);

    // Copies the coefficients c_0, c_1, …, replacing earlier ones.
    void setCoefficients(const std::vector<double>& coefficients);
    int coefficientCount() const { return static_cast<int>(coefficients.size()); }
    const std::vector<double>& getCoefficients() const { return coefficients; }

    double heightFunction(const TVector& p) const override;
    TVector heightDerivative(const TVector& p) const override;

private:
    std::vector<double> coefficients;
};

// h(x, y) = Σ c_ij·x^i·y^j for i < xTermCount, j < yTermCount ≤ 10.
class LUMIVEX_API TPolynomialXYSurface : public TFunctionalSurface {
public:
    // All coefficients start at 0. Throws xmsg for a negative xTermCount or a
    // yTermCount outside 0 … 10.
    TPolynomialXYSurface(double zPosition, const complex& refIndex, double heightModulus,
                         int xTermCount, int yTermCount);

    int xTermCount;
    int yTermCount;

    // The coefficient of x^i·y^j; xmsg unless 0 ≤ i < xTermCount and
    // 0 ≤ j < yTermCount.
    void setCoefficient(int i, int j, double value);
    double getCoefficient(int i, int j) const;

    double heightFunction(const TVector& p) const override;
    TVector heightDerivative(const TVector& p) const override;

private:
    std::vector<double> coefficients;  // row i (power of x) of 10 columns (power of y)
};

// A sphere of signed radius curvatureRadius with its vertex at zPosition.
class LUMIVEX_API TSphericalLens : public TFunctionalSurface {
public:
    TSphericalLens(double zPosition, const complex& refIndex, double heightModulus,
                   double curvatureRadius);

    double curvatureRadius;

    double heightFunction(const TVector& p) const override;
    TVector heightDerivative(const TVector& p) const override;
};

// The ellipsoid (z + a)²/a² + ρ²/b² = 1 with its vertex at zPosition.
class LUMIVEX_API TEllipticalLens : public TFunctionalSurface {
public:
    TEllipticalLens(double zPosition, const complex& refIndex, double heightModulus,
                    double axialSemiAxis, double radialSemiAxis);

    double axialSemiAxis;
    double radialSemiAxis;

    double heightFunction(const TVector& p) const override;
    TVector heightDerivative(const TVector& p) const override;
};

// The hyperboloid (z + a)²/a² − ρ²/b² = 1 with its vertex at zPosition.
class LUMIVEX_API THyperbolicLens : public TFunctionalSurface {
public:
    THyperbolicLens(double zPosition, const complex& refIndex, double heightModulus,
                    double axialSemiAxis, double radialSemiAxis);

    double axialSemiAxis;
    double radialSemiAxis;

    double heightFunction(const TVector& p) const override;
    TVector heightDerivative(const TVector& p) const override;
};

// The facet profile that refracts rays running parallel to the axis inside a
// medium of relative index indexRatio towards the axis point at focalLength.
// Its sag is not 0 on the axis; it is meant to be folded by heightModulus.
class LUMIVEX_API TFresnelLens : public TFunctionalSurface {
public:
    TFresnelLens(double zPosition, const complex& refIndex, double heightModulus,
                 double indexRatio, double focalLength);

    double indexRatio;
    double focalLength;

    double heightFunction(const TVector& p) const override;
    TVector heightDerivative(const TVector& p) const override;
};

// The conic sag C·ρ²/(1 + sqrt(1 − (1 + κ)·C²·ρ²)), C = 1/curvatureRadius;
// κ = 0 is a sphere, κ = −1 a paraboloid. A curvatureRadius of 0 is a flat
// surface (an infinite radius, as lens-design programs write it).
class LUMIVEX_API TGeneralLens : public TFunctionalSurface {
public:
    TGeneralLens(double zPosition, const complex& refIndex, double heightModulus,
                 double curvatureRadius, double conicConstant);

    double curvatureRadius;
    double conicConstant;

    double heightFunction(const TVector& p) const override;
    TVector heightDerivative(const TVector& p) const override;

    // "GeneralLens\t" zPosition, re(refIndex), heightModulus,
    // curvatureRadius, conicConstant, tab separated, no line end.
    std::ostream& write(std::ostream& os) const override;
};

// The even asphere of lens design: the conic of TGeneralLens plus a
// polynomial in even powers of the radial distance ρ,
//   h(ρ) = C·ρ²/(1 + sqrt(1 − (1 + κ)·C²·ρ²)) + α1·ρ² + α2·ρ⁴ + … + α8·ρ¹⁶,
// C = 1/curvatureRadius, κ = conicConstant; a curvatureRadius of 0 leaves
// only the polynomial. The αᵢ are in the units of length^(1 − 2i) of the
// system. Beyond the conic's edge (1 − (1 + κ)·C²·ρ² < 0) the height and the
// slopes throw the math xmsg.
class LUMIVEX_API TEvenAsphere : public TFunctionalSurface {
public:
    static constexpr int kMaxCoefficients = 8;

    // coefficients are α1, α2, … (up to 8, the rest 0); more throws xmsg.
    TEvenAsphere(double zPosition, const complex& refIndex, double heightModulus,
                 double curvatureRadius, double conicConstant,
                 const std::vector<double>& coefficients = {});

    double curvatureRadius;
    double conicConstant;

    // Replaces α1 … (up to 8; the rest become 0); more throws xmsg.
    void setCoefficients(const std::vector<double>& coefficients);
    // α1 … α8, the coefficients of ρ², ρ⁴, … ρ¹⁶.
    const std::array<double, kMaxCoefficients>& getCoefficients() const { return alpha; }

    double heightFunction(const TVector& p) const override;
    TVector heightDerivative(const TVector& p) const override;

    // "EvenAsphere\t" zPosition, re(refIndex), heightModulus, curvatureRadius,
    // conicConstant, α1 … α8, tab separated, no line end.
    std::ostream& write(std::ostream& os) const override;
    // The record's values in written order; a field is assigned only when
    // its extraction succeeds.
    virtual std::istream& read(std::istream& is);

private:
    std::array<double, kMaxCoefficients> alpha{};
};

// The conic surface of the description format: curvatureRadius =
// −vertexLength/2 and conicConstant = −(re(refIndex)/secondIndex)²; the
// imaginary part of the index is dropped.
class LUMIVEX_API TLens : public TGeneralLens {
public:
    TLens(double zPosition, const complex& refIndex, double heightModulus, double secondIndex,
          double vertexLength);

    double secondIndex;
    double vertexLength;

    // "Lens\t" zPosition, re(refIndex), secondIndex, vertexLength,
    // heightModulus, tab separated, no line end.
    std::ostream& write(std::ostream& os) const override;
    // The five record values in written order; does not re-derive the shape.
    virtual std::istream& read(std::istream& is);
};

// A surface whose heights come from a table on a regular grid: column c and
// row r hold the sag at x = (c − columns/2)·dx, y = (r − rows/2)·dy. The
// surface is piecewise constant and 0 outside the table.
class LUMIVEX_API TMatrixSurface : public TSurface {
public:
    // Takes the table over (the real parts are the heights), also when it
    // throws: xmsg for a null or empty table, or dx or dy not positive.
    TMatrixSurface(double zPosition, const complex& refIndex, double dx, double dy,
                   TMatrix* heightTable);
    // Copies the table too; copies never share one.
    TMatrixSurface(const TMatrixSurface& other);
    TMatrixSurface& operator=(const TMatrixSurface&) = delete;
    ~TMatrixSurface() override;

    double dx;
    double dy;
    TMatrix* heightTable;

    TVector findSurfaceIntersection(const TBeamNode& node) const override;
    TVector getSurfaceNormal(const TVector& p) const override;
    void getPolygon(TPolygon& polygon, bool reverse, double r) const override;

    // The table's sample under (p.x, p.y), or 0 outside the grid.
    virtual double Height(const TVector& p) const;
    // Finite-difference slopes of the table; one-sided at the border, 0
    // outside the grid.
    virtual TVector heightDerivative(const TVector& p) const;

protected:
    // For TMatrixLens, which fills the table after construction.
    TMatrixSurface(double zPosition, const complex& refIndex, double dx, double dy);
};

// The conic sag of TGeneralLens sampled on an nx × ny grid centred on the
// axis, folded by heightModulus when it is not 0.
class LUMIVEX_API TMatrixLens : public TMatrixSurface {
public:
    // Throws xmsg for nx or ny < 1 or dx or dy ≤ 0, naming the parameter, and
    // the math xmsg where the grid reaches beyond the conic's edge.
    TMatrixLens(double zPosition, const complex& refIndex, double curvatureRadius,
                double conicConstant, double heightModulus, int nx, int ny, double dx, double dy);
    TMatrixLens(const TMatrixLens&) = default;
    TMatrixLens& operator=(const TMatrixLens&) = delete;
    ~TMatrixLens() override;

    int nx;
    int ny;
};

}  // namespace lumivex

#endif
