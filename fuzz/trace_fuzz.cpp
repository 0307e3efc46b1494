// SPDX-License-Identifier: Apache-2.0
// Random rays through random systems of every element kind: a trace either
// appends finite nodes that keep the physical laws of a beam (unit
// directions, no power gained, no optical path run backwards) or ends in an
// xmsg with the optical system's context; outlines and the description round
// trip hold up too.
#include <sstream>
#include <string>

#include "fuzz/fuzz_common.h"

using namespace lumivex;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* bytes, size_t size) {
    FuzzedDataProvider data(bytes, size);
    TOpticalSystem system(fuzz::number(data, 0.1, 20.0));
    const int elements = data.ConsumeIntegralInRange(1, 4);
    double z = fuzz::number(data, 0.0, 5.0);
    for (int i = 0; i < elements; ++i) {
        bool isRod = false;
        std::unique_ptr<TElement> element = fuzz::element(data, z, isRod);
        if (element) {
            system.addElement(element.get());
            element.release();
        }
        z += fuzz::number(data, 0.0, 3.0);
    }

    const int rays = data.ConsumeIntegralInRange(1, 4);
    TBeamFan fan;
    for (int r = 0; r < rays; ++r) {
        auto beam = std::make_unique<TBeam>(fuzz::number(data, 1e-4, 1e-3));
        beam->addNode(fuzz::startNode(data));
        fan.addBeam(beam.get());
        beam.release();
    }
    for (int r = 0; r < fan.getSize(); ++r) {
        TBeam& beam = *fan[r];
        try {
            system.traceBeam(beam);
            fuzz::checkNodes(beam, 1);
        } catch (const xmsg& e) {
            if (e.message().rfind("TOpticalSystem::traceBeam: \n", 0) != 0)
                fuzz::fail("a trace failed without the optical system's context");
        }
    }

    for (int i = 0; i < system.getSize(); ++i) {
        TPolygon outline;
        try {
            system[i]->getPolygon(outline, i % 2 == 0, system[i]->getRadius());
        } catch (const xmsg&) {
        }
    }

    // Writing and reading back keeps the records; elements of the kinds
    // without a record leave empty lines, which the reader passes over.
    std::ostringstream first;
    first << system;
    std::string records;
    std::istringstream lines(first.str());
    for (std::string line; std::getline(lines, line);)
        if (!line.empty()) records += line + '\n';
    TOpticalSystem again(1.0);
    std::istringstream in(first.str());
    in >> again;
    std::ostringstream second;
    second << again;
    if (second.str() != records) fuzz::fail("a written description reads back differently");
    return 0;
}
