// SPDX-License-Identifier: Apache-2.0
// Hosts may trace on several threads at once, each thread with its own
// systems, beams, fans and fields: the library keeps no state beyond its math
// error hook, a plain function. Each thread here reads descriptions, traces
// rays (some of which fail through the math hook), converts fields and writes
// descriptions, and must get exactly what one thread alone gets. Built with
// -fsanitize=thread (make tsan), the same test also shows that the threads
// touch no common memory.
#include <gtest/gtest.h>

#include <cmath>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "lumivex/field.h"
#include "lumivex/grin.h"
#include "lumivex/surfaces.h"
#include "lumivex/system.h"
#include "lumivex/trace.h"
#include "tests/element_systems.h"

using namespace lumivex;

namespace {

// Everything one job produced, to be compared bit for bit.
struct Outcome {
    std::vector<double> numbers;
    std::vector<std::string> texts;

    void add(const TBeamNode& n) {
        numbers.insert(numbers.end(), {n.position.x, n.position.y, n.position.z, n.kVector.x,
                                       n.kVector.y, n.kVector.z, n.polarization.x, n.polarization.y,
                                       n.polarization.z, n.intensity, n.opticalPath});
    }
    bool operator==(const Outcome& o) const { return numbers == o.numbers && texts == o.texts; }
};

const char* const kRelay =
    "OpticalSystem 2\nSlab\t0\t1\nGrinRod\t15.708\t1.6\t0.2\t0\t0\nSlab\t20\t1\n";

Outcome job(int variant) {
    Outcome out;
    // A rod relay read from text, rays up to and beyond the rod's edge at
    // 1/g = 5 (where the index profile's square root fails).
    TOpticalSystem relay(1.0);
    std::istringstream text(kRelay);
    text >> relay;
    for (int i = 0; i < 6; ++i) {
        TBeam beam(5e-4);
        beam.addNode(TBeamNode(TVector(0.9 * i + 0.1 * variant, 0.2, -1), TVector(0, 0, 1), 1.0,
                               TVector(1, 0, 0), 0.0));
        try {
            relay.traceBeam(beam);
        } catch (const xmsg& e) {
            out.texts.push_back(e.message());
        }
        for (int k = 0; k < beam.getSize(); ++k) out.add(beam[k]);
    }

    // A singlet of every surface family, with rays beyond the critical angle.
    TOpticalSystem singlet(12.0);
    singlet.addElement(new TSphericalLens(0.0, complex(1.0, 0.0), 0.0, 30.0));
    singlet.addElement(new TLens(4.0, complex(1.6, 0.0), 0.0, 1.0, 40.0));
    singlet.addElement(new TMatrixLens(6.0, complex(1.0, 0.0), -60.0, 0.0, 0.0, 41, 41, 0.5, 0.5));
    singlet.addElement(new TSlab(40.0, complex(1.0, 0.0)));
    TBeamFan fan;
    for (int i = 0; i < 40; ++i) {
        auto* beam = new TBeam(5e-4);
        const double t = 0.3 * i + 0.01 * variant;
        beam->addNode(TBeamNode(TVector(0.25 * i * std::cos(t), 0.25 * i * std::sin(t), -5),
                                TVector(0.01 * variant, 0.0, 1.0).unit(), 1.0, TVector(0, 1, 0),
                                0.0));
        fan.addBeam(beam);
    }
    for (int i = 0; i < fan.getSize(); ++i) {
        try {
            singlet.traceBeam(*fan[i]);
        } catch (const xmsg& e) {
            out.texts.push_back(e.message());
        }
        out.add(fan[i]->getLast());
    }
    std::ostringstream written;
    written << singlet << relay;
    out.texts.push_back(written.str());

    // A Gaussian field through a lens and back.
    TMatrix field(64, 1);
    for (int c = 0; c < 64; ++c) {
        const double x = (c - 31.5) * 0.1;
        field.at(c, 0) = complex(std::exp(-x * x / 4.0), 0.1 * variant * x);
    }
    TBeamFan fieldFan;
    fieldToBeamFan(field, 0.1, 0.1, 32, 1, 5e-4, fieldFan);
    TOpticalSystem lens(5.0);
    lens.addElement(new TSphericalLens(1.0, complex(1.0, 0.0), 0.0, 40.0));
    lens.addElement(new TSlab(10.0, complex(1.5, 0.0)));
    lens.traceBeamFan(fieldFan);
    TMatrix back(64, 1);
    beamFanToField(fieldFan, 0.08, 0.1, 6.2, 0.0, &back);
    for (int c = 0; c < 64; ++c) {
        out.numbers.push_back(back.at(c, 0).real());
        out.numbers.push_back(back.at(c, 0).imag());
    }
    return out;
}

}  // namespace

TEST(Threads, HostsTracingOnSeveralThreadsShareNothing) {
    constexpr int kVariants = 4;
    std::vector<Outcome> alone;
    for (int v = 0; v < kVariants; ++v) alone.push_back(job(v));
    // Failures through the math hook took part.
    ASSERT_FALSE(alone[0].texts.size() < 3);

    constexpr int kRounds = 3;
    std::vector<std::vector<Outcome>> together(kVariants);
    std::vector<std::thread> threads;
    for (int v = 0; v < kVariants; ++v)
        threads.emplace_back([v, &together] {
            for (int r = 0; r < kRounds; ++r) together[v].push_back(job(v));
        });
    for (std::thread& t : threads) t.join();

    for (int v = 0; v < kVariants; ++v)
        for (int r = 0; r < kRounds; ++r)
            EXPECT_TRUE(together[v][r] == alone[v]) << "variant " << v << ", round " << r;
}

// The batch tracer's own threads: four workers, each on its own copies of
// the elements, through every element kind, with failing rays among them.
TEST(Threads, BatchOnFourThreadsThroughEveryElementKind) {
    for (int kind = 0; kind < test_systems::kElementKinds; ++kind) {
        std::string name;
        auto system = test_systems::elementSystem(kind, name);
        const std::vector<TBeamNode> rays =
            test_systems::elementRays(kind == test_systems::kElementKinds - 1 ? 24 : 200);
        TRayBatch batch(5e-4);
        for (const TBeamNode& r : rays) batch.add(r);
        TTraceOptions options;
        options.threads = 4;
        options.keepNodes = kind % 2 == 1;
        std::size_t calls = 0;
        options.progress = [&calls](std::size_t, std::size_t) { return ++calls > 0; };
        traceRays(*system, batch, options);
        EXPECT_GE(calls, 1u);
        for (std::size_t r = 0; r < rays.size(); ++r) {
            TBeam beam(5e-4);
            beam.addNode(rays[r]);
            std::string message;
            try {
                system->traceBeam(beam);
            } catch (const xmsg& e) {
                message = e.message();
            }
            Outcome a, b;
            a.add(batch.last(r));
            b.add(beam.getLast());
            EXPECT_TRUE(a == b && batch.message(r) == message) << name << ", ray " << r;
        }
    }
}
