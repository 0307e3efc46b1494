// SPDX-License-Identifier: Apache-2.0
#include "lumivex/field.h"

#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <string>
#include <vector>

#include "field/field_interpolation.h"
#include "lumivex/surfaces.h"
#include "lumivex/system.h"

using namespace lumivex;

namespace {

constexpr double kPi = 3.141592653589793;

// A fan of one-node beams at the given x, as a trace would leave them.
TBeamFan makeFan(const std::vector<double>& xs, double intensity = 1.0) {
    TBeamFan fan;
    for (double x : xs) {
        auto* beam = new TBeam(6.328e-7);
        beam->addNode(
            TBeamNode(TVector(x, 0, 0), TVector(0, 0, 1), intensity, TVector(1, 0, 0), 0));
        fan.addBeam(beam);
    }
    return fan;
}

std::vector<double> evenly(int n, double first, double spacing) {
    std::vector<double> xs;
    for (int i = 0; i < n; ++i) xs.push_back(first + i * spacing);
    return xs;
}

template <class F>
std::string messageOf(F f) {
    try {
        f();
    } catch (const xmsg& e) {
        return e.message();
    }
    return "(nothing thrown)";
}

}  // namespace

// ---- field to fan -------------------------------------------------------

TEST(FieldToBeamFan, ConstantPhaseGivesAxialBeamsOnTheSubGrid) {
    const int W = 7, H = 5;
    const double dx = 1e-5, dy = 2e-5;
    TMatrix field(W, H);
    for (std::size_t k = 0; k < field.size(); ++k) field.data[k] = std::polar(2.0, 0.7);

    TBeamFan fan = makeFan({-1.0});  // beams already in the fan stay first
    fieldToBeamFan(field, dx, dy, 4, 3, 5e-7, fan);
    ASSERT_EQ(fan.getSize(), 1 + 4 * 3);
    EXPECT_EQ(fan[0]->getLast().position.x, -1.0);

    const double sx = (W - 2) / 3.0, sy = (H - 2) / 2.0;
    for (int i = 0; i < 4; ++i)
        for (int j = 0; j < 3; ++j) {
            const TBeam& beam = *fan[1 + i * 3 + j];
            ASSERT_EQ(beam.getSize(), 1);
            EXPECT_EQ(beam.wavelength, 6.328e-7);
            const TBeamNode& n = beam.getLast();
            EXPECT_EQ(n.kVector, TVector(0, 0, 1));
            EXPECT_EQ(n.polarization, TVector(1, 0, 0));
            EXPECT_NEAR(n.intensity, 4.0, 1e-14);
            EXPECT_NEAR(n.opticalPath, 0.0, 1e-15);
            // The field's centre sample lies on the axis.
            EXPECT_NEAR(n.position.x, (i * sx - (W - 1) / 2.0) * dx, 1e-20);
            EXPECT_NEAR(n.position.y, (j * sy - (H - 1) / 2.0) * dy, 1e-20);
            EXPECT_EQ(n.position.z, 0.0);
        }
}

TEST(FieldToBeamFan, PhaseRampTiltsBeamsEvenAcrossWraps) {
    // p radians per sample along x (and q per row along y), |p|, |q| < π: the
    // stored phase wraps every few samples, the plane wave's direction does
    // not. Its direction cosines are λ·p/(2π·dx) and λ·q/(2π·dy).
    const double lambda = 5e-7, dx = 1e-6, dy = 3e-6;
    for (const double p : {2.5, -3.0, 0.4}) {
        const double q = -2.0;
        const int W = 20, H = 6;
        TMatrix field(W, H);
        for (int r = 0; r < H; ++r)
            for (int c = 0; c < W; ++c) field.at(c, r) = std::polar(1.5, p * c + q * r + 0.3);
        TBeamFan fan;
        fieldToBeamFan(field, dx, dy, W - 1, H - 1, lambda, fan);
        ASSERT_EQ(fan.getSize(), (W - 1) * (H - 1));

        const double kx = lambda * p / (2 * kPi * dx);
        const double ky = lambda * q / (2 * kPi * dy);
        for (int i = 0; i < W - 1; ++i)
            for (int j = 0; j < H - 1; ++j) {
                const TBeamNode& n = fan[i * (H - 1) + j]->getLast();
                EXPECT_NEAR(n.kVector.x / n.kVector.z, kx, 1e-12) << "p " << p << " beam " << i;
                EXPECT_NEAR(n.kVector.y / n.kVector.z, ky, 1e-12);
                EXPECT_NEAR(n.kVector.length(), 1.0, 1e-15);
                EXPECT_NEAR(n.polarization.z, -kx, 1e-12);
                // Unwrapped phase relative to the middle sample (W/2, H/2).
                EXPECT_NEAR(n.opticalPath, p * (i - W / 2) + q * (j - H / 2), 1e-12);
            }
    }
}

