#include <gtest/gtest.h>

#include "QV_math.h"

TEST(Smoke, Builds) { EXPECT_EQ(Math::sqr(-3.0f), 9.0f); }
