// SPDX-License-Identifier: Apache-2.0
// The analysis layer against closed forms: a conic that images a collimated
// beam without aberration, ray-set counts, straight rays crossing planes.
#include <gtest/gtest.h>

#include <cmath>
#include <memory>

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

namespace {

// A biconvex singlet, radii +50 and −50, 5 thick, of index 1.5168 (N-BK7 at
// the d line). An element's index is that of the medium in front of it: the
// front face has air before it, the back face glass.
constexpr double kN = 1.5168, kR1 = 50.0, kR2 = -50.0, kThick = 5.0;

TOpticalSystem sphericalSinglet() {
    TOpticalSystem system(10.0);
    system.addElement(new TSphericalLens(0.0, complex(1.0, 0.0), 0.0, kR1));
    system.addElement(new TSphericalLens(kThick, complex(kN, 0.0), 0.0, kR2));
    return system;
}

}  // namespace

TEST(Analysis, ParaxialDataOfAThickSingletIsTheLensmakersFormula) {
    TOpticalSystem system = sphericalSinglet();
    const TCollimatedBeam beam = resolveFilledBeam(system, TCollimatedBeam());
    EXPECT_DOUBLE_EQ(beam.pupilRadius, 10.0);
    // 1/f = (n − 1)·(1/R1 − 1/R2 + (n − 1)·d/(n·R1·R2)); the back focus lies
    // f·(1 − (n − 1)·d/(n·R1)) behind the back vertex.
    const double power = (kN - 1.0) * (1.0 / kR1 - 1.0 / kR2 + (kN - 1.0) * kThick / (kN * kR1 * kR2));
    const double f = 1.0 / power;
    const double bfl = f * (1.0 - (kN - 1.0) * kThick / (kN * kR1));
    const TParaxialData p = paraxialData(system, beam);
    // Rays 1e-2 off the axis of a lens of focal length 49 carry aberrations
    // of relative size (h/f)² ≈ 4e-8.
    EXPECT_NEAR(p.efl, f, 1e-6 * f);
    EXPECT_NEAR(p.bfl, bfl, 1e-6 * f);
    EXPECT_NEAR(p.focusZ, kThick + bfl, 1e-6 * f);
    EXPECT_NEAR(p.fNumber, f / 20.0, 1e-6 * f);
    // Without optical power there is no focal length.
    TOpticalSystem slabs(5.0);
    slabs.addElement(new TSlab(0.0, complex(1.0, 0.0)));
    slabs.addElement(new TSlab(5.0, complex(1.5, 0.0)));
    EXPECT_THROW(paraxialData(slabs, resolveFilledBeam(slabs, TCollimatedBeam())), xmsg);
}

TEST(Analysis, AberrationFreeConicHasNoSpotAndNoOpdAtItsFocus) {
    TOpticalSystem system = perfectSinglet();
    const TCollimatedBeam beam = resolveFilledBeam(system, TCollimatedBeam());
    const TSpotDiagram d = spotDiagram(system, beam, hexapolar(beam.pupilRadius, 6), NAN);
    EXPECT_NEAR(d.z, 55.0, 1e-6);
    EXPECT_EQ(d.spot.rays, 1 + 3 * 6 * 7);
    // The intersections converge to about 1e-12 of the lens's size; a
    // residual spot 1e-4 of the Airy radius (3.4e-3 here, f/2r = 50/12)
    // would already be far beyond rounding.
    EXPECT_NEAR(d.airyRadius, 1.22 * 5.5e-4 * 50.0 / 12.0, 1e-6);
    EXPECT_LT(d.spot.largest, 1e-4 * d.airyRadius);
    const TRayFan fan = rayFan(system, beam, 21, NAN);
    EXPECT_NEAR(fan.referenceRadius, 50.0, 1e-6);
    // A 50-long path in glass and air is 1e5 waves; its phase carries about
    // 1e-16 of that per operation, so 1e-6 waves is the rounding's scale.
    for (std::size_t i = 0; i < fan.rho.size(); ++i) {
        EXPECT_NEAR(fan.tangentialOpd[i], 0.0, 1e-6) << fan.rho[i];
        EXPECT_NEAR(fan.sagittalOpd[i], 0.0, 1e-6) << fan.rho[i];
        EXPECT_NEAR(fan.tangential[i], 0.0, 1e-9);
    }
}