TEST(FieldToBeamFan, PhaseStepsAtAZeroSampleAreZero) {
    // The middle sample is dark: no phase can be followed across it.
    const double p = 1.1;
    TMatrix field(5, 1);
    for (int c = 0; c < 5; ++c) field.at(c, 0) = std::polar(1.0, p * c);
    field.at(2, 0) = complex(0, 0);
    TBeamFan fan;
    fieldToBeamFan(field, 1e-6, 1e-6, 4, 1, 5e-7, fan);
    ASSERT_EQ(fan.getSize(), 4);
    const double phase[] = {-p, 0, 0, 0};
    const double intensity[] = {1, 1, 0, 1};
    for (int i = 0; i < 4; ++i) {
        EXPECT_NEAR(fan[i]->getLast().opticalPath, phase[i], 1e-15) << i;
        EXPECT_NEAR(fan[i]->getLast().intensity, intensity[i], 1e-15) << i;
    }
}

TEST(FieldToBeamFan, RefusesFieldsWithoutNeighbourSamples) {
    TBeamFan fan;
    EXPECT_EQ(messageOf([&] { fieldToBeamFan(TMatrix(1, 3), 1, 1, 2, 1, 1, fan); }),
              "fieldToBeamFan: the field needs at least 2 columns, it has 1");
    EXPECT_EQ(messageOf([&] { fieldToBeamFan(TMatrix(0, 0), 1, 1, 2, 1, 1, fan); }),
              "fieldToBeamFan: the field needs at least 2 columns, it has 0");
    EXPECT_EQ(messageOf([&] { fieldToBeamFan(TMatrix(4, 0), 1, 1, 2, 1, 1, fan); }),
              "fieldToBeamFan: the field has no rows");
    EXPECT_EQ(messageOf([&] { fieldToBeamFan(TMatrix(4, 1), 1, 1, 2, 2, 1, fan); }),
              "fieldToBeamFan: a fan of 2 beam rows needs a field of at least 2 rows, it has 1");
    EXPECT_EQ(fan.getSize(), 0);
    // The process goes on, and a one-row field still makes one row of beams.
    TMatrix field(4, 1);
    fieldToBeamFan(field, 1, 1, 3, 1, 1, fan);
    EXPECT_EQ(fan.getSize(), 3);
}

// ---- fan to field ---------------------------------------------------------

