// SPDX-License-Identifier: Apache-2.0
// Batch tracing: every ray's result, on any number of threads, is what
// TOpticalSystem::traceBeam gives for that ray alone, and the traced radii
// are those of one pass over the rays in order.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <thread>

#include <hwy/targets.h>

#include "lumivex/description.h"
#include "lumivex/trace.h"
#include "tests/element_systems.h"
#include "trace/kernels.h"

using namespace lumivex;
using lumivex::test_systems::elementRays;
using lumivex::test_systems::elementSystem;

namespace {

constexpr double kWavelength = 5e-4;

bool sameBits(const TBeamNode& a, const TBeamNode& b) {
    return std::memcmp(&a, &b, sizeof(TBeamNode)) == 0;
}

// What traceBeam gives ray by ray, with the radii of that pass.
struct Reference {
    std::vector<TBeam> beams;
    std::vector<std::string> messages;  // "" for a ray that went through
    std::vector<double> radii;
};

Reference traceOneByOne(TOpticalSystem& system, const std::vector<TBeamNode>& rays) {
    Reference ref;
    system.initOptRadius();
    for (const TBeamNode& start : rays) {
        ref.beams.emplace_back(kWavelength);
        ref.beams.back().addNode(start);
        ref.messages.emplace_back();
        try {
            system.traceBeam(ref.beams.back());
        } catch (const xmsg& e) {
            ref.messages.back() = e.message();
        }
    }
    for (int i = 0; i < system.getSize(); ++i) ref.radii.push_back(system[i]->optRadius);
    return ref;
}

TRayBatch batchOf(const std::vector<TBeamNode>& rays) {
    TRayBatch batch(kWavelength);
    for (const TBeamNode& r : rays) batch.add(r);
    return batch;
}

int raysFor(int kind) { return kind == test_systems::kElementKinds - 1 ? 40 : 400; }

void expectSameRays(const Reference& ref, const TRayBatch& batch, const std::string& what) {
    ASSERT_EQ(batch.size(), ref.beams.size());
    for (std::size_t r = 0; r < batch.size(); ++r) {
        SCOPED_TRACE(what + ", ray " + std::to_string(r));
        EXPECT_TRUE(sameBits(batch.last(r), ref.beams[r].getLast()))
            << batch.last(r) << " vs " << ref.beams[r].getLast();
        EXPECT_EQ(batch.ok(r), ref.messages[r].empty());
        EXPECT_EQ(batch.message(r), ref.messages[r]);
    }
}

}  // namespace

// The systems below must reach every kind the catalogue can make, or a kind
// added later would go untested through the batch trace.
TEST(TraceRays, TheElementSystemsCoverEveryConcreteKind) {
    std::vector<std::string> catalogue, covered;
    for (const TElementKind& k : elementKinds())
        if (k.clone) catalogue.push_back(k.name);
    for (int kind = 0; kind < test_systems::kElementKinds; ++kind) {
        std::string name;
        const auto system = test_systems::elementSystem(kind, name);
        const TElementKind* exact = exactKindOf(*(*system)[1]);
        ASSERT_NE(exact, nullptr) << name;
        EXPECT_EQ(exact->name, name);
        covered.push_back(name);
    }
    std::sort(catalogue.begin(), catalogue.end());
    std::sort(covered.begin(), covered.end());
    EXPECT_EQ(covered, catalogue);
}

TEST(TraceRays, EveryKindAndThreadCountGivesTraceBeamsRaysBitForBit) {
    for (int kind = 0; kind < test_systems::kElementKinds; ++kind) {
        std::string name;
        auto system = elementSystem(kind, name);
        const std::vector<TBeamNode> rays = elementRays(raysFor(kind));
        const Reference ref = traceOneByOne(*system, rays);
        int failures = 0;
        for (const std::string& m : ref.messages) failures += !m.empty();
        if (kind != 0) {  // a flat exit face refuses no ray
            EXPECT_GT(failures, 0) << name;
        }
        EXPECT_LT(failures, static_cast<int>(rays.size())) << name;

        for (int threads : {1, 2, 3}) {
            auto fresh = elementSystem(kind, name);
            TRayBatch batch = batchOf(rays);
            TTraceOptions options;
            options.threads = threads;
            traceRays(*fresh, batch, options);
            expectSameRays(ref, batch, name + " on " + std::to_string(threads) + " threads");
            for (int i = 0; i < fresh->getSize(); ++i)
                EXPECT_EQ((*fresh)[i]->optRadius, ref.radii[i]) << name << ", element " << i;
        }
    }
}