TEST(Analysis, TransverseAberrationIsTheSlopeOfTheOpd) {
    // ε = −(R/n′)·∂W/∂Y, with W in length and Y the height on the reference
    // sphere, holds for every aberration; here spherical aberration and
    // defocus on the axis, and coma at 3 degrees.
    TOpticalSystem system = sphericalSinglet();
    for (double degrees : {0.0, 3.0}) {
        TCollimatedBeam beam;
        beam.fieldAngle = degrees * 3.141592653589793 / 180.0;
        beam = resolveFilledBeam(system, beam);
        const double z = paraxialData(system, beam).focusZ - 0.3;
        const TRayFan fan = rayFan(system, beam, 81, z);
        double largest = 0.0;
        for (double e : fan.tangential) largest = std::max(largest, std::fabs(e));
        ASSERT_GT(largest, 0.05);
        for (std::size_t i = 2; i + 2 < fan.rho.size(); ++i) {
            const double dY = fan.tangentialSphere[i + 1] - fan.tangentialSphere[i - 1];
            const double dW = (fan.tangentialOpd[i + 1] - fan.tangentialOpd[i - 1]) * 5.5e-4;
            EXPECT_NEAR(fan.tangential[i], -fan.referenceRadius * dW / dY, 0.01 * largest)
                << degrees << " deg, rho " << fan.rho[i];
        }
    }
}

TEST(Analysis, LeastRmsPlaneLiesBetweenParaxialAndMarginalFocus) {
    TOpticalSystem system = sphericalSinglet();
    const TCollimatedBeam beam = resolveFilledBeam(system, TCollimatedBeam());
    const double paraxial = paraxialData(system, beam).focusZ;
    // Where the rim ray crosses the axis, from its exit line.
    TBeam rim(beam.wavelength);
    rim.addNode(startNode(system, beam, {beam.pupilRadius, 0.0}));
    system.traceBeam(rim);
    const TBeamNode& exit = rim.getLast();
    const double marginal = exit.position.z - exit.position.x * exit.kVector.z / exit.kVector.x;
    ASSERT_LT(marginal, paraxial - 0.5);  // undercorrected spherical aberration

    const std::vector<TPupilPoint> pupil = hexapolar(beam.pupilRadius, 10);
    const TThroughFocus curve = throughFocus(system, beam, pupil, marginal - 1.0, paraxial + 1.0, 41);
    EXPECT_GT(curve.bestZ, marginal);
    EXPECT_LT(curve.bestZ, paraxial);
    // The exact vertex is no worse than any sampled plane, and the spot
    // diagram there measures the same RMS.
    for (double rms : curve.rms) EXPECT_GE(rms, curve.bestRms * (1.0 - 1e-12));
    EXPECT_NEAR(spotDiagram(system, beam, pupil, curve.bestZ).spot.rms, curve.bestRms, 1e-12);
}

namespace {

// A window of clear semi-diameter 6 in air at z = 0, then the stop, the flat
// face of a plano-convex lens of index 1.5 at z = 20, and its convex face of
// radius −50 at z = 25: EFL = R/(n − 1) = 100 from the convex vertex, and
// an entrance pupil of diameter 10 at the stop itself (air in front of it).
TPrescription windowAndLens() {
    TPrescription p;
    p.addStandard(0.0, 0.0, TMaterial::air(), 0.0, 6.0);
    p.addStandard(20.0, 0.0, TMaterial::fixedIndex(1.5));
    p.addStandard(25.0, -50.0, TMaterial::air());
    p.stop = 1;
    p.aperture = {TApertureKind::entrancePupilDiameter, 10.0};
    p.fields = {{0.0, 0.0, 1.0}, {10.0, 0.0, 1.0}};
    p.wavelengths = {{0.5876, 1.0}};
    return p;
}

}  // namespace