TEST(BeamFanToField, RefusesWhatTheSplinesCannotDescribe) {
    TMatrix field(5, 2);
    field.at(0, 0) = complex(7, 7);
    TBeamFan ordered = makeFan({-1, 0, 1});
    const auto call = [&](TBeamFan& fan, double width, TMatrix* out) {
        return messageOf([&] { beamFanToField(fan, 0.1, 0.1, width, 0, out); });
    };
    TBeamFan none;
    EXPECT_EQ(call(none, 1, &field), "beamFanToField: the fan needs at least 2 beams, it has 0");
    TBeamFan one = makeFan({0});
    EXPECT_EQ(call(one, 1, &field), "beamFanToField: the fan needs at least 2 beams, it has 1");
    TBeamFan descending = makeFan({0, 1, 0.5});
    EXPECT_EQ(call(descending, 2, &field),
              "beamFanToField: the beams must end at strictly ascending x; beam 2 does not lie "
              "beyond beam 1");
    TBeamFan equal = makeFan({0, 1, 1, 2});
    EXPECT_EQ(call(equal, 2, &field),
              "beamFanToField: the beams must end at strictly ascending x; beam 2 does not lie "
              "beyond beam 1");
    TBeamFan hollow = makeFan({0, 1});
    hollow.addBeam(new TBeam(6.328e-7));
    EXPECT_EQ(call(hollow, 2, &field), "beamFanToField: beam 2 has no nodes");
    EXPECT_EQ(call(ordered, 0, &field), "beamFanToField: fanWidth must be positive");
    // Beams converged to 1/1000 of their start spacing: grid of 0 points.
    TBeamFan focused = makeFan({-1e-3, 0, 1e-3});
    EXPECT_EQ(call(focused, 2, &field),
              "beamFanToField: the beams end too close together for a density grid of at least "
              "2 points");
    EXPECT_EQ(call(ordered, 2, nullptr), "beamFanToField: no field to write into");
    TMatrix empty(0, 1), flat(3, 0);
    EXPECT_EQ(call(ordered, 2, &empty),
              "beamFanToField: the field has no samples to write (0 columns, 1 rows)");
    EXPECT_EQ(call(ordered, 2, &flat),
              "beamFanToField: the field has no samples to write (3 columns, 0 rows)");

    // Nothing was written, and the process goes on to a valid conversion.
    EXPECT_EQ(field.at(0, 0), complex(7, 7));
    beamFanToField(ordered, 0.5, 0.1, 2, 0, &field);
    EXPECT_NEAR(std::abs(field.at(2, 0)), 1.0, 1e-12);
    EXPECT_EQ(field.at(0, 1), complex(0, 0));  // only the first row is written
}

TEST(BeamFanToField, DensityIsExactlyOneInsideAnEvenFanAndZeroOutside) {
    TBeamFan fan = makeFan(evenly(11, -0.5, 0.1));
    const TFieldInterpolation f(fan, 1.0);
    ASSERT_EQ(f.gridSize, 30);  // 1.5 fan widths at two points per start spacing
    for (int i = 0; i < f.gridSize; ++i) {
        const bool inside = f.gridX[i] > -0.5 && f.gridX[i] < 0.5;
        EXPECT_NEAR(f.density[i], inside ? 1.0 : 0.0, 1e-12) << "x = " << f.gridX[i];
    }
}

TEST(BeamFanToField, SqueezedFanIsBrighterByTheSqueeze) {
    // Power conservation along x: beams that started 0.1 apart and end 0.04
    // apart carry 2.5 times the intensity.
    TBeamFan fan = makeFan(evenly(41, -0.8, 0.04), 0.6);
    TMatrix field(21, 1);
    beamFanToField(fan, 0.05, 0, 4.0, 0, &field);
    for (int c = 5; c <= 15; ++c)  // well inside the fan, away from the density's edge ringing
        EXPECT_NEAR(std::norm(field.at(c, 0)), 0.6 * 2.5, 1e-9) << "column " << c;
}

namespace {

// Converts a Gaussian beam of 1/e amplitude radius w to a one-row fan of 51
// beams, hands the fan to `trace`, converts it back on the original sample
// grid, and compares intensities.
template <class Trace>
void gaussianRoundTrip(Trace trace) {
    const int W = 201;  // odd: both conversions put the axis on column 100
    const double dx = 1e-5, w = 30 * dx;
    const auto gaussian = [&](double x) { return std::exp(-(x * x) / (w * w)); };
    TMatrix field(W, 1);
    for (int c = 0; c < W; ++c) field.at(c, 0) = complex(gaussian((c - W / 2) * dx), 0.0);

    const int nx = 51;
    TBeamFan fan;
    fieldToBeamFan(field, dx, dx, nx, 1, 6.328e-7, fan);
    trace(fan);
    const double fanWidth = (W - 2) * dx;  // the sub-grid spans samples 0 … W − 2
    TMatrix back(W, 1);
    beamFanToField(fan, dx, dx, fanWidth, 0, &back);

    // Intensity I = g², in units of its peak. Sampling the beams bilinearly
    // between samples dx apart errs by at most dx²/8·max|I''| = dx²/(2w²)
    // = 5.6e-4; the natural spline through beams h = 3.98 dx apart adds at
    // most 5/384·h⁴·max|I⁗| = 5/384·h⁴·48/w⁴ = 1.9e-4. The density is 1 to
    // within its ringing at the fan's edges, where I is below 1e-8. So 1e-3.
    for (int c = 0; c < W; ++c) {
        const double x = (c - W / 2) * dx;
        const complex s = back.at(c, 0);
        EXPECT_NEAR(std::norm(s), gaussian(x) * gaussian(x), 1e-3) << "x = " << x;
        // A flat wavefront stays flat.
        if (std::norm(s) > 1e-6) {
            EXPECT_NEAR(std::arg(s), 0.0, 1e-9) << "x = " << x;
        }
    }
}

}  // namespace

