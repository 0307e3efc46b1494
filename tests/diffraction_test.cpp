// SPDX-License-Identifier: Apache-2.0
// The diffraction analyses against closed forms: the Airy pattern and the
// MTF of a circular pupil, the Strehl ratio of a quarter wave of defocus, the
// Zernike coefficient of a known spherical aberration, and energy.
#include <gtest/gtest.h>

#include <cmath>

#include "lumivex/diffraction.h"
#include "lumivex/prescription.h"
#include "lumivex/surfaces.h"

using namespace lumivex;

namespace {

constexpr double kPi = 3.141592653589793;
constexpr double kLambda = 5e-4;

// The aberration-free hyperbolic singlet of examples/singlet.txt: a flat
// face (or the given front surface) into glass of index 1.5, then the
// hyperboloid that focuses the collimated beam inside the glass 50 behind
// its vertex, at z = 55.
TOpticalSystem singlet(TElement* front = nullptr) {
    TOpticalSystem system(6.0);
    system.addElement(front ? front : new TSlab(0.0, complex(1.0, 0.0)));
    system.addElement(new TLens(5.0, complex(1.5, 0.0), 0.0, 1.0, 50.0));
    return system;
}

TCollimatedBeam filled(const TOpticalSystem& system, double fieldAngle = 0.0) {
    TCollimatedBeam beam;
    beam.wavelength = kLambda;
    beam.fieldAngle = fieldAngle;
    return resolveFilledBeam(system, beam);
}

double circularMtf(double nu) {
    return nu >= 1.0 ? 0.0 : 2.0 / kPi * (std::acos(nu) - nu * std::sqrt(1.0 - nu * nu));
}

}  // namespace

TEST(Diffraction, AberrationFreeSingletGivesTheAiryPatternAndItsMtf) {
    TOpticalSystem system = singlet();
    const TCollimatedBeam beam = filled(system);
    const TWavefrontMap map = wavefrontMap(system, beam, 55.0, 32);
    EXPECT_EQ(map.valid, map.disk);
    EXPECT_LT(map.pv, 1e-4);
    EXPECT_NEAR(map.referenceX, 0.0, 1e-12);

    const TPsf psf = pointSpread(system, beam, 55.0);
    ASSERT_EQ(psf.size, 256);
    const double N = psf.fNumbers[0];
    EXPECT_NEAR(psf.dx, kLambda * N * 64 / 256, 1e-15);
    EXPECT_NEAR(psf.strehl, 1.0, 1e-3);
    // Two Fresnel losses of ((n − 1)/(n + 1))² = 4 % each near the axis.
    EXPECT_NEAR(psf.power, psf.powers[0], 1e-12);
    EXPECT_NEAR(psf.power, 0.96 * 0.96, 2e-3);

    // The first dark ring along x and along y at 1.22·λ·N, within a sample.
    const int M = psf.size, c = M / 2;
    const auto firstZero = [&](int di, int dj) {
        for (int k = 1; k < c; ++k) {
            const auto at = [&](int s) { return psf.image[(c + dj * s) * M + c + di * s]; };
            if (at(k) < at(k - 1) && at(k) <= at(k + 1)) return k * psf.dx;
        }
        return 0.0;
    };
    EXPECT_NEAR(firstZero(1, 0), 1.22 * kLambda * N, psf.dx);
    EXPECT_NEAR(firstZero(0, -1), 1.22 * kLambda * N, psf.dx);
    // 83.8 % of the Airy pattern's energy lies inside the first dark ring.
    EXPECT_NEAR(encircledEnergy(psf, {1.2197 * kLambda * N})[0], 0.838, 0.01);

    const TMtf mtf = modulationTransfer(psf);
    EXPECT_NEAR(mtf.cutoff, 1.0 / (kLambda * N), 1e-9);
    ASSERT_EQ(mtf.frequency.size(), 65u);
    EXPECT_NEAR(mtf.frequency.back(), mtf.cutoff, 1e-9);
    for (std::size_t k = 0; k < mtf.frequency.size(); ++k) {
        const double expected = circularMtf(mtf.frequency[k] / mtf.cutoff);
        EXPECT_NEAR(mtf.tangential[k], expected, 0.005) << mtf.frequency[k];
        EXPECT_NEAR(mtf.sagittal[k], expected, 0.005) << mtf.frequency[k];
        EXPECT_NEAR(mtf.diffractionLimit[k], expected, 1e-12);
    }
}