TEST(TraceRays, FailedElementIsWhereTraceBeamStopped) {
    std::string name;
    // Beyond 1/g = 5 the rod's index profile fails already as the entry
    // face (element 0) asks for the index behind it; the sphere of radius 8
    // (element 1) ends inside the rays.
    auto rod = elementSystem(test_systems::kElementKinds - 1, name);
    auto sphere = elementSystem(3, name);
    TRayBatch batch(kWavelength);
    batch.add(TBeamNode(TVector(6, 0, -2), TVector(0, 0, 1), 1.0, TVector(1, 0, 0), 0.0));
    batch.add(TBeamNode(TVector(1, 0, -2), TVector(0, 0, 1), 1.0, TVector(1, 0, 0), 0.0));
    traceRays(*rod, batch);
    EXPECT_EQ(batch.failedElement(0), 0);
    EXPECT_EQ(batch.failedElement(1), -1);
    EXPECT_EQ(batch.message(0).rfind("TOpticalSystem::traceBeam: \n", 0), 0u);
    EXPECT_EQ(batch.message(1), "");

    TRayBatch beyondRim(kWavelength);
    beyondRim.add(TBeamNode(TVector(9, 0, -2), TVector(0, 0, 1), 1.0, TVector(1, 0, 0), 0.0));
    traceRays(*sphere, beyondRim);
    EXPECT_EQ(beyondRim.failedElement(0), 1);
}

TEST(TraceRays, KeptNodesAreTraceBeamsBeams) {
    for (int kind : {3, test_systems::kElementKinds - 1}) {
        std::string name;
        auto system = elementSystem(kind, name);
        const std::vector<TBeamNode> rays = elementRays(40);
        const Reference ref = traceOneByOne(*system, rays);
        TRayBatch batch = batchOf(rays);
        TTraceOptions options;
        options.threads = 2;
        options.keepNodes = true;
        traceRays(*system, batch, options);
        ASSERT_TRUE(batch.nodesKept());
        for (std::size_t r = 0; r < rays.size(); ++r) {
            const TBeam& beam = batch.beam(r);
            ASSERT_EQ(beam.getSize(), ref.beams[r].getSize()) << name << ", ray " << r;
            for (int k = 0; k < beam.getSize(); ++k)
                EXPECT_TRUE(sameBits(beam[k], ref.beams[r][k])) << name << ", ray " << r;
        }
    }
}

namespace {

// A host's own element: the catalogue cannot copy it, so the batch is traced
// through it on the calling thread.
class HostSlab : public TSlab {
public:
    using TSlab::TSlab;
    void traceBeam(TBeam& beam, const TElement& next) override {
        if (std::this_thread::get_id() != caller) ++foreignCalls;
        TSlab::traceBeam(beam, next);
    }
    std::thread::id caller = std::this_thread::get_id();
    int foreignCalls = 0;
};

}  // namespace

TEST(TraceRays, HostElementIsTracedOnTheCallingThread) {
    std::string name;
    auto reference = elementSystem(2, name);
    TOpticalSystem system(12.0);
    auto* host = new HostSlab(0.0, complex(1.0, 0.0));
    system.addElement(host);
    system.addElement(new TGeneralLens(5.0, complex(1.5, 0.0), 0.0, -12.0, -0.5));
    system.addElement(new TSlab(30.0, complex(1.0, 0.0)));
    const std::vector<TBeamNode> rays = elementRays(200);
    const Reference ref = traceOneByOne(*reference, rays);
    TRayBatch batch = batchOf(rays);
    TTraceOptions options;
    options.threads = 4;
    traceRays(system, batch, options);
    expectSameRays(ref, batch, "host slab");
    EXPECT_EQ(host->foreignCalls, 0);
    EXPECT_EQ(host->optRadius, ref.radii[0]);
}

