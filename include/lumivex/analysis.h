// SPDX-License-Identifier: Apache-2.0
// Analyses on top of batch tracing: the collimated beams a system is tested
// with, the ray sets that sample their pupil, where traced rays cross a
// plane, the paraxial focus and spot statistics.
//
// The beams are those of the lumivex tool: parallel rays in the x–z plane at
// a field angle, aimed so that the beam is centred on the axis where it
// meets the first element. Lengths are in the system's unit, angles in
// radians.
#ifndef LUMIVEX_ANALYSIS_H
#define LUMIVEX_ANALYSIS_H

#include <cstdint>
#include <limits>
#include <string>
#include <utility>
#include <vector>

#include "lumivex/export.h"
#include "lumivex/geometry.h"
#include "lumivex/prescription.h"
#include "lumivex/system.h"
#include "lumivex/trace.h"

namespace lumivex {

// A collimated beam entering a system. NaN fields take their defaults from
// the system in resolveBeam.
struct TCollimatedBeam {
    double wavelength = 5.5e-4;  // 550 nm in millimetres
    double fieldAngle = 0.0;     // in the x–z plane, towards +x for a positive angle
    // Radius of the beam where it meets the first element's vertex plane.
    // Default: 80 % of that element's radius (of 1 when it has none).
    double pupilRadius = std::numeric_limits<double>::quiet_NaN();
    // The plane the rays start in. Default: in front of the first element by
    // 15 % of the larger of the system's length and the first element's
    // diameter.
    double startZ = std::numeric_limits<double>::quiet_NaN();
    // 'x': the field in the x–z plane, perpendicular to the ray; 'y': along y.
    char polarization = 'x';
};

// The beam with every default filled in from the system; an xmsg for an
// empty system, a wavelength that is not positive, a field angle not
// within ±90°, a pupil radius that is negative or not finite, a start plane that is
// not finite, or a polarization other than 'x' or 'y'.
LUMIVEX_API TCollimatedBeam resolveBeam(const TOpticalSystem& system, TCollimatedBeam beam);

// The radius of the first element's aperture, which the beams fill by
// default: its nominal radius, else its traced radius, else 1. The nominal
// radius comes first so that an analysis does not depend on what was traced
// through the system before it.
LUMIVEX_API double entranceRadius(const TOpticalSystem& system);

// A point of the entrance pupil: where a ray crosses the first element's
// vertex plane (for a beam at a field angle, relative to where the beam's
// centre crosses it, which is the axis).
struct TPupilPoint {
    double x = 0.0;
    double y = 0.0;
};

// The ray of a resolved beam through a pupil point, at the start plane.
LUMIVEX_API TBeamNode startNode(const TOpticalSystem& system, const TCollimatedBeam& beam,
                                const TPupilPoint& point);
// A batch of the rays of a resolved beam through the points.
LUMIVEX_API TRayBatch rayBatch(const TOpticalSystem& system, const TCollimatedBeam& beam,
                               const std::vector<TPupilPoint>& points);

// Ray sets on a pupil of radius r.
// The meridional fan: n points from (−r, 0) to (r, 0) evenly spaced, the
// one point of n = 1 on the axis.
LUMIVEX_API std::vector<TPupilPoint> meridionalFan(double r, int n);
// The points of an n × n square grid spanning [−r, r] in x and y that lie
// on the pupil disk.
LUMIVEX_API std::vector<TPupilPoint> squareGrid(double r, int n);
// The centre and `rings` rings, ring k at radius r·k/rings holding 6k points
// from the +x axis on: 1 + 3·rings·(rings + 1) points.
LUMIVEX_API std::vector<TPupilPoint> hexapolar(double r, int rings);
// n points spread uniformly over the disk at random, the same for the same
// seed on every platform (a 64-bit Mersenne twister and the library's own
// mapping to the disk).
LUMIVEX_API std::vector<TPupilPoint> randomPupil(double r, int n, std::uint64_t seed);

// The point of a traced ray in the plane z: on the segment that crosses it,
// or on the straight continuation of the first or last segment. A node
// whose ray runs parallel to the plane stays where it is.
LUMIVEX_API TVector positionAtZ(const TBeam& beam, double z);
// The point where the straight continuation of a ray's last node crosses
// the plane z.
LUMIVEX_API TVector positionAtZ(const TBeamNode& last, double z);

// The first meaningful line of a ray's failure message, without the trace
// driver's context line: "Could not compute new k-Vector!".
LUMIVEX_API std::string failureSummary(const std::string& message);

// Where the near-axis rays of a beam cross after the system: two rays 1e-3
// of the pupil radius below and above the pupil's centre, and the meeting
// point of their exit lines in the x–z plane. The two rays are traced with
// TOpticalSystem::traceBeam, so the traced radii grow by theirs.
struct TParaxialFocus {
    bool found = false;
    bool atInfinity = false;  // the exit rays are parallel (no optical power)
    bool isVirtual = false;   // the crossing lies before the rays' exit points
    double z = 0.0;
    double x = 0.0;
    std::string failure;  // why it was not found
};
LUMIVEX_API TParaxialFocus paraxialFocus(TOpticalSystem& system, const TCollimatedBeam& beam);

// Where the rays that went through cross a plane, about their centroid.
struct TSpot {
    double z = 0.0;
    int rays = 0;       // rays that went through
    int failed = 0;     // rays that failed
    int vignetted = 0;  // rays a clear aperture stopped (not failures)
    double centroidX = 0.0;
    double centroidY = 0.0;
    double rms = 0.0;      // root mean square distance from the centroid
    double largest = 0.0;  // the largest distance from the centroid
};
// The spot of a traced batch in the plane z: from each ray's kept beam when
// the trace kept them (as positionAtZ of a beam), otherwise from its last
// node.
LUMIVEX_API TSpot spotAt(const TRayBatch& batch, double z);
// The spot of points in a plane, failed and vignetted rays counted apart.
LUMIVEX_API TSpot spotOf(const std::vector<TVector>& points, double z, int failed = 0,
                         int vignetted = 0);
// The same with a weight per point (≥ 0, a positive sum): the weighted
// centroid and the weighted RMS distance from it.
LUMIVEX_API TSpot spotOf(const std::vector<TVector>& points, const std::vector<double>& weights,
                         double z, int failed = 0, int vignetted = 0);


// ---------------------------------------------------------------------------
// The analyses a lens designer reads: paraxial data, spot diagrams, ray fans
// and OPD fans. Each takes a resolved collimated beam; the analyses fill the
// entrance disk, so their beams come from resolveFilledBeam, whose pupil
// radius defaults to the whole first element's radius rather than 80 % of it.
// The medium behind the last element has index 1 (TOpticalSystem::traceBeam).

// The beam with its defaults filled in as resolveBeam does, except the pupil
// radius: the first element's radius (1 when it has none), the whole
// entrance disk.
LUMIVEX_API TCollimatedBeam resolveFilledBeam(const TOpticalSystem& system, TCollimatedBeam beam);

// First-order data of the system at the beam's wavelength, from two rays on
// the axis's side 1e-3 of the pupil radius off it (the beam's field angle is
// not used: these are properties of the axis).
struct TParaxialData {
    double pupilRadius = 0.0;  // the entrance pupil radius the F-number refers to
    // Effective focal length f = −h/u′: the entry height h over the exit slope u′.
    double efl = 0.0;
    double focusZ = 0.0;  // where the near-axis rays cross the axis (paraxialFocus)
    double bfl = 0.0;     // focusZ − z of the last element
    // The paraxial working F-number for an object at infinity, |f|/(2·r), r
    // the pupil radius: 1/(2·n′·u′) with the paraxial marginal slope u′ = r/f
    // in image space of index n′ = 1. The Airy radius is 1.22·λ·fNumber.
    double fNumber = 0.0;
    // The entrance and exit pupils: for a bare system the entrance pupil is
    // the disk of the beam at the first element's vertex plane, the exit
    // pupil is not known (NaN); a prescription's are its stop's images.
    double entrancePupilZ = 0.0;
    double entrancePupilDiameter = 0.0;
    double exitPupilZ = std::numeric_limits<double>::quiet_NaN();
    double exitPupilDiameter = std::numeric_limits<double>::quiet_NaN();
    double wavelength = 0.0;  // the beam's
};
// An xmsg when a near-axis ray fails or the system has no optical power.
LUMIVEX_API TParaxialData paraxialData(TOpticalSystem& system, const TCollimatedBeam& beam);

// A spot diagram in the plane z: where each ray that went through crosses
// it, relative to the chief ray (the ray through the pupil's centre).
struct TSpotDiagram {
    int field = -1;  // a prescription's field; −1 for a bare system's beam
    double fieldAngle = 0.0;
    double z = 0.0;
    double chiefX = 0.0, chiefY = 0.0;  // the chief ray's point in the plane
    std::vector<TPupilPoint> pupil;     // each drawn ray's pupil point
    std::vector<double> x, y;           // each drawn ray's point − the chief ray's
    // About the centroid as spotAt measures it (its centroid absolute), failed
    // and vignetted rays counted; the geometric radius is spot.largest.
    TSpot spot;
    double centroidX = 0.0, centroidY = 0.0;  // the centroid relative to the chief ray
    double airyRadius = 0.0;                  // 1.22·λ·N of the paraxial F-number
    double wavelength = 0.0, pupilRadius = 0.0;  // the beam's
    // A polychromatic spot's wavelengths in µm (the reference first) with
    // their normalised weights, and per drawn ray the index of its
    // wavelength there; empty for one wavelength's spot.
    std::vector<double> wavelengthsUm, weights;
    std::vector<int> wave;
};
// The spot of the beam through the pupil points in the plane imageZ (NaN: the
// paraxial focus). The chief ray must go through (an xmsg otherwise).
LUMIVEX_API TSpotDiagram spotDiagram(TOpticalSystem& system, const TCollimatedBeam& beam,
                                     const std::vector<TPupilPoint>& pupil, double imageZ,
                                     const TTraceOptions& options = TTraceOptions());
// Spot diagrams of the beam at several field angles (radians), in one plane.
LUMIVEX_API std::vector<TSpotDiagram> spotDiagrams(TOpticalSystem& system,
                                                   const TCollimatedBeam& beam,
                                                   const std::vector<double>& fieldAngles,
                                                   const std::vector<TPupilPoint>& pupil,
                                                   double imageZ,
                                                   const TTraceOptions& options = TTraceOptions());

// The RMS spot radius against the image plane. Behind the last element the
// rays are straight, so each point is linear in z and the mean square radius
// a parabola in z: its vertex, the plane of least RMS, is found exactly.
struct TThroughFocus {
    double fieldAngle = 0.0;  // the beam's
    std::vector<double> z, rms;
    double bestZ = 0.0;
    double bestRms = 0.0;
};
// `steps` planes from zFrom to zTo (at least 2), all behind the last
// element; an xmsg when no ray goes through.
LUMIVEX_API TThroughFocus throughFocus(TOpticalSystem& system, const TCollimatedBeam& beam,
                                       const std::vector<TPupilPoint>& pupil, double zFrom,
                                       double zTo, int steps,
                                       const TTraceOptions& options = TTraceOptions());
// The same over the planes the analyses look at by default: about the
// image plane imageZ (NaN: the paraxial focus) by the depth over which a
// spot of the beam's geometric radius there grows by its own size,
// 4·N·radius (N the paraxial F-number), and never less than the
// diffraction-limited depth of focus ±4·λ·N², the first plane no nearer
// than the last element.
LUMIVEX_API TThroughFocus throughFocusAbout(TOpticalSystem& system, const TCollimatedBeam& beam,
                                            const std::vector<TPupilPoint>& pupil, double imageZ,
                                            int steps,
                                            const TTraceOptions& options = TTraceOptions());

// The image plane the analyses use by default: the real paraxial focus of
// the beam's axis (an xmsg when it is virtual, at infinity or not found).
LUMIVEX_API double paraxialImageZ(TOpticalSystem& system, const TCollimatedBeam& beam);

// Fans of n rays across the pupil at normalised coordinates ρ from −1 to 1
// (n ≥ 2): tangential rays at (ρ·r, 0) in the field's plane x–z, sagittal
// rays at (0, ρ·r). Values of failed rays are NaN.
//
// Transverse ray aberration: the image-plane point minus the chief ray's, x
// for the tangential fan and y for the sagittal fan.
//
// Optical path difference, in waves, W = OPL(chief) − OPL(ray), positive
// where the wavefront leads. Each ray's optical path is the phase the trace
// gathered (TBeamNode::opticalPath / 2π) from a plane wavefront of the
// incoming beam (a ray starting in the start plane off the chief ray is
// credited the path n·(P0·k) from the wavefront through the origin), then
// the straight segment in index 1 from its last node to the reference
// sphere. The sphere is centred on the chief ray's point in the image plane
// and passes through the chief ray's last node, so it stands where light
// leaves the system, close to the exit pupil of a system whose stop is its
// first element. On that sphere a perfect image is a constant path, and the
// transverse aberration is ε = −(R/n′)·∂W/∂Y (W in length, Y the ray's
// height on the sphere), the relation the two fans satisfy.
struct TRayFan {
    double fieldAngle = 0.0;
    double z = 0.0;              // the image plane
    double referenceRadius = 0.0;  // R, the OPD's reference sphere
    std::vector<double> rho;     // normalised pupil coordinate
    std::vector<double> tangential, sagittal;  // transverse, in length units
    std::vector<double> tangentialOpd, sagittalOpd;  // OPD, in waves
    // Where each ray meets the reference sphere, relative to the chief ray's
    // crossing: x of the tangential rays, y of the sagittal rays.
    std::vector<double> tangentialSphere, sagittalSphere;
    int field = -1;     // a prescription's field; −1 for a bare system's beam
    int failed = 0;     // fan rays that failed (their values NaN)
    int vignetted = 0;  // fan rays a clear aperture stopped (NaN too)
    std::string failure;  // the first failure's summary, "" when none failed
    double wavelength = 0.0;  // the beam's
};
// imageZ NaN: the paraxial focus. The chief ray must go through.
LUMIVEX_API TRayFan rayFan(TOpticalSystem& system, const TCollimatedBeam& beam, int n,
                           double imageZ, const TTraceOptions& options = TTraceOptions());

// ---------------------------------------------------------------------------
// A sampled field through a system: one row of samples becomes a fan of rays
// (fieldToBeamFan), the rays go through the system and on to an output
// plane, and become a row of samples again (beamFanToField).

// A row of a field: each sample's x and complex amplitude, in the plane z,
// the samples dx apart.
struct TFieldRow {
    double z = 0.0;
    double dx = 0.0;
    std::vector<double> x;
    std::vector<complex> value;
    // Σ|value|²·Δx, Δx the spacing of the first two samples (Σ|value|² for
    // one sample).
    LUMIVEX_API double power() const;
};

// `samples` (at least 2) samples across `window`, centred on the axis, in
// the plane z: a Gaussian of amplitude exp(−(x/waist)²), or a plane wave of
// unit amplitude for an infinite waist, its wavefront tilted by `tilt`
// radians (phase 2π·sin(tilt)·x/λ). An xmsg when the tilt turns the phase by
// π or more between neighbouring samples: the conversion to rays follows
// the phase from sample to sample, and would alias.
LUMIVEX_API TFieldRow sampledRow(double wavelength, double z, long long samples, double window,
                                 double waist, double tilt);

// What came through: the output row, the rays that carried it (each from
// the input plane through the system to the output plane), and whether the
// system turned the row over (an imaging system does).
struct TFieldRoundTrip {
    TFieldRow out;
    std::vector<TBeam> rays;
    bool inverted = false;
};

// Why a round trip failed, and at which step (a host may add its own advice).
class LUMIVEX_API TFieldRoundTripError : public xmsg {
public:
    enum Step { ToRays, Trace, Exit, Crossing, ToField };
    TFieldRoundTripError(std::string message, Step step) : xmsg(std::move(message)), step(step) {}
    Step step;
};

// The row `in` as `rays` rays (at least 2), traced through
// the system from the plane in.z, carried straight on through the air
// behind it to outZ (NaN: the last element) with the phase of that
// stretch, and sampled there into outSamples samples (0: as many as the
// input) outDx apart (NaN: spanning the rays' end points and a tenth more).
// An xmsg when the row cannot become rays, a ray fails or does not leave
// towards +z (the output needs every ray), the rays cross before outZ (so
// they form no single field there), or they cannot become a row again:
// a TFieldRoundTripError.
LUMIVEX_API TFieldRoundTrip fieldRoundTrip(TOpticalSystem& system, const TFieldRow& in,
                                           double wavelength, int rays, double outZ,
                                           int outSamples, double outDx,
                                           const TTraceOptions& options = TTraceOptions());

// ---------------------------------------------------------------------------
// Reductions: analyses that reduce many rays to a small result. The rays are
// made, traced and reduced chunk by chunk on every core, so memory holds a
// few chunks and the result, never all the rays, and the sums are exact
// (integers), so any split of the rays into chunks, threads or machines,
// merged in any order, gives the same bits.

// Point `index` of the counter-based random stream `seed`, spread uniformly
// over the disk of radius r: Philox4x32-10 keyed by the seed, with the index
// (and a draw number) as its counter, gives points of the square with 53-bit
// coordinates, the first inside the disk taken. A ray is made from its own
// index alone, so any chunking of a stream makes the same rays.
LUMIVEX_API TPupilPoint streamPupilPoint(double r, std::uint64_t seed, std::uint64_t index);

// A detector in the plane z: nx × ny bins over [xMin, xMax] × [yMin, yMax]
// (a point on the upper edges falls in the last bin).
struct TDetectorGrid {
    double z = 0.0;
    int nx = 0, ny = 0;
    double xMin = 0.0, xMax = 0.0, yMin = 0.0, yMax = 0.0;
};

// The rays on their way to an irradiance map: the power of the rays that
// went through, binned where their last segment crosses the grid's plane,
// and the spot statistics (unweighted, as TSpot's) of all of them in that
// plane. Each ray adds its intensity, rounded to 2^-60 of the largest start
// intensity, to integer sums; `rayPower` converts a unit of intensity into
// power when the image is read.
class LUMIVEX_API TIrradianceMap {
public:
    // An xmsg for a grid without bins or with more than 2^26, bounds that
    // are not finite and increasing, a ray power or largest intensity that is
    // not positive and finite.
    TIrradianceMap(const TDetectorGrid& grid, double rayPower, double maxIntensity = 1.0);