TEST(Diffraction, AberrationsAgainstClosedForms) {
    // A quarter wave of defocus, W020 = δz·(1 − cos U′) with U′ the marginal
    // ray's angle to the axis, has the Strehl ratio (sin(π/4)/(π/4))².
    TOpticalSystem system = singlet();
    const TCollimatedBeam beam = filled(system);
    TRayBatch rim = rayBatch(system, beam, {{beam.pupilRadius, 0.0}});
    traceRays(system, rim);
    const double sinU = std::fabs(rim.last(0).kVector.unit().x);
    const double dz = 0.25 * kLambda / (1.0 - std::sqrt(1.0 - sinU * sinU));
    const double quarterWave = std::pow(std::sin(kPi / 4) / (kPi / 4), 2);
    EXPECT_NEAR(pointSpread(system, beam, 55.0 + dz).strehl, quarterWave, 0.01);
    EXPECT_NEAR(wavefrontMap(system, beam, 55.0 + dz).pv, 0.25, 0.01);

    // Spherical aberration W040·ρ⁴ from a fourth-order bump a·h⁴ on the flat
    // face: (n − 1)·a·h⁴ less glass on the way. W040·ρ⁴ = W040·(Z9/6 + Z4/2
    // + Z1/3) in Fringe terms.
    const double W040 = 1.0;
    auto* front = new TPolynomialSurface(0.0, complex(1.0, 0.0), 0.0);
    front->setCoefficients({0, 0, 0, 0, W040 * kLambda / (0.5 * std::pow(6.0, 4))});
    TOpticalSystem spherical = singlet(front);
    const TWavefrontMap map = wavefrontMap(spherical, filled(spherical), 55.0);
    EXPECT_NEAR(map.zernike[8], W040 / 6, 0.01 * W040 / 6);
    EXPECT_NEAR(map.zernike[3], W040 / 2, 0.01 * W040 / 2);
    EXPECT_NEAR(map.zernike[0], W040 / 3, 0.01 * W040 / 3);
    EXPECT_NEAR(map.pv, W040, 0.01);
    int n, m;
    fringeZernikeOrder(9, n, m);
    EXPECT_EQ(n * 10 + m, 40);
    EXPECT_DOUBLE_EQ(fringeZernike(9, 0.5, 0.3), 6 * 0.0625 - 6 * 0.25 + 1);
    EXPECT_NEAR(fringeZernike(37, 1.0, 0.0), 1.0, 1e-9);

    // Off the axis a spherical singlet shows coma: the PSF's centroid sits
    // where the spot's does, on the same side of the chief ray.
    TOpticalSystem biconvex(6.0);
    biconvex.addElement(new TSphericalLens(0.0, complex(1.0, 0.0), 0.0, 50.0));
    biconvex.addElement(new TSphericalLens(5.0, complex(1.5, 0.0), 0.0, -50.0));
    TCollimatedBeam tilted;
    tilted.wavelength = kLambda;
    tilted.fieldAngle = 2.0 * kPi / 180.0;
    tilted.pupilRadius = 3.0;
    tilted = resolveBeam(biconvex, tilted);
    const TSpotDiagram spot = spotDiagram(biconvex, tilted, squareGrid(3.0, 64), NAN);
    const TPsf coma = pointSpread(biconvex, tilted, NAN);
    double sx = 0.0, sy = 0.0;
    for (int j = 0; j < coma.size; ++j)
        for (int i = 0; i < coma.size; ++i) {
            sx += coma.image[j * coma.size + i] * (i - coma.size / 2) * coma.dx;
            sy += coma.image[j * coma.size + i] * (j - coma.size / 2) * coma.dx;
        }
    EXPECT_NEAR(sx / coma.power, spot.centroidX, 0.1 * std::fabs(spot.centroidX));
    EXPECT_NEAR(sy / coma.power, 0.0, 1e-9);
    EXPECT_LT(coma.strehl, 0.5);
    // Maréchal: S ≈ exp(−(2π·W_rms)²) for small aberrations, piston and tilt
    // removed (the hyperbolic singlet, aplanatic it is not, a little off the
    // axis), less what the grid loses where the peak falls between samples;
    // the RMS to the chief ray keeps coma's tilt and is larger.
    const TCollimatedBeam slight = filled(system, 0.15 * kPi / 180.0);
    const TWavefrontMap comatic = wavefrontMap(system, slight, 55.0);
    EXPECT_NEAR(pointSpread(system, slight, 55.0).strehl,
                std::exp(-std::pow(2 * kPi * comatic.rms, 2)), 0.04);
    EXPECT_GT(comatic.rmsToChief, 1.5 * comatic.rms);
}

