#include <gtest/gtest.h>

#include "core/dispatch.hpp"

TEST(Dispatch, SmokeXy) {
  auto r = morvex::load_bytes("1 2\n3 4\n", "a.xy");
  ASSERT_TRUE(r.ok());
  EXPECT_EQ(r.value().x.size(), 2u);
}
