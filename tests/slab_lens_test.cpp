// SPDX-License-Identifier: Apache-2.0
#include <gtest/gtest.h>

#include <cmath>
#include <sstream>
#include <string>

#include "lumivex/surfaces.h"
#include "lumivex/system.h"

using namespace lumivex;

namespace {

constexpr double kPi = 3.141592653589793;

TBeam beamFrom(const TVector& position, const TVector& k, double wavelength = 5e-4) {
    TBeam beam(wavelength);
    beam.addNode(TBeamNode(position, k, 1.0, TVector(0, 1, 0).cross(k).unit(), 0.0));
    return beam;
}

std::string traceFailure(TOpticalSystem& system, TBeam& beam) {
    try {
        system.traceBeam(beam);
    } catch (const xmsg& e) {
        return e.message();
    }
    return "(no xmsg)";
}

}  // namespace

TEST(Slab, MeetsRaysOnItsPlane) {
    TSlab slab(5, 1.0);
    EXPECT_EQ(slab.findSurfaceIntersection(
                  TBeamNode(TVector(1, 2, 0), TVector(0, 0, 1), 1, TVector(1, 0, 0), 0)),
              TVector(1, 2, 5));
    EXPECT_NEAR((TSlab(4, 1.0).findSurfaceIntersection(
                     TBeamNode(TVector(0, 0, 0), TVector(0, 0.6, 0.8), 1, TVector(1, 0, 0), 0)) -
                 TVector(0, 3, 4))
                    .length(),
                0.0, 1e-15);
}

TEST(Slab, RecordRoundTrip) {
    std::ostringstream os;
    TSlab(10, complex(1.5, 0.01)).write(os);
    EXPECT_EQ(os.str(), "Slab\t10\t1.5");

    TSlab read(0, 0.0);
    std::istringstream is(os.str().substr(5));
    read.read(is);
    EXPECT_FALSE(is.fail());
    EXPECT_EQ(read.zPosition, 10);
    EXPECT_EQ(read.refIndex, complex(1.5, 0));

    std::istringstream both("7 (1.5,0.01)");
    read.read(both);
    EXPECT_EQ(read.refIndex, complex(1.5, 0.01));
}

TEST(Slab, ShortRecordsKeepWhatTheyLack) {
    TSlab slab(3, complex(1.2, 0.1));
    std::istringstream open("12 (1.5");
    slab.read(open);
    EXPECT_TRUE(open.fail());
    EXPECT_EQ(slab.zPosition, 12);
    EXPECT_EQ(slab.refIndex, complex(1.2, 0.1));
    std::istringstream junk("x 1.5");
    slab.read(junk);
    EXPECT_TRUE(junk.fail());
    EXPECT_EQ(slab.zPosition, 12);
}

TEST(Lens, ShapeFromTheRecordValues) {
    TLens lens(0, complex(1.5, 0.02), 0, 1.0, -20);
    EXPECT_EQ(lens.curvatureRadius, 10);
    EXPECT_DOUBLE_EQ(lens.conicConstant, -2.25);
    EXPECT_EQ(lens.refIndex, complex(1.5, 0));
    EXPECT_NEAR(lens.heightFunction(TVector(2, 0, 0)), 0.4 / (1 + std::sqrt(1.05)), 1e-15);
    EXPECT_EQ(TLens(0, 1.3, 0, 1.3, 8).conicConstant, -1);  // a paraboloid
    // vertexLength 0 is the plane.
    TLens flat(0, 1.5, 0, 1.0, 0);
    EXPECT_EQ(flat.heightFunction(TVector(3, 4, 0)), 0.0);
}

TEST(Lens, RecordRoundTrip) {
    std::ostringstream os;
    TLens(50, complex(1.5, 0.02), 0, 1, -20).write(os);
    EXPECT_EQ(os.str(), "Lens\t50\t1.5\t1\t-20\t0");

    TLens scratch(0, 0.0, 0, 0, 0);
    std::istringstream is(os.str().substr(5));
    scratch.read(is);
    EXPECT_FALSE(is.fail());
    EXPECT_EQ(scratch.curvatureRadius, 0);  // read does not re-derive the shape
    TLens lens(scratch.zPosition, scratch.refIndex, scratch.heightModulus, scratch.secondIndex,
               scratch.vertexLength);
    EXPECT_EQ(lens.zPosition, 50);
    EXPECT_EQ(lens.refIndex, complex(1.5, 0));
    EXPECT_EQ(lens.curvatureRadius, 10);
    EXPECT_DOUBLE_EQ(lens.conicConstant, -2.25);

    std::istringstream complexIndex("1 (1.6,0.5) 1.2");
    scratch.read(complexIndex);
    EXPECT_TRUE(complexIndex.fail());
    EXPECT_EQ(scratch.refIndex, complex(1.6, 0.5));
    EXPECT_EQ(scratch.secondIndex, 1.2);
    EXPECT_EQ(scratch.vertexLength, -20);  // not in the record: kept
    EXPECT_EQ(scratch.heightModulus, 0);
}

