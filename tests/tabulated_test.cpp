// SPDX-License-Identifier: Apache-2.0
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <limits>
#include <string>
#include <vector>

#include "lumivex/field.h"
#include "lumivex/surfaces.h"
#include "lumivex/system.h"

using namespace lumivex;

namespace {

// A host table whose samples are given row after row.
TMatrix* tableOf(int columns, int rows, const std::vector<double>& heights) {
    auto* table = new TMatrix(columns, rows);
    for (int i = 0; i < columns * rows; ++i) table->data[i] = complex(heights[i], 0.0);
    return table;
}

// The conic sag written as a sphere where that is the closed form.
double sphereSag(double R, double rho) { return R - std::sqrt(R * R - rho * rho); }

template <class F>
std::string messageOf(F&& f) {
    try {
        f();
    } catch (const xmsg& e) {
        return e.message();
    }
    return "(no xmsg)";
}

const TVector kAt(double x, double y) { return TVector(x, y, 0.0); }

}  // namespace

TEST(MatrixLens, OddGridRoundsToTheNearestSample) {
    const double R = 10.0;
    TMatrixLens lens(0.0, 1.5, R, 0.0, 0.0, 3, 3, 1.0, 1.0);
    const TMatrix& t = *lens.heightTable;
    ASSERT_EQ(t.columns, 3);
    ASSERT_EQ(t.rows, 3);
    // Column c, row r sits at ((c − 1)·dx, (r − 1)·dy) and holds the sphere's sag.
    for (int c = 0; c < 3; ++c)
        for (int r = 0; r < 3; ++r)
            EXPECT_NEAR(t.at(c, r).real(), sphereSag(R, std::hypot(c - 1.0, r - 1.0)), 1e-15);
    EXPECT_EQ(t.at(1, 1).real(), 0.0);
    EXPECT_EQ(lens.Height(kAt(0, 0)), 0.0);
    EXPECT_EQ(lens.Height(kAt(1, 0)), t.at(2, 1).real());
    EXPECT_EQ(lens.Height(kAt(0.4, 0)), t.at(1, 1).real());
    EXPECT_EQ(lens.Height(kAt(0.6, 0)), t.at(2, 1).real());
    EXPECT_EQ(lens.Height(kAt(-0.6, 0.6)), t.at(0, 2).real());
    // z plays no part.
    EXPECT_EQ(lens.Height(TVector(1, 0, 123.0)), t.at(2, 1).real());
}

TEST(MatrixLens, EvenGridHasTheAxisAtColumnHalfTheCount) {
    // nx = 4: columns at x = −2, −1, 0, 1; ny = 1: the one row at y = 0.
    TMatrixLens lens(0.0, 1.5, 10.0, -0.5, 0.0, 4, 1, 1.0, 1.0);
    const TMatrix& t = *lens.heightTable;
    EXPECT_EQ(t.at(2, 0).real(), 0.0);
    EXPECT_NEAR(t.at(0, 0).real(), 0.4 / (1.0 + std::sqrt(1.0 - 0.5 * 0.04)), 1e-15);
    EXPECT_EQ(t.at(1, 0).real(), t.at(3, 0).real());
    // An even grid takes the sample at or below the point.
    EXPECT_EQ(lens.Height(kAt(0.9, 0)), t.at(2, 0).real());
    EXPECT_EQ(lens.Height(kAt(1.0, 0)), t.at(3, 0).real());
}

