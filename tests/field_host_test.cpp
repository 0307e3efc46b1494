// SPDX-License-Identifier: Apache-2.0
// A host's round trip through the shared library and its public header only:
// a sampled field becomes beams, the beams cross a glass plate, and the traced
// fan becomes a field again.
#include <gtest/gtest.h>

#include <cmath>

#include "lumivex/lumivex.h"

using namespace lumivex;

TEST(FieldHost, FieldToFanThroughAPlateAndBack) {
    const int W = 101;
    const double dx = 2e-5, w = 15 * dx;
    const auto gaussian = [&](double x) { return std::exp(-(x * x) / (w * w)); };
    TMatrix field(W, 1);
    for (int c = 0; c < W; ++c) field.at(c, 0) = std::polar(gaussian((c - W / 2) * dx), 0.4);

    TBeamFan fan;
    fieldToBeamFan(field, dx, dx, W - 1, 1, 6.328e-7, fan);
    ASSERT_EQ(fan.getSize(), W - 1);

    // A plate of index 1.5 between z = 1 cm and 2 cm: axial beams keep their
    // places and pass 0.96 of their power at each face.
    TOpticalSystem system(1e-2);
    system.addElement(new TSlab(0.01, 1.0));
    system.addElement(new TSlab(0.02, 1.5));
    system.traceBeamFan(fan);
    ASSERT_EQ(fan[0]->getSize(), 3);

    TMatrix back(W, 1);
    beamFanToField(fan, dx, dx, (W - 2) * dx, 0, &back);
    for (int c = 0; c < W; ++c) {
        const double x = (c - W / 2) * dx;
        EXPECT_NEAR(std::norm(back.at(c, 0)), 0.96 * 0.96 * gaussian(x) * gaussian(x), 1e-9)
            << "x = " << x;
    }

    // The library's exception reaches the host as the same type.
    TBeamFan lone;
    lone.addBeam(new TBeam(6.328e-7));
    try {
        beamFanToField(lone, dx, dx, 1.0, 0, &back);
        FAIL() << "a fan of one beam was accepted";
    } catch (const xmsg& e) {
        EXPECT_EQ(e.message(), "beamFanToField: the fan needs at least 2 beams, it has 1");
    }
}
