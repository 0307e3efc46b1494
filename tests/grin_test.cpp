// SPDX-License-Identifier: Apache-2.0
// Gradient-index rod: rays against the exact solution of the paraxial ray
// equation of a parabolic profile, optical path, exit refraction, records and
// failures.
#include "lumivex/grin.h"

#include <gtest/gtest.h>

#include <cmath>
#include <sstream>
#include <string>
#include <vector>

#include "lumivex/system.h"

using namespace lumivex;

namespace {

constexpr double kPi = 3.141592653589793;
constexpr double kN0 = 1.6;
constexpr double kG = 0.2;
constexpr double kQuarterPitch = kPi / (2.0 * kG);
constexpr double kWavelength = 5e-4;

// A rod that keeps the length of every step it takes.
class StepLoggingRod : public TGrinRod {
public:
    StepLoggingRod(double z, double n0, double g, double h4, double h6)
        : TElement(z), TGrinRod(z, n0, g, h4, h6) {}
    TBeamNode RKStep(TBeamNode& node, const TVector& D) override {
        const double z0 = node.position.z;
        TBeamNode advanced = TGrinRod::RKStep(node, D);
        steps.push_back(node.position.z - z0);
        return advanced;
    }
    std::vector<double> steps;
};

TBeamNode entryNode(double x0, double y0, double sx, double sy,
                    const TVector& polarization = TVector(0, 1, 0)) {
    const double kz = 1.0 / std::sqrt(1.0 + sx * sx + sy * sy);
    return TBeamNode(TVector(x0, y0, 0.0), TVector(sx * kz, sy * kz, kz), 1.0, polarization, 0.0);
}

// In n² = n0²·(1 − g²r²) the invariant β = n·cos θ turns the ray equation into
// u'' = −Ω²·u per axis with Ω = g·n0/β: u = u0·cos Ωz + (s0/Ω)·sin Ωz.
struct HarmonicRay {
    double x0, y0, sx, sy, beta, omega;

    HarmonicRay(double x0_, double y0_, double sx_, double sy_)
        : x0(x0_), y0(y0_), sx(sx_), sy(sy_) {
        const double n = kN0 * std::sqrt(1.0 - kG * kG * (x0 * x0 + y0 * y0));
        beta = n / std::sqrt(1.0 + sx * sx + sy * sy);
        omega = kG * kN0 / beta;
    }
    double x(double z) const { return x0 * std::cos(omega * z) + sx / omega * std::sin(omega * z); }
    double y(double z) const { return y0 * std::cos(omega * z) + sy / omega * std::sin(omega * z); }
    double slopeX(double z) const {
        return -x0 * omega * std::sin(omega * z) + sx * std::cos(omega * z);
    }
    double slopeY(double z) const {
        return -y0 * omega * std::sin(omega * z) + sy * std::cos(omega * z);
    }
    // Size of the orbit in the scaled phase plane (u, u'/Ω), where an RK4
    // step of length h errs by at most (Ωh)⁵/120 of it.
    double amplitude() const {
        return std::sqrt(x0 * x0 + y0 * y0 + (sx * sx + sy * sy) / (omega * omega));
    }
    // ∫ n ds = ∫ n²/β dz = (n0²/β)·∫(1 − g²(x² + y²)) dz from 0 to z.
    double opticalPath(double z) const {
        const double s = std::sin(2.0 * omega * z);
        const double c = std::cos(2.0 * omega * z);
        auto squareIntegral = [&](double a, double b) {
            return a * a * (z / 2 + s / (4 * omega)) + b * b * (z / 2 - s / (4 * omega)) +
                   a * b * (1 - c) / (2 * omega);
        };
        return kN0 * kN0 / beta *
               (z - kG * kG * (squareIntegral(x0, sx / omega) + squareIntegral(y0, sy / omega)));
    }
};

double sumOfPowers(const std::vector<double>& steps, double omega, int power) {
    double sum = 0.0;
    for (double h : steps) sum += std::pow(omega * h, power);
    return sum;
}

struct RayCase {
    double x0, y0, sx, sy;
};

// Meridional rays in the x–z plane at several heights and angles, skew rays,
// and a meridional ray in the plane at 45°.
const RayCase kRays[] = {
    {0.01, 0, 0, 0},
    {0.5, 0, 0, 0},
    {1, 0, 0.1, 0},
    {2, 0, -0.2, 0},
    {3, 0, 0.1, 0},
    {0, 0, 0.25, 0},
    {0.5, 0.3, -0.05, 0.08},
    {1, 0.7, 0, 0.15},
    {2, 0, 0, 0.2},
    {0, 1.5, 0.2, -0.1},
    {0.35355339059327373, 0.35355339059327373, 0.07071067811865475, 0.07071067811865475}};

}  // namespace

