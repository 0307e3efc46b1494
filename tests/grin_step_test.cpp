// SPDX-License-Identifier: Apache-2.0
// A rod of exactly the TGrinRod class integrates without virtual calls, with
// its ray equation's factor worked out once per step; a class derived from it
// takes the virtual road. Both must give the same nodes to the last bit.
#include <gtest/gtest.h>

#include <cmath>

#include "lumivex/grin.h"
#include "lumivex/surfaces.h"
#include "lumivex/system.h"

using namespace lumivex;

namespace {

// Changes nothing, but is not a TGrinRod by type.
class DerivedRod : public TGrinRod {
public:
    DerivedRod(double z, double n0, double g, double h4, double h6)
        : TElement(z), TGrinRod(z, n0, g, h4, h6) {}
};

void expectSameBits(const TBeamNode& a, const TBeamNode& b, int index) {
    EXPECT_EQ(a.position, b.position) << index;
    EXPECT_EQ(a.kVector, b.kVector) << index;
    EXPECT_EQ(a.polarization, b.polarization) << index;
    EXPECT_EQ(a.intensity, b.intensity) << index;
    EXPECT_EQ(a.opticalPath, b.opticalPath) << index;
}

}  // namespace

TEST(GrinStep, ExactRodAndDerivedRodTraceTheSameBits) {
    // Profiles with and without the fourth- and sixth-order terms, skew and
    // meridional rays, some of which leave the profile's domain.
    const double profiles[][4] = {
        {1.6, 0.2, 0.0, 0.0}, {1.5, 0.35, -0.4, 0.1}, {1.8, 0.1, 0.3, -0.2}};
    int traced = 0;
    for (const auto& pr : profiles) {
        for (int i = 0; i < 12; ++i) {
            TOpticalSystem exact(3.0), derived(3.0);
            exact.addElement(new TSlab(0.0, complex(1.0, 0.0)));
            exact.addElement(new TGrinRod(6.0, pr[0], pr[1], pr[2], pr[3]));
            derived.addElement(new TSlab(0.0, complex(1.0, 0.0)));
            derived.addElement(new DerivedRod(6.0, pr[0], pr[1], pr[2], pr[3]));
            const double t = 0.7 * i;
            const TBeamNode start(TVector(0.3 * i * std::cos(t), 0.2 * i * std::sin(t), -1.0),
                                  TVector(0.02 * std::sin(t), -0.03, 1.0).unit(), 1.0,
                                  TVector(1, 0, 0), 0.0);
            TBeam a(5e-4), b(5e-4);
            a.addNode(start);
            b.addNode(start);
            std::string errorA, errorB;
            try {
                exact.traceBeam(a);
            } catch (const xmsg& e) {
                errorA = e.message();
            }
            try {
                derived.traceBeam(b);
            } catch (const xmsg& e) {
                errorB = e.message();
            }
            EXPECT_EQ(errorA, errorB);
            ASSERT_EQ(a.getSize(), b.getSize());
            for (int k = 0; k < a.getSize(); ++k) expectSameBits(a[k], b[k], k);
            if (errorA.empty()) ++traced;
        }
    }
    EXPECT_GT(traced, 20);
}
