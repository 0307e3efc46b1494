// SPDX-License-Identifier: Apache-2.0
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "numeric/nr_arrays.h"
#include "numeric/spline.h"

using namespace lumivex;

// ---- index-offset arrays ---------------------------------------------------

TEST(NumericArrays, VectorsCoverTheirIndexRange) {
    for (long low : {-3L, 0L, 1L, 7L}) {
        const long high = low + 4;
        double* v = nr::vector(low, high);
        for (long i = low; i <= high; ++i) v[i] = 0.5 * i;
        for (long i = low; i <= high; ++i) EXPECT_EQ(v[i], 0.5 * i);
        EXPECT_EQ(&v[high] - &v[low], high - low);
        nr::release_vector(v, low, high);

        int* iv = nr::ivector(low, high);
        unsigned char* cv = nr::cvector(low, high);
        long* lv = nr::lvector(low, high);
        double* dv = nr::dvector(low, high);
        for (long i = low; i <= high; ++i) {
            iv[i] = static_cast<int>(i);
            cv[i] = static_cast<unsigned char>(i + 10);
            lv[i] = -i;
            dv[i] = 2.0 * i;
        }
        for (long i = low; i <= high; ++i) {
            EXPECT_EQ(iv[i], i);
            EXPECT_EQ(cv[i], i + 10);
            EXPECT_EQ(lv[i], -i);
            EXPECT_EQ(dv[i], 2.0 * i);
        }
        nr::release_ivector(iv, low, high);
        nr::release_cvector(cv, low, high);
        nr::release_lvector(lv, low, high);
        nr::release_dvector(dv, low, high);
    }
}

TEST(NumericArrays, MatrixRowsAreConsecutiveInOneBlock) {
    double** m = nr::matrix(1, 2, 1, 3);
    EXPECT_EQ(&m[1][3] + 1, &m[2][1]);
    EXPECT_EQ(&m[2][3] - &m[1][1], 5);
    nr::release_matrix(m, 1, 2, 1, 3);

    // Any bounds: element (i, j) sits (i − rowLow)·K + (j − colLow) after the first.
    int** k = nr::intmatrix(-1, 2, 3, 5);
    double** d = nr::dblmatrix(0, 3, -2, 0);
    for (long i = -1; i <= 2; ++i)
        for (long j = 3; j <= 5; ++j) {
            EXPECT_EQ(&k[i][j] - &k[-1][3], (i + 1) * 3 + (j - 3));
            k[i][j] = static_cast<int>(10 * i + j);
        }
    for (long i = 0; i <= 3; ++i)
        for (long j = -2; j <= 0; ++j) EXPECT_EQ(&d[i][j] - &d[0][-2], i * 3 + (j + 2));
    EXPECT_EQ(k[2][5], 25);
    nr::release_intmatrix(k, -1, 2, 3, 5);
    nr::release_dblmatrix(d, 0, 3, -2, 0);
}

TEST(NumericArrays, ThreeIndexArrayIsContiguousDepthFastest) {
    double*** t = nr::f3tensor(1, 2, 0, 2, -1, 2);
    const long K = 3, D = 4;
    for (long i = 1; i <= 2; ++i)
        for (long j = 0; j <= 2; ++j)
            for (long k = -1; k <= 2; ++k) {
                EXPECT_EQ(&t[i][j][k] - &t[1][0][-1], ((i - 1) * K + j) * D + (k + 1));
                t[i][j][k] = static_cast<double>(100 * i + 10 * j + k);
            }
    EXPECT_EQ(t[2][2][2], 222.0);
    nr::release_f3tensor(t, 1, 2, 0, 2, -1, 2);
}

TEST(NumericArrays, ViewsAddressTheOwnersStorage) {
    double** a = nr::matrix(1, 4, 1, 4);
    for (long i = 1; i <= 4; ++i)
        for (long j = 1; j <= 4; ++j) a[i][j] = 10.0 * i + j;
    // Rows 2 … 3, columns from 2 on, renumbered from (1, 1).
    double** s = nr::submatrix(a, 2, 3, 2, 4, 1, 1);
    EXPECT_EQ(&s[1][1], &a[2][2]);
    EXPECT_EQ(s[2][3], 34.0);
    s[1][2] = -1.0;
    EXPECT_EQ(a[2][3], -1.0);
    nr::release_submatrix(s, 2, 3, 2, 4, 1, 1);
    nr::release_matrix(a, 1, 4, 1, 4);

    double flat[6] = {1, 2, 3, 4, 5, 6};
    double** c = nr::convert_matrix(flat, 1, 2, 1, 3);
    EXPECT_EQ(&c[1][1], &flat[0]);
    EXPECT_EQ(c[2][1], 4.0);
    EXPECT_EQ(c[2][3], 6.0);
    nr::release_convert_matrix(c, 1, 2, 1, 3);
}

TEST(NumericArraysDeathTest, ErrorExitWritesThreeLinesAndStatusOne) {
    EXPECT_EXIT(nr::numeric_error("allocation failure in vector()"), testing::ExitedWithCode(1),
                "^Numerical Recipes run-time error\\.\\.\\.\n"
                "allocation failure in vector\\(\\)\n"
                "\\.\\.\\.now exiting to system\\.\\.\\.\n$");
}