TEST(Diffraction, PupilEnergyAndSampling) {
    // A back face of radius 5 that the rays beyond 5 from the axis miss: they
    // are outside the pupil, and the PSF holds the power of the rest.
    TOpticalSystem system(6.0);
    system.addElement(new TSlab(0.0, complex(1.0, 0.0)));
    system.addElement(new TSphericalLens(5.0, complex(1.5, 0.0), 0.0, -5.0));
    const TCollimatedBeam beam = filled(system);
    const TWavefrontMap map = wavefrontMap(system, beam, NAN, 32);
    ASSERT_LT(map.valid, map.disk);
    int outside = 0;
    double power = 0.0;
    for (int j = 0; j < 32; ++j)
        for (int i = 0; i < 32; ++i) {
            const double x = (i + 0.5 - 16) * map.pitch, y = (j + 0.5 - 16) * map.pitch;
            const std::size_t p = j * 32 + i;
            EXPECT_EQ(std::isnan(map.opd[p]), map.amplitude[p] == 0.0);
            if (x * x + y * y > 25.0) {
                EXPECT_TRUE(std::isnan(map.opd[p])) << x << ' ' << y;
            }
            outside += std::isnan(map.opd[p]) ? 1 : 0;
            power += map.amplitude[p] * map.amplitude[p];
        }
    EXPECT_EQ(outside, 32 * 32 - map.valid);
    TDiffractionSampling sampling;
    sampling.pupilSamples = 32;
    const TPsf clipped = pointSpread(system, beam, NAN, sampling);
    EXPECT_NEAR(clipped.power, power / map.disk, 1e-9);

    // Two wavelengths through a system without dispersion: both PSFs are
    // aberration free on one grid, so the polychromatic MTF is the weighted
    // diffraction limit, which reaches the shorter wavelength's cutoff.
    TOpticalSystem perfect = singlet();
    TCollimatedBeam red = filled(perfect);
    red.wavelength = 1.25 * kLambda;
    const TPsf both = pointSpread({{&perfect, filled(perfect), 1.0}, {&perfect, red, 3.0}}, 55.0);
    EXPECT_NEAR(both.weights[1], 0.75, 1e-15);
    EXPECT_NEAR(both.power, both.powers[0] * 0.25 + both.powers[1] * 0.75, 1e-9);
    EXPECT_NEAR(both.strehl, 1.0, 1e-3);
    const TMtf mtf = modulationTransfer(both);
    EXPECT_NEAR(mtf.cutoff, 1.0 / (kLambda * both.fNumbers[0]), 1e-9);
    for (std::size_t k = 0; k < mtf.frequency.size(); ++k) {
        const double nu = mtf.frequency[k] / mtf.cutoff;
        const double limit = 0.25 * circularMtf(nu) + 0.75 * circularMtf(1.25 * nu);
        EXPECT_NEAR(mtf.diffractionLimit[k], limit, 1e-3);
        EXPECT_NEAR(mtf.tangential[k], limit, 0.005);
    }
    // Ensquared energy holds at least what the inscribed circle holds, and
    // both reach the whole PSF.
    const std::vector<double> sizes{0.0, 2e-3, 5e-3, 1.0};
    const std::vector<double> circle = encircledEnergy(both, sizes), square = ensquaredEnergy(both, sizes);
    for (std::size_t k = 0; k < sizes.size(); ++k) EXPECT_GE(square[k], circle[k] - 1e-12);
    EXPECT_EQ(circle[0], 0.0);
    EXPECT_NEAR(circle[3], 1.0, 1e-12);
    EXPECT_NEAR(square[3], 1.0, 1e-12);

    // Bad sampling and bad weights are errors, not crashes.
    sampling.pupilSamples = 1;
    EXPECT_THROW(pointSpread(perfect, red, 55.0, sampling), xmsg);
    sampling.pupilSamples = 64;
    sampling.fftSize = 100;
    EXPECT_THROW(pointSpread(perfect, red, 55.0, sampling), xmsg);
    EXPECT_THROW(wavefrontMap(perfect, red, 55.0, 2000), xmsg);
    EXPECT_THROW(pointSpread({{&perfect, red, -1.0}}, 55.0), xmsg);
    EXPECT_THROW(encircledEnergy(both, {-1.0}), xmsg);
    int n, m;
    try {
        fringeZernikeOrder(38, n, m);
        ADD_FAILURE() << "Z38 is not a Fringe term";
    } catch (const xmsg& e) {
        EXPECT_NE(e.message().find("1 … 37"), std::string::npos);
    }
}

