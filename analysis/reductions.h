// SPDX-License-Identifier: Apache-2.0
// What the analyses of a bare system and of a prescription share once their
// rays are traced: the through-focus curve and the ray and OPD fans.
#ifndef LUMIVEX_ANALYSIS_REDUCTIONS_H
#define LUMIVEX_ANALYSIS_REDUCTIONS_H

#include <cstddef>
#include <vector>

#include "lumivex/analysis.h"

namespace lumivex {
namespace detail {

// The RMS radius of the first `count` rays of a traced batch in `steps`
// planes from zFrom to zTo, all behind lastZ (the last element), and the
// plane of least RMS; an xmsg (beginning with `who`) saying why a plane
// cannot be used or when no ray goes through.
TThroughFocus focusCurve(const TRayBatch& batch, std::size_t count, double lastZ, double zFrom,
                         double zTo, int steps, const char* who);

// Where a fan's rays are read: the image plane z, the chief ray's point Q
// in it, the reference sphere's radius R about Q, the wavelength in the
// system's unit, the pupil directions of the tangential and the sagittal
// fan (unit vectors in x–y), and the wavefront the rays start on: a plane
// of direction k in a medium of index n0, or (planeWave false) a point.
struct FanGeometry {
    double z = 0.0;
    TVector Q;
    double R = 0.0;
    double lambda = 0.0;
    TVector tangential{1.0, 0.0, 0.0};
    TVector sagittal{0.0, 1.0, 0.0};
    bool planeWave = true;
    TVector k{0.0, 0.0, 1.0};
    double n0 = 1.0;
};

// The fans of rho.size() tangential then as many sagittal rays: rayOf[i]
// is the batch index of fan ray i (−1: not traced, NaN), `chief` the chief
// ray's. Rays that failed or were vignetted give NaN and are counted.
TRayFan fanOf(const TRayBatch& starts, const TRayBatch& batch, const std::vector<long>& rayOf,
              std::size_t chief, const std::vector<double>& rho, const FanGeometry& g);

// The start node of an aimed ray of a prescription: intensity 1, phase 0,
// polarized perpendicular to the ray in the plane of the ray and x, as a
// bare system's beams are.
TBeamNode aimedStart(const TAimedRay& ray);

}  // namespace detail
}  // namespace lumivex

#endif
