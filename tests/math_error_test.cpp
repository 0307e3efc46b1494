// SPDX-License-Identifier: Apache-2.0
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>

#include "lumivex/numeric.h"
#include "numeric/checked_math.h"

using namespace lumivex;

namespace {

std::string hookMessage(int type, const char* name, double a, double b, double r) {
    TMathErrorRecord record{type, name, a, b, r};
    try {
        mathErrorHook(record);
    } catch (const xmsg& e) {
        return e.message();
    }
    return "(no throw)";
}

template <class F>
std::string thrownBy(F f) {
    try {
        f();
    } catch (const xmsg& e) {
        return e.message();
    }
    return "(no throw)";
}

bool startsWith(const std::string& s, const std::string& prefix) {
    return s.compare(0, prefix.size(), prefix) == 0;
}

}  // namespace

TEST(MathErrorHook, MessageNamesTypeFunctionArgumentsAndResult) {
    EXPECT_EQ(hookMessage(1, "sqrt", -1, 0, 0),
              "\r\nDomain error in a call to sqrt:\r\narg1:\t-1\r\narg2:\t0\r\nretval:\t0\n");
    EXPECT_EQ(hookMessage(2, "pow", 0, -1, 1e300),
              "\r\nSingularity error in a call to pow:\r\narg1:\t0\r\narg2:\t-1\r\nretval:\t1e+300\n");
    EXPECT_EQ(hookMessage(3, "exp", 1000.5, 0, 2.5),
              "\r\nOverflow error in a call to exp:\r\narg1:\t1000.5\r\narg2:\t0\r\nretval:\t2.5\n");
    EXPECT_TRUE(startsWith(hookMessage(4, "pow", 1e-200, 2, 0), "\r\nUnderflow error in a call to pow:"));
    EXPECT_TRUE(startsWith(hookMessage(5, "sin", 1e20, 0, 0),
                           "\r\nTotal loss of significant digits in a call to sin:\r\narg1:\t1e+20"));
    // Types without a text of their own still throw, starting at " in a call to ".
    EXPECT_TRUE(startsWith(hookMessage(6, "cos", 1, 0, 0), " in a call to cos:"));
    EXPECT_TRUE(startsWith(hookMessage(0, "acos", 2, 0, 0), " in a call to acos:"));
}

TEST(MathErrorHook, AcceptsOnlyAnUnderflowingExp) {
    TMathErrorRecord record{4, "exp", -1000, 0, 0};
    EXPECT_EQ(mathErrorHook(record), 1);
    TMathErrorRecord other{4, "expm1", -1000, 0, 0};
    EXPECT_THROW(mathErrorHook(other), xmsg);
}

TEST(CheckedMath, PassesValidArgumentsThrough) {
    EXPECT_EQ(math::sqrt(2.25), 1.5);
    EXPECT_EQ(math::acos(1.0), 0.0);
    EXPECT_EQ(math::pow(2.0, 10.0), 1024.0);
    EXPECT_EQ(math::pow(0.0, 2.0), 0.0);
    EXPECT_EQ(math::exp(0.0), 1.0);
    EXPECT_EQ(math::log(1.0), 0.0);
    EXPECT_EQ(math::fmod(1.2, 0.5), std::fmod(1.2, 0.5));
    EXPECT_EQ(math::fmod(-1.2, 0.5), std::fmod(-1.2, 0.5));
    EXPECT_EQ(math::atan2(0.0, 0.0), 0.0);
    EXPECT_EQ(math::sin(1e15), std::sin(1e15));
}

TEST(CheckedMath, FailingCallsThrowThroughTheHook) {
    EXPECT_TRUE(startsWith(thrownBy([] { math::sqrt(-1.0); }),
                           "\r\nDomain error in a call to sqrt:\r\narg1:\t-1\r\narg2:\t0\r\nretval:\t"));
    EXPECT_TRUE(startsWith(thrownBy([] { math::acos(1.5); }), "\r\nDomain error in a call to acos:"));
    EXPECT_TRUE(startsWith(thrownBy([] { math::sin(1e20); }),
                           "\r\nTotal loss of significant digits in a call to sin:"));
    EXPECT_TRUE(startsWith(thrownBy([] { math::cos(std::numeric_limits<double>::infinity()); }),
                           "\r\nTotal loss of significant digits in a call to cos:"));
    EXPECT_TRUE(startsWith(thrownBy([] { math::pow(-8.0, 1.0 / 3.0); }), "\r\nDomain error in a call to pow:"));
    EXPECT_TRUE(startsWith(thrownBy([] { math::pow(0.0, -1.0); }), "\r\nSingularity error in a call to pow:"));
    EXPECT_TRUE(startsWith(thrownBy([] { math::pow(10.0, 400.0); }), "\r\nOverflow error in a call to pow:"));
    EXPECT_TRUE(startsWith(thrownBy([] { math::pow(1e-200, 2.0); }), "\r\nUnderflow error in a call to pow:"));
    EXPECT_TRUE(startsWith(thrownBy([] { math::exp(1000.0); }), "\r\nOverflow error in a call to exp:"));
    EXPECT_TRUE(startsWith(thrownBy([] { math::log(0.0); }), "\r\nSingularity error in a call to log:"));
    EXPECT_TRUE(startsWith(thrownBy([] { math::log(-1.0); }), "\r\nDomain error in a call to log:"));
    EXPECT_TRUE(startsWith(thrownBy([] { math::fmod(1.0, 0.0); }), "\r\nDomain error in a call to fmod:"));
    // Sine at exactly 2^53 has lost every digit; just below it has not.
    EXPECT_THROW(math::sin(9007199254740992.0), xmsg);
    EXPECT_NO_THROW(math::sin(9007199254740990.0));
}

TEST(CheckedMath, UnderflowingExpYieldsZeroSilently) {
    EXPECT_EQ(math::exp(-1000.0), 0.0);
    EXPECT_EQ(math::exp(-746.0), 0.0);
}

TEST(CheckedMath, ArccosineOfUnitDotProductsForgivesTheLastBits) {
    EXPECT_EQ(math::acosUnit(1.0 + 2.3e-16), 0.0);
    EXPECT_EQ(math::acosUnit(1.0 + 1e-12), 0.0);
    EXPECT_EQ(math::acosUnit(-1.0 - 4e-16), 3.141592653589793);
    EXPECT_EQ(math::acosUnit(0.5), std::acos(0.5));
    EXPECT_THROW(math::acosUnit(1.0 + 1e-9), xmsg);
    EXPECT_THROW(math::acosUnit(-1.0 - 1e-9), xmsg);
}
