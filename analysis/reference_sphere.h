// SPDX-License-Identifier: Apache-2.0
// What the OPD fans and the wavefront map share: the chief ray of a beam and
// the reference sphere the optical path difference is measured on.
#ifndef LUMIVEX_ANALYSIS_REFERENCE_SPHERE_H
#define LUMIVEX_ANALYSIS_REFERENCE_SPHERE_H

#include "lumivex/analysis.h"

namespace lumivex::detail {

// The last node of the chief ray (through the pupil's centre); an xmsg
// naming `who` when it fails or does not leave towards +z.
TBeamNode tracedChief(TOpticalSystem& system, const TCollimatedBeam& beam, const char* who);

// The image plane: NaN for the paraxial focus, else it must be finite.
double imagePlane(TOpticalSystem& system, const TCollimatedBeam& beam, double imageZ);

// A sphere centred on a point of the image plane through the chief ray's
// last node, and the optical path of a traced ray up to it. The path is the
// phase the trace gathered (TBeamNode::opticalPath / 2π) from a plane
// wavefront of the incoming beam — a ray starting in the start plane off the
// chief ray is credited n·(P0·k) from the wavefront through the origin — then
// the straight segment in index 1 from its last node to the sphere.
struct TReferenceSphere {
    TVector centre;
    double radius = 0.0;
    double wavelength = 0.0;
    double n0 = 1.0;  // the index in front of the first element
    TVector k;        // the incoming beam's unit direction

    // The path in waves and where the ray meets the sphere, on the side the
    // light comes from; NaN when its line misses the sphere.
    double pathInWaves(const TBeamNode& start, const TBeamNode& last, TVector& onSphere) const;
};

// The sphere about `centre` through the chief ray's last node.
TReferenceSphere referenceSphere(const TOpticalSystem& system, const TCollimatedBeam& beam,
                                 const TBeamNode& chiefLast, const TVector& centre);

}  // namespace lumivex::detail

#endif