TEST(Analysis, PrescriptionsVignetteAtTheirClearAperturesAndMeasureFromTheLastSurface) {
    const TPrescription lens = windowAndLens();
    const TParaxialData paraxial = paraxialData(lens);
    EXPECT_NEAR(paraxial.efl, 100.0, 1e-9);
    EXPECT_NEAR(paraxial.bfl, 100.0, 1e-9);  // from the convex face, not from an image surface
    EXPECT_NEAR(paraxial.fNumber, 10.0, 1e-9);
    EXPECT_NEAR(paraxial.entrancePupilZ, 20.0, 1e-9);
    EXPECT_NEAR(paraxial.entrancePupilDiameter, 10.0, 1e-9);

    // Aimed at the stop, a ray of the 10° beam through pupil point (px, py)
    // crosses it at 5·(px, py) and the window 20·tan 10° = 3.527 lower in x:
    // vignetted where that point lies beyond 6 from the axis.
    const std::vector<TPupilPoint> pupil = hexapolar(1.0, 8);
    const double shift = 20.0 * std::tan(10.0 * 3.141592653589793 / 180.0);
    int clipped = 0;
    for (const TPupilPoint& q : pupil) {
        const double r = std::hypot(5.0 * q.x - shift, 5.0 * q.y);
        ASSERT_GT(std::fabs(r - 6.0), 1e-3);  // no point on the rim
        clipped += r > 6.0;
    }
    ASSERT_GT(clipped, 10);
    const std::vector<TSpotDiagram> spots = spotDiagrams(lens, pupil);
    ASSERT_EQ(spots.size(), 2u);
    EXPECT_EQ(spots[0].spot.vignetted, 0);
    EXPECT_EQ(spots[0].spot.rays, static_cast<int>(pupil.size()));
    EXPECT_NEAR(spots[0].z, 125.0, 1e-6);  // the paraxial focus, its default image plane
    EXPECT_EQ(spots[1].spot.vignetted, clipped);
    EXPECT_EQ(spots[1].spot.failed, 0);
    EXPECT_EQ(spots[1].spot.rays + clipped, static_cast<int>(pupil.size()));
    EXPECT_NEAR(spots[1].fieldAngle, 10.0 * 3.141592653589793 / 180.0, 1e-12);
    const TRayFan fan = rayFan(lens, 1, 21);
    EXPECT_GT(fan.vignetted, 0);
    EXPECT_EQ(fan.failed, 0);

    // Planes between the last surface and the image plane are fine; in
    // front of the last surface they are refused in words.
    const TThroughFocus curve = throughFocus(lens, 0, pupil, 30.0, 125.0, 5);
    EXPECT_GT(curve.rms.front(), curve.rms.back());
    try {
        spotDiagram(lens, 0, pupil, 10.0);
        ADD_FAILURE() << "a plane inside the lens";
    } catch (const xmsg& e) {
        EXPECT_NE(e.message().find("in front of the last lens surface"), std::string::npos) << e.message();
    }
}

namespace {

// A ball of radius 5 and nd = 1.5 (vd 60) with its stop at its centre
// (z = 5): every chief ray goes straight through the centre, so the field
// looks like the axis turned about it. Its focus lies F = n·r/(2(n − 1)) =
// 7.5 behind the centre along each chief ray.
TPrescription ballLens() {
    TPrescription p;
    const TMaterial glass = TMaterial::modelGlass(1.5, 60.0);
    p.addStandard(0.0, 5.0, glass);
    p.addStandard(5.0, 0.0, glass);
    p.addStandard(10.0, -5.0, TMaterial::air());
    p.stop = 1;
    p.aperture = {TApertureKind::entrancePupilDiameter, 2.0};
    p.fields = {{0.0, 0.0, 1.0}, {20.0, 0.0, 1.0}};
    p.wavelengths = {{kLineF, 1.0}, {kLineD, 1.0}, {kLineC, 1.0}};
    p.primary = 1;
    return p;
}

}  // namespace

