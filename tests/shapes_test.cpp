// SPDX-License-Identifier: Apache-2.0
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "lumivex/surfaces.h"
#include "surfaces/height_search.h"

using namespace lumivex;

namespace {

std::string messageOf(const std::function<void()>& f) {
    try {
        f();
    } catch (const xmsg& e) {
        return e.message();
    }
    return "(no xmsg)";
}

bool startsWith(const std::string& s, const std::string& prefix) {
    return s.compare(0, prefix.size(), prefix) == 0;
}

void expectVectorNear(const TVector& a, const TVector& b, double tol) {
    EXPECT_NEAR(a.x, b.x, tol);
    EXPECT_NEAR(a.y, b.y, tol);
    EXPECT_NEAR(a.z, b.z, tol);
}

// h = c0 + c1·x + c2·y (with an optional x·y term), for known slopes.
std::unique_ptr<TPolynomialXYSurface> plane(double c0, double cx, double cy, double cxy = 0.0,
                                            double modulus = 0.0) {
    auto s = std::make_unique<TPolynomialXYSurface>(0.0, complex(1.0, 0.0), modulus, 2, 2);
    s->setCoefficient(0, 0, c0);
    s->setCoefficient(1, 0, cx);
    s->setCoefficient(0, 1, cy);
    s->setCoefficient(1, 1, cxy);
    return s;
}

}  // namespace

TEST(Shapes, HeightsAndGradientsAtKnownPoints) {
    TSphericalLens convex(0, 1.0, 0, 10), concave(0, 1.0, 0, -10);
    EXPECT_DOUBLE_EQ(convex.heightFunction(TVector(6, 0, 0)), 2.0);
    expectVectorNear(convex.heightDerivative(TVector(6, 0, 0)), TVector(0.75, 0, 0), 1e-15);
    EXPECT_DOUBLE_EQ(concave.heightFunction(TVector(0, 6, 0)), -2.0);
    expectVectorNear(concave.heightDerivative(TVector(6, 0, 0)), TVector(-0.75, 0, 0), 1e-15);

    EXPECT_DOUBLE_EQ(TGeneralLens(0, 1.0, 0, 10, 0).heightFunction(TVector(6, 0, 0)), 2.0);
    EXPECT_DOUBLE_EQ(TGeneralLens(0, 1.0, 0, 10, -1).heightFunction(TVector(6, 0, 0)), 1.8);

    TEllipticalLens ellipse(0, 1.0, 0, 2, 5);
    EXPECT_NEAR(ellipse.heightFunction(TVector(3, 0, 0)), -0.4, 1e-15);
    expectVectorNear(ellipse.heightDerivative(TVector(3, 0, 0)), TVector(-0.3, 0, 0), 1e-15);

    THyperbolicLens hyperbola(0, 1.0, 0, 2, 3);
    EXPECT_NEAR(hyperbola.heightFunction(TVector(4, 0, 0)), 4.0 / 3.0, 1e-15);
    expectVectorNear(hyperbola.heightDerivative(TVector(4, 0, 0)), TVector(8.0 / 15, 0, 0), 1e-15);

    TPolynomialSurface poly(0, 1.0, 0);
    poly.setCoefficients({1, 0, 0.5});
    EXPECT_EQ(poly.heightFunction(TVector(0, 0, 7)), 1.0);
    EXPECT_DOUBLE_EQ(poly.heightFunction(TVector(2, 0, 0)), 3.0);
    expectVectorNear(poly.heightDerivative(TVector(2, 0, 0)), TVector(2, 0, 0), 1e-15);
    EXPECT_EQ(poly.heightDerivative(TVector(0, 0, 0)), TVector(0, 0, 0));

    const auto xy = plane(0, 0, 0, 1);
    EXPECT_DOUBLE_EQ(xy->heightFunction(TVector(2, 3, 0)), 6.0);
    expectVectorNear(xy->heightDerivative(TVector(2, 3, 0)), TVector(3, 2, 0), 1e-15);
    EXPECT_EQ(xy->heightFunction(TVector(0, 0, 0)), 0.0);  // no power of 0 is taken

    TFresnelLens fresnel(0, 1.0, 0, 1.5, 100);
    EXPECT_NEAR(fresnel.heightDerivative(TVector(10, 0, 0)).x, -0.197052, 1e-6);
    EXPECT_NEAR(fresnel.heightFunction(TVector(0, 0, 0)), -204.493, 1e-3);
}