TEST(TraceRays, ProgressReturningFalseStopsTheTrace) {
    for (int threads : {1, 2}) {
        std::string name;
        auto system = elementSystem(0, name);
        TRayBatch batch = batchOf(elementRays(5000));
        TTraceOptions options;
        options.threads = threads;
        std::size_t calls = 0;
        options.progress = [&calls](std::size_t done, std::size_t total) {
            EXPECT_LE(done, total);
            ++calls;
            return false;
        };
        try {
            traceRays(*system, batch, options);
            ADD_FAILURE() << "no exception on " << threads << " threads";
        } catch (const xmsg& e) {
            EXPECT_NE(e.message().find("stopped by the host"), std::string::npos) << e.message();
        }
        EXPECT_EQ(calls, 1u);
    }
}

namespace {

// Every kind that has a vector kernel, one after the other, some of them
// steep enough to fail rays: the conics, the sphere and two even aspheres
// (one with a conic part, one on a plane), a slab met at normal incidence by the axial rays, and the glass
// ends at a slab into air.
std::unique_ptr<TOpticalSystem> kernelSystem() {
    auto system = std::make_unique<TOpticalSystem>(12.0);
    system->addElement(new TSlab(0.0, complex(1.0, 0.0)));
    system->addElement(new TSphericalLens(1.0, complex(1.5, 0.0), 0.0, -8.0));
    system->addElement(new TLens(3.0, complex(1.0, 0.0), 0.0, 1.0, 20.0));
    system->addElement(new TGeneralLens(6.0, complex(1.6, 0.0), 0.0, -12.0, -0.5));
    system->addElement(new TEvenAsphere(7.0, complex(1.55, 0.0), 0.0, -15.0, -0.8,
                                        {2e-4, -3e-6, 1e-8}));
    system->addElement(new TEllipticalLens(8.0, complex(1.0, 0.0), 0.0, 6.0, 7.0));
    system->addElement(new TEvenAsphere(10.0, complex(1.45, 0.0), 0.0, 0.0, 0.0, {-1e-3, 5e-6}));
    system->addElement(new THyperbolicLens(12.0, complex(1.5, 0.0), 0.0, 5.0, 4.0));
    system->addElement(new TSphericalLens(14.0, complex(1.0, 0.0), 0.0, 30.0));
    system->addElement(new TSlab(20.0, complex(1.5, 0.0)));
    return system;
}

// Random rays over and beyond the apertures, a fifth of them along the axis
// direction (normal incidence on the slabs), a few backwards, a few exactly
// on the axis, a few with no polarization.
std::vector<TBeamNode> randomRays(int count) {
    std::mt19937_64 random(20240611);
    std::uniform_real_distribution<double> u(-1.0, 1.0);
    std::vector<TBeamNode> rays;
    for (int i = 0; i < count; ++i) {
        const double x = i % 97 == 0 ? 0.0 : 10.0 * u(random);
        const double y = i % 97 == 0 ? 0.0 : 10.0 * u(random);
        TVector k(0.0, 0.0, 1.0);
        if (i % 5 != 0) k = TVector(0.6 * u(random), 0.6 * u(random), i % 41 == 3 ? -1.0 : 1.0).unit();
        TVector e = TVector(u(random), u(random), 0.0).cross(k).unit();
        if (i % 89 == 7) e = TVector();
        rays.emplace_back(TVector(x, y, -1.0), k, 1.0, e, 0.0);
    }
    return rays;
}

// Two gradient-index rods in a row, the second entered from the first's
// exit face, with profiles that fail towards their rims (h4 < 0).
std::unique_ptr<TOpticalSystem> rodSystem() {
    auto system = std::make_unique<TOpticalSystem>(8.0);
    system->addElement(new TSlab(0.0, complex(1.0, 0.0)));
    system->addElement(new TGrinRod(4.0, 1.6, 0.15, -0.3, 0.05));
    system->addElement(new TGrinRod(9.0, 1.5, 0.1, -0.2, 0.0));
    system->addElement(new TSlab(12.0, complex(1.0, 0.0)));
    return system;
}

}  // namespace

