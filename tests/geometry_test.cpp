// SPDX-License-Identifier: Apache-2.0
#include <gtest/gtest.h>

#include <cmath>
#include <sstream>
#include <string>

#include "lumivex/geometry.h"

using namespace lumivex;

namespace {

constexpr double kPi = 3.141592653589793;

void expectNear(const TVector& a, const TVector& b, double tol = 1e-15) {
    EXPECT_NEAR(a.x, b.x, tol) << a << " vs " << b;
    EXPECT_NEAR(a.y, b.y, tol) << a << " vs " << b;
    EXPECT_NEAR(a.z, b.z, tol) << a << " vs " << b;
}

// Counts how many of its kind are alive, to see that owners delete each item
// exactly once.
struct Counted {
    static int alive;
    Counted() { ++alive; }
    ~Counted() { --alive; }
};
int Counted::alive = 0;

TBeamNode nodeAt(double z, double phase) {
    return TBeamNode(TVector(0, 0, z), TVector(0, 0, 1), 1.0, TVector(1, 0, 0), phase);
}

}  // namespace

TEST(Vector, ArithmeticAndTextForm) {
    EXPECT_EQ(TVector(), TVector(0, 0, 0));
    EXPECT_EQ(TVector(3, 4, 0).length(), 5.0);
    EXPECT_EQ(TVector(0, 0, 2).unit(), TVector(0, 0, 1));
    EXPECT_EQ(TVector(0, 0, 0).unit(), TVector(0, 0, 0));
    const TVector a(1, 2, 3), b(-2, 0.5, 4);
    EXPECT_EQ(a.cross(b), -(b.cross(a)));
    EXPECT_EQ(a.cross(a * 2.5), TVector(0, 0, 0));
    EXPECT_EQ(a.cross(b).dot(a), 0.0);
    EXPECT_EQ(a.dot(b), -2 + 1 + 12);

    std::ostringstream os;
    os << TVector(0, 0, 1) << ' ' << TVector(1, 0.5, -2) << ' ' << TVector(1.23456789, 0, 0);
    EXPECT_EQ(os.str(), "(0,0,1) (1,0.5,-2) (1.23457,0,0)");
}

TEST(RotateAboutAxis, TurnsByMinusTheAngle) {
    expectNear(rotateAboutAxis(1, 0, 0, 0, 0, 1, kPi / 2), TVector(0, -1, 0));
    const TVector v(0.3, -0.7, 0.2);
    expectNear(rotateAboutAxis(v.x, v.y, v.z, 0, 0, 5, 0.8), rotateAboutAxis(v.x, v.y, v.z, 0, 0, 1, 0.8));
    expectNear(rotateAboutAxis(v.x, v.y, v.z, 1, 2, 3, 0.0), v);
}

TEST(RotateAboutAxis, CarriesTheOldDirectionOntoTheNew) {
    // With the axis K × k and the angle between them, k is mapped onto K:
    // the rule the polarization follows through a refraction.
    const TVector k = TVector(0.2, -0.1, 1).unit();
    const TVector K = TVector(-0.05, 0.3, 1).unit();
    const TVector axis = K.cross(k);
    const TVector r = rotateAboutAxis(k.x, k.y, k.z, axis.x, axis.y, axis.z, std::acos(k.dot(K)));
    expectNear(r, K, 1e-15);
    // A rotation keeps lengths.
    const TVector v(0.6, 0.8, -0.3);
    EXPECT_NEAR(rotateAboutAxis(v.x, v.y, v.z, axis.x, axis.y, axis.z, 1.1).length(), v.length(), 1e-15);
}

TEST(IArrayAsVector, GrowsByHundredAndReadsNullBeyondTheCount) {
    TIArrayAsVector<int> array;
    EXPECT_EQ(array.capacity(), 11);
    for (int i = 0; i < 11; ++i) array.add(new int(i));
    EXPECT_EQ(array.capacity(), 11);
    array.add(new int(11));
    EXPECT_EQ(array.capacity(), 111);
    EXPECT_EQ(*array[11], 11);
    EXPECT_EQ(array[12], nullptr);
    EXPECT_EQ(array[-1], nullptr);
    for (int i = 12; i < 112; ++i) array.add(new int(i));
    EXPECT_EQ(array.capacity(), 211);
    EXPECT_EQ(*array[111], 111);
    EXPECT_EQ(array.count(), 112);
}

TEST(IArrayAsVector, DestroysEachItemOnce) {
    {
        TIArrayAsVector<Counted> array;
        for (int i = 0; i < 3; ++i) array.add(new Counted);
        EXPECT_EQ(Counted::alive, 3);
        TIArrayAsVector<Counted> moved(std::move(array));
        EXPECT_EQ(array.count(), 0);
        EXPECT_EQ(moved.count(), 3);
    }
    EXPECT_EQ(Counted::alive, 0);
}

