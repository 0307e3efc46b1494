// SPDX-License-Identifier: Apache-2.0
// Irradiance maps: the same rays give the same bits however they are split
// into chunks, threads and partial maps, merged in any order.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>

#include "analysis/exact_sum.h"
#include "lumivex/analysis.h"
#include "lumivex/surfaces.h"

using namespace lumivex;

TEST(Irradiance, PhiloxAndExactSumsAreWhatTheyClaim) {
    // The known-answer vector of Philox4x32-10 for the digits of pi.
    std::uint32_t c[4] = {0x243f6a88u, 0x85a308d3u, 0x13198a2eu, 0x03707344u};
    detail::philox4x32(c, 0xa4093822u, 0x299f31d0u);
    EXPECT_EQ(c[0], 0xd16cfe09u);
    EXPECT_EQ(c[1], 0x94fdccebu);
    EXPECT_EQ(c[2], 0x5001e420u);
    EXPECT_EQ(c[3], 0x24126ea1u);

    // Cancellation that rounding would lose, subnormals, signs.
    detail::ExactSum s;
    for (double v : {1e308, 1.0, -1e308, 4.9e-324, -3.0, 0x1.fffffffffffffp+52}) s.add(v);
    EXPECT_EQ(s.value(), -2.0 + 0x1.fffffffffffffp+52 + 4.9e-324);
    detail::ExactSum negative;
    for (double v : {-1e300, 0.25, 1e300, -1.5}) negative.add(v);
    EXPECT_EQ(negative.value(), -1.25);
    // Any order and any split give the same digits.
    std::mt19937_64 random(5);
    std::vector<double> terms;
    for (int i = 0; i < 2000; ++i)
        terms.push_back(std::ldexp(static_cast<double>(random() >> 11), static_cast<int>(random() % 200) - 100) *
                        (i % 3 ? 1 : -1));
    detail::ExactSum forward, backward, left, right;
    for (std::size_t i = 0; i < terms.size(); ++i) {
        forward.add(terms[i]);
        backward.add(terms[terms.size() - 1 - i]);
        (i % 7 ? left : right).add(terms[i]);
    }
    right.merge(left);
    std::vector<std::int64_t> a, b, m;
    forward.save(std::back_inserter(a));
    backward.save(std::back_inserter(b));
    right.save(std::back_inserter(m));
    EXPECT_EQ(a, b);
    EXPECT_EQ(a, m);
}