TEST(TraceRays, RodKernelLanesEndAsTraceBeam) {
    // Rays in front of the rod of the element system, straight into its
    // kernel: most stay in their lanes, and each such ray ends as the
    // scalar rod leaves it, with the largest radius of its interior nodes.
    for (int64_t target : hwy::SupportedAndGeneratedTargets()) {
        hwy::SetSupportedTargetsForTest(target);
        std::string name;
        auto system = elementSystem(test_systems::kElementKinds - 1, name);
        detail::RodKernel rod;
        ASSERT_TRUE(detail::rodKernel(*(*system)[1], *(*system)[2], kWavelength, rod));
        auto block = std::make_unique<detail::RayBlock>();
        std::vector<TBeam> entered;
        for (const TBeamNode& start : elementRays(400)) {
            TBeam beam(kWavelength);
            beam.addNode(start);
            try {
                (*system)[0]->traceBeam(beam, *(*system)[1]);
            } catch (const xmsg&) {
                continue;
            }
            if (entered.size() == detail::kBlockRays) break;
            const std::size_t j = entered.size();
            const TBeamNode& e = beam.getLast();
            block->px[j] = e.position.x, block->py[j] = e.position.y, block->pz[j] = e.position.z;
            block->kx[j] = e.kVector.x, block->ky[j] = e.kVector.y, block->kz[j] = e.kVector.z;
            block->ex[j] = e.polarization.x, block->ey[j] = e.polarization.y;
            block->ez[j] = e.polarization.z;
            block->intensity[j] = e.intensity, block->phase[j] = e.opticalPath;
            block->live[j] = 1.0, block->handedBack[j] = 0.0;
            entered.push_back(beam);
        }
        const std::size_t count = entered.size() / 8 * 8;
        detail::traceRodBlock(rod, *block, count);
        std::size_t carried = 0;
        for (std::size_t j = 0; j < count; ++j) {
            TGrinRod& scalar = dynamic_cast<TGrinRod&>(*(*system)[1]);
            scalar.optRadius = 0.0;
            bool ok = true;
            try {
                scalar.traceBeam(entered[j], *(*system)[2]);
            } catch (const xmsg&) {
                ok = false;
            }
            if (block->live[j] == 0.0) {
                EXPECT_EQ(block->handedBack[j], 1.0);
                continue;
            }
            SCOPED_TRACE(std::string(hwy::TargetName(target)) + ", ray " + std::to_string(j));
            ASSERT_TRUE(ok);
            ++carried;
            const TBeamNode lane(TVector(block->px[j], block->py[j], block->pz[j]),
                                 TVector(block->kx[j], block->ky[j], block->kz[j]),
                                 block->intensity[j],
                                 TVector(block->ex[j], block->ey[j], block->ez[j]), block->phase[j]);
            EXPECT_TRUE(sameBits(lane, entered[j].getLast())) << lane << " vs " << entered[j].getLast();
            EXPECT_EQ(std::max(block->reach[j], 0.0), scalar.optRadius);
            const TVector& P = entered[j].getLast().position;
            EXPECT_EQ(block->rho[j], std::sqrt(P.x * P.x + P.y * P.y));
        }
        EXPECT_GT(carried, count * 3 / 4);
    }
    hwy::SetSupportedTargetsForTest(0);
}

