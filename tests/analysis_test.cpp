// The analysis layer against closed forms: a conic that images a collimated
// beam without aberration, ray-set counts, straight rays crossing planes.
#include <gtest/gtest.h>

#include <cmath>

#include "lumivex/analysis.h"
#include "lumivex/surfaces.h"

using namespace lumivex;

namespace {

// A flat face into glass of index 1.5, then a hyperboloid of vertex radius
// −25 and conic constant −n² (TLens with secondIndex 1): from inside the
// glass it refracts a collimated axial beam to one point, the far focus
// n'·R/(n' − n) = 50 behind its vertex at z = 5 (examples/singlet.txt).
TOpticalSystem perfectSinglet() {
    TOpticalSystem system(6.0);
    system.addElement(new TSlab(0.0, complex(1.0, 0.0)));
    system.addElement(new TLens(5.0, complex(1.5, 0.0), 0.0, 1.0, 50.0));
    return system;
}

}  // namespace

TEST(Analysis, AberrationFreeConicFocusesToAPoint) {
    TOpticalSystem system = perfectSinglet();
    const TCollimatedBeam beam = resolveBeam(system, TCollimatedBeam());
    EXPECT_DOUBLE_EQ(beam.pupilRadius, 0.8 * 6.0);
    EXPECT_DOUBLE_EQ(beam.startZ, 0.0 - 0.15 * 12.0);

    const TParaxialFocus focus = paraxialFocus(system, beam);
    ASSERT_TRUE(focus.found) << focus.failure;
    EXPECT_FALSE(focus.atInfinity || focus.isVirtual);
    EXPECT_NEAR(focus.z, 55.0, 1e-6);
    EXPECT_NEAR(focus.x, 0.0, 1e-12);

    TRayBatch batch = rayBatch(system, beam, hexapolar(beam.pupilRadius, 8));
    TTraceOptions options;
    options.threads = 2;
    traceRays(system, batch, options);
    const TSpot spot = spotAt(batch, 55.0);
    EXPECT_EQ(spot.rays, 1 + 3 * 8 * 9);
    EXPECT_EQ(spot.failed, 0);
    EXPECT_LT(spot.rms, 1e-7);
    EXPECT_LT(spot.largest, 1e-7);
    EXPECT_GE(spot.largest, spot.rms);
    // A plane 1 off the focus: the cone of half-angle atan(4.8/50) blurs
    // the point into a disk of radius about 4.8/50, the edge rays at it.
    const TSpot defocused = spotAt(batch, 56.0);
    EXPECT_NEAR(defocused.largest, 4.8 / 50.0, 5e-3);

    // The same spot from the kept beams, as positionAtZ of a beam finds it.
    options.keepNodes = true;
    traceRays(system, batch = rayBatch(system, beam, hexapolar(beam.pupilRadius, 8)), options);
    const TSpot fromBeams = spotAt(batch, 55.0);
    EXPECT_EQ(fromBeams.rays, spot.rays);
    EXPECT_NEAR(fromBeams.rms, spot.rms, 1e-12);
}

TEST(Analysis, FieldAngleMovesTheFocusSideways) {
    TOpticalSystem system = perfectSinglet();
    TCollimatedBeam beam;
    beam.fieldAngle = 0.01;
    beam.polarization = 'y';
    beam = resolveBeam(system, beam);
    const TBeamNode start = startNode(system, beam, {0.0, 0.0});
    // Aimed at the axis point of the first element's plane, field along y.
    EXPECT_NEAR(positionAtZ(start, 0.0).x, 0.0, 1e-15);
    EXPECT_EQ(start.polarization, TVector(0, 1, 0));
    const TParaxialFocus focus = paraxialFocus(system, beam);
    ASSERT_TRUE(focus.found);
    // Close to the axis a focal length of 50 images the angle at 50·tan θ.
    EXPECT_NEAR(focus.x, 50.0 * std::tan(0.01), 2e-3);
}

TEST(Analysis, ParaxialFocusOfAPlateIsAtInfinity) {
    TOpticalSystem plate(5.0);
    plate.addElement(new TSlab(0.0, complex(1.0, 0.0)));
    plate.addElement(new TSlab(2.0, complex(1.5, 0.0)));
    const TParaxialFocus focus = paraxialFocus(plate, resolveBeam(plate, TCollimatedBeam()));
    EXPECT_TRUE(focus.found && focus.atInfinity);
}

