// SPDX-License-Identifier: Apache-2.0
// Irradiance maps: rays made from a counter-based stream, traced chunk by
// chunk on every core and binned where they cross a detector plane, into
// integer sums that any split of the rays reproduces exactly.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstring>
#include <exception>
#include <memory>
#include <mutex>
#include <new>
#include <string>
#include <thread>

#include "analysis/exact_sum.h"
#include "analysis/reductions.h"
#include "lumivex/analysis.h"
#include "lumivex/description.h"

namespace lumivex {

namespace {

constexpr double kPi = 3.141592653589793;

// 128-bit integers for the bins: 2^60 units a ray at most, 2^67 rays.
__extension__ typedef __int128 Int128;
__extension__ typedef unsigned __int128 UInt128;

Int128 wide(const std::int64_t* w) {
    return static_cast<Int128>((static_cast<UInt128>(static_cast<std::uint64_t>(w[1])) << 64) |
                               static_cast<std::uint64_t>(w[0]));
}

void setWide(std::int64_t* w, Int128 v) {
    const auto u = static_cast<UInt128>(v);
    w[0] = static_cast<std::int64_t>(static_cast<std::uint64_t>(u));
    w[1] = static_cast<std::int64_t>(static_cast<std::uint64_t>(u >> 64));
}

void checkGrid(const TDetectorGrid& g) {
    if (!(g.nx >= 1 && g.ny >= 1) || static_cast<long long>(g.nx) * g.ny > (1 << 26))
        throw xmsg("irradiance: the grid needs 1 to 2^26 bins, not " + std::to_string(g.nx) + " x " +
                   std::to_string(g.ny));
    if (!(std::isfinite(g.z) && std::isfinite(g.xMin) && std::isfinite(g.xMax) &&
          std::isfinite(g.yMin) && std::isfinite(g.yMax) && g.xMin < g.xMax && g.yMin < g.yMax))
        throw xmsg("irradiance: the grid's plane and bounds must be finite, each lower bound below its upper");
}

constexpr std::int64_t kStateVersion = 1;
constexpr std::size_t kMomentWords = detail::ExactSum::kDigits + 1;

std::int64_t bitsOf(double v) {
    std::int64_t b;
    std::memcpy(&b, &v, sizeof b);
    return b;
}

double doubleOf(std::int64_t b) {
    double v;
    std::memcpy(&v, &b, sizeof v);
    return v;
}

}  // namespace

TPupilPoint streamPupilPoint(double r, std::uint64_t seed, std::uint64_t index) {
    // Points of the square [−1, 1)² until one falls in the unit disk (π/4 of
    // them do): uniform over the disk, without the square root, sine and
    // cosine a radius and an angle would cost. Each draw is its own counter,
    // so the ray's index alone still decides its point.
    for (std::uint32_t draw = 0;; ++draw) {
        double u1, u2;
        detail::philoxUniforms(seed, index, draw, u1, u2);
        const double x = 2.0 * u1 - 1.0;
        const double y = 2.0 * u2 - 1.0;
        if (x * x + y * y < 1.0) return {r * x, r * y};
    }
}

TIrradianceMap::TIrradianceMap(const TDetectorGrid& grid, double rayPower, double maxIntensity)
    : detector(grid), power1(rayPower), largest(maxIntensity) {
    checkGrid(grid);
    if (!(rayPower > 0.0 && std::isfinite(rayPower)))
        throw xmsg("irradiance: the power of a ray must be positive and finite, not " +
                   std::to_string(rayPower));
    if (!(maxIntensity > 0.0 && std::isfinite(maxIntensity)))
        throw xmsg("irradiance: the largest start intensity must be positive and finite, not " +
                   std::to_string(maxIntensity));
    // The largest intensity is at most 2^60 units: four times it still fits
    // a signed 64-bit word, and 2^67 such rays a 128-bit sum.
    scale = 60 - (std::ilogb(maxIntensity) + 1);
    unit = std::ldexp(1.0, scale);
    binsPerX = grid.nx / (grid.xMax - grid.xMin);
    binsPerY = grid.ny / (grid.yMax - grid.yMin);
    bins.assign(2 * static_cast<std::size_t>(grid.nx) * static_cast<std::size_t>(grid.ny), 0);
    moments.assign(3 * kMomentWords, 0);
}

struct TIrradianceMap::Sums {
    detail::ExactSum s[3];  // x, y, x² + y²

