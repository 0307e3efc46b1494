// SPDX-License-Identifier: Apache-2.0
#include <gtest/gtest.h>

#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "lumivex/system.h"

using namespace lumivex;

namespace {

// Records every call it gets, with the successor it was handed, and appends
// one node per trace so the beam shows the order too.
struct Call {
    const TElement* self;
    const TElement* next;
    double nextIndex;
};

class RecordingElement : public TElement {
public:
    RecordingElement(double z, std::vector<Call>& log, double index = 1.0)
        : TElement(z), calls(log), n(index) {}
    void traceBeam(TBeam& beam, const TElement& next) override {
        calls.push_back({this, &next, next.getRefIndex(TVector(), 0.0).real()});
        TBeamNode node = beam.getLast();
        node.position.z = zPosition;
        beam.addNode(node);
    }
    complex getRefIndex(const TVector&, double) const override { return {n, 0.0}; }

private:
    std::vector<Call>& calls;
    double n;
};

class ThrowingElement : public TElement {
public:
    using TElement::TElement;
    void traceBeam(TBeam& beam, const TElement&) override {
        beam.addNode(TBeamNode());  // what it appended before failing stays
        throw xmsg("element failed\nsecond line");
    }
};

TBeam startBeam() {
    TBeam beam(1.0);
    beam.addNode(TBeamNode(TVector(0, 0, 0), TVector(0, 0, 1), 1.0, TVector(1, 0, 0), 0.0));
    return beam;
}

}  // namespace

TEST(Element, PlainElementPassesBeamsAndStandsForIndexOne) {
    TElement e(2.5);
    EXPECT_EQ(e.zPosition, 2.5);
    EXPECT_EQ(e.radius, 0.0);
    EXPECT_EQ(e.optRadius, 0.0);
    EXPECT_EQ(e.getRadius(), 0.0);
    e.radius = 3;
    EXPECT_EQ(e.getRadius(), 3.0);
    e.optRadius = 1.2;
    EXPECT_EQ(e.getRadius(), 1.2);
    e.optRadius = std::nan("");
    EXPECT_EQ(e.getRadius(), 3.0);

    TBeam beam = startBeam();
    e.traceBeam(beam, TElement());
    EXPECT_EQ(beam.getSize(), 1);
    EXPECT_EQ(e.getRefIndex(TVector(5, 6, 7), 0.0), complex(1.0, 0.0));
    std::ostringstream os;
    e.write(os);
    EXPECT_EQ(os.str(), "");
    TPolygon polygon;
    e.getPolygon(polygon, false, 4.0);
    EXPECT_EQ(polygon.getSize(), 0);
}

TEST(OpticalSystem, AddElementGivesTheDefaultRadiusOnlyToZero) {
    TOpticalSystem system(7.0);
    auto* a = new TElement(1);
    auto* b = new TElement(2);
    auto* c = new TElement(3);
    b->radius = 4;
    c->radius = -1;
    system.addElement(a);
    system.addElement(b);
    system.addElement(c);
    EXPECT_EQ(a->radius, 7.0);
    EXPECT_EQ(b->radius, 4.0);
    EXPECT_EQ(c->radius, -1.0);
    EXPECT_EQ(system.getSize(), 3);
    EXPECT_EQ(system[1], b);
    EXPECT_EQ(system.getLast(), c);
    EXPECT_EQ(system[3], nullptr);
    EXPECT_EQ(system[-1], nullptr);
    EXPECT_THROW(system.addElement(nullptr), xmsg);

    const TOpticalSystem empty(1.0);
    EXPECT_EQ(empty.getLast(), nullptr);
    EXPECT_EQ(empty[0], nullptr);
}

TEST(OpticalSystem, TracesEachElementWithItsSuccessorInOrder) {
    std::vector<Call> calls;
    TOpticalSystem system(1.0);
    auto* e0 = new RecordingElement(1, calls, 1.1);
    auto* e1 = new RecordingElement(2, calls, 1.2);
    auto* e2 = new RecordingElement(3, calls, 1.3);
    system.addElement(e0);
    system.addElement(e1);
    system.addElement(e2);

    TBeam beam = startBeam();
    system.traceBeam(beam);
    ASSERT_EQ(calls.size(), 3u);
    EXPECT_EQ(calls[0].self, e0);
    EXPECT_EQ(calls[0].next, e1);
    EXPECT_EQ(calls[1].self, e1);
    EXPECT_EQ(calls[1].next, e2);
    EXPECT_EQ(calls[2].self, e2);
    // Behind the last element: a plain element, a medium of index 1.
    EXPECT_EQ(calls[2].nextIndex, 1.0);
    ASSERT_EQ(beam.getSize(), 4);
    EXPECT_EQ(beam[3].position.z, 3.0);
}

