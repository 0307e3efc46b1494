// SPDX-License-Identifier: Apache-2.0
// A tiny host: builds a system of plain elements, traces one beam through it
// and prints the nodes the beam gathered. Plain elements pass beams
// unchanged, so the beam keeps its one start node; a failure would arrive as
// an xmsg with the system's context in front.
#include <iostream>

#include "lumivex/lumivex.h"

int main() {
    using namespace lumivex;
    try {
        TOpticalSystem system(5.0);
        system.addElement(new TElement(10.0));
        system.addElement(new TElement(20.0));

        TBeam beam(5e-4);  // wavelength in the system's length unit (mm)
        beam.addNode(TBeamNode(TVector(0.0, 1.0, 0.0), TVector(0.0, 0.0, 1.0), 1.0,
                               TVector(1.0, 0.0, 0.0), 0.0));
        system.traceBeam(beam);

        std::cout << "elements: " << system.getSize() << ", default radius "
                  << system.defaultRadius << '\n';
        for (int i = 0; i < beam.getSize(); ++i) std::cout << "node " << i << ": " << beam[i] << '\n';
        std::cout << "description:\n" << system;
    } catch (const xmsg& e) {
        std::cerr << "lumivex: " << e.message() << '\n';
        return 1;
    }
    return 0;
}