TEST(MatrixSurface, LookupTruncatesTowardsZeroAndIsZeroOutside) {
    // Distinct heights so every column can be recognised.
    TMatrixSurface s(0.0, 1.0, 1.0, 1.0, tableOf(3, 1, {10, 11, 12}));
    EXPECT_EQ(s.Height(kAt(1.6, 0)), 0.0);    // column 3 = columns
    EXPECT_EQ(s.Height(kAt(2.6, 0)), 0.0);    // column 4
    EXPECT_EQ(s.Height(kAt(-2.6, 0)), 0.0);   // column −1
    EXPECT_EQ(s.Height(kAt(-1.6, 0)), 10.0);  // −0.1 truncates to column 0
    EXPECT_EQ(s.Height(kAt(-2.4, 0)), 10.0);  // −0.9 as well
    EXPECT_EQ(s.Height(kAt(-2.5, 0)), 0.0);   // −1 does not
    EXPECT_EQ(s.Height(kAt(1.49, 0)), 12.0);
    // Rows follow the same rule; the one row covers −1.5 < y < 0.5.
    EXPECT_EQ(s.Height(kAt(0, -1.4)), 11.0);
    EXPECT_EQ(s.Height(kAt(0, 0.5)), 0.0);
    // Far away and non-finite points are outside, never an overflowing index.
    const double inf = std::numeric_limits<double>::infinity();
    const double nan = std::numeric_limits<double>::quiet_NaN();
    EXPECT_EQ(s.Height(kAt(1e300, 0)), 0.0);
    EXPECT_EQ(s.Height(kAt(-1e300, 0)), 0.0);
    EXPECT_EQ(s.Height(kAt(inf, 0)), 0.0);
    EXPECT_EQ(s.Height(kAt(nan, 0)), 0.0);
    EXPECT_EQ(s.Height(kAt(0, nan)), 0.0);
}

TEST(MatrixLens, FoldingKeepsTheSignOfTheSag) {
    const double R = 4.0, m = 0.5;
    TMatrixLens convex(0.0, 1.5, R, 0.0, m, 7, 1, 1.0, 1.0);
    TMatrixLens concave(0.0, 1.5, -R, 0.0, m, 7, 1, 1.0, 1.0);
    for (int c = 0; c < 7; ++c) {
        const double sag = sphereSag(R, c - 3.0);
        EXPECT_NEAR(convex.heightTable->at(c, 0).real(), std::fmod(sag, m), 1e-15) << c;
        EXPECT_NEAR(concave.heightTable->at(c, 0).real(), -std::fmod(sag, m), 1e-15) << c;
    }
    // x = 3: sag 4 − √7 = 1.354 folds to 0.354; Height reads the folded table.
    EXPECT_NEAR(convex.Height(kAt(3, 0)), 4.0 - std::sqrt(7.0) - 1.0, 1e-15);
    EXPECT_NEAR(concave.Height(kAt(-3, 0)), -(4.0 - std::sqrt(7.0) - 1.0), 1e-15);
}

TEST(MatrixSurface, SlopesPreferTheForwardStepBelowTheSpacing) {
    // Heights along x with a fold between columns 2 and 3 (a drop of 1 = dx).
    TMatrixSurface s(0.0, 1.0, 1.0, 1.0, tableOf(5, 1, {0.0, 0.3, 0.9, -0.1, 0.2}));
    EXPECT_DOUBLE_EQ(s.heightDerivative(kAt(-1, 0)).x, 0.6);  // forward, column 1
    EXPECT_DOUBLE_EQ(s.heightDerivative(kAt(0, 0)).x, 0.6);   // |−1| ≥ dx: backward
    EXPECT_DOUBLE_EQ(s.heightDerivative(kAt(1, 0)).x, 0.3);   // forward again after the fold
    // With a wider spacing the same drop is a slope under 1: forward again.
    TMatrixSurface fine(0.0, 1.0, 1.5, 1.0, tableOf(5, 1, {0.0, 0.3, 0.9, -0.1, 0.2}));
    EXPECT_DOUBLE_EQ(fine.heightDerivative(kAt(0, 0)).x, -1.0 / 1.5);
}

