// SPDX-License-Identifier: Apache-2.0
#include "field/field_interpolation.h"

#include <cmath>
#include <exception>
#include <sstream>
#include <string>

#include "numeric/spline.h"

namespace lumivex {

namespace {

[[noreturn]] void reject(const std::string& why) { throw xmsg("beamFanToField: " + why); }

// Spline end condition: natural (second derivative 0) at that end.
constexpr double kNaturalEnd = 1e30;

constexpr double kMaxGridPoints = 1e7;

}  // namespace

TFieldInterpolation::TFieldInterpolation(TBeamFan& fan_, double fanWidth_)
    : fan(&fan_),
      beamCount(fan_.getSize()),
      gridSize(0),
      fanWidth(fanWidth_),
      gridRange(0.0),
      beamSpacing(0.0),
      firstX(0.0),
      lastX(0.0),
      gridStart(0.0),
      gridEnd(0.0) {
    // The splines divide by the distances between neighbouring beams and the
    // density walk relies on their order, so a fan that breaks either is
    // refused here rather than left to the numeric layer's fatal exit.
    if (beamCount < 2)
        reject("the fan needs at least 2 beams, it has " + std::to_string(beamCount));
    for (int i = 0; i < beamCount; ++i) {
        const TBeam* beam = (*fan)[i];
        if (!beam || beam->getSize() == 0) reject("beam " + std::to_string(i) + " has no nodes");
        const double x = endX(i);
        if (!std::isfinite(x))
            reject("beam " + std::to_string(i) + " ends at a position that is not finite");
        if (i > 0 && !(x > endX(i - 1)))
            reject("the beams must end at strictly ascending x; beam " + std::to_string(i) +
                   " does not lie beyond beam " + std::to_string(i - 1));
    }
    if (!(fanWidth > 0.0) || !std::isfinite(fanWidth)) reject("fanWidth must be positive");

    firstX = endX(0);
    lastX = endX(beamCount - 1);
    // The factor scales the end coordinates themselves: the grid reaches half
    // a fan beyond each side only when the fan straddles x = 0.
    gridStart = 1.5 * firstX;
    gridEnd = 1.5 * lastX;
    gridRange = gridEnd - gridStart;
    beamSpacing = fanWidth / (beamCount - 1);
    const double points = (gridRange / beamSpacing) * 2.0;
    // Three arrays of that many doubles: beyond ten million points (240 MB)
    // the fan has spread far beyond its start, or fanWidth is wrong.
    if (!(points <= kMaxGridPoints)) {
        std::ostringstream os;
        os << "the density grid would need " << points << " points, more than " << kMaxGridPoints
           << "; is fanWidth too small?";
        reject(os.str());
    }
    gridSize = static_cast<int>(points);
    if (gridSize < 2)
        reject("the beams end too close together for a density grid of at least 2 points");

    try {
        beamX.allocate(beamCount);
        beamPhase.allocate(beamCount);
        beamPhaseCurv.allocate(beamCount);
        beamIntensity.allocate(beamCount);
        beamIntensityCurv.allocate(beamCount);
        gridX.allocate(gridSize);
        density.allocate(gridSize);
        densityCurv.allocate(gridSize);
    } catch (const std::exception&) {  // std::bad_alloc, std::length_error
        reject("no memory for the splines of " + std::to_string(beamCount) +
               " beams and a density grid of " + std::to_string(gridSize) + " points");
    }

    fitBeams();
    fitDensity();
}

double TFieldInterpolation::endX(int beam) const { return (*fan)[beam]->getLast().position.x; }

void TFieldInterpolation::fitBeams() {
    const double phase0 = (*fan)[0]->getLast().opticalPath;
    for (int i = 0; i < beamCount; ++i) {
        const TBeamNode& last = (*fan)[i]->getLast();
        beamX[i] = last.position.x;
        beamPhase[i] = last.opticalPath - phase0;
        beamIntensity[i] = last.intensity;
    }
    // The phase is clamped flat at both ends; intensity has natural ends.
    nr::spline_setup(beamX.oneBased(), beamPhase.oneBased(), beamCount, 0.0, 0.0,
                     beamPhaseCurv.oneBased());
    nr::spline_setup(beamX.oneBased(), beamIntensity.oneBased(), beamCount, kNaturalEnd,
                     kNaturalEnd, beamIntensityCurv.oneBased());
}

// One-dimensional ray density: beams that started beamSpacing apart and now
// lie closer carry their power into a narrower strip.
void TFieldInterpolation::fitDensity() {
    const double step = gridRange / gridSize;
    int b = 0;
    for (int i = 0; i < gridSize; ++i) {
        gridX[i] = i * step + gridStart;
        if (i > 0 && !(gridX[i] > gridX[i - 1]))
            reject("the density grid's step is below the resolution of the beams' end x");
        if (gridX[i] > firstX && gridX[i] < lastX) {
            b = findInterval(gridX[i], b);
            density[i] = beamSpacing / (endX(b + 1) - endX(b));
        } else {
            density[i] = 0.0;
        }
    }
    nr::spline_setup(gridX.oneBased(), density.oneBased(), gridSize, kNaturalEnd, kNaturalEnd,
                     densityCurv.oneBased());
}

int TFieldInterpolation::findInterval(double x, int start) const {
    int k = start;
    while (endX(k) < x) ++k;
    return k - 1;
}

double TFieldInterpolation::phaseAt(double x) const {
    double result;
    nr::splint(beamX.oneBased(), beamPhase.oneBased(), beamPhaseCurv.oneBased(), beamCount, x,
               &result);
    return result;
}

double TFieldInterpolation::intensityAt(double x) const {
    double result;
    nr::splint(beamX.oneBased(), beamIntensity.oneBased(), beamIntensityCurv.oneBased(), beamCount,
               x, &result);
    return result;
}

double TFieldInterpolation::densityAt(double x) const {
    double result;
    nr::splint(gridX.oneBased(), density.oneBased(), densityCurv.oneBased(), gridSize, x, &result);
    return result;
}

}  // namespace lumivex