TEST(Shapes, RimsHaveAZeroGradient) {
    TSphericalLens sphere(0, 1.0, 0, 10);
    EXPECT_DOUBLE_EQ(sphere.heightFunction(TVector(10, 0, 0)), 10.0);
    EXPECT_EQ(sphere.heightDerivative(TVector(10, 0, 0)), TVector(0, 0, 0));
    EXPECT_EQ(sphere.getSurfaceNormal(TVector(0, 10, 0)), TVector(0, 0, 1));
    TEllipticalLens ellipse(0, 1.0, 0, 2, 5);
    EXPECT_EQ(ellipse.heightDerivative(TVector(0, 5, 0)), TVector(0, 0, 0));
    // e·s = 1 on the axis for indexRatio 1.
    EXPECT_EQ(TFresnelLens(0, 1.0, 0, 1.0, 50).heightDerivative(TVector(0, 0, 0)),
              TVector(0, 0, 0));
}

// Central differences of the sag, an independent check of every gradient,
// at a skew point so that both components count.
TEST(Shapes, GradientsAreTheSlopesOfTheHeights) {
    std::vector<std::unique_ptr<TFunctionalSurface>> shapes;
    shapes.push_back(std::make_unique<TSphericalLens>(0, 1.0, 0, 12));
    shapes.push_back(std::make_unique<TSphericalLens>(0, 1.0, 0, -12));
    shapes.push_back(std::make_unique<TEllipticalLens>(0, 1.0, 0, 3, 7));
    shapes.push_back(std::make_unique<THyperbolicLens>(0, 1.0, 0, 2, 3));
    shapes.push_back(std::make_unique<TGeneralLens>(0, 1.0, 0, 15, -2.25));
    shapes.push_back(std::make_unique<TGeneralLens>(0, 1.0, 0, -9, 0.5));
    // The closed form is an antiderivative for indexRatio below, at and above 1.
    shapes.push_back(std::make_unique<TFresnelLens>(0, 1.0, 0, 1.5, 100));
    shapes.push_back(std::make_unique<TFresnelLens>(0, 1.0, 0, 0.8, 40));
    shapes.push_back(std::make_unique<TFresnelLens>(0, 1.0, 0, 1.0, 40));
    auto poly = std::make_unique<TPolynomialSurface>(0, 1.0, 0);
    poly->setCoefficients({0.3, 0.1, 0.02, -0.004, 0.0005});
    shapes.push_back(std::move(poly));
    auto xy = std::make_unique<TPolynomialXYSurface>(0, 1.0, 0, 3, 3);
    xy->setCoefficient(2, 0, 0.05);
    xy->setCoefficient(1, 2, -0.02);
    xy->setCoefficient(2, 1, 0.01);
    xy->setCoefficient(0, 2, 0.03);
    shapes.push_back(std::move(xy));

    const TVector p(2.5, -1.5, 0);
    const double h = 1e-5;
    for (std::size_t i = 0; i < shapes.size(); ++i) {
        const TFunctionalSurface& s = *shapes[i];
        const double dx =
            (s.heightFunction(p + TVector(h, 0, 0)) - s.heightFunction(p - TVector(h, 0, 0))) /
            (2 * h);
        const double dy =
            (s.heightFunction(p + TVector(0, h, 0)) - s.heightFunction(p - TVector(0, h, 0))) /
            (2 * h);
        const TVector g = s.heightDerivative(p);
        EXPECT_NEAR(g.x, dx, 1e-7) << "shape " << i;
        EXPECT_NEAR(g.y, dy, 1e-7) << "shape " << i;
        EXPECT_EQ(g.z, 0.0);
    }
}

TEST(Shapes, NormalIsTheExactUnitNormalOfBothSlopes) {
    expectVectorNear(plane(0, 1, 0)->getSurfaceNormal(TVector()),
                     TVector(-1 / std::sqrt(2.0), 0, 1 / std::sqrt(2.0)), 1e-15);
    expectVectorNear(plane(0, 1, 1)->getSurfaceNormal(TVector()),
                     TVector(-1, -1, 1) * (1 / std::sqrt(3.0)), 1e-15);
    // Slopes whose per-axis normals would not fit into a unit vector.
    const TVector n = plane(0, 3, -4)->getSurfaceNormal(TVector());
    expectVectorNear(n, TVector(-3, 4, 1) * (1 / std::sqrt(26.0)), 1e-15);
    // A sphere's normal points to its centre of curvature.
    TSphericalLens sphere(0, 1.0, 0, 10);
    const TVector p(3, -4, sphere.heightFunction(TVector(3, -4, 0)));
    expectVectorNear(sphere.getSurfaceNormal(p), (TVector(0, 0, 10) - p).unit(), 1e-15);
}