// An ellipsoid of eccentricity n1/n2 images a parallel beam in n1 without
// aberration onto its far focus in n2, at R/(1 − n1/n2) behind the vertex:
// every ray, skew ones too, crosses the axis there with the same optical path.
TEST(System, ConicLensFocusesParallelRaysPerfectly) {
    const double n = 1.5, R = 10.0, focus = R / (1 - 1 / n);
    TOpticalSystem system(20);
    system.addElement(new TSlab(-5, 1.0));
    system.addElement(new TLens(0, 1.0, 0, n, -2 * R));
    system.addElement(new TSlab(focus, n));
    double path = 0;
    for (const TVector& start : {TVector(0, 0, -10), TVector(1, 0, -10), TVector(3, 2, -10),
                                 TVector(-2.5, -4, -10), TVector(0, 5.5, -10)}) {
        TBeam beam = beamFrom(start, TVector(0, 0, 1));
        system.traceBeam(beam);
        ASSERT_EQ(beam.getSize(), 4);
        const TBeamNode end = beam.getLast();
        EXPECT_NEAR(end.position.x, 0.0, 1e-8) << start;
        EXPECT_NEAR(end.position.y, 0.0, 1e-8) << start;
        EXPECT_NEAR(end.position.z, focus, 1e-12);
        // Fresnel losses at the lens only: the slabs sit between equal media.
        EXPECT_LT(end.intensity, 1.0);
        EXPECT_GT(end.intensity, 0.85);
        if (start.x == 0 && start.y == 0) {
            path = end.opticalPath;
            EXPECT_NEAR(path, 2 * kPi * (10 + n * focus) / 5e-4, 1e-6);
        } else {
            EXPECT_NEAR(end.opticalPath / path, 1.0, 1e-12) << start;
        }
    }
    EXPECT_NEAR(system[1]->getRadius(), 5.5, 1e-9);
}

TEST(System, AirGlassAirAtNormalIncidence) {
    const double n = 1.5;
    TOpticalSystem system(10);
    system.addElement(new TSlab(0, 1.0));
    system.addElement(new TSlab(4, n));
    TBeam beam = beamFrom(TVector(0.5, -0.5, -1), TVector(0, 0, 1), 1e-3);
    system.traceBeam(beam);
    const double t = 4 * n / ((n + 1) * (n + 1));
    EXPECT_NEAR(beam.getLast().intensity, t * t, 1e-15);
    EXPECT_NEAR(beam.getLast().opticalPath, 2 * kPi * (1 + 4 * n) / 1e-3, 1e-9);
}

TEST(System, TotalInternalReflectionReachesTheHostWithTheSystemsPrefix) {
    TOpticalSystem system(10);
    system.addElement(new TSlab(0, 1.5));
    system.addElement(new TSlab(5, 1.5));
    // Inside the glass, a sine of 0.8 is beyond the critical 1/1.5 at the
    // exit into air.
    TBeam beam = beamFrom(TVector(0, 0, -1), TVector(0, 0.8, 0.6));
    const std::string m = traceFailure(system, beam);
    EXPECT_EQ(m.rfind("TOpticalSystem::traceBeam: \nCould not compute new k-Vector!\n", 0), 0u)
        << m;
    // Start, refraction into the glass, the terminal node at the glass exit.
    ASSERT_EQ(beam.getSize(), 3);
    EXPECT_EQ(beam.getLast().kVector, TVector(0, 0, 0));
    EXPECT_NEAR(beam.getLast().position.z, 5.0, 1e-15);
}

TEST(System, LensWithoutSecondIndexFailsInTheTrace) {
    TOpticalSystem system(10);
    system.addElement(new TLens(0, 1.5, 0, 0.0, -20));
    TBeam beam = beamFrom(TVector(1, 0, -1), TVector(0, 0, 1));
    const std::string m = traceFailure(system, beam);
    EXPECT_EQ(m,
              "TOpticalSystem::traceBeam: \nCould not compute new k-Vector!\n"
              "((0,0,1),(0,0,0),(0,0,0))\n0,0,0\n");
    EXPECT_EQ(beam.getSize(), 2);
    EXPECT_EQ(beam.getLast().position, TVector(0, 0, 0));
}