TEST(GrinRod, RaysFollowTheExactSolutionOfTheParabolicProfile) {
    for (const RayCase& c : kRays) {
        SCOPED_TRACE(::testing::Message() << "entry (" << c.x0 << "," << c.y0 << ") slopes ("
                                          << c.sx << "," << c.sy << ")");
        StepLoggingRod rod(kQuarterPitch, kN0, kG, 0, 0);
        TBeam beam(kWavelength);
        beam.addNode(entryNode(c.x0, c.y0, c.sx, c.sy));
        rod.traceBeam(beam, TElement(0.0));
        const HarmonicRay exact(c.x0, c.y0, c.sx, c.sy);
        const double L = kQuarterPitch;

        // The profile is exactly parabolic, so the rod's steps are plain RK4
        // steps of a harmonic oscillator: the local errors add up to at most
        // Σ(Ωh)⁵/120 of the amplitude (taken twice), plus rounding.
        const double bound =
            2.0 * exact.amplitude() * sumOfPowers(rod.steps, exact.omega, 5) / 120.0 +
            1e-15 * rod.steps.size() * (exact.amplitude() + 1.0);
        const TBeamNode out = beam.getLast();
        EXPECT_NEAR(out.position.z, L, 1e-9);
        EXPECT_NEAR(out.position.x, exact.x(L), bound);
        EXPECT_NEAR(out.position.y, exact.y(L), bound);

        // Snell at the plane exit face keeps n·k tangential: nOut = 1.
        const double kzInside = 1.0 / std::sqrt(1.0 + exact.slopeX(L) * exact.slopeX(L) +
                                                exact.slopeY(L) * exact.slopeY(L));
        const double rOut2 = exact.x(L) * exact.x(L) + exact.y(L) * exact.y(L);
        const double nIn = kN0 * std::sqrt(1.0 - kG * kG * rOut2);
        const double slopeBound = 4.0 * exact.omega * bound;
        EXPECT_NEAR(out.kVector.x, nIn * exact.slopeX(L) * kzInside, slopeBound);
        EXPECT_NEAR(out.kVector.y, nIn * exact.slopeY(L) * kzInside, slopeBound);
        EXPECT_NEAR(out.kVector.length(), 1.0, 1e-14);
    }
}

TEST(GrinRod, ParallelRayAtQuarterPitchLeavesOnTheAxis) {
    TGrinRod rod(kQuarterPitch, kN0, kG, 0, 0);
    TBeam beam(kWavelength);
    beam.addNode(entryNode(0.01, 0, 0, 0));
    rod.traceBeam(beam, TElement(0.0));
    const TBeamNode out = beam.getLast();
    // At height x0 the invariant is n(x0) < n0, so the ray focuses a little
    // before the quarter pitch: it leaves x0·(ΩL − π/2) ≈ 3e-8 past the axis.
    const HarmonicRay exact(0.01, 0, 0, 0);
    EXPECT_LT(std::fabs(out.position.x), 1e-5 * 0.01);
    EXPECT_NEAR(out.position.x, exact.x(kQuarterPitch), 1e-12);
    EXPECT_EQ(out.position.y, 0.0);
    // It crosses with the slope −x0·Ω, times n0 outside.
    const double slope = exact.slopeX(kQuarterPitch);
    EXPECT_NEAR(out.kVector.x, kN0 * slope / std::sqrt(1 + slope * slope), 1e-12);
}