TEST(MatrixSurface, BorderSlopesAreOneSidedAndZeroOutside) {
    // h = 2·c + 0.5·r² on a 4 × 3 grid (dx = 0.5, dy = 2): columns at
    // x = −1, −0.5, 0, 0.5; rows at y = −2, 0, 2.
    std::vector<double> h;
    for (int r = 0; r < 3; ++r)
        for (int c = 0; c < 4; ++c) h.push_back(2.0 * c + 0.5 * r * r);
    TMatrixSurface s(0.0, 1.0, 0.5, 2.0, tableOf(4, 3, h));

    const TVector first = s.heightDerivative(kAt(-1.0, -2.0));  // column 0, row 0
    EXPECT_DOUBLE_EQ(first.x, 4.0);
    EXPECT_DOUBLE_EQ(first.y, 0.25);  // forward: (0.5 − 0)/2
    EXPECT_EQ(first.z, 0.0);
    const TVector last = s.heightDerivative(kAt(0.7, 2.9));  // column 3, row 2
    EXPECT_DOUBLE_EQ(last.x, 4.0);
    EXPECT_DOUBLE_EQ(last.y, 0.75);  // backward: (2 − 0.5)/2
    // The −1 … 0 band of column 0 reads column 0 and 1, nothing before.
    EXPECT_DOUBLE_EQ(s.heightDerivative(kAt(-1.4, 0)).x, 4.0);

    const double nan = std::numeric_limits<double>::quiet_NaN();
    for (const TVector& p : {kAt(1.0, 0), kAt(-1.6, 0), kAt(0, 4.0), kAt(0, -6.1), kAt(1e300, 0),
                             kAt(0, -1e300), kAt(nan, 0), kAt(0, nan)}) {
        const TVector d = s.heightDerivative(p);
        EXPECT_EQ(d.x, 0.0) << p;
        EXPECT_EQ(d.y, 0.0) << p;
        EXPECT_EQ(s.getSurfaceNormal(p), TVector(0, 0, 1)) << p;
    }
}

TEST(MatrixSurface, OneRowOrColumnHasNoSlopeAcrossIt) {
    TMatrixSurface row(0.0, 1.0, 1.0, 1.0, tableOf(3, 1, {0.0, 0.5, 0.75}));
    for (double y : {0.0, 0.3, -7.0}) {
        const TVector d = row.heightDerivative(kAt(0, y));
        EXPECT_DOUBLE_EQ(d.x, 0.25) << y;  // row 0, whatever y
        EXPECT_EQ(d.y, 0.0) << y;
    }
    TMatrixSurface column(0.0, 1.0, 1.0, 1.0, tableOf(1, 2, {1.0, 0.5}));
    EXPECT_EQ(column.heightDerivative(kAt(5, 0)).x, 0.0);
    EXPECT_DOUBLE_EQ(column.heightDerivative(kAt(5, 0)).y, -0.5);
    TMatrixSurface single(0.0, 1.0, 1.0, 1.0, tableOf(1, 1, {2.0}));
    EXPECT_EQ(single.heightDerivative(kAt(0, 0)), TVector());
}

TEST(MatrixSurface, NormalIsTheExactNormalOfTheSlopes) {
    // Equal slopes of 0.9 in x and y: the true normal of the tilted plane
    // z = 0.9·(x + y), not the per-axis construction, which leans further.
    TMatrixSurface s(0.0, 1.0, 1.0, 1.0, tableOf(2, 2, {0.0, 0.9, 0.9, 1.8}));
    const TVector n = s.getSurfaceNormal(kAt(-1, -1));
    const double a = 0.9 / std::sqrt(1.0 + 2 * 0.81);
    EXPECT_NEAR(n.x, -a, 1e-15);
    EXPECT_NEAR(n.y, -a, 1e-15);
    EXPECT_NEAR(n.z, a / 0.9, 1e-15);
}

TEST(MatrixLens, RejectsGridsItCannotBuild) {
    EXPECT_EQ(messageOf([] { TMatrixLens(0, 1.5, 10, 0, 0, 0, 3, 1, 1); }),
              "TMatrixLens: nx must be at least 1, not 0");
    EXPECT_EQ(messageOf([] { TMatrixLens(0, 1.5, 10, 0, 0, 3, -2, 1, 1); }),
              "TMatrixLens: ny must be at least 1, not -2");
    EXPECT_EQ(messageOf([] { TMatrixLens(0, 1.5, 10, 0, 0, 3, 3, 0, 1); }),
              "TMatrixLens: dx must be positive and finite, not 0");
    EXPECT_EQ(messageOf([] { TMatrixLens(0, 1.5, 10, 0, 0, 3, 3, 1, -0.5); }),
              "TMatrixLens: dy must be positive and finite, not -0.5");
    EXPECT_EQ(messageOf([] {
                  TMatrixLens(0, 1.5, 10, 0, 0, 3, 3, 1, std::numeric_limits<double>::quiet_NaN());
              }),
              "TMatrixLens: dy must be positive and finite, not nan");
    // A sphere of radius 1 ends at ρ = 1; the corner of a 5 × 5 grid of unit
    // spacing lies at ρ² = 8. The report names the element and the sample.
    const std::string edge = messageOf([] { TMatrixLens(0, 1.5, 1.0, 0, 0, 5, 5, 1, 1); });
    EXPECT_EQ(edge.rfind("TMatrixLens: the conic of curvature radius 1 and conic constant 0 has "
                         "no height at x = -2, y = -2",
                         0),
              0u)
        << edge;
}