    const TDetectorGrid& grid() const { return detector; }
    double rayPower() const { return power1; }
    double maxIntensity() const { return largest; }

    // One ray's last node; `ok` false for a ray that failed. An xmsg for an
    // intensity that is negative, not finite or above 4 × maxIntensity.
    void add(const TBeamNode& last, bool ok);
    // Every ray of a traced batch.
    void add(const TRayBatch& batch);
    // Adds another map of the same grid, ray power and largest intensity (an
    // xmsg otherwise). Exact: the order of merging does not matter.
    void merge(const TIrradianceMap& other);

    // Power per bin: ny rows of nx, row 0 at yMin, column 0 at xMin.
    std::vector<double> image() const;
    double power() const;         // on the grid
    double powerThrough() const;  // of every ray that went through, on the grid or not
    std::uint64_t rays() const { return traced; }  // rays added, failed or not
    std::uint64_t failed() const { return lost; }
    std::uint64_t onGrid() const { return landed; }
    // About the centroid of the rays that went through (NaN without any).
    double centroidX() const;
    double centroidY() const;
    double rmsRadius() const;

    // The whole state as integers, for hosts that carry partial maps
    // between processes, and back; fromState checks what it reads.
    std::vector<std::int64_t> state() const;
    static TIrradianceMap fromState(const std::vector<std::int64_t>& state);

private:
    TIrradianceMap() = default;
    struct Sums;  // the moments unpacked while rays are added
    void addRay(const TBeamNode& last, bool ok, Sums& sums);
    double sumOf(int moment) const;