TEST(Irradiance, ChunksThreadsAndMergesGiveTheSameBits) {
    TOpticalSystem system(6.0);
    system.addElement(new TSlab(0.0, complex(1.0, 0.0)));
    system.addElement(new TLens(5.0, complex(1.5, 0.0), 0.0, 1.0, 50.0));
    TCollimatedBeam beam;
    beam.wavelength = 5.876e-4;
    beam.fieldAngle = 0.02;
    TDetectorGrid grid;
    grid.z = 49.0, grid.nx = 20, grid.ny = 12;
    grid.xMin = -0.2, grid.xMax = 2.4, grid.yMin = -0.3, grid.yMax = 0.3;
    const std::uint64_t n = 10000;

    TTraceOptions one;
    one.threads = 1;
    TIrradianceMap whole(grid, 1.0 / n);
    traceIntoMap(system, beam, 3, 0, n, whole, one);
    EXPECT_EQ(whole.rays(), n);
    EXPECT_GT(whole.onGrid(), n / 2);
    EXPECT_LT(whole.onGrid(), n);  // the grid is narrower than the spot
    EXPECT_LT(whole.power(), whole.powerThrough());
    double sum = 0.0;
    for (double v : whole.image()) sum += v;
    EXPECT_NEAR(sum, whole.power(), 1e-12);
    const std::vector<double> radii = {system[0]->optRadius, system[1]->optRadius};

    // Three threads, and ranges of the stream in partial maps merged out of
    // order after a trip through their state.
    TTraceOptions three;
    three.threads = 3;
    TIrradianceMap threaded(grid, 1.0 / n);
    traceIntoMap(system, beam, 3, 0, n, threaded, three);
    EXPECT_EQ(threaded.state(), whole.state());
    EXPECT_EQ(system[0]->optRadius, radii[0]);
    EXPECT_EQ(system[1]->optRadius, radii[1]);
    TIrradianceMap merged(grid, 1.0 / n);
    for (auto range : {std::pair<int, int>{6001, 10000}, {0, 17}, {17, 6001}}) {
        TIrradianceMap part(grid, 1.0 / n);
        traceIntoMap(system, beam, 3, range.first, range.second - range.first, part, three);
        merged.merge(TIrradianceMap::fromState(part.state()));
    }
    EXPECT_EQ(merged.state(), whole.state());
    EXPECT_EQ(merged.rmsRadius(), whole.rmsRadius());

    // The rays are the beam's rays through the stream's points, and the
    // statistics those of the points themselves.
    TRayBatch batch(beam.wavelength);
    const TCollimatedBeam filled = resolveFilledBeam(system, beam);
    for (std::uint64_t i = 0; i < n; ++i)
        batch.add(startNode(system, filled, streamPupilPoint(filled.pupilRadius, 3, i)));
    traceRays(system, batch);
    TIrradianceMap fromBatch(grid, 1.0 / n);
    fromBatch.add(batch);
    EXPECT_EQ(fromBatch.state(), whole.state());
    const TSpot spot = spotAt(batch, grid.z);
    EXPECT_NEAR(whole.centroidX(), spot.centroidX, 1e-12);
    EXPECT_NEAR(whole.rmsRadius(), spot.rms, 1e-9);

    TDetectorGrid other = grid;
    other.nx = 21;
    TIrradianceMap elsewhere(other, 1.0 / n);
    EXPECT_THROW(merged.merge(elsewhere), xmsg);
    other.xMax = other.xMin;
    EXPECT_THROW(TIrradianceMap(other, 1.0), xmsg);
    EXPECT_THROW(TIrradianceMap::fromState({1, 2, 3}), xmsg);
}

TEST(Irradiance, APrescriptionsStreamIsAimedWhereItIsTraced) {
    // A window of clear semi-diameter 4 in front of the stop on the flat face
    // of a plano-convex lens, the stop 5 wide: the window stops the rays
    // beyond 4 of the beam's radius 5, 1 − 16/25 of them, and no split of
    // the stream, thread count or merge order changes a bit.
    TPrescription lens;
    lens.addStandard(0.0, 0.0, TMaterial::air(), 0.0, 4.0);
    lens.addStandard(20.0, 0.0, TMaterial::fixedIndex(1.5));
    lens.addStandard(25.0, -50.0, TMaterial::air());
    lens.stop = 1;
    lens.aperture = {TApertureKind::entrancePupilDiameter, 10.0};
    lens.fields = {{0.0, 0.0, 1.0}, {3.0, 0.0, 1.0}};
    lens.wavelengths = {{0.5876, 1.0}};
    const std::uint64_t n = 6000;
    TDetectorGrid grid;
    grid.nx = 9, grid.ny = 7;
    grid.z = std::numeric_limits<double>::quiet_NaN();
    const TIrradianceMap onAxis = irradiance(lens, 0, n, 5, grid);
    EXPECT_EQ(onAxis.grid().z, lens.imagePlaneZ());
    EXPECT_NEAR(static_cast<double>(onAxis.failed()) / n, 1.0 - 16.0 / 25.0, 0.02);

    TTraceOptions one, two;
    one.threads = 1, two.threads = 2;
    const TIrradianceMap whole = irradiance(lens, 1, n, 5, grid, std::numeric_limits<double>::quiet_NaN(), one);
    TIrradianceMap merged(whole.grid(), 1.0 / n);
    for (auto range : {std::pair<int, int>{4001, 6000}, {0, 1}, {1, 4001}}) {
        TIrradianceMap part(whole.grid(), 1.0 / n);
        traceIntoMap(lens, 1, std::numeric_limits<double>::quiet_NaN(), 5, range.first,
                     range.second - range.first, part, two);
        merged.merge(part);
    }
    EXPECT_EQ(merged.state(), whole.state());
    EXPECT_GT(whole.centroidX(), 0.9 * 100.0 * std::tan(3.0 * 3.141592653589793 / 180.0));
    EXPECT_THROW(irradiance(lens, 2, n, 5, grid), xmsg);
}
