// SPDX-License-Identifier: Apache-2.0
// What every element constructor asks of the values it is given. A NaN or an
// infinity in a position, a shape or an index is traced into nodes that look
// like a ray's (NaN positions and phases reported as success), and the
// Fresnel transmittance 4·n1·n2·cos θ1·cos θ2/(n1·cos θ1 + n2·cos θ2)² and its
// s and p parts hold only where both indices are positive: with one negative
// they give powers far above the start or below 0.
#ifndef LUMIVEX_SYSTEM_ELEMENT_CHECKS_H
#define LUMIVEX_SYSTEM_ELEMENT_CHECKS_H

#include <charconv>
#include <cmath>
#include <string>

#include "lumivex/numeric.h"

namespace lumivex {
namespace detail {

// The shortest text that reads back to v: "-1.6", "inf", "nan".
inline std::string valueText(double v) {
    char text[32];
    const auto result = std::to_chars(text, text + sizeof text, v);
    return std::string(text, result.ptr);
}

// `who`: the class ("TSlab"); `what`: the parameter ("the z position").
inline void requireFinite(const char* who, const char* what, double v) {
    if (!std::isfinite(v))
        throw xmsg(std::string(who) + ": " + what + " " + valueText(v) + " is not a finite number");
}

// Not a NaN; an infinity may mean something (a conic without shape).
inline void requireNumber(const char* who, const char* what, double v) {
    if (std::isnan(v)) throw xmsg(std::string(who) + ": " + what + " is not a number (nan)");
}

// A medium's index: finite, with a real part that is not negative. An index
// of exactly 0 is what a description record cut short leaves for the value it
// lacks; rays meeting it fail or carry no power, and the description reader
// refuses an index of 0 or less that is written out.
inline void requireIndex(const char* who, const char* what, const complex& n) {
    if (!std::isfinite(n.real()) || !std::isfinite(n.imag()))
        throw xmsg(std::string(who) + ": " + what + " (" + valueText(n.real()) + "," +
                   valueText(n.imag()) + ") is not a finite number");
    if (n.real() < 0.0)
        throw xmsg(std::string(who) + ": " + what + " " + valueText(n.real()) +
                   " is negative; the transmittance holds only for media of positive index");
}

}  // namespace detail
}  // namespace lumivex

#endif
