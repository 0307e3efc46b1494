// SPDX-License-Identifier: Apache-2.0
// A host's view of the library: the shared library through the umbrella
// header alone. The exception a host catches must be the one the library
// throws, across the library boundary.
#include <gtest/gtest.h>

#include <sstream>

#include "lumivex/lumivex.h"

using namespace lumivex;

TEST(PublicApi, TracesAPlainSystemAndWritesIt) {
    TOpticalSystem system(5.0);
    system.addElement(new TElement(10.0));
    TBeam beam(5e-4);
    beam.addNode(TBeamNode(TVector(0, 1, 0), TVector(0, 0, 1), 1.0, TVector(1, 0, 0), 0.0));
    system.traceBeam(beam);
    EXPECT_EQ(beam.getSize(), 1);
    std::ostringstream os;
    os << system;
    EXPECT_EQ(os.str(), "OpticalSystem\n5\n\n");
}

TEST(PublicApi, LibraryExceptionsAreCaughtAsXmsg) {
    TBeam beam(1.0);
    try {
        beam[0];
        FAIL() << "no throw";
    } catch (const xmsg& e) {
        EXPECT_EQ(e.message(), "TBeam access violation!");
    }
    TMathErrorRecord record{1, "sqrt", -1, 0, 0};
    EXPECT_THROW(mathErrorHook(record), xmsg);
}
