// SPDX-License-Identifier: Apache-2.0
// Cubic-spline description of a traced fan along x: the phase and intensity
// its beams carry at their last nodes, and how densely the beams lie there
// compared with their starting spacing. Internal to the library; the working
// object of beamFanToField.
#ifndef LUMIVEX_FIELD_FIELD_INTERPOLATION_H
#define LUMIVEX_FIELD_FIELD_INTERPOLATION_H

#include <vector>

#include "lumivex/geometry.h"

namespace lumivex {

class TFieldInterpolation {
public:
    // An array indexed from 0 here and handed to the spline routines, which
    // index from 1, as an array whose index 1 is element 0.
    class SplineArray {
    public:
        void allocate(int n) { store.assign(static_cast<std::size_t>(n) + 1, 0.0); }
        double& operator[](int i) { return store[static_cast<std::size_t>(i) + 1]; }
        double operator[](int i) const { return store[static_cast<std::size_t>(i) + 1]; }
        double* oneBased() { return store.data(); }
        const double* oneBased() const { return store.data(); }

    private:
        std::vector<double> store;
    };

    // Builds every spline. The fan is not owned and must neither change nor
    // die while this object lives. Throws xmsg for a fan the splines cannot
    // describe: fewer than 2 beams, a beam without nodes, end x that are not
    // finite and strictly ascending, a fanWidth that is not positive, or a
    // density grid of fewer than 2 points.
    TFieldInterpolation(TBeamFan& fan, double fanWidth);

    double phaseAt(double x) const;
    double intensityAt(double x) const;
    double densityAt(double x) const;

    TBeamFan* fan;
    int beamCount;
    int gridSize;
    double fanWidth;
    double gridRange;
    double beamSpacing;
    double firstX;
    double lastX;
    double gridStart;
    double gridEnd;
    SplineArray beamX;
    SplineArray beamPhase;
    SplineArray beamPhaseCurv;
    SplineArray beamIntensity;
    SplineArray beamIntensityCurv;
    SplineArray gridX;
    SplineArray density;
    SplineArray densityCurv;

private:
    void fitBeams();
    void fitDensity();
    // The last beam, from start on, whose end x lies below x.
    int findInterval(double x, int start) const;
    double endX(int beam) const;
};

}  // namespace lumivex

#endif