TEST(MatrixLens, ZeroRadiusIsAFlatTable) {
    TMatrixLens flat(2.0, 1.5, 0.0, -3.0, 0.5, 5, 4, 0.1, 0.2);
    for (std::size_t i = 0; i < flat.heightTable->size(); ++i)
        EXPECT_EQ(flat.heightTable->data[i], complex(0.0, 0.0));
    EXPECT_EQ(flat.nx, 5);
    EXPECT_EQ(flat.ny, 4);
    EXPECT_EQ(flat.zPosition, 2.0);
}

TEST(MatrixSurface, RejectsTablesThatWouldBeReadOutOfBounds) {
    EXPECT_EQ(messageOf([] { TMatrixSurface(0, 1.0, 1, 1, nullptr); }),
              "TMatrixSurface: the height table is null");
    // Rejected tables are released (AddressSanitizer would report a leak).
    EXPECT_EQ(messageOf([] { TMatrixSurface(0, 1.0, 1, 1, new TMatrix(0, 3)); }),
              "TMatrixSurface: the height table must have at least one column and one row");
    EXPECT_EQ(messageOf([] { TMatrixSurface(0, 1.0, 0, 1, new TMatrix(2, 2)); }),
              "TMatrixSurface: dx must be positive and finite, not 0");
    EXPECT_EQ(messageOf([] { TMatrixSurface(0, 1.0, 1, -1, new TMatrix(2, 2)); }),
              "TMatrixSurface: dy must be positive and finite, not -1");
}

TEST(MatrixSurface, IntersectionLandsOnTheTabulatedStep) {
    TMatrixSurface s(5.0, 1.0, 1.0, 1.0, tableOf(3, 3, {0, 0, 0, 0, 0.25, 0.5, 0, 0, 0}));
    // A tilted ray meets the vertex plane in column 2 (height 0.5) and
    // stays there up to z = 5.5.
    TBeamNode node(TVector(0.7, 0, 0), TVector(0.01, 0, 1).unit(), 1.0, TVector(1, 0, 0), 0.0);
    const TVector P = s.findSurfaceIntersection(node);
    EXPECT_DOUBLE_EQ(P.z, 5.5);
    EXPECT_NEAR(P.x, 0.7 + 0.055, 1e-15);
}

TEST(MatrixSurface, IntersectionSearchFailsBetweenTwoSteps) {
    // A ray at a grazing slope from the raised column falls off the grid
    // (height 0) and back onto the column: the search never settles.
    TMatrixSurface s(0.0, 1.0, 1.0, 1.0, tableOf(2, 1, {0.0, 1.0}));
    TBeamNode node(TVector(10.5, 0, -1), TVector(-10, 0, 1).unit(), 1.0, TVector(0, 1, 0), 0.0);
    EXPECT_EQ(messageOf([&] { s.findSurfaceIntersection(node); }),
              "Too many iterations in TFunctionalSurface::findSurfaceIntersection(...)");
    // Traced, the failure is the surface's own report.
    TBeam beam(5e-4);
    beam.addNode(node);
    const std::string traced = messageOf([&] { s.traceBeam(beam, TElement()); });
    EXPECT_EQ(traced.rfind("Could not compute new k-Vector!\n", 0), 0u) << traced;
    EXPECT_EQ(beam.getSize(), 2);
}

