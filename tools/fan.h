// SPDX-License-Identifier: Apache-2.0
// The fan of parallel rays the trace and draw commands send in, in the x–z
// plane: its options, its defaults taken from the system, and its rays.
#ifndef LUMIVEX_TOOLS_FAN_H
#define LUMIVEX_TOOLS_FAN_H

#include <limits>
#include <string>
#include <vector>

#include "lumivex/lumivex.h"
#include "options.h"

namespace CLI {
class App;
}

namespace lumivex::cli {

// The fan as given on the command line (NaN: not given).
struct FanOptions {
    int rays = 11;
    double halfHeight = std::numeric_limits<double>::quiet_NaN();
    double angleDegrees = 0.0;
    double startZ = std::numeric_limits<double>::quiet_NaN();
    double wavelength = std::numeric_limits<double>::quiet_NaN();
    std::string polarization = "x";
};
void addFanOptions(CLI::App& command, FanOptions& options);

// The fan with every default filled in from the system, as the library's
// resolveBeam fills a collimated beam's.
struct Fan {
    int rays;
    double halfHeight;  // where the fan meets the first element
    double angle;       // radians, in the x–z plane
    double startZ;
    double wavelength;
    char polarization;  // 'x' or 'y'
};
// `wavelength` is the loader's (LoadedSystem::wavelength): -w when it was
// given, else what the file implies.
Fan resolveFan(const FanOptions& options, const TOpticalSystem& system, double wavelength);
// The fan as the library's collimated beam, its half-height the pupil radius.
TCollimatedBeam collimatedBeam(const Fan& fan);
// The fan's rays at their start: the meridional fan of the beam's pupil.
TRayBatch fanBatch(const Fan& fan, const TOpticalSystem& system);

}  // namespace lumivex::cli

#endif