// A collimated Gaussian focused by the aberration-free singlet into a fibre
// whose mode it matches: all the power that gets through couples, an offset
// d leaves exp(−(d/w)²) of it, and the image-plane overlap agrees with the
// pupil's.
TEST(Diffraction, FibreCouplingOfAMatchedBeam) {
    TOpticalSystem system = singlet();
    const TCollimatedBeam beam = filled(system);
    const double f = std::fabs(paraxialData(system, beam).efl);
    const double W = beam.pupilRadius / 2.5;  // the pupil cuts 4e-6 of the beam
    const double w = kLambda * f / (kPi * W);
    const TBeamCoupling centred = beamCoupling(system, beam, w, NAN, 0.0, 0.0, NAN);
    EXPECT_NEAR(centred.matchedRadius, W, 1e-12 * W);
    EXPECT_NEAR(centred.modeMatch, 1.0, 1e-5);
    EXPECT_NEAR(centred.transmitted, 0.96 * 0.96, 2e-3);  // two uncoated faces
    EXPECT_NEAR(centred.imageEfficiency, centred.efficiency, 1e-6);
    for (double d : {0.5 * w, w, 1.5 * w}) {
        const TBeamCoupling moved = beamCoupling(system, beam, w, NAN, d, 0.0, NAN);
        EXPECT_NEAR(moved.efficiency / centred.efficiency, std::exp(-d * d / (w * w)), 3e-4) << d;
        EXPECT_NEAR(moved.imageEfficiency, moved.efficiency, 1e-6) << d;
    }
    // A beam half as wide as the mode's match couples (2·½/(1 + ¼))² = 0.64
    // of what gets through.
    const TBeamCoupling narrow = beamCoupling(system, beam, w, 0.5 * W, 0.0, 0.0, NAN);
    EXPECT_NEAR(narrow.modeMatch, 0.64, 1e-5);
    EXPECT_THROW(beamCoupling(system, beam, 0.0, NAN, 0.0, 0.0, NAN), xmsg);
    EXPECT_THROW(beamCoupling(system, beam, w, NAN, NAN, 0.0, NAN), xmsg);
}

namespace {

// Plano-convex lenses of index 1.5 whose convex face is the hyperboloid of
// conic −n² and vertex radius 25: parallel rays inside the glass meet at
// 50 from that vertex, without aberration. One lens faces the collimated
// beam with its flat side (EFL 50); two, the first turned round, relay the
// object point 50 in front of it 1:1 without aberration, 50 behind the
// second's convex vertex.
TPrescription perfectLens() {
    TPrescription p;
    p.addStandard(0.0, 0.0, TMaterial::fixedIndex(1.5));
    p.addStandard(5.0, -25.0, TMaterial::air(), -2.25);
    p.aperture = {TApertureKind::entrancePupilDiameter, 10.0};
    p.fields = {{0.0, 0.0, 1.0}, {0.1, 0.0, 1.0}};
    p.wavelengths = {{0.6, 1.0}, {0.5, 1.0}};
    return p;
}

TPrescription perfectRelay() {
    TPrescription p;
    p.objectDistance = 50.0;
    p.addStandard(0.0, 25.0, TMaterial::fixedIndex(1.5), -2.25);
    p.addStandard(5.0, 0.0, TMaterial::air());
    p.addStandard(10.0, 0.0, TMaterial::fixedIndex(1.5));
    p.addStandard(15.0, -25.0, TMaterial::air(), -2.25);
    p.stop = 1;
    p.aperture = {TApertureKind::objectNA, 0.1};
    p.fieldKind = TFieldKind::objectHeight;
    p.fields = {{0.0, 0.0, 1.0}, {0.05, 0.0, 1.0}};
    p.wavelengths = {{0.5, 1.0}};
    return p;
}

}  // namespace

