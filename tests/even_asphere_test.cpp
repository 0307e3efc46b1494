// SPDX-License-Identifier: Apache-2.0
// The even asphere: its sag against an independent long-double evaluation,
// its slopes against finite differences, and a lens built from it.
#include <gtest/gtest.h>

#include <cmath>
#include <sstream>
#include <vector>

#include "lumivex/surfaces.h"
#include "lumivex/system.h"

using namespace lumivex;

namespace {

const std::vector<double> kAlpha = {1e-3, -2e-5, 3e-7, -4e-9, 5e-11, -6e-13, 7e-15, -8e-17};

long double referenceSag(long double x, long double y, long double R, long double kappa,
                         const std::vector<double>& alpha) {
    const long double r2 = x * x + y * y;
    const long double c = 1.0L / R;
    long double z = c * r2 / (1.0L + std::sqrt(1.0L - (1.0L + kappa) * c * c * r2));
    long double power = 1.0L;
    for (double a : alpha) {
        power *= r2;
        z += a * power;
    }
    return z;
}

}  // namespace

TEST(EvenAsphere, SagMatchesLongDoubleEvaluation) {
    const TEvenAsphere surface(3.0, 1.0, 0.0, 20.0, -0.7, kAlpha);
    for (double x = -6.0; x <= 6.0; x += 0.75)
        for (double y = -4.0; y <= 4.0; y += 1.0) {
            const double expected = static_cast<double>(referenceSag(x, y, 20.0L, -0.7L, kAlpha));
            EXPECT_NEAR(surface.heightFunction(TVector(x, y, 0.0)), expected,
                        1e-14 * (1.0 + std::fabs(expected)))
                << x << " " << y;
        }
    // Beyond the rim of the sphere of radius 10 the square root is refused.
    const TEvenAsphere sphere(0.0, 1.0, 0.0, 10.0, 0.0);
    EXPECT_THROW(sphere.heightFunction(TVector(11.0, 0.0, 0.0)), xmsg);
    EXPECT_THROW(TEvenAsphere(0.0, 1.0, 0.0, 10.0, 0.0, std::vector<double>(9, 0.0)), xmsg);
}

TEST(EvenAsphere, SlopesMatchCentralDifferences) {
    const TEvenAsphere surface(0.0, 1.0, 0.0, -15.0, 1.3, kAlpha);
    const double h = 1e-5;
    for (int i = 0; i < 60; ++i) {
        const double x = 5.0 * std::sin(0.37 * i) * std::cos(1.1 * i);
        const double y = 5.0 * std::sin(0.37 * i) * std::sin(1.1 * i);
        const TVector g = surface.heightDerivative(TVector(x, y, 0.0));
        const double dx = (surface.heightFunction(TVector(x + h, y, 0)) -
                           surface.heightFunction(TVector(x - h, y, 0))) / (2 * h);
        const double dy = (surface.heightFunction(TVector(x, y + h, 0)) -
                           surface.heightFunction(TVector(x, y - h, 0))) / (2 * h);
        EXPECT_NEAR(g.x, dx, 1e-8 * (1.0 + std::fabs(dx))) << x << " " << y;
        EXPECT_NEAR(g.y, dy, 1e-8 * (1.0 + std::fabs(dy))) << x << " " << y;
    }
    // A flat base leaves only the polynomial: dh/dx = 2·α1·x at small x.
    const TEvenAsphere flat(0.0, 1.0, 0.0, 0.0, 0.0, {0.25});
    EXPECT_DOUBLE_EQ(flat.heightDerivative(TVector(0.5, 0.0, 0.0)).x, 0.25);
}

TEST(EvenAsphere, WithoutPolynomialIsTheGeneralLensToTheBit) {
    for (double R : {12.0, -7.5, 0.0})
        for (double kappa : {0.0, -1.0, -2.5, 0.8}) {
            const TEvenAsphere asphere(1.0, 1.5, 0.0, R, kappa);
            const TGeneralLens conic(1.0, 1.5, 0.0, R, kappa);
            for (double x = -3.0; x <= 3.0; x += 0.37) {
                const TVector p(x, 0.3 * x + 0.1, 0.0);
                EXPECT_EQ(asphere.heightFunction(p), conic.heightFunction(p)) << R << " " << kappa;
            }
        }
    std::ostringstream os;
    TEvenAsphere(2.0, 1.5, 0.0, 20.0, -1.0, {1e-3}).write(os);
    EXPECT_EQ(os.str(), "EvenAsphere\t2\t1.5\t0\t20\t-1\t0.001\t0\t0\t0\t0\t0\t0\t0");
}

TEST(EvenAsphere, SphereWithPolynomialFocusesLikeTheCartesianEllipsoid) {
    // Parallel light entering glass of index n is focused without aberration
    // by the ellipsoid of conic −1/n², focus n·R/(n − 1) behind the vertex.
    // The same surface as a sphere plus the even polynomial from the series
    // of the conic sag, Σ a_j·c^(2j−1)·((1 + κ)^(j−1) − 1)·r^2j, with
    // a_j the coefficients of 1 − sqrt(1 − x).
    const double n = 1.5, R = 10.0, c = 1.0 / R, kappa = -1.0 / (n * n);
    const double a[] = {0.5, 0.125, 0.0625, 5.0 / 128, 7.0 / 256, 21.0 / 1024, 33.0 / 2048,
                        429.0 / 32768};
    std::vector<double> alpha(8, 0.0);
    for (int j = 2; j <= 8; ++j)
        alpha[j - 1] = a[j - 1] * std::pow(c, 2 * j - 1) * (std::pow(1 + kappa, j - 1) - 1.0);
    TOpticalSystem system(5.0);
    system.addElement(new TEvenAsphere(0.0, 1.0, 0.0, R, 0.0, alpha));
    system.addElement(new TSlab(50.0, n));
    const double focus = n * R / (n - 1);
    for (double height : {0.25, 0.5, 1.0, 1.5}) {
        TBeam beam(5e-4);
        beam.addNode(TBeamNode(TVector(height, 0, -5), TVector(0, 0, 1), 1, TVector(0, 1, 0), 0));
        system.traceBeam(beam);
        ASSERT_EQ(beam.getSize(), 3);
        const TBeamNode at = beam[1];
        const double zCross = at.position.z - at.position.x * at.kVector.z / at.kVector.x;
        EXPECT_NEAR(zCross, focus, 1e-7 * focus) << height;
    }
}
