// SPDX-License-Identifier: Apache-2.0
#include <sstream>
#include <string>
#include <utility>

#include "lumivex/numeric.h"
#include "numeric/checked_math.h"

namespace lumivex {

xmsg::xmsg(std::string message) : text(std::move(message)) {}

xmsg::xmsg(const TSourceLocation& where_, const std::string& message)
    : text(locationPrefix(where_) + " " + message), located(true), where(where_) {}

const char* xmsg::what() const noexcept { return text.c_str(); }

const std::string& xmsg::message() const noexcept { return text; }

bool xmsg::hasLocation() const noexcept { return located; }

const TSourceLocation& xmsg::location() const noexcept { return where; }

std::string locationPrefix(const TSourceLocation& where) {
    std::string text = where.source;
    if (where.line > 0) {
        text += ":" + std::to_string(where.line);
        if (where.column > 0) text += ":" + std::to_string(where.column);
    }
    text += ":";
    if (where.surface >= 0) text += " surface " + std::to_string(where.surface) + ":";
    return text;
}

int mathErrorHook(TMathErrorRecord& record) {
    std::string text;
    {
        std::ostringstream os;
        switch (record.type) {
            case 1: os << "\r\nDomain error"; break;
            case 2: os << "\r\nSingularity error"; break;
            case 3: os << "\r\nOverflow error"; break;
            case 4: os << "\r\nUnderflow error"; break;
            case 5: os << "\r\nTotal loss of significant digits"; break;
            default: break;
        }
        os << " in a call to " << record.name << ":"
           << "\r\narg1:\t" << record.firstArgument << "\r\narg2:\t" << record.secondArgument
           << "\r\nretval:\t" << record.retval << "\n";
        text = os.str();
    }
    // An exponential that underflows is harmless: accept it and let the call
    // yield its substitute result.
    if (record.type == 4 && std::string(record.name) == "exp") return 1;
    throw xmsg(text);
}

namespace math {

double report(int type, const char* name, double a, double b, double retval) {
    TMathErrorRecord record{type, name, a, b, retval};
    mathErrorHook(record);
    return record.retval;
}

double powFailure(double x, double y, double r) {
    if (std::isnan(r)) {
        if (std::isnan(x) || std::isnan(y)) return r;
        return report(kDomain, "pow", x, y, r);  // negative base, fractional exponent
    }
    if (std::isinf(r)) {
        if (std::isinf(x) || std::isinf(y)) return r;
        if (x == 0.0) return report(kSingularity, "pow", x, y, r);  // zero to a negative power
        return report(kOverflow, "pow", x, y, r);
    }
    // A zero or subnormal result from a nonzero base.
    if (std::isinf(y)) return r;
    return report(kUnderflow, "pow", x, y, r);
}

}  // namespace math
}  // namespace lumivex
