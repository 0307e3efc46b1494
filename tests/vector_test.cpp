#include <gtest/gtest.h>

#include <sstream>

#include "lumivex/geometry.h"

using namespace lumivex;

TEST(Vector, TextForm) {
    std::ostringstream os;
    os << TVector(0, 0, 1) << TVector(1, 0.5, -2);
    EXPECT_EQ(os.str(), "(0,0,1)(1,0.5,-2)");
}
