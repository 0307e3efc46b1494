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
#include <vector>

#include "lumivex/export.h"
#include "lumivex/geometry.h"
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
    int rays = 0;    // rays that went through
    int failed = 0;  // rays that did not
    double centroidX = 0.0;
    double centroidY = 0.0;
    double rms = 0.0;      // root mean square distance from the centroid
    double largest = 0.0;  // the largest distance from the centroid
};
// The spot of a traced batch in the plane z: from each ray's kept beam when
// the trace kept them (as positionAtZ of a beam), otherwise from its last
// node.
LUMIVEX_API TSpot spotAt(const TRayBatch& batch, double z);
// The spot of points in a plane, failed rays counted apart.
LUMIVEX_API TSpot spotOf(const std::vector<TVector>& points, double z, int failed = 0);

}  // namespace lumivex

#endif