    TDetectorGrid detector;
    double power1 = 1.0, largest = 1.0;
    int scale = 0;                     // intensities are counted in units of 2^-scale
    double unit = 1.0;                 // 2^scale
    double binsPerX = 1.0, binsPerY = 1.0;
    std::vector<std::int64_t> bins;    // two words per bin: a 128-bit sum
    std::int64_t offGrid[2] = {0, 0};  // the same for the rays off the grid
    std::uint64_t traced = 0, lost = 0, landed = 0;
    std::vector<std::int64_t> moments;  // exact sums of x, y, x² + y² (see exact_sum.h)
};

// Where the beam's rays land in the plane z, as a grid over them: the box
// of the first (up to) 4096 rays of the stream that go through, widened by
// 5 % on every side (and to at least 1e-6 of its distance from the axis).
// An xmsg when none of them goes through.
LUMIVEX_API TDetectorGrid irradianceGrid(TOpticalSystem& system, const TCollimatedBeam& beam,
                                         std::uint64_t seed, double z, int nx, int ny,
                                         std::uint64_t rays = 4096);
// The same box around points in the plane z (those not finite left out).
LUMIVEX_API TDetectorGrid gridAround(const std::vector<TVector>& points, double z, int nx, int ny);

// Traces rays first … first + count − 1 of the beam's stream `seed` (their
// pupil points streamPupilPoint over the beam's pupil radius) and adds them
// to the map, chunk by chunk on every core (options.threads); memory holds
// a chunk of rays per thread. Afterwards the traced radii are the largest
// the rays reached, as traceRays leaves them. options.progress is called as
// traceRays calls it; keepNodes is not used.
LUMIVEX_API void traceIntoMap(TOpticalSystem& system, const TCollimatedBeam& beam,
                              std::uint64_t seed, std::uint64_t first, std::uint64_t count,
                              TIrradianceMap& map, const TTraceOptions& options = TTraceOptions());
// The same for the start nodes of a batch (left as they are).
LUMIVEX_API void traceIntoMap(TOpticalSystem& system, const TRayBatch& starts, TIrradianceMap& map,
                              const TTraceOptions& options = TTraceOptions());

// The irradiance map of `rays` rays of the stream `seed` filling the beam's
// pupil; the beam carries unit power, shared equally by its rays. A grid
// whose bounds are all 0 is placed by irradianceGrid.
LUMIVEX_API TIrradianceMap irradiance(TOpticalSystem& system, const TCollimatedBeam& beam,
                                      std::uint64_t rays, std::uint64_t seed, TDetectorGrid grid,
                                      const TTraceOptions& options = TTraceOptions());

// ---------------------------------------------------------------------------
// The analyses of a prescription: the lens as its designer defined it. They
// take its aperture and stop (every ray aimed as the prescription says), its
// fields, its primary wavelength and its image plane, and its clear
// apertures and stop vignette: a ray they stop is counted as vignetted, not
// as failed. The system traced is TPrescription::systemAt, so the image
// plane is not an element and the last element is the last lens surface.
// Wavelengths are in micrometres (NaN: the primary), lengths in the
// prescription's unit; a field is an index into TPrescription::fields.
// Pupil points are normalised: (px, py) on the unit disk, px along x.

// First-order data of the prescription at a wavelength: the paraxial focus,
// BFL from the last lens surface, EFL, the working F-number and the
// entrance pupil of its aperture, from y–nu traces (TPrescription::firstOrder).
LUMIVEX_API TParaxialData paraxialData(const TPrescription& lens,
                                       double wavelengthUm = std::numeric_limits<double>::quiet_NaN());

// The spot of field `field` in the plane imageZ (NaN: the prescription's
// image plane). Its pupil points are kept in entrance-pupil coordinates
// (the normalised points times the entrance pupil's radius); fieldAngle is
// the chief ray's angle to the axis in object space. A point that cannot be
// aimed counts as failed. The chief ray must go through (an xmsg saying why
// otherwise).
LUMIVEX_API TSpotDiagram spotDiagram(const TPrescription& lens, int field,
                                     const std::vector<TPupilPoint>& pupil,
                                     double imageZ = std::numeric_limits<double>::quiet_NaN(),
                                     double wavelengthUm = std::numeric_limits<double>::quiet_NaN(),
                                     const TTraceOptions& options = TTraceOptions());
// The polychromatic spot of field `field`: the pupil's rays at every
// wavelength (µm, with weights; none given: the prescription's own, its
// primary first), each ray weighted by its wavelength's weight in the
// centroid and the RMS. Points are relative to the first wavelength's
// chief ray, whose F-number gives the Airy radius; `wavelength` is the
// first's in lens units.
LUMIVEX_API TSpotDiagram polychromaticSpot(const TPrescription& lens, int field,
                                           const std::vector<TPupilPoint>& pupil,
                                           double imageZ = std::numeric_limits<double>::quiet_NaN(),
                                           const std::vector<TWavelength>& wavelengths = {},
                                           const TTraceOptions& options = TTraceOptions());
// The spot of every field of the prescription, in one plane.
LUMIVEX_API std::vector<TSpotDiagram> spotDiagrams(
    const TPrescription& lens, const std::vector<TPupilPoint>& pupil,
    double imageZ = std::numeric_limits<double>::quiet_NaN(),
    double wavelengthUm = std::numeric_limits<double>::quiet_NaN(),
    const TTraceOptions& options = TTraceOptions());
// The RMS radius of field `field` in `steps` planes from zFrom to zTo, any
// plane behind the last lens surface (before the image plane too).
LUMIVEX_API TThroughFocus throughFocus(const TPrescription& lens, int field,
                                       const std::vector<TPupilPoint>& pupil, double zFrom,
                                       double zTo, int steps,
                                       double wavelengthUm = std::numeric_limits<double>::quiet_NaN(),
                                       const TTraceOptions& options = TTraceOptions());
// The fans of field `field`: tangential rays along the field's direction in
// the pupil (x for a field on the axis), sagittal rays across it. The OPD's
// reference sphere is centred on the chief ray's point in the image plane
// and passes through the chief ray's crossing of the exit pupil plane.
LUMIVEX_API TRayFan rayFan(const TPrescription& lens, int field, int n,
                           double imageZ = std::numeric_limits<double>::quiet_NaN(),
                           double wavelengthUm = std::numeric_limits<double>::quiet_NaN(),
                           const TTraceOptions& options = TTraceOptions());

// Irradiance maps of the light of field `field` filling the entrance pupil:
// ray i of the stream `seed` goes through the normalised pupil point
// streamPupilPoint(1, seed, i), aimed as the prescription aims its rays, and
// is traced through systemAt(wavelength) with the prescription's clear
// apertures and stop clipping (options.clipRadii, when given, instead). A
// ray is aimed where it is traced, from its index alone, so any chunking of
// the stream makes the same rays. A point that cannot be aimed and a ray
// that is vignetted reach no detector: both count as failed.
LUMIVEX_API void traceIntoMap(const TPrescription& lens, int field, double wavelengthUm,
                              std::uint64_t seed, std::uint64_t first, std::uint64_t count,
                              TIrradianceMap& map, const TTraceOptions& options = TTraceOptions());
// The grid around where the first (up to) 4096 rays of that stream that go
// through cross the plane z (NaN: the prescription's image plane), as
// irradianceGrid places it for a bare system.
LUMIVEX_API TDetectorGrid irradianceGrid(const TPrescription& lens, int field, double wavelengthUm,
                                         std::uint64_t seed, double z, int nx, int ny,
                                         std::uint64_t rays = 4096);
// The map of `rays` rays of the stream carrying unit power between them. A
// grid whose z is NaN lies in the image plane; one whose bounds are all 0
// is placed by irradianceGrid.
LUMIVEX_API TIrradianceMap irradiance(const TPrescription& lens, int field, std::uint64_t rays,
                                      std::uint64_t seed, TDetectorGrid grid,
                                      double wavelengthUm = std::numeric_limits<double>::quiet_NaN(),
                                      const TTraceOptions& options = TTraceOptions());
// ---------------------------------------------------------------------------
// Colour and field curves of a prescription. The fields are sampled from
// the axis to the prescription's largest field along that field's
// direction (a field off the axis is needed): field value t·F for t from 0
// to 1, F the largest field's size in degrees or lens units. Heights are
// measured in the image plane along the field's direction; the chief ray
// is aimed as the prescription says and not clipped.

// The paraxial focus against the wavelength.
struct TFocalShift {
    std::vector<double> wavelengths;  // µm, evenly from the shortest to the longest
    std::vector<double> focusZ;       // the paraxial focus at each
    std::vector<double> shift;        // focusZ less the primary wavelength's focus
    double primaryFocusZ = 0.0;
    double range = 0.0;  // the largest shift less the smallest
};
// `samples` (≥ 2) wavelengths between the prescription's shortest and
// longest (an xmsg when they are one); fromUm and toUm, when given, instead.
LUMIVEX_API TFocalShift chromaticFocalShift(const TPrescription& lens, int samples = 21,
                                            double fromUm = std::numeric_limits<double>::quiet_NaN(),
                                            double toUm = std::numeric_limits<double>::quiet_NaN());

// The chief ray's height at the longest wavelength less its height at the
// shortest, in the image plane, against the field.
struct TLateralColour {
    std::vector<double> field;  // degrees or lens units
    std::vector<double> shortHeight, longHeight, difference;
    double shortUm = 0.0, longUm = 0.0;
    double z = 0.0;  // the image plane
};
LUMIVEX_API TLateralColour lateralColour(const TPrescription& lens, int samples = 11,
                                         const TTraceOptions& options = TTraceOptions());

// Field curvature and distortion at one wavelength. The tangential and
// sagittal foci are where two real rays close by the chief ray (±1e-3 of
// the normalised pupil, along the field's direction and across it) cross,
// measured along z from the image plane. Distortion is the chief ray's
// height against the paraxial height, 100·(h − h′)/h′ per cent, h′ scaled
// linearly (in tan θ for angles, in the height for object heights) from a
// chief ray 1e-6 of the largest field off the axis, which is paraxial in
// the same image plane; 0 on the axis.
struct TFieldCurves {
    std::vector<double> field;  // degrees or lens units
    std::vector<double> tangential, sagittal;  // focus z − image plane
    std::vector<double> height, paraxialHeight;
    std::vector<double> distortion;  // per cent
    double z = 0.0;
    double wavelengthUm = 0.0;
};
LUMIVEX_API TFieldCurves fieldCurves(const TPrescription& lens, int samples = 21,
                                     double wavelengthUm = std::numeric_limits<double>::quiet_NaN(),
                                     const TTraceOptions& options = TTraceOptions());

}  // namespace lumivex

#endif
