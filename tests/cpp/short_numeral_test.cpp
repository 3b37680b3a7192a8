// parse_double's shortcut for short numerals must give the very doubles of the general path.
#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <random>
#include <string>

#include "core/number.hpp"

namespace morvex {
namespace {

std::uint64_t bits(double value) { return std::bit_cast<std::uint64_t>(value); }

// glibc's strtod rounds correctly, so it stands in for the general path here.
void expect_same_as_strtod(const std::string& token) {
  const auto parsed = parse_double(token);
  ASSERT_TRUE(parsed.has_value()) << token;
  EXPECT_EQ(bits(*parsed), bits(std::strtod(token.c_str(), nullptr))) << token;
}

TEST(ShortNumeral, BoundariesOfTheShortcut) {
  for (const char* token :
       {"0", "-0", "-0.000", "5.", ".5", "-.5", "999999999999999", "9999999999999999",
        "0.000000000000001", "0.0000000000000000000001", "1.0000000000000000000000001",
        "123456789012345.", ".123456789012345", "1234567890.123456", "9007199254740993",
        "0.1", "0.3", "2.675", "1719.0", "80.008530800", "170.55354309082"}) {
    expect_same_as_strtod(token);
  }
  EXPECT_TRUE(std::signbit(*parse_double("-0.0")));
}

TEST(ShortNumeral, RefusesWhatTheGrammarRefuses) {
  for (const char* token : {".", "-", "+", "1.2.3", "1..2", "..5", "5-", "1 2", "1,5"}) {
    EXPECT_FALSE(parse_double(token).has_value()) << token;
  }
}

TEST(ShortNumeral, RandomNumeralsMatchCorrectRounding) {
  std::mt19937_64 random(20240607);
  for (int i = 0; i < 200000; ++i) {
    const auto length = 1 + static_cast<int>(random() % 18);
    const auto dot = static_cast<int>(random() % static_cast<std::uint64_t>(length + 2));
    std::string token = random() % 4 == 0 ? "-" : "";
    for (int k = 0; k < length; ++k) {
      if (k == dot) token += '.';
      token += static_cast<char>('0' + random() % 10);
    }
    if (dot == length) token += '.';
    expect_same_as_strtod(token);
  }
}

}  // namespace
}  // namespace morvex
