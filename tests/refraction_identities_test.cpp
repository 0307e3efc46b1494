// SPDX-License-Identifier: Apache-2.0
// The surface trace evaluates the Fresnel transmittance and the turn of the
// polarization from the cosines of the angles instead of the angles. Here the
// textbook evaluation, with every arccosine, sine and cosine, is kept beside
// it, and random rays through every surface kind must come out of both the
// same: within 1e-12 relative, failing in the same cases, and with the same
// message when they fail.
#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "lumivex/surfaces.h"
#include "lumivex/system.h"
#include "numeric/checked_math.h"

using namespace lumivex;

namespace {

constexpr double kPi = 3.141592653589793;

// The index behind the surface, as the following element reports it.
class Medium : public TElement {
public:
    explicit Medium(double n) : TElement(0.0), index(n) {}
    complex getRefIndex(const TVector&, double) const override { return {index, 0.0}; }
    double index;
};

// A plane whose normal may point anywhere, for incidence at any angle.
class TiltedPlane : public TSlab {
public:
    TiltedPlane() : TElement(0.0), TSlab(0.0, 1.0) {}
    TVector getSurfaceNormal(const TVector&) const override { return N; }
    TVector N{0.0, 0.0, 1.0};
};

// The surface trace as the formulas read: θ1 = acos(N·k), θ2 = acos(N·K),
// φ = π/2 − acos(A·Ê), the sines and cosines of their sums, differences and
// doubles, and the rotation by acos(k·K), for rays that meet the surface from
// its front; a ray from behind has no refraction.
void traceByAngles(TSurface& surface, TBeam& beam, const TElement& next) {
    const TBeamNode L = beam.getLast();
    const TVector& k = L.kVector;
    const TVector& E = L.polarization;
    TVector P, N, K;
    double T = 0.0;
    TVector polarization;
    try {
        P = surface.findSurfaceIntersection(L);
        const double n1 = surface.getRefIndex(P, 0.0).real();
        const double n2 = next.getRefIndex(P, 0.0).real();
        N = surface.getSurfaceNormal(P);
        if (!(N.dot(k) > 0.0)) throw xmsg("from behind");
        const double r = n1 / n2;
        const double cosI = N.dot(k);
        const double cosT = math::sqrt(1.0 - r * r * (1.0 - cosI * cosI));
        const double g = r * cosI - cosT;
        K = (k * r - N * g).unit();

        const double theta1 = math::acosUnit(cosI);
        const double theta2 = math::acosUnit(N.dot(K));
        TVector A = K.cross(k);
        const double lengthA = A.length();
        if (lengthA > 0.0) A = A.unit();
        const double phi = kPi / 2.0 - math::acosUnit(A.dot(E.unit()));
        if (theta1 + theta2 < 1e-4) {
            const double m = n2 / n1;
            T = 4.0 * m / ((m + 1.0) * (m + 1.0));
        } else {
            const double cosPhi = math::cos(phi);
            const double sinPhi = math::sin(phi);
            const double sin2Theta1 = math::sin(2.0 * theta1);
            const double sin2Theta2 = math::sin(2.0 * theta2);
            const double sinSum = math::sin(theta1 + theta2);
            const double cosDifference = math::cos(theta1 - theta2);
            const double p = sinSum * cosDifference;
            T = cosPhi * cosPhi * sin2Theta1 * sin2Theta2 / (p * p) +
                sinPhi * sinPhi * sin2Theta1 * sin2Theta2 / (sinSum * sinSum);
        }
        polarization = E;
        if (lengthA > 0.0) {
            const double d = k.dot(K);
            const double alpha = std::fabs(d) < 1.0 ? math::acosUnit(d) : 0.0;
            polarization = rotateAboutAxis(E.x, E.y, E.z, A.x, A.y, A.z, alpha);
        }
        const double rho = math::sqrt(P.x * P.x + P.y * P.y);
        if (rho > surface.optRadius) surface.optRadius = rho;
    } catch (const xmsg&) {
        beam.addNode(TBeamNode(P, TVector(), 0.0, TVector(), 0.0));
        std::ostringstream os;
        os << "Could not compute new k-Vector!\n"
           << '(' << k << ',' << K << ',' << N << ")\n"
           << k.dot(K) << ',' << N.dot(k) << ',' << N.dot(K) << '\n';
        throw xmsg(os.str());
    }
    const double opticalPath = L.opticalPath + 2.0 * kPi * surface.refIndex.real() *
                                                   (P - L.position).length() / beam.wavelength;
    beam.addNode(TBeamNode(P, K, L.intensity * T, polarization.unit(), opticalPath));
}

bool closeRelative(double a, double b, double tolerance) {
    if (a == b) return true;
    return std::fabs(a - b) <= tolerance * std::fabs(b);
}

bool closeVector(const TVector& a, const TVector& b, double tolerance) {
    return (a - b).length() <= tolerance * (b.length() > 1.0 ? b.length() : 1.0);
}

struct Tally {
    int traced = 0, failed = 0, normal = 0, backward = 0;
};

// Traces `count` random rays through `surface` both ways and compares.
void compareOnRandomRays(TSurface& surface, double aperture, std::mt19937_64& random, Tally& tally,
                         int count = 4000) {
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    std::uniform_real_distribution<double> symmetric(-1.0, 1.0);
    for (int i = 0; i < count; ++i) {
        const double choice = unit(random);
        const double radius = aperture * std::sqrt(unit(random));
        const double angle = 2.0 * kPi * unit(random);
        TVector start(radius * std::cos(angle), radius * std::sin(angle), -5.0);
        TVector k(0.0, 0.0, 1.0);
        if (choice < 0.1) {
            // along the axis: normal incidence on planes and at vertices
        } else if (choice < 0.2) {
            k = TVector(0.3 * symmetric(random), 0.3 * symmetric(random), -1.0).unit();
            start.z = 5.0;
            ++tally.backward;
        } else {
            const double tilt = 0.9 * unit(random);
            const double turn = 2.0 * kPi * unit(random);
            k = TVector(std::sin(tilt) * std::cos(turn), std::sin(tilt) * std::sin(turn),
                        std::cos(tilt));
            if (choice > 0.95) k = k * (1.0 + 0.2 * unit(random));  // a host's sloppy vector
        }
        TVector E(symmetric(random), symmetric(random), symmetric(random));
        if (unit(random) < 0.05) E = TVector();
        const double n1 = 1.0 + unit(random);
        const double n2 = unit(random) < 0.1 ? n1 : 1.0 + unit(random);
        surface.refIndex = complex(n1, 0.0);
        const Medium next(n2);

        const TBeamNode first(start, k, 0.7, E, 1.5);
        TBeam fast(5e-4), literal(5e-4);
        fast.addNode(first);
        literal.addNode(first);
        std::string fastError, literalError;
        try {
            surface.traceBeam(fast, next);
        } catch (const xmsg& e) {
            fastError = e.message();
        }
        try {
            traceByAngles(surface, literal, next);
        } catch (const xmsg& e) {
            literalError = e.message();
        }
        ASSERT_EQ(fastError, literalError) << "ray " << first << " n1 " << n1 << " n2 " << n2;
        ASSERT_EQ(fast.getSize(), literal.getSize());
        const TBeamNode a = fast.getLast(), b = literal.getLast();
        const std::string where = [&] {
            std::ostringstream os;
            os.precision(17);
            os << "ray " << first << " n1 " << n1 << " n2 " << n2 << "\nfast    " << a
               << "\nliteral " << b;
            return os.str();
        }();
        EXPECT_EQ(a.position, b.position) << where;
        EXPECT_EQ(a.kVector, b.kVector) << where;
        EXPECT_EQ(a.opticalPath, b.opticalPath) << where;
        EXPECT_TRUE(closeRelative(a.intensity, b.intensity, 1e-12)) << where;
        EXPECT_TRUE(closeVector(a.polarization, b.polarization, 1e-12)) << where;
        if (fastError.empty()) {
            ++tally.traced;
            const TVector N = surface.getSurfaceNormal(a.position);
            const double theta1 = std::acos(std::fmin(1.0, N.dot(k)));
            const double theta2 = std::acos(std::fmin(1.0, N.dot(a.kVector)));
            if (theta1 + theta2 < 1e-4) ++tally.normal;
        } else {
            ++tally.failed;
        }
    }
}

TMatrix* randomTable(std::mt19937_64& random, int columns, int rows) {
    std::uniform_real_distribution<double> height(-0.3, 0.3);
    auto table = std::make_unique<TMatrix>(columns, rows);
    for (std::size_t i = 0; i < table->size(); ++i) table->data[i] = complex(height(random), 0.0);
    return table.release();
}

}  // namespace

