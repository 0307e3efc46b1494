// SPDX-License-Identifier: Apache-2.0
// What the analyses of a prescription share: one field's rays aimed through
// its stop and traced at one wavelength with its clear apertures clipping,
// the chief ray among them, and the image plane they are read in.
#ifndef LUMIVEX_ANALYSIS_LENS_RAYS_H
#define LUMIVEX_ANALYSIS_LENS_RAYS_H

#include <cstddef>
#include <string>
#include <vector>

#include "lumivex/analysis.h"

namespace lumivex::detail {

// One field's rays through a prescription at one wavelength: the system
// with its clips, the batch of the rays that could be aimed (the chief ray
// last), and which pupil point each of them came from.
struct FieldRays {
    TOpticalSystem system;
    double lambda = 0.0;  // in lens units
    TTraceOptions options;
    TRayBatch starts{1.0};
    TRayBatch batch{1.0};
    std::vector<std::size_t> point;  // the pupil point of each ray of the batch
    int unaimed = 0;
    std::string unaimedWhy;
    std::size_t chief = 0;  // the chief ray's index in the batch
    TVector direction;      // the chief ray's start direction
    FieldRays(TOpticalSystem s) : system(std::move(s)) {}
};

// An xmsg beginning with `who` unless the field is an index into the fields.
void checkField(const TPrescription& lens, int field, const char* who);

// Aims the normalised pupil points and the chief ray and traces them. The
// prescription's clear apertures and stop clip, unless the caller's options
// give clips.
FieldRays traceField(const TPrescription& lens, int field, const std::vector<TPupilPoint>& pupil,
                     double wavelengthUm, const TTraceOptions& options, const char* who);

// An xmsg saying why, when the chief ray did not go through.
void requireChief(const FieldRays& f, int field, const char* who);

// The plane an analysis looks at: the one asked for (NaN: the
// prescription's), behind the last lens surface, in words when not.
double usablePlane(const TPrescription& lens, const TOpticalSystem& system, double imageZ,
                   const char* who);

// The chief ray's angle to the axis in object space, towards +x (or +y for
// a field along y alone).
double chiefAngle(const TVector& k);

// The point of the chief ray's last node line where the designer's OPD
// reference sphere passes: its crossing of the exit pupil plane, or its
// last node when the exit pupil is at infinity or undefined.
TVector exitPupilPoint(const TPrescription& lens, const TBeamNode& chiefLast, double wavelengthUm);

}  // namespace lumivex::detail

#endif