TEST(Analysis, ColourAndFieldCurvesAgainstClosedForms) {
    // A thin biconvex singlet of model glass: f(λ) = 1/((n(λ) − 1)·K), so the
    // focus moves by f·(nF − nC)/(nd − 1) = f/V from F to C.
    TPrescription singlet;
    const double V = 64.17, R = 2 * (1.5168 - 1) * 100.0;
    singlet.addStandard(0.0, R, TMaterial::modelGlass(1.5168, V));
    singlet.addStandard(0.5, -R, TMaterial::air());
    singlet.aperture = {TApertureKind::entrancePupilDiameter, 10.0};
    singlet.fields = {{0.0, 0.0, 1.0}, {5.0, 0.0, 1.0}};
    singlet.wavelengths = {{kLineF, 1.0}, {kLineD, 1.0}, {kLineC, 1.0}};
    singlet.primary = 1;
    const TFocalShift shift = chromaticFocalShift(singlet, 3);
    EXPECT_DOUBLE_EQ(shift.wavelengths.front(), kLineF);
    EXPECT_DOUBLE_EQ(shift.wavelengths.back(), kLineC);
    EXPECT_NEAR(shift.shift.back() - shift.shift.front(), 100.0 / V, 0.03 * 100.0 / V);
    EXPECT_NEAR(shift.range, 100.0 / V, 0.03 * 100.0 / V);
    EXPECT_NEAR(shift.primaryFocusZ, paraxialData(singlet).focusZ, 1e-12);
    // With the stop in front, a positive lens bends the rim's chief rays
    // more than the paraxial ones: barrel distortion.
    TPrescription stopped = singlet;
    stopped.surfaces.insert(stopped.surfaces.begin(),
                            TPrescriptionSurface(std::make_unique<TSlab>(-30.0, complex(1.0, 0.0)),
                                                 TMaterial::air()));
    EXPECT_LT(fieldCurves(stopped, 3).distortion.back(), -0.01);

    // The ball: both foci at 7.5·(cos θ − 1) from the axis's focus plane, the
    // chief ray at 7.5·tan θ there (no distortion), and no lateral colour.
    const TPrescription ball = ballLens();
    const TFieldCurves curves = fieldCurves(ball, 5);
    ASSERT_EQ(curves.field.size(), 5u);
    EXPECT_NEAR(curves.z, 12.5, 1e-9);
    for (std::size_t k = 0; k < curves.field.size(); ++k) {
        const double theta = curves.field[k] * 3.141592653589793 / 180.0;
        EXPECT_NEAR(curves.tangential[k], 7.5 * (std::cos(theta) - 1.0), 1e-4) << curves.field[k];
        EXPECT_NEAR(curves.sagittal[k], 7.5 * (std::cos(theta) - 1.0), 1e-4) << curves.field[k];
        EXPECT_NEAR(curves.height[k], 7.5 * std::tan(theta), 1e-9);
        EXPECT_NEAR(curves.distortion[k], 0.0, 1e-6);
    }
    const TLateralColour colour = lateralColour(ball, 3);
    EXPECT_DOUBLE_EQ(colour.shortUm, kLineF);
    EXPECT_DOUBLE_EQ(colour.longUm, kLineC);
    EXPECT_NEAR(colour.longHeight.back(), 7.5 * std::tan(20.0 * 3.141592653589793 / 180.0), 1e-9);
    for (double d : colour.difference) EXPECT_NEAR(d, 0.0, 1e-9);
    // Its focal shift is the ball's: F = n·r/(2(n − 1)) behind the centre.
    const TFocalShift ballShift = chromaticFocalShift(ball, 2);
    const double nF = TMaterial::modelGlass(1.5, 60.0).indexAt(kLineF).real();
    EXPECT_NEAR(ballShift.focusZ.front(), 5.0 + nF * 5.0 / (2 * (nF - 1.0)), 1e-9);

    TPrescription axial = ball;
    axial.fields = {{0.0, 0.0, 1.0}};
    EXPECT_THROW(fieldCurves(axial), xmsg);
    axial.wavelengths = {{kLineD, 1.0}};
    EXPECT_THROW(chromaticFocalShift(axial), xmsg);
}

TEST(Analysis, PolychromaticSpotWeighsEveryWavelengthsRays) {
    // The ball lens: every wavelength's chief ray meets the image plane at
    // one point, and the blue rays, focused short, spread wider there. The
    // spot's centroid and RMS are the weighted ones of the rays of all
    // wavelengths, about the primary's chief ray.
    TPrescription ball = ballLens();
    ball.wavelengths = {{kLineF, 1.0}, {kLineD, 2.0}, {kLineC, 1.0}};
    const std::vector<TPupilPoint> pupil = hexapolar(1.0, 3);
    const TSpotDiagram poly = polychromaticSpot(ball, 1, pupil);
    ASSERT_EQ(poly.wavelengthsUm.size(), 3u);
    EXPECT_EQ(poly.wavelengthsUm[0], kLineD);  // the primary first
    EXPECT_EQ(poly.weights[0], 0.5);
    ASSERT_EQ(poly.x.size(), 3 * pupil.size());
    EXPECT_EQ(poly.spot.rays, static_cast<int>(3 * pupil.size()));
    double sum = 0.0, weight = 0.0, cx = 0.0;
    for (std::size_t i = 0; i < poly.x.size(); ++i) {
        cx += poly.weights[poly.wave[i]] * poly.x[i];
        weight += poly.weights[poly.wave[i]];
    }
    cx /= weight;
    for (std::size_t i = 0; i < poly.x.size(); ++i)
        sum += poly.weights[poly.wave[i]] *
               (std::pow(poly.x[i] - cx, 2) + std::pow(poly.y[i] - poly.centroidY, 2));
    EXPECT_NEAR(poly.centroidX, cx, 1e-12);
    EXPECT_NEAR(poly.spot.rms, std::sqrt(sum / weight), 1e-12);
    const TSpotDiagram primary = spotDiagram(ball, 1, pupil);
    EXPECT_GT(poly.spot.rms, primary.spot.rms);
    EXPECT_EQ(poly.airyRadius, primary.airyRadius);
    EXPECT_EQ(poly.chiefX, primary.chiefX);
    // One wavelength is the monochromatic spot, to the bit.
    const TSpotDiagram one = polychromaticSpot(ball, 1, pupil, NAN, {{kLineD, 1.0}});
    EXPECT_EQ(one.spot.rms, primary.spot.rms);
    EXPECT_EQ(one.centroidX, primary.centroidX);
}
