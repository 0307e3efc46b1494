// Figures of merit of a traced fan: where its near-axis rays focus and how
// large its spot is in a plane.
#ifndef LUMIVEX_TOOLS_FOCUS_H
#define LUMIVEX_TOOLS_FOCUS_H

#include <string>
#include <vector>

#include "fan.h"
#include "lumivex/lumivex.h"
#include "tracing.h"

namespace lumivex::cli {

// The point of a traced ray in the plane z: on the segment that crosses it,
// or on the straight continuation of the first or last segment.
TVector positionAtZ(const TBeam& beam, double z);

// Where the near-axis rays of the fan cross after the system: two rays a
// hair above and below the fan's centre, and the meeting point of their
// exit lines in the x–z plane.
struct ParaxialFocus {
    bool found = false;
    bool atInfinity = false;  // the exit rays are parallel
    bool isVirtual = false;   // the crossing lies before the rays' exit points
    double z = 0.0;
    double x = 0.0;
    std::string failure;
};
ParaxialFocus paraxialFocus(TOpticalSystem& system, const Fan& fan);

// The RMS radius of the traced rays about their centroid in the plane z.
struct Spot {
    double z = 0.0;
    int rays = 0;
    double rms = 0.0;
    double centroidX = 0.0;
    double centroidY = 0.0;
};
Spot spotAt(const std::vector<TracedRay>& rays, double z);

}  // namespace lumivex::cli

#endif