TEST(GrinRod, MeridionalRayTracesAlikeInAnyPlaneThroughTheAxis) {
    // Entry height 0.5, slope 0.1, in the x–z plane and turned by 45°.
    const double c45 = std::sqrt(0.5);
    TGrinRod straight(kQuarterPitch, kN0, kG, 0, 0);
    TGrinRod turned(kQuarterPitch, kN0, kG, 0, 0);
    const TBeamNode a = entryNode(0.5, 0, 0.1, 0);
    const TBeamNode b = entryNode(0.5 * c45, 0.5 * c45, 0.1 * c45, 0.1 * c45);

    const double invariant = (1.0 + 0.1 * 0.1) / (kN0 * kN0 * (1 - kG * kG * 0.25));
    const TVector Da = straight.findInitialValues(a);
    const TVector Db = turned.findInitialValues(b);
    EXPECT_NEAR(Da.x, invariant, 1e-15);
    EXPECT_EQ(Da.x, Da.y);
    EXPECT_NEAR(Db.x, Da.x, 1e-15);
    EXPECT_EQ(Db.x, Db.y);

    TBeam beamA(kWavelength), beamB(kWavelength);
    beamA.addNode(a);
    beamB.addNode(b);
    straight.traceBeam(beamA, TElement(0.0));
    turned.traceBeam(beamB, TElement(0.0));
    const TVector pa = beamA.getLast().position;
    const TVector pb = beamB.getLast().position;
    EXPECT_NEAR(std::hypot(pb.x, pb.y), std::fabs(pa.x), 1e-12);
    EXPECT_NEAR(pb.x, pb.y, 1e-14);
    EXPECT_NEAR(beamB.getLast().opticalPath, beamA.getLast().opticalPath,
                1e-9 * beamA.getLast().opticalPath);
}

TEST(GrinRod, AxialRayGathersThePhaseOfTheAxisIndex) {
    TGrinRod rod(kQuarterPitch, kN0, kG, 0, 0);
    TBeam beam(kWavelength);
    beam.addNode(TBeamNode(TVector(0, 0, 0), TVector(0, 0, 1), 0.8, TVector(1, 0, 0), 2.0));
    rod.traceBeam(beam, TElement(0.0));
    const TBeamNode out = beam.getLast();
    const double expected = 2.0 + 2.0 * kPi * kN0 * kQuarterPitch / kWavelength;
    EXPECT_NEAR(out.opticalPath, expected, 1e-13 * expected);
    EXPECT_EQ(out.position.x, 0.0);
    EXPECT_EQ(out.position.y, 0.0);
    EXPECT_EQ(out.kVector, TVector(0, 0, 1));
    EXPECT_EQ(out.polarization, TVector(1, 0, 0));
    const double ratio = 1.0 / kN0;
    EXPECT_NEAR(out.intensity, 0.8 * 4.0 * ratio / ((ratio + 1) * (ratio + 1)), 1e-15);
}

TEST(GrinRod, PhaseIsTheOpticalPathOfTheExactRay) {
    for (const RayCase& c : kRays) {
        SCOPED_TRACE(::testing::Message() << "entry (" << c.x0 << "," << c.y0 << ") slopes ("
                                          << c.sx << "," << c.sy << ")");
        StepLoggingRod rod(kQuarterPitch, kN0, kG, 0, 0);
        TBeam beam(kWavelength);
        beam.addNode(entryNode(c.x0, c.y0, c.sx, c.sy));
        rod.traceBeam(beam, TElement(0.0));
        const HarmonicRay exact(c.x0, c.y0, c.sx, c.sy);
        const double opl = exact.opticalPath(kQuarterPitch);

        // Each step adds chord length times the index at the chord's middle, a
        // second-order rule: its error per step is of order n0·Ω·A²·(Ωh)³ with
        // a coefficient near 1/24 (midpoint rule, chord against arc). 1/6
        // leaves a margin of four; sampling the index anywhere else along the
        // step is first order and misses by far more. Rounding adds ~1e-16
        // per step of the path.
        const double A = exact.amplitude();
        const double bound =
            kN0 * exact.omega * A * A * sumOfPowers(rod.steps, exact.omega, 3) / 6 +
            1e-16 * rod.steps.size() * opl;
        const double traced = beam.getLast().opticalPath * kWavelength / (2 * kPi);
        EXPECT_NEAR(traced, opl, bound);
        // Interior nodes carry the phase up to their own z.
        const TBeamNode mid = beam[25];
        EXPECT_NEAR(mid.opticalPath * kWavelength / (2 * kPi), exact.opticalPath(mid.position.z),
                    bound);
    }
}