TEST(TraceRays, VectorKernelsGiveTraceBeamsBitsOnEveryInstructionSet) {
    // The kernel kinds among the element systems do have kernels.
    for (int kind = 0; kind <= 5; ++kind) {
        std::string name;
        auto system = elementSystem(kind, name);
        detail::SurfaceKernel kernel;
        EXPECT_TRUE(detail::surfaceKernel(*(*system)[1], *(*system)[2], kWavelength, kernel)) << name;
    }
    // The entry face refracts into every kind whose index is constant with
    // its kernel; into a gradient-index medium ray by ray.
    for (int kind = 0; kind < test_systems::kElementKinds; ++kind) {
        std::string name;
        auto system = elementSystem(kind, name);
        detail::SurfaceKernel kernel;
        EXPECT_EQ(detail::surfaceKernel(*(*system)[0], *(*system)[1], kWavelength, kernel),
                  name != "GrinRod")
            << name;
    }
    std::vector<std::pair<std::unique_ptr<TOpticalSystem>, std::vector<TBeamNode>>> cases;
    cases.emplace_back(kernelSystem(), randomRays(3000));
    for (int i = 0; i + 1 < cases[0].first->getSize(); ++i) {
        detail::SurfaceKernel kernel;
        EXPECT_TRUE(detail::surfaceKernel(*(*cases[0].first)[i], *(*cases[0].first)[i + 1],
                                          kWavelength, kernel))
            << "element " << i;
    }
    for (int kind = 0; kind <= 5; ++kind) {
        std::string name;
        cases.emplace_back(elementSystem(kind, name), elementRays(600));
    }
    // Rods: the element system's, and two in a row, the first refracting
    // into the second's profile.
    std::string rodName;
    cases.emplace_back(elementSystem(test_systems::kElementKinds - 1, rodName), elementRays(200));
    cases.emplace_back(rodSystem(), randomRays(300));
    for (int i : {1, 2}) {
        detail::RodKernel kernel;
        EXPECT_TRUE(detail::rodKernel(*(*cases.back().first)[i], *(*cases.back().first)[i + 1],
                                      kWavelength, kernel))
            << "rod " << i;
    }
    for (auto& c : cases) {
        const Reference ref = traceOneByOne(*c.first, c.second);
        int failures = 0;
        for (const std::string& m : ref.messages) failures += !m.empty();
        EXPECT_GT(failures, 0);
        for (int64_t target : hwy::SupportedAndGeneratedTargets()) {
            hwy::SetSupportedTargetsForTest(target);
            const std::string name = hwy::TargetName(target);
            EXPECT_EQ(detail::kernelTarget(), name);
            for (int threads : {1, 2}) {
                TRayBatch batch = batchOf(c.second);
                TTraceOptions options;
                options.threads = threads;
                traceRays(*c.first, batch, options);
                expectSameRays(ref, batch, name);
                for (int i = 0; i < c.first->getSize(); ++i)
                    EXPECT_EQ((*c.first)[i]->optRadius, ref.radii[i]) << name << ", element " << i;
            }
        }
        hwy::SetSupportedTargetsForTest(0);
    }
}