TEST(OpticalSystem, SingleElementTracesOnceAndEmptySystemLeavesTheBeam) {
    std::vector<Call> calls;
    TOpticalSystem system(1.0);
    system.addElement(new RecordingElement(1, calls));
    TBeam beam = startBeam();
    system.traceBeam(beam);
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].nextIndex, 1.0);

    TOpticalSystem empty(1.0);
    TBeam other = startBeam();
    empty.traceBeam(other);
    EXPECT_EQ(other.getSize(), 1);
}

TEST(OpticalSystem, FailurePrefixesTheMessageAndKeepsTheNodes) {
    std::vector<Call> calls;
    TOpticalSystem system(1.0);
    system.addElement(new RecordingElement(1, calls));
    system.addElement(new ThrowingElement(2));
    system.addElement(new RecordingElement(3, calls));
    TBeam beam = startBeam();
    try {
        system.traceBeam(beam);
        FAIL() << "no throw";
    } catch (const xmsg& e) {
        EXPECT_EQ(e.message(), "TOpticalSystem::traceBeam: \nelement failed\nsecond line");
    }
    EXPECT_EQ(calls.size(), 1u);   // element 2 was not traced
    EXPECT_EQ(beam.getSize(), 3);  // start, element 0, element 1's node
    // The system stays usable.
    EXPECT_EQ(system.getSize(), 3);
}

TEST(OpticalSystem, OtherExceptionsPassUnchanged) {
    struct Failing : TElement {
        void traceBeam(TBeam&, const TElement&) override { throw std::runtime_error("other"); }
    };
    TOpticalSystem system(1.0);
    system.addElement(new Failing);
    TBeam beam = startBeam();
    EXPECT_THROW(system.traceBeam(beam), std::runtime_error);
}

TEST(OpticalSystem, InitOptRadiusSparesTheLastElement) {
    TOpticalSystem system(1.0);
    for (int i = 0; i < 3; ++i) {
        auto* e = new TElement(i);
        e->optRadius = 2.0 + i;
        system.addElement(e);
    }
    system.initOptRadius();
    EXPECT_EQ(system[0]->optRadius, 0.0);
    EXPECT_EQ(system[1]->optRadius, 0.0);
    EXPECT_EQ(system[2]->optRadius, 4.0);

    TOpticalSystem one(1.0);
    auto* e = new TElement(0);
    e->optRadius = 5;
    one.addElement(e);
    one.initOptRadius();
    EXPECT_EQ(e->optRadius, 5.0);
}

namespace {
// A derived system whose traceBeam replaces the base's: traceBeamFan must
// call it, and deleting it through a base pointer must run its destructor.
class CountingSystem : public TOpticalSystem {
public:
    CountingSystem(int& traces, bool& destroyed)
        : TOpticalSystem(1.0), count(traces), gone(destroyed) {}
    ~CountingSystem() override { gone = true; }
    void traceBeam(TBeam& beam) override {
        ++count;
        TOpticalSystem::traceBeam(beam);
    }

private:
    int& count;
    bool& gone;
};
}  // namespace

TEST(OpticalSystem, FanTraceResetsRadiiAndUsesTheVirtualTrace) {
    int traces = 0;
    bool destroyed = false;
    std::unique_ptr<TOpticalSystem> system(new CountingSystem(traces, destroyed));
    auto* first = new TElement(0);
    first->optRadius = 9;
    system->addElement(first);
    system->addElement(new TElement(1));
    TBeamFan fan;
    for (int i = 0; i < 4; ++i) fan.addBeam(new TBeam(startBeam()));
    system->traceBeamFan(fan);
    EXPECT_EQ(traces, 4);
    EXPECT_EQ(first->optRadius, 0.0);
    system.reset();
    EXPECT_TRUE(destroyed);
}

TEST(OpticalSystem, WriterGivesHeaderRadiusAndOneLinePerElement) {
    TOpticalSystem system(5.0);
    std::ostringstream os;
    system << os;
    EXPECT_EQ(os.str(), "OpticalSystem\n5\n");

    system.addElement(new TElement(1));  // no record: an empty line
    std::ostringstream os2;
    os2 << system;
    EXPECT_EQ(os2.str(), "OpticalSystem\n5\n\n");
}

TEST(OpticalSystem, OpenOfAMissingFileChangesNothing) {
    TOpticalSystem system(3.0);
    system.addElement(new TElement(1));
    system.open("/nonexistent/lumivex/system.txt");
    system.open(nullptr);
    EXPECT_EQ(system.getSize(), 1);
    EXPECT_EQ(system.defaultRadius, 3.0);
}
