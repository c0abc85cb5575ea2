#include <gtest/gtest.h>
#include "input/input.h"
TEST(LinearInterp, Midpoint) { EXPECT_EQ(LinearInterp(0, 0.5, 1, 10, 20), 15); }
