// The row rule of the column formats: which tokens of a line make a point.
#include "formats/columns.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "test_sources.hpp"

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

// Lines that only the full rules read rightly, each among plain rows, whole in the buffer and
// across its end, so that the reader must hand each over at the right place.
TEST(ColumnReader, OddLinesAmongPlainRows) {
  constexpr auto ws = Separators::white_space;
  const struct {
    std::string line;
    Separators separators;
    std::size_t columns;
    Values x, y;
    std::optional<Values> e;  // the line's own; nullopt when the input keeps none
  } cases[] = {
      {"# 7 8 9", ws, 3, {}, {}, Values{}},
      {"  \t\r", ws, 3, {}, {}, Values{}},
      {"7 8 9 10 \xC3\xA9", ws, 3, {7}, {8}, Values{9}},
      {"7\xC2\xA0"
       "8\xE3\x80\x80"
       "9",
       ws,
       3,
       {7},
       {8},
       Values{9}},
      {"-7 +8 1.5e3\r", ws, 3, {-7}, {8}, Values{1500}},
      {"7 8 12345678901234567", ws, 3, {7}, {8}, Values{12345678901234567.0}},
      {"7 8 x", ws, 3, {7}, {8}, std::nullopt},
      {"7 8 0." + std::string(70, '0') + "5", ws, 3, {7}, {8}, Values{5e-71}},  // across 64 bytes
      {"7 x 9", ws, 3, {}, {}, Values{}},
      {"7", ws, 3, {}, {}, Values{}},
      {"7,8,9", ws, 3, {}, {}, Values{}},
      {",7,,8 ,9,", Separators::white_space_and_comma, 3, {7}, {8}, Values{9}},
      {"7 8 \xC3\xA9", ws, 2, {7}, {8}, std::nullopt},
  };
  const auto join = [](double first, const Values& middle, double last) {
    Values all{first};
    all.insert(all.end(), middle.begin(), middle.end());
    all.insert(all.end(), 3, last);
    return all;
  };
  for (const auto& c : cases) {
    const std::string text = "1 2 3\n" + c.line + "\n" + "4 5 6\n4 5 6\n4 5 6\n";
    for (const std::size_t chunk : {std::size_t{3}, text.size()}) {
      SCOPED_TRACE(c.line + " in chunks of " + std::to_string(chunk));
      ChunkedSource source(text, chunk);
      Input input(source);
      const auto got = read_columns(input, c.separators, c.columns);
      ASSERT_TRUE(got.ok());
      EXPECT_EQ(got.value().x, join(1, c.x, 4));
      EXPECT_EQ(got.value().y, join(2, c.y, 5));
      const bool kept = c.e && c.columns == 3;
      EXPECT_EQ(got.value().e, kept ? std::optional(join(3, *c.e, 6)) : std::nullopt);
    }
  }
}

// The room reserved from a stated size is a guess: no size, however wrong, changes the points.
TEST(ColumnReader, MisleadingStatedSizes) {
  std::string text;
  for (int i = 0; i < 20000; ++i) text += std::to_string(i) + " " + std::to_string(2 * i) + "\n";
  for (const std::optional<std::uint64_t> size :
       {std::optional<std::uint64_t>{}, std::optional<std::uint64_t>{1}, std::optional{text.size()},
        std::optional{std::uint64_t{100} * text.size()}, std::optional{~std::uint64_t{0}}}) {
    ChunkedSource source(text, 4096);
    Input input(source, size);
    const auto got = read_columns(input, Separators::white_space, 3);
    ASSERT_TRUE(got.ok());
    ASSERT_EQ(got.value().x.size(), 20000u);
    EXPECT_EQ(got.value().y.back(), 39998.0);
  }
}

