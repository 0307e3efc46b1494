// SPDX-License-Identifier: Apache-2.0
// Random rays through random systems of every element kind, steep faces and
// rays sent backwards among them: a trace may fail, but a beam that traced
// keeps the physical laws of tests/beam_invariants.h at every node.
#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "lumivex/field.h"
#include "lumivex/grin.h"
#include "lumivex/surfaces.h"
#include "lumivex/system.h"
#include "tests/beam_invariants.h"

using namespace lumivex;

namespace {

constexpr int kKinds = 12;

class Random {
public:
    explicit Random(unsigned long long seed) : engine(seed) {}
    double uniform(double low, double high) {
        return std::uniform_real_distribution<double>(low, high)(engine);
    }
    // low … high in size, either sign.
    double signedMagnitude(double low, double high) {
        return (uniform(0, 1) < 0.5 ? -1.0 : 1.0) * uniform(low, high);
    }
    bool chance(double p) { return uniform(0, 1) < p; }

private:
    std::mt19937_64 engine;
};

TMatrix* randomTable(Random& random, int columns, int rows, double height) {
    auto table = std::make_unique<TMatrix>(columns, rows);
    for (std::size_t i = 0; i < table->size(); ++i)
        table->data[i] = complex(random.uniform(-height, height), 0.0);
    return table.release();
}

// Curvatures and slopes reach well past 45° inside the apertures the rays
// fill, so faces are met steeply and from their backs.
TElement* randomElement(Random& random, int kind, double z) {
    const complex n(random.uniform(1.0, 2.0), 0.0);
    switch (kind) {
        case 0:
            return new TSlab(z, n);
        case 1:
            return new TLens(z, n, 0.0, random.uniform(1.3, 1.8), random.signedMagnitude(3, 60));
        case 2:
            return new TGeneralLens(z, n, 0.0, random.signedMagnitude(2.5, 50),
                                    random.uniform(-3, 1));
        case 3:
            return new TSphericalLens(z, n, 0.0, random.signedMagnitude(2.5, 50));
        case 4:
            return new TEllipticalLens(z, n, 0.0, random.signedMagnitude(3, 30),
                                       random.uniform(3, 30));
        case 5:
            return new THyperbolicLens(z, n, 0.0, random.signedMagnitude(3, 30),
                                       random.uniform(3, 30));
        case 6:
            return new TFresnelLens(z, n, random.uniform(0.1, 1.0), random.uniform(1.2, 2.0),
                                    random.signedMagnitude(5, 100));
        case 7: {
            auto s = new TPolynomialSurface(z, n, 0.0);
            s->setCoefficients(
                {0.0, 0.0, random.uniform(-0.2, 0.2), 0.0, random.uniform(-0.005, 0.005)});
            return s;
        }
        case 8: {
            auto s = new TPolynomialXYSurface(z, n, 0.0, 3, 3);
            for (int i = 0; i < 3; ++i)
                for (int j = 0; j < 3; ++j)
                    if (i + j > 0) s->setCoefficient(i, j, random.uniform(-0.3, 0.3));
            s->setCoefficient(1, 0, random.uniform(-2.0, 2.0));  // a tilt up to 63°
            return s;
        }
        case 9:
            return new TMatrixSurface(z, n, 0.5, 0.5, randomTable(random, 13, 13, 0.5));
        case 10:
            return new TMatrixLens(z, n, random.signedMagnitude(8, 50), random.uniform(-2, 0.5),
                                   0.0, 33, 33, 0.25, 0.25);
        default:
            return new TGrinRod(z, random.uniform(1.4, 1.8), random.uniform(0.05, 0.4),
                                random.chance(0.5) ? 0.0 : random.uniform(-0.5, 0.0), 0.0);
    }
}

TBeamNode randomStart(Random& random, bool& backward) {
    const TVector position(random.uniform(-3, 3), random.uniform(-3, 3), -5.0);
    const double choice = random.uniform(0, 1);
    backward = choice < 0.15;
    TVector k(0, 0, 1);
    if (choice < 0.9) {
        // Up to 1.5 rad off the axis; towards −z for the backward ones.
        const double tilt = random.uniform(0, choice < 0.4 ? 1.5 : 0.5);
        const double turn = random.uniform(0, 6.283185307179586);
        k = TVector(std::sin(tilt) * std::cos(turn), std::sin(tilt) * std::sin(turn),
                    (backward ? -1.0 : 1.0) * std::cos(tilt));
    }
    const TVector E(random.uniform(-1, 1), random.uniform(-1, 1), random.uniform(-1, 1));
    return TBeamNode(position, k, random.uniform(0.1, 2.0), E, random.uniform(-10, 10));
}

}  // namespace

TEST(Invariants, TracedBeamsKeepThePhysicalLawsThroughRandomSystemsOfEveryKind) {
    Random random(20240611);
    int traced = 0, failed = 0, backwardRays = 0, backwardTraced = 0;
    std::vector<int> tracedThroughKind(kKinds, 0);
    for (int s = 0; s < 300; ++s) {
        TOpticalSystem system(random.uniform(3, 10));
        std::vector<int> kinds;
        double z = 0.0;
        const int elements = 1 + static_cast<int>(random.uniform(0, 4));
        for (int e = 0; e < elements; ++e) {
            // Every kind comes first in some systems, where backward rays meet it.
            const int kind = e == 0 ? s % kKinds : static_cast<int>(random.uniform(0, kKinds));
            system.addElement(randomElement(random, kind, z));
            kinds.push_back(kind);
            z += random.uniform(1.0, 3.0);
        }
        for (int r = 0; r < 12; ++r) {
            bool backward = false;
            TBeam beam(random.uniform(4e-4, 7e-4));
            beam.addNode(randomStart(random, backward));
            backwardRays += backward;
            try {
                system.traceBeam(beam);
            } catch (const xmsg&) {
                ++failed;
                continue;
            }
            ++traced;
            backwardTraced += backward;
            for (int kind : kinds) ++tracedThroughKind[static_cast<std::size_t>(kind)];
            const std::string broken = invariants::violation(beam);
            ASSERT_TRUE(broken.empty()) << "system " << s << ", ray " << r << ": " << broken;
        }
    }
    EXPECT_GT(traced, 1000);
    EXPECT_GT(failed, 300);
    EXPECT_GT(backwardRays, 400);
    // Only a rod in front can take a backward ray: its integration runs along z.
    EXPECT_LT(backwardTraced, backwardRays / 4);
    for (int kind = 0; kind < kKinds; ++kind)
        EXPECT_GT(tracedThroughKind[static_cast<std::size_t>(kind)], 20) << "kind " << kind;
}