TEST(BeamNode, ConstructorsFollowTheirArgumentOrder) {
    const TBeamNode d;
    EXPECT_EQ(d.position, TVector());
    EXPECT_EQ(d.kVector, TVector());
    EXPECT_EQ(d.polarization, TVector());
    EXPECT_EQ(d.intensity, 1.0);
    EXPECT_EQ(d.opticalPath, 0.0);

    const TBeamNode n(TVector(1, 2, 3), TVector(0, 0, 1), 0.5, TVector(0, 1, 0), 3.0);
    EXPECT_EQ(n.position, TVector(1, 2, 3));
    EXPECT_EQ(n.kVector, TVector(0, 0, 1));
    EXPECT_EQ(n.intensity, 0.5);
    EXPECT_EQ(n.polarization, TVector(0, 1, 0));
    EXPECT_EQ(n.opticalPath, 3.0);
}

TEST(Beam, KeepsCopiesAndGuardsItsIndex) {
    TBeam beam(5e-4);
    EXPECT_EQ(beam.wavelength, 5e-4);
    EXPECT_EQ(beam.getSize(), 0);
    try {
        beam.getLast();
        FAIL() << "no throw";
    } catch (const xmsg& e) {
        EXPECT_EQ(e.message(), "TBeam access violation!");
    }

    TBeamNode node = nodeAt(1, 0);
    beam.addNode(node).addNode(nodeAt(2, 5));
    node.position.z = 99;  // the beam holds its own copy
    EXPECT_EQ(beam[0].position.z, 1);
    EXPECT_EQ(beam[1].opticalPath, 5);
    EXPECT_EQ(beam.getLast().position.z, 2);

    for (int bad : {2, 3, -1}) {
        try {
            beam[bad];
            FAIL() << "no throw for " << bad;
        } catch (const xmsg& e) {
            EXPECT_STREQ(e.what(), "TBeam access violation!");
        }
    }
    EXPECT_EQ(beam.getSize(), 2);

    const TBeam copy = beam;  // a deep copy
    beam.getLast().opticalPath = 7;
    EXPECT_EQ(copy[1].opticalPath, 5);
}

TEST(Beam, OpticalPathPointInterpolatesAndExtrapolates) {
    TBeam empty(1.0);
    EXPECT_EQ(empty.getOpticalPathPoint(3), TVector());

    TBeam one(1.0);
    one.addNode(nodeAt(4, 2));
    EXPECT_EQ(one.getOpticalPathPoint(-100), TVector(0, 0, 4));

    TBeam beam(1.0);
    beam.addNode(nodeAt(0, 0)).addNode(nodeAt(1, 10)).addNode(nodeAt(3, 20));
    EXPECT_EQ(beam.getOpticalPathPoint(5), TVector(0, 0, 0.5));
    EXPECT_EQ(beam.getOpticalPathPoint(15), TVector(0, 0, 2));
    EXPECT_EQ(beam.getOpticalPathPoint(20), TVector(0, 0, 3));
    EXPECT_EQ(beam.getOpticalPathPoint(30), TVector(0, 0, 5));
    EXPECT_EQ(beam.getOpticalPathPoint(-10), TVector(0, 0, -1));

    // A segment without phase (two nodes at equal phase) answers with its
    // later node instead of dividing by zero.
    TBeam flat(1.0);
    flat.addNode(nodeAt(0, 1)).addNode(nodeAt(2, 1));
    EXPECT_EQ(flat.getOpticalPathPoint(1), TVector(0, 0, 2));
}

TEST(BeamFan, OwnsItsBeamsInOrder) {
    TBeamFan fan;
    TBeam* a = new TBeam(1);
    TBeam* b = new TBeam(2);
    TBeam* c = new TBeam(3);
    fan.addBeam(a).addBeam(b).addBeam(c);
    EXPECT_EQ(fan.getSize(), 3);
    EXPECT_EQ(fan[1], b);
    EXPECT_EQ(fan[3], nullptr);
    EXPECT_EQ(fan[11], nullptr);
    EXPECT_EQ(fan[-1], nullptr);
    TBeamFan moved(std::move(fan));
    EXPECT_EQ(moved[2], c);
    EXPECT_EQ(fan.getSize(), 0);
}

TEST(Polygon, KeepsCopiesInCallOrder) {
    TPolygon polygon;
    TVector a(1, 0, 2);
    const TVector b(-1, 0, 3);
    polygon.addPoint(a).addPoint(b);
    a.x = 50;
    EXPECT_EQ(polygon.getSize(), 2);
    EXPECT_EQ(polygon[0], TVector(1, 0, 2));
    EXPECT_EQ(polygon[1], b);
    for (int bad : {2, -1}) {
        try {
            polygon[bad];
            FAIL() << "no throw for " << bad;
        } catch (const xmsg& e) {
            EXPECT_EQ(e.message(), "TPolygon access violation!");
        }
    }
    TPolygon copy = polygon;
    polygon.addPoint(TVector());
    EXPECT_EQ(copy.getSize(), 2);
    EXPECT_EQ(copy[1], b);
}
