#include <gtest/gtest.h>

#include "app/settings.h"

TEST(Smoke, ParsesNumbers) { EXPECT_EQ(ParseNumber(" 2.5"), 2); }