TEST(TraceRays, ClearAperturesVignetteAlikeOnEveryPathAndPassTheRestBitForBit) {
    // The status of a clipped trace follows from the unclipped beams: a ray
    // ends, vignetted, at the first element whose node (the intersection,
    // or a failed refraction's terminal node there) lies outside the clip.
    std::vector<std::pair<std::unique_ptr<TOpticalSystem>, std::vector<TBeamNode>>> cases;
    std::vector<std::vector<double>> clips;
    cases.emplace_back(kernelSystem(), randomRays(3000));
    clips.push_back({std::nan(""), 9.0, 8.0, std::nan(""), 7.5, 7.0, 8.5, 6.5, 7.0});
    for (int kind = 0; kind <= 10; ++kind) {
        std::string name;
        cases.emplace_back(elementSystem(kind, name), elementRays(600));
        clips.push_back({std::nan(""), 4.0});
    }
    for (std::size_t c = 0; c < cases.size(); ++c) {
        TOpticalSystem& system = *cases[c].first;
        const std::vector<TBeamNode>& rays = cases[c].second;
        const std::vector<double>& clip = clips[c];
        const Reference ref = traceOneByOne(system, rays);
        std::vector<int> stoppedAt(rays.size(), -1);
        std::vector<double> radii(clip.size(), 0.0);
        int vignetted = 0, vignettedFailures = 0, passed = 0;
        for (std::size_t r = 0; r < rays.size(); ++r) {
            const TBeam& beam = ref.beams[r];
            for (std::size_t k = 0; k < clip.size() && static_cast<int>(k) + 1 < beam.getSize(); ++k) {
                const TVector P = beam[static_cast<int>(k) + 1].position;
                const double rho = std::sqrt(P.x * P.x + P.y * P.y);
                if (rho > clip[k]) {
                    stoppedAt[r] = static_cast<int>(k);
                    break;
                }
                const bool failedHere = !ref.messages[r].empty() && static_cast<int>(k) + 2 == beam.getSize();
                if (!failedHere) radii[k] = std::max(radii[k], rho);
            }
            if (stoppedAt[r] >= 0) {
                ++vignetted;
                vignettedFailures += !ref.messages[r].empty() && stoppedAt[r] + 2 == beam.getSize();
            }
            passed += stoppedAt[r] < 0 && ref.messages[r].empty();
        }
        EXPECT_GT(vignetted, 20) << "case " << c;
        EXPECT_GT(passed, 20) << "case " << c;
        if (c == 0) {
            EXPECT_GT(vignettedFailures, 0);  // vignetted where it would have failed
        }

        for (int64_t target : hwy::SupportedAndGeneratedTargets()) {
            hwy::SetSupportedTargetsForTest(target);
            const std::string name = std::string(hwy::TargetName(target)) + ", case " + std::to_string(c);
            for (int threads : {1, 2}) {
                for (bool keep : {false, true}) {
                    TRayBatch batch = batchOf(rays);
                    TTraceOptions options;
                    options.threads = threads;
                    options.keepNodes = keep;
                    options.clipRadii = clip;
                    traceRays(system, batch, options);
                    for (std::size_t r = 0; r < rays.size(); ++r) {
                        SCOPED_TRACE(name + ", ray " + std::to_string(r));
                        const TBeam& beam = ref.beams[r];
                        const int k = stoppedAt[r];
                        ASSERT_EQ(batch.vignettedElement(r), k);
                        const TBeamNode& expected = k >= 0 ? beam[k + 1] : beam.getLast();
                        EXPECT_TRUE(sameBits(batch.last(r), expected));
                        EXPECT_EQ(batch.ok(r), k < 0 && ref.messages[r].empty());
                        EXPECT_EQ(batch.failedElement(r) >= 0, k < 0 && !ref.messages[r].empty());
                        EXPECT_EQ(batch.message(r), k < 0 ? ref.messages[r] : std::string());
                        if (keep) {
                            EXPECT_EQ(batch.beam(r).getSize(), k >= 0 ? k + 2 : beam.getSize());
                        }
                    }
                    // Vignetted rays do not widen the traced radii.
                    for (std::size_t k = 0; k < clip.size(); ++k)
                        EXPECT_EQ(system[static_cast<int>(k)]->optRadius, radii[k]) << name << ", element " << k;
                }
            }
        }
        hwy::SetSupportedTargetsForTest(0);
    }

    TOpticalSystem two(5.0);
    two.addElement(new TSlab(0.0, complex(1.0, 0.0)));
    TRayBatch batch(kWavelength);
    TTraceOptions options;
    options.clipRadii = {1.0, 2.0};
    try {
        traceRays(two, batch, options);
        ADD_FAILURE() << "more clip radii than elements";
    } catch (const xmsg& e) {
        EXPECT_EQ(e.message(), "traceRays: 2 clip radii for a system of 1 elements");
    }
    options.clipRadii = {-1.0};
    EXPECT_THROW(traceRays(two, batch, options), xmsg);
}