// Every scan's rules: decimal commas where the rows leave no doubt, a refusal where a comma
// could be either, and a cut last row; each input whole and in chunks of 3 bytes.
TEST(ColumnReader, CheckedRowsReadDecimalCommasAndRefuseDoubt) {
  constexpr auto ws = Separators::white_space;
  constexpr auto commas = Separators::white_space_and_comma;
  const std::string mixed =
      "Column file mixes decimal commas with decimal points or comma "
      "separators, in row ";
  const std::string unclear =
      "Column file has commas that could mark decimals or separate "
      "fields, in row ";
  const std::string cut =
      "Column file's last row (point 3) has no uncertainty, every row "
      "before it has one (cut file?)";
  const struct {
    std::string text;
    Separators separators;
    Values x, y;
    std::optional<Values> e;
    std::string error;
  } cases[] = {
      {"5,00\t1234\n5,5 1240 -1,5e1\n6;1;0,5\n", ws, {5, 5.5, 6}, {1234, 1240, 1}, {}, ""},
      {"5,00\t1234\n5,5 1240 -1,5e1\n6;1;0,5\n", commas, {5, 5.5, 6}, {1234, 1240, 1}, {}, ""},
      {"h,a\nx: 1,5\n1,5;2,5;3\n2 3 4\n", commas, {1.5, 2}, {2.5, 3}, Values{3, 4}, ""},
      {"10,100,3\n10.5,100,3\n", commas, {10, 10.5}, {100, 100}, Values{3, 3}, ""},
      {"10.5, 100\n11,100\n", commas, {10.5, 11}, {100, 100}, {}, ""},
      {"10.5,100\n5,00,1\n", ws, {}, {}, {}, ""},  // commas separate nothing in xy
      {"5,00,1234\n", commas, {}, {}, {}, unclear + "\"5,00,1234\""},
      {"5,00,1234\n5,5 1\n", commas, {}, {}, {}, unclear + "\"5,00,1234\""},
      {"5.0\t1,5\n", ws, {}, {}, {}, mixed + "\"5.0\t1,5\""},
      {"5,0, 100\n", commas, {}, {}, {}, mixed + "\"5,0, 100\""},
      {"5.0 100\n5,5 100\n", ws, {}, {}, {}, mixed + "\"5,5 100\""},
      {"5,5 100\n5.0 100\n", ws, {}, {}, {}, mixed + "\"5.0 100\""},
      {"10.5,100\n5,5 100\n", commas, {}, {}, {}, mixed + "\"5,5 100\""},
      {"5,5 100\n10,100\n", commas, {}, {}, {}, mixed + "\"10,100\""},
      {"1 2 3\n4 5 6\n7 8", ws, {}, {}, {}, cut},
      {"1,2,3\n4,5,6\n7,8,x\n", commas, {}, {}, {}, cut},
      {"1 2 3\n4 5\n7 8 9\n", ws, {1, 4, 7}, {2, 5, 8}, {}, ""},
  };
  for (const auto& c : cases) {
    for (const std::size_t chunk : {std::size_t{3}, c.text.size()}) {
      SCOPED_TRACE(c.text + " in chunks of " + std::to_string(chunk));
      ChunkedSource source(c.text, chunk);
      Input input(source);
      const auto got = read_columns(input, c.separators, row_columns, RowRules::checked);
      if (!c.error.empty()) {
        ASSERT_FALSE(got.ok());
        EXPECT_EQ(got.error().message(), c.error);
        continue;
      }
      ASSERT_TRUE(got.ok()) << got.error().message();
      EXPECT_EQ(got.value().x, c.x);
      EXPECT_EQ(got.value().y, c.y);
      EXPECT_EQ(got.value().e, c.e);
    }
  }
}

// Rows of plain numbers go the fast way under every scan's rules, and give what morvex gives.
TEST(ColumnReader, CheckedPlainRowsMatchTheFirstPattern) {
  for (const auto separators : {Separators::white_space, Separators::white_space_and_comma}) {
    const std::string comma = separators == Separators::white_space ? " " : ",";
    std::string text = "angle" + comma + "count\n";
    for (int i = 0; i < 5000; ++i) {
      text += std::to_string(i) + ".25" + comma + std::to_string(3 * i) + comma +
              (i % 7 ? "1\n" : " 1\n");
    }
    ChunkedSource plain(text, 4096), checked(text, 4096);
    Input plain_input(plain), checked_input(checked);
    const auto want = read_columns(plain_input, separators, row_columns);
    const auto got = read_columns(checked_input, separators, row_columns, RowRules::checked);
    ASSERT_TRUE(got.ok()) << got.error().message();
    EXPECT_EQ(got.value().x, want.value().x);
    EXPECT_EQ(got.value().y, want.value().y);
    EXPECT_EQ(got.value().e, want.value().e);
  }
}

TEST(ColumnReader, InvalidUtf8AmongPlainRowsFails) {
  ChunkedSource source("1 2\n1 2 \xFF\n" + std::string(40, ' ') + "\n", 1024);
  Input input(source);
  const auto got = read_columns(input, Separators::white_space, 2);
  ASSERT_FALSE(got.ok());
  EXPECT_EQ(got.error().message(), IoError::invalid_utf8().message());
}

}  // namespace
}  // namespace morvex