TEST(Diffraction, PrescriptionsTakeTheirFieldsWavelengthsPupilAndImagePlane) {
    // Collimated at F/5: the working F-number sets the grid, the primary
    // (0.6 µm, listed first) the reference; 0.5 µm reaches the cutoff.
    const TPrescription lens = perfectLens();
    TDiffractionSampling sampling;
    sampling.pupilSamples = 32;
    const TPsf both = pointSpread(lens, 0, NAN, {}, sampling);
    ASSERT_EQ(both.wavelengths.size(), 2u);
    EXPECT_NEAR(both.wavelengths[0], 0.6e-3, 1e-15);
    EXPECT_NEAR(both.fNumbers[0], 5.0, 1e-9);
    EXPECT_NEAR(both.z, 55.0, 1e-9);
    EXPECT_NEAR(both.dx, 0.6e-3 * 5.0 * 32 / 128, 1e-15);
    EXPECT_NEAR(both.strehl, 1.0, 2e-3);
    EXPECT_NEAR(both.power, 0.96 * 0.96, 3e-3);  // the two faces' Fresnel losses
    const TMtf mtf = modulationTransfer(both);
    EXPECT_EQ(mtf.field, 0);
    EXPECT_NEAR(mtf.cutoff, 1.0 / (0.5e-3 * 5.0), 1e-6);
    for (std::size_t k = 0; k < mtf.frequency.size(); ++k) {
        const double nu = mtf.frequency[k] * 0.5e-3 * 5.0;
        const double limit = 0.5 * circularMtf(1.2 * nu) + 0.5 * circularMtf(nu);
        EXPECT_NEAR(mtf.tangential[k], limit, 0.006) << mtf.frequency[k];
    }
    // One wavelength asked for: monochromatic, the Airy pattern.
    const TPsf green = pointSpread(lens, 0, NAN, {{0.5, 1.0}});
    EXPECT_NEAR(encircledEnergy(green, {1.2197 * 0.5e-3 * 5.0})[0], 0.838, 0.01);

    // Off the axis the chief ray centres the grid at f·tan θ. A plane δ
    // behind the focus adds the defocus δ·(1 − cos U′) at the rim, U′ the
    // marginal ray's angle: from the hyperboloid's rim (h = 5, sag s) to the
    // focus 50 behind its vertex. Nearly all of it is Fringe Z4.
    const TPsf off = pointSpread(lens, 1, NAN, {{0.5, 1.0}}, sampling);
    EXPECT_EQ(off.field, 1);
    EXPECT_NEAR(off.centreX, 50.0 * std::tan(0.1 * kPi / 180.0), 1e-4);
    EXPECT_NEAR(off.fieldAngle, 0.1 * kPi / 180.0, 1e-12);
    const double delta = 0.1;
    const TWavefrontMap map = wavefrontMap(lens, 0, 55.0 + delta, 0.5);
    const double sag = (-25.0 / 25.0) / (1.0 + std::sqrt(1.0 + 1.25 * 25.0 / 625.0));
    const double sinU = 5.0 / std::hypot(5.0, 50.0 - sag);
    const double rim = delta * (1.0 - std::sqrt(1.0 - sinU * sinU)) / 0.5e-3;
    EXPECT_NEAR(map.pv, rim, 0.01 * rim);
    EXPECT_NEAR(std::fabs(map.zernike[3]), rim / 2, 0.02 * rim);
    EXPECT_NEAR(map.pupilRadius, 5.0, 1e-12);
    EXPECT_NEAR(map.pitch, 10.0 / 64, 1e-12);
    EXPECT_LT(wavefrontMap(lens, 0).pv, 1e-3);

    // From an object point, through the 1:1 relay at NA 0.1: the working
    // F-number 1/(2·u′) with u′ = tan(asin 0.1) on the image side, the Airy
    // pattern at 1.22·λ·F#, and the image of the point 0.05 off the axis at
    // −0.05, 50 behind the last vertex.
    const TPrescription relay = perfectRelay();
    const TPsf point = pointSpread(relay, 0);
    const double N = point.fNumbers[0];
    EXPECT_NEAR(N, 0.5 / std::tan(std::asin(0.1)), 1e-6);
    EXPECT_NEAR(point.z, 65.0, 1e-6);
    EXPECT_NEAR(point.dx, 0.5e-3 * N / 4, 1e-12);
    EXPECT_NEAR(point.strehl, 1.0, 2e-3);
    EXPECT_NEAR(encircledEnergy(point, {1.2197 * 0.5e-3 * N})[0], 0.838, 0.01);
    const TWavefrontMap onAxis = wavefrontMap(relay, 0);
    EXPECT_LT(onAxis.pv, 1e-3);
    EXPECT_EQ(onAxis.valid, onAxis.disk);
    EXPECT_NEAR(pointSpread(relay, 1).centreX, -0.05, 1e-5);

    try {
        pointSpread(lens, 2);
        ADD_FAILURE() << "a field the prescription does not have";
    } catch (const xmsg& e) {
        EXPECT_NE(e.message().find("no field 2"), std::string::npos) << e.message();
    }
}

