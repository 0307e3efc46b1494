// SPDX-License-Identifier: Apache-2.0
// Interpolating cubic splines over 1-based arrays (indices 1 … n, the offset
// convention of nr_arrays.h). Internal to the library.
#ifndef LUMIVEX_NUMERIC_SPLINE_H
#define LUMIVEX_NUMERIC_SPLINE_H

namespace lumivex {
namespace nr {

// Fills curv[1 … n] with the second derivatives of the cubic spline through
// (xa[i], values[i]), xa strictly ascending. slopeFirst and slopeLast are the
// first derivatives at xa[1] and xa[n]; a value above 9.9e29 (pass 1e30)
// selects the natural end (second derivative 0) instead. A table with n < 2
// or two equal neighbouring abscissae ends the process through numeric_error
// with "Bad xa input to routine splint".
void spline_setup(const double* xa, const double* values, int n, double slopeFirst,
                  double slopeLast, double* curv);

// Stores the spline's value at x through result. Outside the table the cubic
// of the first or last interval is extended. An interval of zero width ends
// the process through numeric_error.
void splint(const double* xa, const double* values, const double* curv, int n, double x,
            double* result);

}  // namespace nr
}  // namespace lumivex

#endif