// ---- cubic splines ---------------------------------------------------------

namespace {

double cubic(double x) { return ((0.7 * x - 2.0) * x + 0.5) * x + 1.0; }
double cubicSlope(double x) { return (2.1 * x - 4.0) * x + 0.5; }

double evaluate(const double* xa, const double* ya, const double* curv, int n, double x) {
    double y = std::numeric_limits<double>::quiet_NaN();
    nr::splint(xa, ya, curv, n, x, &y);
    return y;
}

}  // namespace

TEST(Spline, ClampedSplineWithExactSlopesReproducesACubic) {
    // A cubic is its own spline once the end slopes are the true ones.
    const int n = 6;
    double x[n + 1] = {0, -1.0, -0.3, 0.2, 1.1, 1.5, 2.7};
    double y[n + 1], c[n + 1];
    for (int i = 1; i <= n; ++i) y[i] = cubic(x[i]);
    nr::spline_setup(x, y, n, cubicSlope(x[1]), cubicSlope(x[n]), c);
    for (int i = 1; i <= n; ++i) EXPECT_NEAR(c[i], 4.2 * x[i] - 4.0, 1e-12) << "node " << i;
    // Inside the table, on its nodes, and the end cubics extended beyond it.
    for (double t = -2.0; t <= 3.7; t += 0.0625)
        EXPECT_NEAR(evaluate(x, y, c, n, t), cubic(t), 1e-12) << "x = " << t;
}

TEST(Spline, NaturalSplineThroughALineIsTheLine) {
    const int n = 5;
    double x[n + 1] = {0, 0.0, 0.5, 2.0, 2.25, 4.0};
    double y[n + 1], c[n + 1];
    for (int i = 1; i <= n; ++i) y[i] = 3.0 - 1.5 * x[i];
    nr::spline_setup(x, y, n, 1e30, 1e30, c);
    for (int i = 1; i <= n; ++i) EXPECT_NEAR(c[i], 0.0, 1e-14);
    for (double t = -3.0; t <= 7.0; t += 0.125)
        EXPECT_NEAR(evaluate(x, y, c, n, t), 3.0 - 1.5 * t, 1e-13);

    // Two points with natural ends: straight-line interpolation.
    double x2[3] = {0, 1.0, 3.0}, y2[3] = {0, 2.0, -2.0}, c2[3];
    nr::spline_setup(x2, y2, 2, 1e30, 1e30, c2);
    EXPECT_EQ(c2[1], 0.0);
    EXPECT_EQ(c2[2], 0.0);
    EXPECT_DOUBLE_EQ(evaluate(x2, y2, c2, 2, 2.0), 0.0);
    EXPECT_DOUBLE_EQ(evaluate(x2, y2, c2, 2, 0.0), 4.0);
}

TEST(Spline, ZeroEndSlopeFlattensTheEndsOfSteepData) {
    const int n = 4;
    double x[n + 1] = {0, 0.0, 1.0, 2.0, 3.0};
    double y[n + 1] = {0, 0.0, 5.0, 10.0, 15.0};
    double c[n + 1];
    nr::spline_setup(x, y, n, 0.0, 0.0, c);
    const double h = 1e-6;
    EXPECT_NEAR((evaluate(x, y, c, n, h) - evaluate(x, y, c, n, 0.0)) / h, 0.0, 1e-4);
    EXPECT_NEAR((evaluate(x, y, c, n, 3.0) - evaluate(x, y, c, n, 3.0 - h)) / h, 0.0, 1e-4);
    for (int i = 1; i <= n; ++i) EXPECT_DOUBLE_EQ(evaluate(x, y, c, n, x[i]), y[i]);
}

TEST(Spline, OnlySlopesAbove9point9e29SelectTheNaturalEnd) {
    double x[4] = {0, 0.0, 1.0, 2.0}, y[4] = {0, 0.0, 1.0, 4.0}, c[4];
    nr::spline_setup(x, y, 3, std::nextafter(9.9e29, 1e31), 1e30, c);
    EXPECT_EQ(c[3], 0.0);
    EXPECT_NEAR(c[1], 0.0, 1e-12);
    // 9.9e29 itself is a prescribed (absurd) slope and bends the first end.
    nr::spline_setup(x, y, 3, 9.9e29, 9.9e29, c);
    EXPECT_LT(c[1], -1e29);
    EXPECT_GT(c[3], 1e29);
}

TEST(SplineDeathTest, EqualAbscissaeEndTheProcess) {
    const char* expected =
        "^Numerical Recipes run-time error\\.\\.\\.\n"
        "Bad xa input to routine splint\n"
        "\\.\\.\\.now exiting to system\\.\\.\\.\n$";
    double x[3] = {0, 1.0, 1.0}, y[3] = {0, 0.0, 1.0}, c[3] = {0, 0.0, 0.0};
    EXPECT_EXIT(evaluate(x, y, c, 2, 0.5), testing::ExitedWithCode(1), expected);
    EXPECT_EXIT(nr::spline_setup(x, y, 2, 1e30, 1e30, c), testing::ExitedWithCode(1), expected);
    EXPECT_EXIT(nr::spline_setup(x, y, 1, 1e30, 1e30, c), testing::ExitedWithCode(1), expected);
}
