// SPDX-License-Identifier: Apache-2.0
// Surfaces given by a table of heights on a regular grid: the piecewise
// constant lookup, finite-difference slopes that never leave the table, and
// the conic lens sampled into such a table.
#include <cmath>
#include <new>
#include <sstream>
#include <string>

#include "lumivex/surfaces.h"
#include "numeric/checked_math.h"
#include "surfaces/height_search.h"

namespace lumivex {

namespace {

std::string number(double v) {
    std::ostringstream os;
    os << v;
    return os.str();
}

// The grid cell under coordinate u along one axis: the integer part,
// truncated towards zero, of u/spacing + count/2. Adding half the count as a
// real number makes an odd grid round to the nearest sample and an even one
// take the sample at or below u; values between −1 and 0 fall into cell 0.
// Returns false outside the grid, where no int conversion is attempted, so
// far-away or non-finite coordinates cannot overflow it.
bool gridCell(double u, double spacing, int count, int& cell) {
    const double t = u / spacing + 0.5 * count;
    if (!(t > -1.0 && t < count)) return false;
    cell = static_cast<int>(t);
    return true;
}

// The slope along one axis at sample i of `count`, from `at(k)`, the sample
// k along that axis. The forward difference unless the step to the next
// sample is as large as the spacing (a fold or a cliff); then the backward
// one. The first and last sample have only the one neighbour inside the
// table, and an axis with a single sample has no slope.
template <class Sample>
double tableSlope(int i, int count, double spacing, const Sample& at) {
    if (count <= 1) return 0.0;
    const double h0 = at(i);
    if (i == count - 1) return (h0 - at(i - 1)) / spacing;
    const double hPlus = at(i + 1);
    if (i == 0 || std::fabs(hPlus - h0) < spacing) return (hPlus - h0) / spacing;
    return (h0 - at(i - 1)) / spacing;
}

}  // namespace

// ---- TMatrixSurface ----------------------------------------------------------

TMatrixSurface::TMatrixSurface(double zPosition_, const complex& refIndex_, double dx_, double dy_,
                               TMatrix* heightTable_)
    : TElement(zPosition_),
      TSurface(zPosition_, refIndex_),
      dx(dx_),
      dy(dy_),
      heightTable(heightTable_) {
    // The table is ours from the call on, so a rejected one is released here:
    // the destructor does not run for a constructor that throws. An empty
    // table would send the slopes of a one-column or one-row grid to a
    // sample that does not exist.
    const auto reject = [this](const std::string& why) {
        delete heightTable;
        heightTable = nullptr;
        throw xmsg("TMatrixSurface: " + why);
    };
    if (!heightTable) reject("the height table is null");
    if (heightTable->columns < 1 || heightTable->rows < 1 || !heightTable->data)
        reject("the height table must have at least one column and one row");
    if (!(dx > 0.0) || !std::isfinite(dx))
        reject("dx must be positive and finite, not " + number(dx));
    if (!(dy > 0.0) || !std::isfinite(dy))
        reject("dy must be positive and finite, not " + number(dy));
}

TMatrixSurface::TMatrixSurface(double zPosition_, const complex& refIndex_, double dx_, double dy_)
    : TElement(zPosition_),
      TSurface(zPosition_, refIndex_),
      dx(dx_),
      dy(dy_),
      heightTable(nullptr) {}

TMatrixSurface::TMatrixSurface(const TMatrixSurface& other)
    : TElement(other),
      TSurface(other),
      dx(other.dx),
      dy(other.dy),
      heightTable(other.heightTable ? new TMatrix(*other.heightTable) : nullptr) {}

TMatrixSurface::~TMatrixSurface() { delete heightTable; }

double TMatrixSurface::Height(const TVector& p) const {
    const TMatrix& table = *heightTable;
    int c, r;
    if (!gridCell(p.x, dx, table.columns, c) || !gridCell(p.y, dy, table.rows, r)) return 0.0;
    return table.at(c, r).real();
}

TVector TMatrixSurface::heightDerivative(const TVector& p) const {
    const TMatrix& table = *heightTable;
    const int columns = table.columns;
    const int rows = table.rows;
    // Outside the grid the surface is the plane of height 0, so flat. An
    // axis with a single sample has no slope, and its one index serves every
    // coordinate along it.
    int c = 0, r = 0;
    if (columns > 1 && !gridCell(p.x, dx, columns, c)) return TVector();
    if (rows > 1 && !gridCell(p.y, dy, rows, r)) return TVector();
    const auto s = [&table](int column, int row) { return table.at(column, row).real(); };
    const double sx = tableSlope(c, columns, dx, [&](int k) { return s(k, r); });
    const double sy = tableSlope(r, rows, dy, [&](int k) { return s(c, k); });
    return {sx, sy, 0.0};
}

TVector TMatrixSurface::getSurfaceNormal(const TVector& p) const {
    return detail::normalFromSlopes(heightDerivative(p));
}

TVector TMatrixSurface::findSurfaceIntersection(const TBeamNode& node) const {
    return detail::searchSurfaceIntersection(node, zPosition,
                                             [this](const TVector& P) { return Height(P); });
}

void TMatrixSurface::getPolygon(TPolygon& polygon, bool reverse, double r) const {
    constexpr int kPoints = 500;
    // In extended precision the last point lands on b up to the final
    // rounding to double.
    constexpr long double kStep = 1.0L / 499;
    const double a = reverse ? r : -r;
    const double b = reverse ? -r : r;
    for (int i = 0; i < kPoints; ++i) {
        const double x = static_cast<double>(a + static_cast<long double>(i * (b - a)) * kStep);
        polygon.addPoint(TVector(x, 0.0, zPosition + Height(TVector(x, 0.0, 0.0))));
    }
}

// ---- TMatrixLens -------------------------------------------------------------

TMatrixLens::TMatrixLens(double zPosition_, const complex& refIndex_, double curvatureRadius,
                         double conicConstant, double heightModulus, int nx_, int ny_, double dx_,
                         double dy_)
    : TElement(zPosition_), TMatrixSurface(zPosition_, refIndex_, dx_, dy_), nx(nx_), ny(ny_) {
    if (nx < 1) throw xmsg("TMatrixLens: nx must be at least 1, not " + std::to_string(nx));
    if (ny < 1) throw xmsg("TMatrixLens: ny must be at least 1, not " + std::to_string(ny));
    if (!(dx > 0.0) || !std::isfinite(dx))
        throw xmsg("TMatrixLens: dx must be positive and finite, not " + number(dx));
    if (!(dy > 0.0) || !std::isfinite(dy))
        throw xmsg("TMatrixLens: dy must be positive and finite, not " + number(dy));
    if (std::isnan(curvatureRadius)) throw xmsg("TMatrixLens: curvatureRadius is not a number");
    if (!std::isfinite(conicConstant))
        throw xmsg("TMatrixLens: conicConstant must be finite, not " + number(conicConstant));
    if (!std::isfinite(heightModulus))
        throw xmsg("TMatrixLens: heightModulus must be finite, not " + number(heightModulus));

    try {
        heightTable = new TMatrix(nx, ny);
    } catch (const xmsg&) {
        throw xmsg("TMatrixLens: no memory for a table of " + std::to_string(nx) + " x " +
                   std::to_string(ny) + " samples");
    }
    // A zero radius is a flat surface (an infinite radius, as lens-design
    // programs write it): the table keeps its zero samples. Should the conic
    // end inside the grid, the square root throws and the TMatrixSurface
    // destructor releases the table.
    if (curvatureRadius == 0.0) return;
    const double kappa = 1.0 / curvatureRadius;
    for (int i = 0; i < nx; ++i) {
        for (int j = 0; j < ny; ++j) {
            const double x = (i - nx / 2) * dx;
            const double y = (j - ny / 2) * dy;
            const double rho = math::sqrt(x * x + y * y);
            const double root = 1.0 - (1.0 + conicConstant) * (kappa * kappa) * (rho * rho);
            if (!(root >= 0.0))
                throw xmsg("TMatrixLens: the conic of curvature radius " + number(curvatureRadius) +
                           " and conic constant " + number(conicConstant) +
                           " has no height at x = " + number(x) + ", y = " + number(y) +
                           " of the grid; its edge lies inside the " + std::to_string(nx) + " x " +
                           std::to_string(ny) + " samples");
            double h = rho * rho * kappa / (1.0 + math::sqrt(root));
            // Remainder with the sign of h: the zones fold towards the vertex
            // plane, as the functional surfaces fold.
            if (heightModulus != 0.0) h = math::fmod(h, heightModulus);
            heightTable->at(i, j) = complex(h, 0.0);
        }
    }
}

TMatrixLens::~TMatrixLens() = default;

}  // namespace lumivex