TEST(Shapes, HeightFoldsIntoZonesWithTheSignOfTheSag) {
    EXPECT_NEAR(plane(1.2, 0, 0, 0, 0.5)->Height(TVector()), 0.2, 1e-15);
    EXPECT_NEAR(plane(-1.2, 0, 0, 0, 0.5)->Height(TVector()), -0.2, 1e-15);
    EXPECT_EQ(plane(-1.2, 0, 0)->Height(TVector()), -1.2);
    // Folding leaves the slopes of the smooth shape.
    EXPECT_EQ(plane(1.2, 1, 0, 0, 0.5)->getSurfaceNormal(TVector()),
              plane(1.2, 1, 0)->getSurfaceNormal(TVector()));
}

TEST(Shapes, FlatAndUndefinedConics) {
    TGeneralLens flat(0, 1.0, 0, 0.0, -0.5);
    EXPECT_EQ(flat.heightFunction(TVector(40, 3, 0)), 0.0);
    EXPECT_EQ(flat.heightDerivative(TVector(40, 3, 0)), TVector(0, 0, 0));
    TGeneralLens undefined(0, 1.0, 0, 10, -HUGE_VAL);
    EXPECT_EQ(messageOf([&] { undefined.heightFunction(TVector(1, 0, 0)); }),
              "TGeneralLens::heightFunction: the conic constant is not finite, the surface "
              "has no shape");
    EXPECT_EQ(messageOf([&] { undefined.heightDerivative(TVector(1, 0, 0)); }),
              "TGeneralLens::heightDerivative: the conic constant is not finite, the surface "
              "has no shape");
}

TEST(Shapes, PointsOutsideTheDomainRaiseTheMathError) {
    EXPECT_TRUE(startsWith(messageOf([] {
                               TSphericalLens(0, 1.0, 0, 10).heightFunction({11, 0, 0});
                           }),
                           "\r\nDomain error in a call to sqrt:"));
    EXPECT_TRUE(startsWith(messageOf([] {
                               TEllipticalLens(0, 1.0, 0, 2, 5).heightFunction({0, 6, 0});
                           }),
                           "\r\nDomain error in a call to sqrt:"));
    EXPECT_TRUE(startsWith(messageOf([] {
                               TGeneralLens(0, 1.0, 0, 10, 0).heightDerivative({8, 8, 0});
                           }),
                           "\r\nDomain error in a call to sqrt:"));
    // The Fresnel logarithm at e·s = 1, where the facet would stand upright.
    EXPECT_TRUE(startsWith(messageOf([] {
                               TFresnelLens(0, 1.0, 0, 1.0, 40).heightFunction({0, 0, 0});
                           }),
                           "\r\nSingularity error in a call to log:"));
}

TEST(Shapes, PolynomialTablesAreChecked) {
    TPolynomialSurface empty(0, 1.0, 0);
    EXPECT_EQ(messageOf([&] { empty.heightFunction(TVector()); }),
              "TPolynomialSurface::heightFunction: the surface has no coefficients");
    TPolynomialXYSurface xy(0, 1.0, 0, 2, 3);
    EXPECT_EQ(messageOf([&] { xy.setCoefficient(2, 0, 1.0); }),
              "TPolynomialXYSurface::setCoefficient: no term x^2 y^0 in a surface of 2 x and 3 y "
              "terms");
    EXPECT_THROW(xy.setCoefficient(0, 3, 1.0), xmsg);
    EXPECT_THROW(xy.setCoefficient(-1, 0, 1.0), xmsg);
    EXPECT_THROW(TPolynomialXYSurface(0, 1.0, 0, 2, 11), xmsg);
    EXPECT_THROW(TPolynomialXYSurface(0, 1.0, 0, -1, 2), xmsg);
    // More x terms granted later are 0 until set.
    xy.setCoefficient(1, 2, 2.0);
    xy.xTermCount = 4;
    EXPECT_DOUBLE_EQ(xy.heightFunction(TVector(3, 2, 0)), 24.0);
    xy.setCoefficient(3, 0, 1.0);
    EXPECT_DOUBLE_EQ(xy.heightFunction(TVector(3, 2, 0)), 51.0);
}

