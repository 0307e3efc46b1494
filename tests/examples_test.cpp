// SPDX-License-Identifier: Apache-2.0
// The example descriptions in examples/: each reads to the elements it
// describes, traces as its words say, and reads back to the same system
// after being written.
#include <gtest/gtest.h>

#include <cmath>
#include <sstream>
#include <string>
#include <typeinfo>

#include "lumivex/grin.h"
#include "lumivex/surfaces.h"
#include "lumivex/system.h"

using namespace lumivex;

namespace {

std::string examplePath(const char* name) { return std::string(LUMIVEX_EXAMPLES_DIR) + "/" + name; }

std::string written(const TOpticalSystem& system) {
    std::ostringstream os;
    os << system;
    return os.str();
}

// Writes the system, reads the text into a fresh system and checks that the
// two are the same: same kinds, same text (6 significant digits).
void expectRoundTrip(const TOpticalSystem& system) {
    const std::string text = written(system);
    std::istringstream is(text);
    TOpticalSystem back(0.0);
    back >> is;
    ASSERT_EQ(back.getSize(), system.getSize());
    EXPECT_EQ(back.defaultRadius, system.defaultRadius);
    for (int i = 0; i < system.getSize(); ++i) {
        const TElement& read = *back[i];
        const TElement& original = *system[i];
        EXPECT_EQ(typeid(read), typeid(original)) << i;
        EXPECT_EQ(back[i]->radius, system[i]->radius) << i;
    }
    EXPECT_EQ(written(back), text);
}

// A ray parallel to the axis at height x in air.
TBeam collimatedRay(double x) {
    TBeam beam(5e-4);
    beam.addNode(TBeamNode(TVector(x, 0, -1), TVector(0, 0, 1), 1, TVector(0, 1, 0), 0));
    return beam;
}

// Where the ray leaving the last node crosses the axis.
double axisCrossing(const TBeam& beam) {
    const TBeamNode last = beam.getLast();
    return last.position.z - last.position.x * last.kVector.z / last.kVector.x;
}

}  // namespace

TEST(Examples, SingletFocusesACollimatedBeam) {
    TOpticalSystem system(1.0);
    system.open(examplePath("singlet.txt").c_str());
    ASSERT_EQ(system.getSize(), 2);
    EXPECT_EQ(system.defaultRadius, 6.0);
    const auto* front = dynamic_cast<const TSlab*>(system[0]);
    const auto* back = dynamic_cast<const TLens*>(system[1]);
    ASSERT_NE(front, nullptr);
    ASSERT_NE(back, nullptr);
    EXPECT_EQ(front->refIndex, complex(1, 0));
    EXPECT_EQ(back->zPosition, 5.0);
    EXPECT_EQ(back->refIndex, complex(1.5, 0));
    EXPECT_EQ(back->vertexLength, 50.0);
    EXPECT_EQ(back->heightModulus, 0.0);

    // A hyperbola of eccentricity n1/n2 images the axis point at infinity
    // without aberration: every height crosses the axis at the vertex + 50.
    for (double x : {0.5, 2.0, 4.0, 5.5}) {
        TBeam beam = collimatedRay(x);
        system.traceBeam(beam);
        ASSERT_EQ(beam.getSize(), 3);
        EXPECT_NEAR(axisCrossing(beam), 55.0, 1e-6) << x;
    }
    expectRoundTrip(system);
}

TEST(Examples, GrinRelayInvertsItsEntranceFace) {
    TOpticalSystem system(1.0);
    system.open(examplePath("grin_relay.txt").c_str());
    ASSERT_EQ(system.getSize(), 2);
    EXPECT_EQ(system.defaultRadius, 2.0);
    ASSERT_NE(dynamic_cast<const TSlab*>(system[0]), nullptr);
    const auto* rod = dynamic_cast<const TGrinRod*>(system[1]);
    ASSERT_NE(rod, nullptr);
    EXPECT_EQ(rod->zPosition, 15.708);
    EXPECT_EQ(rod->n0, 1.6);
    EXPECT_EQ(rod->g, 0.2);

    // Rays from one point of the entrance face meet again at the mirrored
    // point of the exit face, up to the rod's aberration for steeper rays.
    for (double slope : {-0.02, 0.0, 0.01, 0.03}) {
        TBeam beam(5e-4);
        const double kz = 1.0 / std::sqrt(1 + slope * slope);
        beam.addNode(
            TBeamNode(TVector(0.5, 0, 0), TVector(slope * kz, 0, kz), 1, TVector(0, 1, 0), 0));
        system.traceBeam(beam);
        ASSERT_GT(beam.getSize(), 50);
        EXPECT_EQ(beam[1].position.x, 0.5);
        EXPECT_NEAR(beam.getLast().position.z, 15.708, 1e-9);
        EXPECT_NEAR(beam.getLast().position.x, -0.5, 2e-3) << slope;
    }
    expectRoundTrip(system);
}

TEST(Examples, FoldedConicFocusesEachZoneHalfAMillimetreLater) {
    TOpticalSystem system(1.0);
    system.open(examplePath("folded_conic.txt").c_str());
    ASSERT_EQ(system.getSize(), 2);
    EXPECT_EQ(system.defaultRadius, 10.0);
    const auto* lens = dynamic_cast<const TLens*>(system[1]);
    ASSERT_NE(lens, nullptr);
    EXPECT_EQ(lens->heightModulus, 0.5);
    EXPECT_EQ(lens->vertexLength, 40.0);

    // The facets keep the normals of the unfolded hyperbola, which focuses at
    // the vertex + 40; a ray meeting the k-th zone leaves from a point k·0.5
    // further along the axis, so it crosses the axis k·0.5 later.
    int deepestZone = 0;
    for (double x = 0.25; x < 9.0; x += 0.5) {
        TBeam beam = collimatedRay(x);
        system.traceBeam(beam);
        ASSERT_EQ(beam.getSize(), 3);
        const double zones = (axisCrossing(beam) - 42.0) / 0.5;
        EXPECT_NEAR(zones, std::round(zones), 1e-6) << x;
        EXPECT_GE(std::round(zones), 0.0);
        deepestZone = std::max(deepestZone, static_cast<int>(std::round(zones)));
    }
    EXPECT_GE(deepestZone, 3);
    expectRoundTrip(system);
}