TEST(FieldRoundTrip, GaussianComesBackWithoutTracing) {
    gaussianRoundTrip([](TBeamFan&) {});
}

TEST(FieldRoundTrip, GaussianComesBackThroughASlabOfIndexOne) {
    gaussianRoundTrip([](TBeamFan& fan) {
        TOpticalSystem system(1e-2);
        system.addElement(new TSlab(0.05, 1.0));
        system.traceBeamFan(fan);
        ASSERT_EQ(fan[0]->getSize(), 2);
    });
}

TEST(FieldRoundTrip, LensBrightensWhereRaysCrowdAndPhaseIgnoresACommonOffset) {
    // A plano-convex lens, n = 1.5, R = 50 mm, 5 mm thick: f = R/(n − 1) =
    // 100 mm, back focus 96.67 mm behind the flat face, back principal plane
    // at z = 1.667 mm. Half-way to the focus the beams are squeezed to half
    // their spacing, so the axial intensity doubles; each face passes
    // 1 − ((n − 1)/(n + 1))² = 0.96 of the power at normal incidence.
    const double R = 0.05, n = 1.5, t = 0.005, f = R / (n - 1);
    const double zFocus = t + f * (1 - (n - 1) * t / (n * R));
    const double zObserve = zFocus - f / 2;

    const int W = 41;
    const double dx = 2.5e-4;
    TMatrix plane(W, 1);
    for (int c = 0; c < W; ++c) plane.at(c, 0) = complex(1, 0);
    TBeamFan fan;
    fieldToBeamFan(plane, dx, dx, 21, 1, 6.328e-7, fan);

    TOpticalSystem system(1e-2);
    system.addElement(new TSphericalLens(0, 1.0, 0, R));
    system.addElement(new TSlab(t, n));
    system.addElement(new TSlab(zObserve, 1.0));
    system.traceBeamFan(fan);
    ASSERT_EQ(fan[0]->getSize(), 4);

    const double fanWidth = (W - 2) * dx;
    TMatrix focused(21, 1);
    beamFanToField(fan, dx / 2, 0, fanWidth, 0, &focused);
    const double transmitted = 0.96 * 0.96;
    EXPECT_NEAR(std::norm(focused.at(10, 0)), 2.0 * transmitted, 0.01 * 2.0 * transmitted);
    EXPECT_NEAR(std::norm(focused.at(12, 0)), 2.0 * transmitted, 0.01 * 2.0 * transmitted);

    // Behind the lens the wavefront is a sphere about the focus, d = f/2
    // away: relative to the axis the phase falls by k·x²/(2d), paraxially.
    const double k = 2 * kPi / 6.328e-7;
    for (int c = 6; c <= 14; ++c) {
        const double x = (c - 10) * dx / 2;
        const double expected = std::arg(std::polar(1.0, -k * x * x / f));
        const double got = std::arg(focused.at(c, 0) / focused.at(10, 0));
        EXPECT_NEAR(std::remainder(got - expected, 2 * kPi), 0.0, 0.02) << "x = " << x;
    }

    // Only phase differences between beams matter.
    for (int i = 0; i < fan.getSize(); ++i) fan[i]->getLast().opticalPath += 12345.678;
    TMatrix shifted(21, 1);
    beamFanToField(fan, dx / 2, 0, fanWidth, 0, &shifted);
    for (int c = 0; c < 21; ++c)
        EXPECT_NEAR(std::abs(shifted.at(c, 0) - focused.at(c, 0)), 0.0, 1e-6) << "column " << c;
}