    explicit Sums(const std::vector<std::int64_t>& moments) {
        for (int m = 0; m < 3; ++m) s[m].load(moments.begin() + m * kMomentWords);
    }
    void save(std::vector<std::int64_t>& moments) const {
        for (int m = 0; m < 3; ++m) s[m].save(moments.begin() + m * kMomentWords);
    }
};

void TIrradianceMap::addRay(const TBeamNode& last, bool ok, Sums& sums) {
    ++traced;
    if (!ok) {
        ++lost;
        return;
    }
    // Only rays that went through reach here.
    const double I = last.intensity;
    if (!(I >= 0.0 && I <= 4.0 * largest))
        throw xmsg("irradiance: a ray's intensity " + std::to_string(I) +
                   " is not between 0 and 4 times the largest start intensity " +
                   std::to_string(largest));
    // Scaling by a power of 2 is exact (I·2^scale is ldexp(I, scale)); then
    // to the nearest unit, halves up.
    const auto units = static_cast<std::int64_t>(I * unit + 0.5);
    const TVector p = positionAtZ(last, detector.z);
    sums.s[0].add(p.x);
    sums.s[1].add(p.y);
    sums.s[2].add(p.x * p.x + p.y * p.y);

    const double fx = (p.x - detector.xMin) * binsPerX;
    const double fy = (p.y - detector.yMin) * binsPerY;
    const int i = fx >= 0.0 && fx < detector.nx ? static_cast<int>(fx)
                                                 : (p.x == detector.xMax ? detector.nx - 1 : -1);
    const int j = fy >= 0.0 && fy < detector.ny ? static_cast<int>(fy)
                                                 : (p.y == detector.yMax ? detector.ny - 1 : -1);
    std::int64_t* w = offGrid;
    if (i >= 0 && j >= 0) {
        w = &bins[2 * (static_cast<std::size_t>(j) * static_cast<std::size_t>(detector.nx) +
                       static_cast<std::size_t>(i))];
        ++landed;
    }
    setWide(w, wide(w) + units);
}

void TIrradianceMap::add(const TBeamNode& last, bool ok) {
    Sums sums(moments);
    addRay(last, ok, sums);
    sums.save(moments);
}

void TIrradianceMap::add(const TRayBatch& batch) {
    Sums sums(moments);
    for (std::size_t r = 0; r < batch.size(); ++r) addRay(batch.last(r), batch.ok(r), sums);
    sums.save(moments);
}

void TIrradianceMap::merge(const TIrradianceMap& o) {
    const TDetectorGrid& a = detector;
    const TDetectorGrid& b = o.detector;
    if (!(a.z == b.z && a.nx == b.nx && a.ny == b.ny && a.xMin == b.xMin && a.xMax == b.xMax &&
          a.yMin == b.yMin && a.yMax == b.yMax && power1 == o.power1 && largest == o.largest))
        throw xmsg("irradiance: only maps of the same grid, ray power and largest intensity merge");
    for (std::size_t k = 0; k < bins.size(); k += 2) setWide(&bins[k], wide(&bins[k]) + wide(&o.bins[k]));
    setWide(offGrid, wide(offGrid) + wide(o.offGrid));
    for (int m = 0; m < 3; ++m) {
        detail::ExactSum mine, theirs;
        mine.load(moments.begin() + m * kMomentWords);
        theirs.load(o.moments.begin() + m * kMomentWords);
        mine.merge(theirs);
        mine.save(moments.begin() + m * kMomentWords);
    }
    traced += o.traced;
    lost += o.lost;
    landed += o.landed;
}

std::vector<double> TIrradianceMap::image() const {
    std::vector<double> out(bins.size() / 2);
    for (std::size_t k = 0; k < out.size(); ++k)
        out[k] = std::ldexp(static_cast<double>(wide(&bins[2 * k])), -scale) * power1;
    return out;
}

double TIrradianceMap::power() const {
    Int128 sum = 0;
    for (std::size_t k = 0; k < bins.size(); k += 2) sum += wide(&bins[k]);
    return std::ldexp(static_cast<double>(sum), -scale) * power1;
}

double TIrradianceMap::powerThrough() const {
    Int128 sum = wide(offGrid);
    for (std::size_t k = 0; k < bins.size(); k += 2) sum += wide(&bins[k]);
    return std::ldexp(static_cast<double>(sum), -scale) * power1;
}

double TIrradianceMap::sumOf(int m) const {
    detail::ExactSum s;
    s.load(moments.begin() + m * kMomentWords);
    return s.value();
}

double TIrradianceMap::centroidX() const {
    const double n = static_cast<double>(traced - lost);
    return n > 0 ? sumOf(0) / n : std::nan("");
}

double TIrradianceMap::centroidY() const {
    const double n = static_cast<double>(traced - lost);
    return n > 0 ? sumOf(1) / n : std::nan("");
}

double TIrradianceMap::rmsRadius() const {
    // The mean square distance from the centroid, E[r²] − |E[p]|².
    const double n = static_cast<double>(traced - lost);
    if (!(n > 0)) return std::nan("");
    const double cx = sumOf(0) / n, cy = sumOf(1) / n;
    return std::sqrt(std::max(0.0, sumOf(2) / n - (cx * cx + cy * cy)));
}

std::vector<std::int64_t> TIrradianceMap::state() const {
    std::vector<std::int64_t> s = {kStateVersion,          detector.nx,          detector.ny,
                                   bitsOf(detector.z),     bitsOf(detector.xMin), bitsOf(detector.xMax),
                                   bitsOf(detector.yMin),  bitsOf(detector.yMax), bitsOf(power1),
                                   bitsOf(largest),        static_cast<std::int64_t>(traced),
                                   static_cast<std::int64_t>(lost), static_cast<std::int64_t>(landed),
                                   offGrid[0],             offGrid[1]};
    s.insert(s.end(), bins.begin(), bins.end());
    s.insert(s.end(), moments.begin(), moments.end());
    return s;
}

TIrradianceMap TIrradianceMap::fromState(const std::vector<std::int64_t>& s) {
    constexpr std::size_t kHeader = 15;
    if (s.size() < kHeader || s[0] != kStateVersion)
        throw xmsg("irradiance: not the state of an irradiance map");
    TDetectorGrid g;
    g.nx = static_cast<int>(s[1]);
    g.ny = static_cast<int>(s[2]);
    if (s[1] != g.nx || s[2] != g.ny) throw xmsg("irradiance: not the state of an irradiance map");
    g.z = doubleOf(s[3]);
    g.xMin = doubleOf(s[4]), g.xMax = doubleOf(s[5]);
    g.yMin = doubleOf(s[6]), g.yMax = doubleOf(s[7]);
    TIrradianceMap map(g, doubleOf(s[8]), doubleOf(s[9]));
    if (s.size() != kHeader + map.bins.size() + map.moments.size())
        throw xmsg("irradiance: the state's length does not match its grid");
    map.traced = static_cast<std::uint64_t>(s[10]);
    map.lost = static_cast<std::uint64_t>(s[11]);
    map.landed = static_cast<std::uint64_t>(s[12]);
    map.offGrid[0] = s[13], map.offGrid[1] = s[14];
    std::copy(s.begin() + kHeader, s.begin() + kHeader + static_cast<std::ptrdiff_t>(map.bins.size()),
              map.bins.begin());
    std::copy(s.end() - static_cast<std::ptrdiff_t>(map.moments.size()), s.end(), map.moments.begin());
    return map;
}

namespace {

using Clock = std::chrono::steady_clock;

// Rays per chunk: a few hundred microseconds of tracing, 0.4 MB of nodes.
constexpr std::uint64_t kChunkRays = 4096;

// The rays made, traced and binned chunk by chunk: each thread traces
// through its own copy of the system and adds to its own map, and the maps
// merge exactly at the end. makeChunk(begin, end, batch, map) puts the start
// nodes of rays begin … end − 1 into the batch, and adds to the lane's map
// any ray it could not make, as failed.
template <class MakeChunk>
void traceChunks(TOpticalSystem& system, double wavelength, std::uint64_t count,
                 const MakeChunk& makeChunk, TIrradianceMap& map, const TTraceOptions& options) {
    system.initOptRadius();
    const int n = system.getSize();
    if (n == 0) throw xmsg("irradiance: the system holds no element");
    const std::uint64_t chunks = (count + kChunkRays - 1) / kChunkRays;
    unsigned threads = options.threads > 0 ? static_cast<unsigned>(options.threads)
                                           : std::thread::hardware_concurrency();
    if (threads == 0) threads = 1;
    if (threads > chunks) threads = static_cast<unsigned>(std::max<std::uint64_t>(chunks, 1));

    struct Lane {
        std::unique_ptr<TOpticalSystem> copy;  // null: the system itself
        std::unique_ptr<TIrradianceMap> map;
        std::vector<double> radii;
        std::string error;
    };
    std::vector<Lane> lanes(threads);
    for (unsigned t = 0; t < threads; ++t) {
        lanes[t].map.reset(new TIrradianceMap(map.grid(), map.rayPower(), map.maxIntensity()));
        lanes[t].radii.assign(static_cast<std::size_t>(n), 0.0);
        if (threads == 1) break;
        auto copy = std::make_unique<TOpticalSystem>(system.defaultRadius);
        for (int i = 0; i < n; ++i) {
            std::unique_ptr<TElement> e = cloneElement(*system[i]);
            if (!e) {
                // A host's own element: one thread, through the system itself.
                threads = 1;
                break;
            }
            copy->addElement(e.release());
        }
        if (threads == 1) break;
        lanes[t].copy = std::move(copy);
    }
    lanes.resize(threads);
    if (threads == 1) lanes[0].copy.reset();

    std::atomic<std::uint64_t> nextChunk{0}, done{0};
    std::atomic<bool> stop{false};
    // One chunk: its rays made, traced and added to the lane's map.
    auto traceOne = [&](Lane& lane, TRayBatch& batch, std::uint64_t c) {
        TOpticalSystem& s = lane.copy ? *lane.copy : system;
        TTraceOptions one;
        one.threads = 1;
        one.clipRadii = options.clipRadii;
        const std::uint64_t begin = c * kChunkRays;
        const std::uint64_t end = std::min(count, begin + kChunkRays);
        batch = TRayBatch(wavelength);
        batch.reserve(static_cast<std::size_t>(end - begin));
        makeChunk(begin, end, batch, *lane.map);
        traceRays(s, batch, one);
        lane.map->add(batch);
        for (int i = 0; i < n; ++i) {
            double& radius = lane.radii[static_cast<std::size_t>(i)];
            radius = std::max(radius, s[i]->optRadius);
        }
        done.fetch_add(end - begin, std::memory_order_relaxed);
    };
    auto run = [&](Lane& lane) {
        try {
            TRayBatch batch(wavelength);
            for (;;) {
                if (stop.load(std::memory_order_relaxed)) return;
                const std::uint64_t c = nextChunk.fetch_add(1, std::memory_order_relaxed);
                if (c >= chunks) return;
                traceOne(lane, batch, c);
            }
        } catch (const std::bad_alloc&) {
            lane.error = "out of memory";
        } catch (const std::exception& e) {
            lane.error = e.what();
        }
        stop.store(true);
    };

    bool stoppedByHost = false;
    if (threads == 1) {
        // On the calling thread, asking the host between chunks.
        auto last = Clock::now();
        TRayBatch batch(wavelength);
        for (std::uint64_t c = 0; c < chunks; ++c) {
            try {
                traceOne(lanes[0], batch, c);
            } catch (const std::bad_alloc&) {
                throw xmsg("irradiance: out of memory");
            }
            const std::uint64_t d = done.load();
            if (options.progress && (d == count || Clock::now() - last >= std::chrono::milliseconds(100))) {
                last = Clock::now();
                if (!options.progress(static_cast<std::size_t>(d), static_cast<std::size_t>(count))) {
                    stoppedByHost = true;
                    break;
                }
            }
        }
    } else {
        std::vector<std::thread> workers;
        std::mutex mutex;
        std::condition_variable finished;
        unsigned running = 0;
        std::exception_ptr fromProgress;
        try {
            for (unsigned t = 0; t < threads; ++t) {
                {
                    std::lock_guard<std::mutex> lock(mutex);
                    ++running;
                }
                workers.emplace_back([&, t] {
                    run(lanes[t]);
                    std::lock_guard<std::mutex> lock(mutex);
                    if (--running == 0) finished.notify_one();
                });
            }
        } catch (const std::exception& e) {
            stop.store(true);
            std::lock_guard<std::mutex> lock(mutex);
            --running;
            lanes[0].error = std::string("a worker thread could not start: ") + e.what();
        }
        {
            std::unique_lock<std::mutex> lock(mutex);
            for (;;) {
                const bool allDone = finished.wait_for(lock, std::chrono::milliseconds(100),
                                                       [&running] { return running == 0; });
                if (options.progress && !stop.load()) {
                    lock.unlock();
                    bool goOn = false;
                    try {
                        goOn = options.progress(static_cast<std::size_t>(done.load()),
                                                static_cast<std::size_t>(count));
                    } catch (...) {
                        fromProgress = std::current_exception();
                    }
                    lock.lock();
                    if (!goOn) {
                        stoppedByHost = !fromProgress;
                        stop.store(true);
                    }
                }
                if (allDone) break;
            }
        }
        for (std::thread& w : workers) w.join();
        if (fromProgress) std::rethrow_exception(fromProgress);
    }

    for (const Lane& lane : lanes)
        if (!lane.error.empty()) throw xmsg("irradiance: " + lane.error);
    if (stoppedByHost)
        throw xmsg("irradiance: stopped by the host after " + std::to_string(done.load()) + " of " +
                   std::to_string(count) + " rays");
    for (int i = 0; i < n; ++i) {
        double r = 0.0;
        for (const Lane& lane : lanes) r = std::max(r, lane.radii[static_cast<std::size_t>(i)]);
        system[i]->optRadius = r;
    }
    for (const Lane& lane : lanes) map.merge(*lane.map);
}

// A maker of chunks from a maker of single rays.
template <class MakeRay>
auto rayByRay(const MakeRay& makeRay) {
    return [&makeRay](std::uint64_t begin, std::uint64_t end, TRayBatch& batch, TIrradianceMap&) {
        for (std::uint64_t r = begin; r < end; ++r) batch.add(makeRay(r));
    };
}

}  // namespace

void traceIntoMap(TOpticalSystem& system, const TCollimatedBeam& beam, std::uint64_t seed,
                  std::uint64_t first, std::uint64_t count, TIrradianceMap& map,
                  const TTraceOptions& options) {
    const TCollimatedBeam b = resolveFilledBeam(system, beam);
    const double r = b.pupilRadius;
    // startNode's ray through a pupil point is its ray through the centre
    // moved by the point: x0 + p.x is its p.x − shift, bit for bit, and the
    // field angle's sine and cosine are taken once.
    const TBeamNode centre = startNode(system, b, TPupilPoint());
    const auto makeRay = [&](std::uint64_t i) {
        const TPupilPoint p = streamPupilPoint(r, seed, first + i);
        TBeamNode node = centre;
        node.position.x = p.x + centre.position.x;
        node.position.y = p.y;
        return node;
    };
    traceChunks(system, b.wavelength, count, rayByRay(makeRay), map, options);
}

void traceIntoMap(TOpticalSystem& system, const TRayBatch& starts, TIrradianceMap& map,
                  const TTraceOptions& options) {
    const auto makeRay = [&](std::uint64_t i) { return starts.last(static_cast<std::size_t>(i)); };
    traceChunks(system, starts.wavelength(), starts.size(), rayByRay(makeRay), map, options);
}

namespace {

// Rays first … first + count − 1 of a prescription's stream at field
// `field`, aimed a chunk at a time: each point's aim depends on that point
// alone, so the chunk it falls in changes no bit. A point that cannot be
// aimed goes into the map, if any, as a failed ray.
void aimChunk(const TPrescription& lens, int field, double um, std::uint64_t seed,
              std::uint64_t first, std::uint64_t begin, std::uint64_t end, TRayBatch& batch,
              TIrradianceMap* map) {
    std::vector<std::pair<double, double>> pupil;
    pupil.reserve(static_cast<std::size_t>(end - begin));
    for (std::uint64_t i = begin; i < end; ++i) {
        const TPupilPoint p = streamPupilPoint(1.0, seed, first + i);
        pupil.emplace_back(p.x, p.y);
    }
    for (const TAimedRay& ray : lens.rays(field, pupil, um)) {
        if (ray.ok) batch.add(detail::aimedStart(ray));
        else if (map) map->add(TBeamNode(), false);
    }
}

void checkLensField(const TPrescription& lens, int field) {
    lens.validate();
    if (field < 0 || field >= static_cast<int>(lens.fields.size()))
        throw xmsg("irradiance: field " + std::to_string(field) + " is not one of the prescription's " +
                   std::to_string(lens.fields.size()) + " fields");
}

double lensPlane(const TPrescription& lens, double z) {
    if (!std::isnan(z)) return z;
    try {
        return lens.imagePlaneZ();
    } catch (const xmsg& e) {
        throw xmsg("irradiance: the prescription's image plane cannot be used: " + e.message());
    }
}

}  // namespace

void traceIntoMap(const TPrescription& lens, int field, double wavelengthUm, std::uint64_t seed,
                  std::uint64_t first, std::uint64_t count, TIrradianceMap& map,
                  const TTraceOptions& options) {
    checkLensField(lens, field);
    const double um = lens.resolveWavelength(wavelengthUm);
    TOpticalSystem system = lens.systemAt(um);
    TTraceOptions clipped = options;
    if (clipped.clipRadii.empty()) clipped.clipRadii = lens.clipRadii();
    traceChunks(system, lens.wavelengthInLensUnit(um), count,
                [&](std::uint64_t begin, std::uint64_t end, TRayBatch& batch, TIrradianceMap& lane) {
                    aimChunk(lens, field, um, seed, first, begin, end, batch, &lane);
                },
                map, clipped);
}

TDetectorGrid irradianceGrid(const TPrescription& lens, int field, double wavelengthUm,
                             std::uint64_t seed, double z, int nx, int ny, std::uint64_t rays) {
    checkLensField(lens, field);
    z = lensPlane(lens, z);
    const double um = lens.resolveWavelength(wavelengthUm);
    TOpticalSystem system = lens.systemAt(um);
    TRayBatch batch(lens.wavelengthInLensUnit(um));
    aimChunk(lens, field, um, seed, 0, 0, rays, batch, nullptr);
    TTraceOptions clipped;
    clipped.clipRadii = lens.clipRadii();
    traceRays(system, batch, clipped);
    std::vector<TVector> points;
    for (std::size_t i = 0; i < batch.size(); ++i)
        if (batch.ok(i)) points.push_back(positionAtZ(batch.last(i), z));
    return gridAround(points, z, nx, ny);
}

TIrradianceMap irradiance(const TPrescription& lens, int field, std::uint64_t rays, std::uint64_t seed,
                          TDetectorGrid grid, double wavelengthUm, const TTraceOptions& options) {
    if (rays == 0) throw xmsg("irradiance: at least one ray is needed");
    checkLensField(lens, field);
    grid.z = lensPlane(lens, grid.z);
    if (grid.xMin == 0.0 && grid.xMax == 0.0 && grid.yMin == 0.0 && grid.yMax == 0.0)
        grid = irradianceGrid(lens, field, wavelengthUm, seed, grid.z, grid.nx, grid.ny);
    TIrradianceMap map(grid, 1.0 / static_cast<double>(rays));
    traceIntoMap(lens, field, wavelengthUm, seed, 0, rays, map, options);
    return map;
}

TDetectorGrid irradianceGrid(TOpticalSystem& system, const TCollimatedBeam& beam, std::uint64_t seed,
                             double z, int nx, int ny, std::uint64_t rays) {
    const TCollimatedBeam b = resolveFilledBeam(system, beam);
    TRayBatch batch(b.wavelength);
    for (std::uint64_t i = 0; i < rays; ++i)
        batch.add(startNode(system, b, streamPupilPoint(b.pupilRadius, seed, i)));
    traceRays(system, batch);
    std::vector<TVector> points;
    for (std::size_t i = 0; i < batch.size(); ++i)
        if (batch.ok(i)) points.push_back(positionAtZ(batch.last(i), z));
    return gridAround(points, z, nx, ny);
}

TDetectorGrid gridAround(const std::vector<TVector>& points, double z, int nx, int ny) {
    double x0 = HUGE_VAL, x1 = -HUGE_VAL, y0 = HUGE_VAL, y1 = -HUGE_VAL;
    for (const TVector& p : points) {
        if (!(std::isfinite(p.x) && std::isfinite(p.y))) continue;
        x0 = std::min(x0, p.x), x1 = std::max(x1, p.x);
        y0 = std::min(y0, p.y), y1 = std::max(y1, p.y);
    }
    if (!(x0 <= x1)) throw xmsg("irradiance: none of the rays reaches the plane z = " + std::to_string(z));
    TDetectorGrid g;
    g.z = z, g.nx = nx, g.ny = ny;
    const double floorX = 1e-6 * std::max(1.0, std::max(std::fabs(x0), std::fabs(x1)));
    const double floorY = 1e-6 * std::max(1.0, std::max(std::fabs(y0), std::fabs(y1)));
    const double mx = std::max(0.05 * (x1 - x0), floorX), my = std::max(0.05 * (y1 - y0), floorY);
    g.xMin = x0 - mx, g.xMax = x1 + mx, g.yMin = y0 - my, g.yMax = y1 + my;
    checkGrid(g);
    return g;
}

TIrradianceMap irradiance(TOpticalSystem& system, const TCollimatedBeam& beam, std::uint64_t rays,
                          std::uint64_t seed, TDetectorGrid grid, const TTraceOptions& options) {
    if (rays == 0) throw xmsg("irradiance: at least one ray is needed");
    if (grid.xMin == 0.0 && grid.xMax == 0.0 && grid.yMin == 0.0 && grid.yMax == 0.0)
        grid = irradianceGrid(system, beam, seed, grid.z, grid.nx, grid.ny);
    TIrradianceMap map(grid, 1.0 / static_cast<double>(rays));
    traceIntoMap(system, beam, seed, 0, rays, map, options);
    return map;
}

}  // namespace lumivex
