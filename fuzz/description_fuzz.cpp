// SPDX-License-Identifier: Apache-2.0
// Any text through the description reader: it reads what it can, and what it
// read writes out and reads back to the same text. Systems of tame size are
// also drawn and traced, and every beam that does not fail keeps the physical
// laws: the reader refuses a medium of index 0 or less that is written out,
// and the 0 a record cut short leaves passes no power.
#include <cmath>
#include <sstream>
#include <string>

#include "fuzz/fuzz_common.h"

using namespace lumivex;

namespace {

// Few elements, near the origin, and rods whose rays stay bounded and take
// thousands of integration steps rather than millions.
bool tame(const TOpticalSystem& system) {
    if (system.getSize() > 6) return false;
    for (int i = 0; i < system.getSize(); ++i) {
        const TElement& e = *system[i];
        if (!(std::fabs(e.zPosition) <= 20.0)) return false;
        if (const auto* rod = dynamic_cast<const TGrinRod*>(&e)) {
            if (!(std::fabs(rod->g) <= 1.0 && rod->n0 >= 0.5 && rod->n0 <= 4.0 && rod->h4 <= 0.0 &&
                  rod->h6 <= 0.0 && rod->h4 >= -10.0 && rod->h6 >= -10.0))
                return false;
        }
    }
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* bytes, size_t size) {
    const std::string text(reinterpret_cast<const char*>(bytes), size);
    TOpticalSystem system(1.0);
    try {
        std::istringstream is(text);
        is >> system;
    } catch (const xmsg&) {
        return 0;
    }

    std::ostringstream first;
    first << system;
    TOpticalSystem again(1.0);
    std::istringstream in(first.str());
    in >> again;
    if (again.getSize() != system.getSize())
        fuzz::fail("a written description reads back to a different number of elements");
    std::ostringstream second;
    second << again;
    if (second.str() != first.str()) fuzz::fail("a written description reads back differently");

    if (!tame(system)) return 0;
    for (int i = 0; i < system.getSize(); ++i) {
        TPolygon outline;
        try {
            system[i]->getPolygon(outline, false, system[i]->getRadius());
        } catch (const xmsg&) {
        }
    }
    const TBeamNode starts[] = {
        TBeamNode(TVector(0, 0, -25), TVector(0, 0, 1), 1.0, TVector(1, 0, 0), 0.0),
        TBeamNode(TVector(0.5, -0.3, -25), TVector(0, 0, 1), 1.0, TVector(0, 1, 0), 0.0),
        TBeamNode(TVector(0, 0.2, -25), TVector(0.01, 0.02, 1).unit(), 1.0, TVector(1, 0, 0), 0.0)};
    for (const TBeamNode& start : starts) {
        TBeam beam(5e-4);
        beam.addNode(start);
        try {
            system.traceBeam(beam);
            fuzz::checkNodes(beam, 1);
        } catch (const xmsg& e) {
            if (e.message().rfind("TOpticalSystem::traceBeam: \n", 0) != 0)
                fuzz::fail("a trace failed without the optical system's context");
        }
    }
    return 0;
}
