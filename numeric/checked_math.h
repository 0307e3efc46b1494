// SPDX-License-Identifier: Apache-2.0
// The library's mathematical functions. Each tests its argument and result
// for the failures the C library would report (domain, singularity, overflow,
// underflow, loss of significance), fills a TMathErrorRecord and hands it to
// mathErrorHook, which throws an xmsg from inside the failing call. Every
// mathematical call of the library whose failure must be reported goes
// through these; the fast path is one or two comparisons, inline.
#ifndef LUMIVEX_NUMERIC_CHECKED_MATH_H
#define LUMIVEX_NUMERIC_CHECKED_MATH_H

#include <cmath>
#include <limits>

#include "lumivex/numeric.h"

namespace lumivex {
namespace math {

enum ErrorType { kDomain = 1, kSingularity = 2, kOverflow = 3, kUnderflow = 4, kTotalLossOfDigits = 5, kPartialLossOfDigits = 6 };

// Builds the record and calls the hook; returns retval when the hook accepts
// the error (only an underflowing exp), otherwise the hook has thrown.
[[gnu::cold]] double report(int type, const char* name, double a, double b, double retval);

inline double sqrt(double x) {
    if (x < 0.0) return report(kDomain, "sqrt", x, 0.0, std::numeric_limits<double>::quiet_NaN());
    return std::sqrt(x);
}

inline double acos(double x) {
    if (x < -1.0 || x > 1.0)
        return report(kDomain, "acos", x, 0.0, std::numeric_limits<double>::quiet_NaN());
    return std::acos(x);
}

// The arccosine of a dot product of unit vectors: a value beyond ±1 by
// rounding only (at most 1e-12) is taken as ±1, so a valid ray never fails on
// the last bit; anything further out is the domain error of acos.
inline double acosUnit(double d) {
    if (d > 1.0 && d <= 1.0 + 1e-12) return 0.0;
    if (d < -1.0 && d >= -1.0 - 1e-12) return 3.141592653589793;
    return acos(d);
}

// Sine and cosine lose every significant digit once |x| reaches 2^53.
constexpr double kTotalLoss = 9007199254740992.0;

inline double sin(double x) {
    if (!(std::fabs(x) < kTotalLoss)) return report(kTotalLossOfDigits, "sin", x, 0.0, 0.0);
    return std::sin(x);
}

inline double cos(double x) {
    if (!(std::fabs(x) < kTotalLoss)) return report(kTotalLossOfDigits, "cos", x, 0.0, 0.0);
    return std::cos(x);
}

double powFailure(double x, double y, double r);

inline double pow(double x, double y) {
    const double r = std::pow(x, y);
    if (std::isfinite(r) && (r != 0.0 || x == 0.0) && (std::isnormal(r) || r == 0.0)) return r;
    return powFailure(x, y, r);
}

inline double exp(double x) {
    const double r = std::exp(x);
    if (std::isnormal(r) || std::isnan(x)) return r;
    if (std::isinf(r)) {
        if (std::isinf(x)) return r;  // exp(+inf) is exact
        return report(kOverflow, "exp", x, 0.0, HUGE_VAL);
    }
    if (x == -std::numeric_limits<double>::infinity()) return 0.0;
    return report(kUnderflow, "exp", x, 0.0, 0.0);
}

inline double log(double x) {
    if (x < 0.0) return report(kDomain, "log", x, 0.0, std::numeric_limits<double>::quiet_NaN());
    if (x == 0.0) return report(kSingularity, "log", x, 0.0, -HUGE_VAL);
    return std::log(x);
}

// atan2(0, 0) is 0, the argument the library gives the complex value (0, 0).
inline double atan2(double y, double x) { return std::atan2(y, x); }

inline double fmod(double x, double y) {
    if (y == 0.0 || std::isinf(x))
        return report(kDomain, "fmod", x, y, std::numeric_limits<double>::quiet_NaN());
    return std::fmod(x, y);
}

}  // namespace math
}  // namespace lumivex

#endif