TEST(GrinRod, RecordsANodeEveryFiftiethOfTheLengthWithEntryIntensityAndPolarization) {
    StepLoggingRod rod(10.0, kN0, kG, 0, 0);
    TBeam beam(kWavelength);
    beam.addNode(TBeamNode(TVector(1, 0, 0), TVector(0, 0, 1), 0.7, TVector(0, 1, 0), 0.0));
    rod.traceBeam(beam, TElement(0.0));
    for (double h : rod.steps) ASSERT_LT(h, 10.0 / 50);

    const int interior = beam.getSize() - 2;
    EXPECT_TRUE(interior == 49 || interior == 50) << interior;
    double highest = 0.0;
    for (int m = 1; m <= interior; ++m) {
        const TBeamNode node = beam[m];
        // The first step end at or beyond the threshold m·L/50.
        EXPECT_GE(node.position.z, m * 0.2 - 1e-12);
        EXPECT_LT(node.position.z, m * 0.2 + 10.0 / 50);
        EXPECT_EQ(node.intensity, 0.7);
        EXPECT_EQ(node.polarization, TVector(0, 1, 0));
        highest = std::max(highest, std::fabs(node.position.x));
    }
    EXPECT_EQ(rod.optRadius, highest);
    EXPECT_LT(beam.getLast().intensity, 0.7);
}

TEST(GrinRod, ExitRefractionWeighsSAndPByFresnel) {
    // A ray in the x–z plane, polarised across the plane of incidence (s) and
    // in it (p), leaving the rod obliquely.
    const HarmonicRay exact(0.5, 0, 0.4, 0);
    const double L = 1.0;
    const double sinInside = exact.slopeX(L) / std::sqrt(1 + exact.slopeX(L) * exact.slopeX(L));
    const double n1 = kN0 * std::sqrt(1 - kG * kG * exact.x(L) * exact.x(L));
    const double n2 = 1.0;
    const double cosI = std::sqrt(1 - sinInside * sinInside);
    const double sinT = n1 / n2 * sinInside;
    const double cosT = std::sqrt(1 - sinT * sinT);
    const double rs = (n1 * cosI - n2 * cosT) / (n1 * cosI + n2 * cosT);
    const double rp = (n2 * cosI - n1 * cosT) / (n2 * cosI + n1 * cosT);

    for (const TVector& pol : {TVector(0, 1, 0), TVector(1, 0, -0.4).unit()}) {
        TGrinRod rod(L, kN0, kG, 0, 0);
        TBeam beam(kWavelength);
        beam.addNode(entryNode(0.5, 0, 0.4, 0, pol));
        rod.traceBeam(beam, TElement(0.0));
        const TBeamNode out = beam.getLast();
        EXPECT_NEAR(out.kVector.x, sinT, 1e-9);
        const double expected = pol.y != 0.0 ? 1 - rs * rs : 1 - rp * rp;
        EXPECT_NEAR(out.intensity, expected, 1e-9);
        // The polarization stays a unit vector across the ray.
        EXPECT_NEAR(out.polarization.length(), 1.0, 1e-14);
        EXPECT_NEAR(out.polarization.dot(out.kVector), 0.0, 1e-12);
    }
}

