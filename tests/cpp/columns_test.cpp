// The row rule of the column formats: which tokens of a line make a point.
#include "formats/columns.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

namespace morvex {
namespace {

using Tokens = std::vector<std::string>;

ColumnTarget rows(const std::vector<Tokens>& lines) {
  ColumnTarget target;
  for (const Tokens& line : lines) {
    const std::vector<std::string_view> views(line.begin(), line.end());
    push_row(views, target);
  }
  return target;
}

using Values = std::vector<double>;

TEST(ColumnRows, RowRule) {
  const struct {
    std::vector<Tokens> lines;
    Values x, y, e;
  } cases[] = {
      {{{"10", "20"}}, {10}, {20}, {}},
      {{{"10", "20", "0.5", "99"}}, {10}, {20}, {0.5}},
      {{{"10", "abc", "0.5"}}, {}, {}, {}},
      {{{"abc", "10", "0.5"}}, {}, {}, {}},
      {{{"10", "20", "abc"}}, {10}, {20}, {}},
      {{{"10", "20", "abc", "5"}}, {10}, {20}, {}},  // the fourth token never stands in
      {{{"10"}}, {}, {}, {}},
      {{{}}, {}, {}, {}},
      {{{"1", "2", "3"}, {"4", "5"}, {"6", "7", "8"}}, {1, 4, 6}, {2, 5, 7}, {3, 8}},
  };
  for (const auto& c : cases) {
    const ColumnTarget got = rows(c.lines);
    EXPECT_EQ(got.x, c.x);
    EXPECT_EQ(got.y, c.y);
    EXPECT_EQ(got.e, c.e);
  }
}

TEST(ColumnRows, SpecialValuesAreData) {
  const ColumnTarget got = rows({{"nan", "-inf", "-0"}});
  ASSERT_EQ(got.x.size(), 1u);
  EXPECT_TRUE(std::isnan(got.x[0]));
  EXPECT_EQ(got.y[0], -INFINITY);
  ASSERT_EQ(got.e.size(), 1u);
  EXPECT_TRUE(std::signbit(got.e[0]));
}

TEST(ColumnErrors, KeptOnlyWhenEveryPointHasOne) {
  EXPECT_FALSE(finish_error_column({}, {}).has_value());
  EXPECT_FALSE(finish_error_column({1, 2}, {}).has_value());
  EXPECT_FALSE(finish_error_column({1, 2}, {0.5}).has_value());
  EXPECT_FALSE(finish_error_column({1}, {0.5, 0.6}).has_value());
  EXPECT_EQ(finish_error_column({1, 2}, {0.5, 0.6}), (Values{0.5, 0.6}));
}

}  // namespace
}  // namespace morvex