TEST(Diffraction, FibreToItselfThroughAPerfectRelayCouplesFullyAndFallsWithOffset) {
    // The 1:1 relay at NA 0.3 images the source's waist onto the receiver's,
    // its angular spectrum with it (sin U′ = sin U by symmetry): η = 1, and
    // a receiver offset d sees the tilt exp(2πi·d·u′/λ), η = exp(−(d/w)²).
    TPrescription relay = perfectRelay();
    relay.aperture = {TApertureKind::objectNA, 0.3};
    relay.wavelengths = {{1.0, 1.0}};
    const double w = 0.005;
    const TFibreCoupling matched = fibreCoupling(relay, 0, w, w);
    EXPECT_NEAR(matched.modeMatch, 1.0, 1e-3);
    // All that is lost is what the four faces reflect, 4 % each near the axis.
    EXPECT_NEAR(matched.efficiency, std::pow(0.96, 4), 2e-3);
    for (double d : {0.002, 0.005, 0.008}) {
        const TFibreCoupling off = fibreCoupling(relay, 0, w, w, d, 0.0);
        EXPECT_NEAR(off.modeMatch, std::exp(-d * d / (w * w)), 1e-3) << d;
        EXPECT_NEAR(off.receiverX, d, 1e-9);
        // The image-plane route through the field's beams agrees.
        EXPECT_NEAR(off.imagePlaneEfficiency, off.efficiency, 3e-3) << d;
    }
    // A receiver of another size: the overlap of two Gaussians,
    // (2·w1·w2/(w1² + w2²))².
    const double w2 = 0.008;
    EXPECT_NEAR(fibreCoupling(relay, 0, w, w2).modeMatch, std::pow(2 * w * w2 / (w * w + w2 * w2), 2),
                1e-3);
    // At NA 0.1 the stop cuts the source's far field at 1.6 divergences:
    // exp(−2·(0.1/θ)²) of its power is lost before the receiver sees it.
    relay.aperture = {TApertureKind::objectNA, 0.1};
    const double theta = 1e-3 / (3.141592653589793 * w);
    EXPECT_NEAR(fibreCoupling(relay, 0, w, w).transmitted / matched.transmitted,
                1.0 - std::exp(-2.0 * std::pow(std::tan(std::asin(0.1)) / theta, 2)), 0.01);
    EXPECT_THROW(fibreCoupling(perfectLens(), 0, w, w), xmsg);
}