TEST(Analysis, RaySets) {
    for (int rings = 0; rings <= 5; ++rings)
        EXPECT_EQ(hexapolar(2.0, rings).size(), 1u + 3u * rings * (rings + 1));
    const auto rings = hexapolar(2.0, 4);
    EXPECT_DOUBLE_EQ(std::hypot(rings.back().x, rings.back().y), 2.0);

    const auto fan = meridionalFan(3.0, 7);
    ASSERT_EQ(fan.size(), 7u);
    EXPECT_EQ(fan.front().x, -3.0);
    EXPECT_EQ(fan.back().x, 3.0);
    EXPECT_EQ(meridionalFan(3.0, 1).front().x, 0.0);

    // 5 × 5 over [−1, 1]: the rows y = 0, ±0.5, ±1 keep 5, 3 and 1 points
    // on the unit disk, its rim included.
    EXPECT_EQ(squareGrid(1.0, 5).size(), 13u);

    // Uniform over the disk: the same points for the same seed, and a mean
    // square radius of r²/2.
    const auto a = randomPupil(2.0, 20000, 7);
    const auto b = randomPupil(2.0, 20000, 7);
    ASSERT_EQ(a.size(), 20000u);
    double sumX = 0.0, sumR2 = 0.0;
    for (std::size_t i = 0; i < a.size(); ++i) {
        EXPECT_TRUE(a[i].x == b[i].x && a[i].y == b[i].y);
        const double r2 = a[i].x * a[i].x + a[i].y * a[i].y;
        EXPECT_LE(r2, 4.0);
        sumX += a[i].x;
        sumR2 += r2;
    }
    EXPECT_NEAR(sumX / a.size(), 0.0, 0.04);  // 4 standard errors
    EXPECT_NEAR(sumR2 / a.size(), 2.0, 0.05);
    EXPECT_NE(randomPupil(2.0, 1, 8).front().x, a.front().x);
}

TEST(Analysis, PositionsOnStraightRays) {
    // A ray from (1, 2, 0) along (3, 4, 12)/13 and its kinks.
    const TVector k = TVector(3, 4, 12).unit();
    const TBeamNode start(TVector(1, 2, 0), k, 1.0, TVector(1, 0, 0), 0.0);
    const TVector at6 = positionAtZ(start, 6.0);
    EXPECT_NEAR(at6.x, 1.0 + 1.5, 1e-14);
    EXPECT_NEAR(at6.y, 2.0 + 2.0, 1e-14);
    EXPECT_EQ(at6.z, 6.0);

    TBeam beam(5e-4);
    beam.addNode(start);
    beam.addNode(TBeamNode(TVector(4, 6, 12), TVector(0, 0, 1), 1.0, TVector(1, 0, 0), 0.0));
    beam.addNode(TBeamNode(TVector(4, 6, 20), TVector(0.6, 0, 0.8), 1.0, TVector(1, 0, 0), 0.0));
    EXPECT_NEAR(positionAtZ(beam, 6.0).x, 2.5, 1e-14);   // on the first segment
    EXPECT_NEAR(positionAtZ(beam, -12.0).y, -2.0, 1e-14);  // before the start
    EXPECT_NEAR(positionAtZ(beam, 16.0).x, 4.0, 1e-14);  // on the second
    EXPECT_NEAR(positionAtZ(beam, 24.0).x, 7.0, 1e-14);  // continuing the last node
    // A node running parallel to the plane stays where it is.
    const TBeamNode sideways(TVector(1, 1, 1), TVector(1, 0, 0), 1.0, TVector(0, 1, 0), 0.0);
    EXPECT_EQ(positionAtZ(sideways, 5.0), TVector(1, 1, 1));
}

TEST(Analysis, FailuresAreCountedAndSummarized) {
    TOpticalSystem system = perfectSinglet();
    TCollimatedBeam beam;
    // Steep enough for total internal reflection at the hyperboloid's rim.
    beam.pupilRadius = 20.0;
    beam.fieldAngle = 0.5;
    beam = resolveBeam(system, beam);
    TRayBatch batch = rayBatch(system, beam, meridionalFan(20.0, 31));
    traceRays(system, batch);
    const TSpot spot = spotAt(batch, 55.0);
    EXPECT_GT(spot.failed, 0);
    EXPECT_EQ(spot.rays + spot.failed, 31);
    for (std::size_t i = 0; i < batch.size(); ++i)
        if (!batch.ok(i)) {
            EXPECT_EQ(failureSummary(batch.message(i)).find("TOpticalSystem"), std::string::npos);
            EXPECT_FALSE(failureSummary(batch.message(i)).empty());
        }

    EXPECT_THROW(resolveBeam(TOpticalSystem(1.0), TCollimatedBeam()), xmsg);
    TCollimatedBeam bad;
    bad.fieldAngle = 2.0;
    EXPECT_THROW(resolveBeam(system, bad), xmsg);
    bad = TCollimatedBeam();
    bad.polarization = 'z';
    EXPECT_THROW(resolveBeam(system, bad), xmsg);
}