TEST(RefractionIdentities, AgreeWithTheAnglesOnEverySurfaceKind) {
    std::mt19937_64 random(20240607);
    Tally tally;

    TSlab slab(0.0, 1.0);
    compareOnRandomRays(slab, 10.0, random, tally);

    TiltedPlane tilted;
    std::uniform_real_distribution<double> symmetric(-1.0, 1.0);
    for (int i = 0; i < 40; ++i) {
        tilted.N =
            TVector(symmetric(random), symmetric(random), 0.05 + std::fabs(symmetric(random)))
                .unit();
        compareOnRandomRays(tilted, 10.0, random, tally, 200);
    }

    TPolynomialSurface polynomial(0.0, 1.0, 0.0);
    polynomial.setCoefficients({0.1, 0.0, 0.01, 0.0, -2e-5});
    compareOnRandomRays(polynomial, 10.0, random, tally);

    TPolynomialXYSurface polynomialXY(0.0, 1.0, 0.0, 3, 3);
    polynomialXY.setCoefficient(2, 0, 0.02);
    polynomialXY.setCoefficient(0, 2, -0.01);
    polynomialXY.setCoefficient(1, 1, 0.005);
    polynomialXY.setCoefficient(1, 0, 0.1);
    compareOnRandomRays(polynomialXY, 8.0, random, tally);

    TSphericalLens convex(0.0, 1.0, 0.0, 20.0), concave(0.0, 1.0, 0.0, -20.0);
    compareOnRandomRays(convex, 12.0, random, tally);
    compareOnRandomRays(concave, 12.0, random, tally);

    TEllipticalLens ellipse(0.0, 1.0, 0.0, 10.0, 15.0);
    compareOnRandomRays(ellipse, 10.0, random, tally);
    THyperbolicLens hyperbola(0.0, 1.0, 0.0, 10.0, 8.0);
    compareOnRandomRays(hyperbola, 10.0, random, tally);

    TFresnelLens fresnel(0.0, 1.5, 0.3, 1.5, 50.0);
    compareOnRandomRays(fresnel, 10.0, random, tally);

    TGeneralLens conic(0.0, 1.0, 0.0, 30.0, -2.0);
    compareOnRandomRays(conic, 10.0, random, tally);
    TLens lens(0.0, 1.0, 0.0, 1.5, -60.0);
    compareOnRandomRays(lens, 10.0, random, tally);

    TMatrixSurface table(0.0, 1.0, 1.0, 1.0, randomTable(random, 21, 21));
    compareOnRandomRays(table, 9.0, random, tally);
    TMatrixLens sampled(0.0, 1.0, 40.0, -0.5, 0.0, 51, 51, 0.5, 0.5);
    compareOnRandomRays(sampled, 11.0, random, tally);

    // Every branch was taken: general incidence, normal incidence, failures
    // (total internal reflection, searches that do not converge, sloppy
    // direction vectors) and rays met going backwards, which fail.
    EXPECT_GT(tally.traced, 20000);
    EXPECT_GT(tally.normal, 300);
    EXPECT_GT(tally.failed, 2000);
    EXPECT_GT(tally.backward, 4000);
}

