// SPDX-License-Identifier: Apache-2.0
#include <cmath>

#include "lumivex/geometry.h"
#include "numeric/checked_math.h"

namespace lumivex {

TVector rotateAboutAxis(double vx, double vy, double vz, double ax, double ay, double az,
                        double angle) {
    const double len = std::sqrt(ax * ax + ay * ay + az * az);
    const double ux = ax / len;
    const double uy = ay / len;
    const double uz = az / len;
    const double C = math::cos(angle);
    const double S = math::sin(angle);
    const double t = 1.0 - C;
    return {(ux * ux * t + C) * vx + (ux * uy * t + uz * S) * vy + (ux * uz * t - uy * S) * vz,
            (ux * uy * t - uz * S) * vx + (uy * uy * t + C) * vy + (uy * uz * t + ux * S) * vz,
            (ux * uz * t + uy * S) * vx + (uy * uz * t - ux * S) * vy + (uz * uz * t + C) * vz};
}

}  // namespace lumivex