TEST(HeightSearch, ConstantHeightAndAxialRays) {
    // Two steps: onto the vertex plane, then onto the surface.
    const auto flat = plane(0.7, 0, 0);
    flat->zPosition = 2.0;
    const TVector P = flat->findSurfaceIntersection(
        TBeamNode(TVector(1, 1, -3), TVector(0.6, 0, 0.8), 1.0, TVector(0, 1, 0), 0.0));
    expectVectorNear(P, TVector(1 + 0.75 * 5.7, 1, 2.7), 1e-15);
    TSphericalLens sphere(4, 1.0, 0, 10);
    EXPECT_EQ(sphere.findSurfaceIntersection(
                  TBeamNode(TVector(0, 0, 0), TVector(0, 0, 1), 1.0, TVector(1, 0, 0), 0.0)),
              TVector(0, 0, 4));
}

TEST(HeightSearch, FailuresOfTheSearch) {
    // The fixed-point step multiplies the gap by slope·tan(angle) = −1.5.
    const auto steep = plane(0, -2, 0);
    const TBeamNode node(TVector(0, 0, -1), TVector(0.6, 0, 0.8), 1.0, TVector(0, 1, 0), 0.0);
    EXPECT_EQ(messageOf([&] { steep->findSurfaceIntersection(node); }),
              "Too many iterations in TFunctionalSurface::findSurfaceIntersection(...)");
    const TBeamNode parallel(TVector(0, 0, -1), TVector(1, 0, 0), 1.0, TVector(0, 1, 0), 0.0);
    EXPECT_THROW(TSphericalLens(0, 1.0, 0, 10).findSurfaceIntersection(parallel), xmsg);
    // Inside a trace every failure becomes the surface's own report.
    TBeam beam(1e-3);
    beam.addNode(node);
    const std::string m = messageOf([&] { steep->traceBeam(beam, TElement()); });
    EXPECT_TRUE(startsWith(m, "Could not compute new k-Vector!\n((0.6,0,0.8),(0,0,0),(0,0,0))\n"))
        << m;
}

TEST(Outlines, PlaneSurfaceHasTwoPoints) {
    TSlab slab(10, 1.5);
    TPolygon forward, backward;
    slab.getPolygon(forward, false, 5);
    slab.getPolygon(backward, true, 5);
    ASSERT_EQ(forward.getSize(), 2);
    EXPECT_EQ(forward[0], TVector(-5, 0, 10));
    EXPECT_EQ(forward[1], TVector(5, 0, 10));
    EXPECT_EQ(backward[0], TVector(5, 0, 10));
    EXPECT_EQ(backward[1], TVector(-5, 0, 10));
}

TEST(Outlines, SphereIsSampledOnItsCircle) {
    TSphericalLens sphere(0, 1.0, 0, 10);
    TPolygon polygon;
    polygon.addPoint(TVector(7, 7, 7));
    sphere.getPolygon(polygon, false, 6);
    ASSERT_EQ(polygon.getSize(), 501);
    EXPECT_EQ(polygon[0], TVector(7, 7, 7));
    expectVectorNear(polygon[1], TVector(-6, 0, 2), 1e-14);
    expectVectorNear(polygon[500], TVector(6, 0, 2), 1e-14);
    for (int i = 1; i <= 500; ++i) {
        const TVector p = polygon[i];
        EXPECT_NEAR(p.x * p.x + (p.z - 10) * (p.z - 10), 100.0, 1e-12);
        if (i > 1) {
            EXPECT_GT(p.x, polygon[i - 1].x);
        }
    }
    EXPECT_EQ(polygon[2].x, -6 + 12.0 * 0.002004008016032064);

    TPolygon reversed;
    sphere.getPolygon(reversed, true, 6);
    expectVectorNear(reversed[0], TVector(6, 0, 2), 1e-14);
    expectVectorNear(reversed[499], TVector(-6, 0, 2), 1e-14);

    TPolygon point;
    TSphericalLens(3, 1.0, 0, 10).getPolygon(point, false, 0);
    ASSERT_EQ(point.getSize(), 500);
    EXPECT_EQ(point[0], TVector(0, 0, 3));
    EXPECT_EQ(point[499], TVector(0, 0, 3));
}

TEST(Outlines, ZonedSurfaceShowsItsZones) {
    TSphericalLens zoned(0, 1.0, 0.5, 10);
    TPolygon polygon;
    zoned.getPolygon(polygon, false, 6);
    for (int i = 0; i < polygon.getSize(); ++i) {
        EXPECT_GE(polygon[i].z, 0.0);
        EXPECT_LT(polygon[i].z, 0.5);
    }
}
