// parse_double's one-pass paths for short numerals must give the very doubles of correct
// rounding, refuse what the grammar refuses, and read no byte outside the token.
#include <gtest/gtest.h>
#include <sys/mman.h>
#include <unistd.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>

#include "core/number.hpp"

namespace morvex {
namespace {

std::uint64_t bits(double value) {
  return std::bit_cast<std::uint64_t>(value);
}

// Parses the token placed right after and right before an inaccessible page, so that a
// read outside it crashes, and at the end of a buffer that may be read before it; all three
// must agree.
std::optional<double> parse_guarded(const std::string& token) {
  static const auto page = static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
  static char* const pages = [] {
    auto* map = static_cast<char*>(
        mmap(nullptr, 3 * page, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0));
    if (map == MAP_FAILED || mprotect(map, page, PROT_NONE) != 0 ||
        mprotect(map + 2 * page, page, PROT_NONE) != 0) {
      std::abort();
    }
    return map + page;
  }();
  std::memcpy(pages, token.data(), token.size());
  const auto at_start = parse_double(std::string_view(pages, token.size()));
  char* const at_end = pages + page - token.size();
  std::memcpy(at_end, token.data(), token.size());
  const auto at_page_end = parse_double(std::string_view(at_end, token.size()));
  // Inside a buffer, after bytes that would change the number if they were taken for it.
  for (char* c = pages; c < at_end; ++c) *c = (at_end - c) % 2 ? '9' : '.';
  const auto in_buffer = parse_double(std::string_view(at_end, token.size()), pages);
  for (const auto& other : {at_page_end, in_buffer}) {
    EXPECT_EQ(at_start.has_value(), other.has_value()) << token;
    if (at_start && other) {
      EXPECT_EQ(bits(*at_start), bits(*other)) << token;
    }
  }
  return at_start;
}

// glibc's strtod rounds correctly, so it stands in for correct rounding here.
void expect_same_as_strtod(const std::string& token) {
  const auto parsed = parse_guarded(token);
  ASSERT_TRUE(parsed.has_value()) << token;
  EXPECT_EQ(bits(*parsed), bits(std::strtod(token.c_str(), nullptr))) << token;
}

TEST(ShortNumeral, EdgesOfTheExactPaths) {
  for (const char* token :
       {// Plain decimals: 1 to 16 bytes, 7 or 8 digits before the point, 8 or 9 after.
        "0", "-0", "-0.000", "+0.", "5.", ".5", "-.5", "1719.5", "41.47", "10.0125", "1234567.5",
        "12345678.5", "0.12345678", "0.123456789", "-1.23456789012345", "12.3456789012345",
        "1.234567890123456", "80.008530800", "170.55354309082",
        // 15, 16, 19 and 20 digits.
        "999999999999999", "123456789012345.", ".123456789012345", "9999999999999999",
        "1234567890.123456", "9999999999999999999", "1.234567890123456789", "99999999999999999999",
        "1234567890123456789e-19", "0.0000000000000000000001",
        // Around 2^53, where the digits stop being exact.
        "9007199254740992", "9007199254740993", "9007199254740991e-3", "900719925474099.3",
        "9007199254740993e-3", "9007199254740992e22", "9007199254740991e23",
        // Powers of ten around 22, the last exact one, and exponents that offset decimals.
        "1e22", "1e23", "-1e-22", "1e-23", "1.5e22", "123.456e20", "123.456e21", "0.0000001e29",
        "1234.5e-19", "1234.5e-20", "1E+0022", "7e-0", "2.675", "0.3"}) {
    expect_same_as_strtod(token);
  }
  EXPECT_TRUE(std::signbit(*parse_double("-0.0")));
  EXPECT_TRUE(std::signbit(*parse_double("-0e30")));
}

TEST(ShortNumeral, RefusesWhatTheGrammarRefuses) {
  // Octal escapes where a digit follows, which a hex escape would swallow.
  const char* const refused[] = {".",          "-",
                                 "+",          "1.2.3",
                                 "1..2",       "..5",
                                 "5-",         "1 2",
                                 "1,5",        "1:5",
                                 "1/2",        "12345678:",
                                 "1234567/.5", ".e1",
                                 "1.5e",       "1e+",
                                 "1e5.",       "1e5e",
                                 "\2611",      "1.5\x80",
                                 "1\xC2\xA0",  "12345678\xFF",
                                 "1.\xB5",     "1\3722",
                                 "1.2\3773",   "1234567.12345678\xFF"};
  for (const char* token : refused) {
    EXPECT_FALSE(parse_guarded(token).has_value()) << token;
  }
  EXPECT_FALSE(parse_guarded(std::string("1.5\0", 4)).has_value());
  EXPECT_FALSE(parse_guarded(std::string("12345678\0009", 10)).has_value());
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
    if (i % 3 == 0) {
      token += 'e';
      token += std::to_string(static_cast<int>(random() % 61) - 30);
    }
    expect_same_as_strtod(token);
  }
}

}  // namespace
}  // namespace morvex