TEST(GrinRod, PolarizationTurnsWithASkewRayAndZeroStaysZero) {
    TGrinRod rod(kQuarterPitch, kN0, kG, 0, 0);
    TBeamNode entry = entryNode(1, 0.7, 0.05, 0.15);
    // Any vector across the ray, and one that is not of unit length.
    const TVector across = entry.kVector.cross(TVector(0.3, -1, 0.2)) * 3.0;
    entry.polarization = across;
    TBeam beam(kWavelength);
    beam.addNode(entry);
    rod.traceBeam(beam, TElement(0.0));
    const TBeamNode out = beam.getLast();
    EXPECT_NEAR(out.polarization.length(), 1.0, 1e-14);
    EXPECT_NEAR(out.polarization.dot(out.kVector), 0.0, 1e-12);
    EXPECT_GT(out.intensity, 0.9);
    EXPECT_LE(out.intensity, 1.0);

    entry.polarization = TVector();
    TBeam dark(kWavelength);
    dark.addNode(entry);
    rod.traceBeam(dark, TElement(0.0));
    EXPECT_EQ(dark.getLast().polarization, TVector());
    EXPECT_TRUE(std::isfinite(dark.getLast().intensity));
}

TEST(GrinRod, NearNormalExitAwayFromTheAxisUsesTheNormalTransmittance) {
    TGrinRod rod(kQuarterPitch, kN0, kG, 0, 0);
    TBeam beam(kWavelength);
    // Leaves at x ≈ 1e-6·cos(π/2), slope ≈ −1e-6·g: θi + θt ≈ 5e-7.
    beam.addNode(entryNode(1e-6, 2e-6, 0, 0));
    rod.traceBeam(beam, TElement(0.0));
    const double ratio = 1.0 / kN0;
    EXPECT_NEAR(beam.getLast().intensity, 4 * ratio / ((ratio + 1) * (ratio + 1)), 1e-12);
}

TEST(GrinRod, TotalInternalReflectionAtTheExitKeepsTheInteriorNodes) {
    TOpticalSystem system(1.0);
    system.addElement(new TGrinRod(0.5, kN0, kG, 0, 0));
    TBeam beam(kWavelength);
    beam.addNode(entryNode(0, 0, 1.2, 0));  // sin θ = 0.77 > 1/1.6
    try {
        system.traceBeam(beam);
        FAIL() << "no exception";
    } catch (const xmsg& e) {
        EXPECT_EQ(e.message().rfind("TOpticalSystem::traceBeam: \n\r\nDomain error in a call to "
                                    "sqrt:",
                                    0),
                  0u)
            << e.message();
    }
    // The interior nodes stay; no exit node (it would carry T < 1).
    EXPECT_GT(beam.getSize(), 1);
    for (int i = 1; i < beam.getSize(); ++i) EXPECT_EQ(beam[i].intensity, 1.0);
}

TEST(GrinRod, RayMeetingTheExitFaceFromBehindFailsAndKeepsTheInteriorNodes) {
    // A host's rod whose exit face is tilted beyond the ray.
    class TiltedExitRod : public TGrinRod {
    public:
        TiltedExitRod() : TElement(2.0), TGrinRod(2.0, kN0, kG, 0, 0) {}
        TVector exitNormal(const TVector&) const override { return TVector(-0.96, 0, -0.28); }
    };
    TiltedExitRod rod;
    TBeam beam(kWavelength);
    beam.addNode(entryNode(0.1, 0, 0.05, 0));
    try {
        rod.traceBeam(beam, TElement(0.0));
        FAIL() << "refracted from behind: " << beam.getLast();
    } catch (const xmsg& e) {
        EXPECT_EQ(e.message().rfind("TGRIN::traceBeam: ", 0), 0u) << e.message();
    }
    EXPECT_GT(beam.getSize(), 40);
    for (int i = 1; i < beam.getSize(); ++i) EXPECT_EQ(beam[i].intensity, 1.0);
}