TEST(RefractionIdentities, GrazingAndCriticalIncidenceKeepTheirDigits) {
    // Incidence within a hair of 90 degrees, and exits within a hair of the
    // critical angle. There the textbook form takes the sine of 2θ next to π,
    // which costs it the relative accuracy of a transmittance near 0 (its
    // error stays below 1e-15 absolute), while the cosines keep every digit.
    // The reference is the Fresnel transmittance written with the cosines of
    // incidence and refraction, in long double, for a pure s or p field.
    TSlab slab(0.0, 1.0);
    const Medium glass(1.5), air(1.0);
    const double critical = std::asin(1.0 / 1.5);
    for (double offset : {1e-3, 1e-6, 1e-9, 1e-12, 0.0, -1e-12, -1e-9}) {
        for (int s = 0; s < 2; ++s) {
            const bool fromGlass = s == 1;
            const double n1 = fromGlass ? 1.5 : 1.0, n2 = fromGlass ? 1.0 : 1.5;
            const double angle = fromGlass ? critical - offset : kPi / 2 - 1e-3 + offset;
            for (bool sField : {true, false}) {
                slab.refIndex = complex(n1, 0.0);
                const TVector k(std::sin(angle), 0.0, std::cos(angle));
                const TVector E = sField ? TVector(0, 1, 0) : TVector(k.z, 0.0, -k.x);
                const TBeamNode first(TVector(0, 0, -1), k, 1.0, E, 0.0);
                TBeam fast(5e-4), literal(5e-4);
                fast.addNode(first);
                literal.addNode(first);
                std::string fastError, literalError;
                try {
                    slab.traceBeam(fast, fromGlass ? air : glass);
                } catch (const xmsg& e) {
                    fastError = e.message();
                }
                try {
                    traceByAngles(slab, literal, fromGlass ? air : glass);
                } catch (const xmsg& e) {
                    literalError = e.message();
                }
                ASSERT_EQ(fastError, literalError) << angle;
                if (!fastError.empty()) continue;
                const double T = fast.getLast().intensity;
                const double textbook = literal.getLast().intensity;
                EXPECT_LE(std::fabs(T - textbook), 1e-12 * textbook + 1e-15) << angle;

                const long double c1 = k.z, c2 = fast.getLast().kVector.z;
                const long double reference =
                    sField ? 4.0L * n1 * n2 * c1 * c2 / ((n1 * c1 + n2 * c2) * (n1 * c1 + n2 * c2))
                           : 4.0L * n1 * n2 * c1 * c2 / ((n2 * c1 + n1 * c2) * (n2 * c1 + n1 * c2));
                EXPECT_LE(std::fabs(T - reference), 1e-12L * reference)
                    << angle << (sField ? " s: " : " p: ") << T << " vs " << reference;
                EXPECT_TRUE(
                    closeVector(fast.getLast().polarization, literal.getLast().polarization, 1e-12))
                    << angle;
            }
        }
    }
}
