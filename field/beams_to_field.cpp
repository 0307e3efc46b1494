// SPDX-License-Identifier: Apache-2.0
// A traced fan becomes one row of field samples again: splines of the beams'
// end phase and intensity along x, the intensity scaled by how much the beams
// have crowded together or spread apart since the start.
#include <string>

#include "field/field_interpolation.h"
#include "lumivex/field.h"
#include "numeric/checked_math.h"

namespace lumivex {

void beamFanToField(TBeamFan& fan, const double dx, const double, const double fanWidth,
                    const double, TMatrix* field) {
    if (!field) throw xmsg("beamFanToField: no field to write into");
    if (field->columns < 1 || field->rows < 1 || !field->data)
        throw xmsg("beamFanToField: the field has no samples to write (" +
                   std::to_string(field->columns) + " columns, " + std::to_string(field->rows) +
                   " rows)");

    const TFieldInterpolation interpolation(fan, fanWidth);
    const double twoPi = 6.283185307179586;
    const int columns = field->columns;
    for (int c = 0; c < columns; ++c) {
        const double x = (c - columns / 2) * dx;
        // Phase relative to the first beam, remainder with the sign of the
        // spline's value.
        const double phase = math::fmod(interpolation.phaseAt(x), twoPi);
        // Power is conserved along x: the traced intensity times the ratio of
        // the starting spacing to the local one. Spline overshoot at the fan's
        // edges, where the density falls to 0, is no negative power.
        double intensity = interpolation.intensityAt(x) * interpolation.densityAt(x);
        if (intensity < 0.0) intensity = 0.0;
        const double amplitude = math::sqrt(intensity);
        field->data[c] = complex(amplitude * math::cos(phase), amplitude * math::sin(phase));
    }
}

}  // namespace lumivex