TEST(GrinRod, RayBeyondTheProfileDomainFailsInTheIndex) {
    TOpticalSystem system(1.0);
    system.addElement(new TGrinRod(10, kN0, kG, 0, 0));  // n² < 0 beyond r = 5
    TBeam beam(kWavelength);
    beam.addNode(entryNode(4.5, 2.5, 0, 0));
    try {
        system.traceBeam(beam);
        FAIL() << "no exception";
    } catch (const xmsg& e) {
        EXPECT_EQ(e.message().rfind("TOpticalSystem::traceBeam: \n\r\nDomain error in a call to "
                                    "sqrt:",
                                    0),
                  0u)
            << e.message();
    }
    EXPECT_EQ(beam.getSize(), 1);
}

TEST(GrinRod, RaySentToInfinityEndsWithAMessageNotAHang) {
    StepLoggingRod* rod = new StepLoggingRod(10, kN0, kG, 5, 0);  // index grows beyond r ≈ 3.5
    TOpticalSystem system(1.0);
    system.addElement(rod);
    TBeam beam(kWavelength);
    beam.addNode(entryNode(4, 0, 0, 0));
    try {
        system.traceBeam(beam);
        FAIL() << "no exception";
    } catch (const xmsg& e) {
        EXPECT_EQ(e.message().rfind("TOpticalSystem::traceBeam: \nTGRIN::traceBeam: position or "
                                    "direction no longer finite",
                                    0),
                  0u)
            << e.message();
    }
    EXPECT_LT(rod->steps.size(), 100000u);
    EXPECT_GT(beam.getSize(), 1);
    EXPECT_TRUE(std::isfinite(beam.getLast().position.x));
}

namespace {

// A medium whose steps never move the ray: without a limit its trace would
// never end.
class StuckMedium : public TGRIN {
public:
    StuckMedium() : TElement(1.0), TGRIN(1.0, 1.5, 0, 0, 0) {}
    double exitHeight(const TVector&) const override { return 0.0; }
    TVector P(const TVector&, const TVector&, double) const override { return {}; }
    TVector findSurfaceIntersection(const TBeamNode& node) const override { return node.position; }
    complex getRefIndex(const TVector&, double) const override { return {1.5, 0.0}; }
};

}  // namespace

TEST(GrinMedium, TraceThatCannotFinishStopsAfterTenMillionSteps) {
    StuckMedium medium;
    TBeam beam(kWavelength);
    beam.addNode(TBeamNode(TVector(0, 0, 0), TVector(0, 0, 1), 1, TVector(1, 0, 0), 0));
    try {
        medium.traceBeam(beam, TElement(0.0));
        FAIL() << "no exception";
    } catch (const xmsg& e) {
        EXPECT_EQ(e.message().rfind("TGRIN::traceBeam: more than 10000000 integration steps", 0),
                  0u)
            << e.message();
    }
    EXPECT_EQ(beam.getSize(), 1);
}

TEST(GrinRod, RayParallelToTheExitPlaneIsRefusedAtTheIntersection) {
    TGrinRod rod(1.0, kN0, kG, 0, 0);
    const TBeamNode sideways(TVector(0.1, 0, 1.0 - 1e-7), TVector(1, 0, 0), 1, TVector(0, 1, 0), 0);
    EXPECT_THROW(rod.findSurfaceIntersection(sideways), xmsg);
    TBeam beam(kWavelength);
    beam.addNode(sideways);
    try {
        rod.traceBeam(beam, TElement(0.0));
        FAIL() << "no exception";
    } catch (const xmsg& e) {
        EXPECT_EQ(e.message().rfind("TGrinRod::findSurfaceIntersection: ", 0), 0u) << e.message();
    }
    EXPECT_EQ(beam.getSize(), 1);
}

