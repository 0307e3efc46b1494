// SPDX-License-Identifier: Apache-2.0
// The classical cubic spline: a tridiagonal system for the second
// derivatives, solved by forward elimination and back substitution.
#include "numeric/spline.h"

#include "numeric/nr_arrays.h"

namespace lumivex {
namespace nr {

namespace {
constexpr const char* kBadAbscissae = "Bad xa input to routine splint";
}

void spline_setup(const double* xa, const double* values, int n, double slopeFirst,
                  double slopeLast, double* curv) {
    const double* X = xa;
    const double* Y = values;
    double* C = curv;
    // A table the elimination below would read past or divide by zero in.
    if (n < 2) numeric_error(kBadAbscissae);
    for (int i = 1; i < n; ++i)
        if (X[i + 1] == X[i]) numeric_error(kBadAbscissae);

    double* w = vector(1, n - 1);
    if (slopeFirst > 9.9e29) {
        C[1] = 0.0;
        w[1] = 0.0;
    } else {
        C[1] = -0.5;
        w[1] = (3.0 / (X[2] - X[1])) * ((Y[2] - Y[1]) / (X[2] - X[1]) - slopeFirst);
    }
    for (int i = 2; i <= n - 1; ++i) {
        const double s = (X[i] - X[i - 1]) / (X[i + 1] - X[i - 1]);
        const double p = s * C[i - 1] + 2.0;
        C[i] = (s - 1.0) / p;
        w[i] = (Y[i + 1] - Y[i]) / (X[i + 1] - X[i]) - (Y[i] - Y[i - 1]) / (X[i] - X[i - 1]);
        w[i] = (6.0 * w[i] / (X[i + 1] - X[i - 1]) - s * w[i - 1]) / p;
    }
    double e, f;
    if (slopeLast > 9.9e29) {
        e = 0.0;
        f = 0.0;
    } else {
        e = 0.5;
        f = (3.0 / (X[n] - X[n - 1])) * (slopeLast - (Y[n] - Y[n - 1]) / (X[n] - X[n - 1]));
    }
    C[n] = (f - e * w[n - 1]) / (e * C[n - 1] + 1.0);
    for (int k = n - 1; k >= 1; --k) C[k] = C[k] * C[k + 1] + w[k];
    release_vector(w, 1, n - 1);
}

void splint(const double* xa, const double* values, const double* curv, int n, double x,
            double* result) {
    const double* X = xa;
    const double* Y = values;
    const double* C = curv;
    // Bisection; an x on a tabulated abscissa moves lo. Outside the table the
    // bracket ends at the first or last interval.
    int lo = 1;
    int hi = n;
    while (hi - lo > 1) {
        const int k = (hi + lo) >> 1;
        if (X[k] > x)
            hi = k;
        else
            lo = k;
    }
    const double h = X[hi] - X[lo];
    if (h == 0.0) numeric_error(kBadAbscissae);
    const double a = (X[hi] - x) / h;
    const double b = (x - X[lo]) / h;
    *result =
        a * Y[lo] + b * Y[hi] + ((a * a * a - a) * C[lo] + (b * b * b - b) * C[hi]) * (h * h) / 6.0;
}

}  // namespace nr
}  // namespace lumivex