TEST(MatrixSurface, OutlineSamplesTheTableFromEdgeToEdge) {
    TMatrixSurface s(3.0, 1.0, 1.0, 1.0, tableOf(3, 1, {0.5, 0.0, 0.25}));
    TPolygon polygon;
    polygon.addPoint(TVector(9, 9, 9));
    s.getPolygon(polygon, true, 2.0);
    ASSERT_EQ(polygon.getSize(), 501);
    EXPECT_EQ(polygon[0], TVector(9, 9, 9));
    EXPECT_EQ(polygon[1].x, 2.0);
    EXPECT_EQ(polygon[500].x, -2.0);
    for (int i = 0; i < 500; ++i) {
        const TVector p = polygon[i + 1];
        EXPECT_NEAR(p.x, 2.0 - 4.0 * i / 499.0, 2e-15);
        EXPECT_EQ(p.y, 0.0);
        // The table covers −1.5 ≤ x < 1.5 and the band down to −2.5.
        const double h = p.x >= 1.5 ? 0.0 : p.x >= 0.5 ? 0.25 : p.x >= -0.5 ? 0.0 : 0.5;
        EXPECT_EQ(p.z, 3.0 + h) << p;
    }
    TPolygon forward;
    s.getPolygon(forward, false, 2.0);
    EXPECT_EQ(forward[0].x, -2.0);
    EXPECT_EQ(forward[499].x, 2.0);
}

// A table sampled finely enough stands in for the conic itself: rays traced
// through a TMatrixLens and a TGeneralLens of the same shape into a slab
// behind it leave at points whose distance shrinks in proportion to the
// spacing (the flat steps misplace the hit by up to slope·dx/2, the
// differences misjudge the slope by up to curvature·dx).
TEST(MatrixLens, TracesLikeTheConicAsTheGridIsRefined) {
    const double R = 10.0, K = -0.5, zSlab = 5.0;
    const double halfX = 3.0, halfY = 1.5;
    // Forty ray heights spread over the aperture by the golden-ratio
    // sequence, off every grid line, so each refinement lands them elsewhere
    // within their cells.
    std::vector<TVector> starts;
    for (int i = 1; i <= 40; ++i) {
        const double u = std::fmod(i * 0.6180339887, 1.0), v = std::fmod(i * 0.7548776662, 1.0);
        starts.emplace_back(-2.8 + 5.6 * u, -1.4 + 2.8 * v, -1.0);
    }
    const auto exitPoints = [&](TSurface* lens) {
        TOpticalSystem system(5.0);
        system.addElement(lens);
        system.addElement(new TSlab(zSlab, 1.5));
        std::vector<TVector> points;
        for (const TVector& p : starts) {
            TBeam beam(5e-4);
            beam.addNode(TBeamNode(p, TVector(0, 0, 1), 1.0, TVector(1, 0, 0), 0.0));
            system.traceBeam(beam);
            points.push_back(beam.getLast().position);
        }
        return points;
    };
    const std::vector<TVector> exact = exitPoints(new TGeneralLens(0.0, 1.0, 0.0, R, K));

    std::vector<double> errors;
    double dx = 0.1;
    for (int level = 0; level < 6; ++level, dx /= 2) {
        const int nx = 2 * static_cast<int>(std::ceil(halfX / dx)) + 1;
        const int ny = 2 * static_cast<int>(std::ceil(halfY / dx)) + 1;
        const std::vector<TVector> traced =
            exitPoints(new TMatrixLens(0.0, 1.0, R, K, 0.0, nx, ny, dx, dx));
        double sum = 0.0;
        for (std::size_t i = 0; i < starts.size(); ++i) {
            EXPECT_DOUBLE_EQ(traced[i].z, zSlab);
            sum += (traced[i] - exact[i]).dot(traced[i] - exact[i]);
        }
        errors.push_back(std::sqrt(sum / starts.size()));
        std::printf("dx %-10g grid %4d x %-4d rms exit-point error %.3e  error/dx %.3f\n", dx, nx,
                    ny, errors.back(), errors.back() / dx);
        // First order: the error stays in proportion to the spacing.
        EXPECT_LT(errors.back(), 0.2 * dx);
        EXPECT_GT(errors.back(), 0.08 * dx);
    }
    EXPECT_LT(errors.back(), errors.front() / 20);  // five halvings, 32 times finer
}