TEST(GrinRod, ProfileAndRayEquation) {
    TGrinRod rod(3, 1.5, 0.2, 0.5, -0.25);
    EXPECT_EQ(rod.getRefIndex(TVector(0, 0, 7), 0.0), complex(1.5, 0));
    const double u = 0.2 * 2.0;
    EXPECT_NEAR(rod.getRefIndex(TVector(1.2, 1.6, 0), 0.0).real(),
                1.5 * std::sqrt(1 - u * u + 0.5 * std::pow(u, 4) - 0.25 * std::pow(u, 6)), 1e-15);
    TGrinRod flat(3, 1.5, 0, 0, 0);
    EXPECT_EQ(flat.getRefIndex(TVector(100, -40, 0), 0.0), complex(1.5, 0));

    // a = d·½∂(n²)/∂u with the radius of pos.
    const TVector pos(1.2, 1.6, 0);
    const TVector dydz = rod.P(TVector(0.7, -0.3, 0), pos, 0.4);
    const double r2 = 4.0;
    const double half =
        1.5 * 1.5 *
        (-0.04 + 2 * 0.5 * std::pow(0.2, 4) * r2 - 3 * 0.25 * std::pow(0.2, 6) * r2 * r2);
    EXPECT_EQ(dydz.x, -0.3);
    EXPECT_NEAR(dydz.y, 0.4 * half * 0.7, 1e-16);
    EXPECT_EQ(dydz.z, 0.0);
}

TEST(GrinRod, StepControlDoublesOnStraightLinesAndKeepsItsFloor) {
    TGrinRod rod(5, 1.5, 0.2, 0, 0);
    TVector y(0, 0, 0);
    const TVector next = rod.RungeKutta(y, TVector(), 1e-3, 1.0);
    EXPECT_EQ(next, TVector(0, 0, 0));
    EXPECT_EQ(rod.step, 2e-3);
    rod.RungeKutta(y, TVector(), 0.0, 1.0);
    EXPECT_EQ(rod.step, 1e-8);

    // A stiff curvature halves the proposal; y itself is left alone.
    TVector bent(1, 1, 0);
    rod.RungeKutta(bent, TVector(), 1.0, 1.0);
    EXPECT_EQ(rod.step, 0.5);
    EXPECT_EQ(bent, TVector(1, 1, 0));

    // The last step is cut to land on the exit plane.
    rod.step = 1.0;
    TBeamNode node(TVector(0, 0, 4.75), TVector(0, 0, 1), 1, TVector(1, 0, 0), 0);
    rod.RKStep(node, TVector(1, 1, 0));
    EXPECT_EQ(node.position.z, 5.0);
}

TEST(GrinRod, RecordOutlineAndReading) {
    TGrinRod rod(10, 1.5, 0.2, 0, 0);
    std::ostringstream os;
    rod.write(os);
    EXPECT_EQ(os.str(), "GrinRod\t10\t1.5\t0.2\t0\t0");

    TPolygon reversed, forward;
    rod.getPolygon(reversed, true, 2);
    rod.getPolygon(forward, false, 2);
    ASSERT_EQ(reversed.getSize(), 2);
    EXPECT_EQ(reversed[0], TVector(2, 0, 10));
    EXPECT_EQ(reversed[1], TVector(-2, 0, 10));
    EXPECT_EQ(forward[0], TVector(-2, 0, 10));
    EXPECT_EQ(forward[1], TVector(2, 0, 10));

    TGrinRod read;
    std::istringstream full("30\n1.6   0.25\t1e-3 -2e-4");
    read.read(full);
    EXPECT_EQ(read.zPosition, 30);
    EXPECT_EQ(read.n0, 1.6);
    EXPECT_EQ(read.g, 0.25);
    EXPECT_EQ(read.h4, 1e-3);
    EXPECT_EQ(read.h6, -2e-4);

    TGrinRod partial;
    std::istringstream cut("12 1.7 x 0.5 0.5");
    partial.read(cut);
    EXPECT_TRUE(cut.fail());
    EXPECT_EQ(partial.zPosition, 12);
    EXPECT_EQ(partial.n0, 1.7);
    EXPECT_EQ(partial.g, 0);
    EXPECT_EQ(partial.h4, 0);
    EXPECT_EQ(partial.h6, 0);
}
