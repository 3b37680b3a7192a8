// parse_double: the number grammar shared by every text format, and correct rounding.
#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <random>
#include <string>

#include "core/axis.hpp"
#include "core/number.hpp"
#include "core/number_text.hpp"

namespace morvex {
namespace {

constexpr double infinity = std::numeric_limits<double>::infinity();

std::uint64_t bits(double value) {
  return std::bit_cast<std::uint64_t>(value);
}

// The C library's conversion, correctly rounded in glibc, as the reference for tokens that
// the grammar accepts.
double reference(const std::string& token) {
  return std::strtod(token.c_str(), nullptr);
}

// Bit-exact comparison, so that the sign of zero and of NaN counts.
void expect_bits(const std::string& token, double expected) {
  const auto parsed = parse_double(token);
  ASSERT_TRUE(parsed.has_value()) << token;
  EXPECT_EQ(bits(*parsed), bits(expected)) << token << " gave " << *parsed;
}

TEST(NumberParserGrammar, AcceptsDecimalNumerals) {
  const struct {
    const char* token;
    double value;
  } cases[] = {
      {"0", 0.0},
      {"7", 7.0},
      {"007", 7.0},
      {"5.", 5.0},
      {".5", 0.5},
      {"+.5", 0.5},
      {"-.5", -0.5},
      {"05.50", 5.5},
      {"1e5", 100000.0},
      {"1E+05", 100000.0},
      {"1e-3", 0.001},
      {"-1e-3", -0.001},
      {"2.5E-1", 0.25},
      {"+12.75", 12.75},
      {"-42", -42.0},
      {"5.e2", 500.0},
      {".5e1", 5.0},
      {"1e0", 1.0},
      {"1e+0", 1.0},
      {"1e-0", 1.0},
      {"123456789", 123456789.0},
      {"0.1", 0.1},
      {"1e0000000001", 10.0},
  };
  for (const auto& c : cases) expect_bits(c.token, c.value);
}

TEST(NumberParserGrammar, RefusesEverythingElse) {
  const char* const refused[] = {
      "",
      ".",
      "+",
      "-",
      "+.",
      "-.",
      "..5",
      "1e",
      "1e+",
      "1e-",
      "e5",
      "E5",
      ".e5",
      "-e5",
      "0x10",
      "0X10",
      "0x1p3",
      "1_000",
      "1.2.3",
      "1,5",
      "12abc",
      "1.0D+03",
      "1d3",
      "1f",
      "1.5f",
      "nan(1)",
      "nan()",
      "infin",
      "infinit",
      "infinityy",
      "inff",
      "nana",
      "in",
      "i",
      "n",
      "+-1",
      "-+1",
      "--1",
      "++1",
      "1-",
      "1+",
      "1e5.5",
      "1e5e5",
      "1e+-5",
      "1ee5",
      "1.e",
      " 1",
      "1 ",
      "\t1",
      "1\n",
      "1\r",
      "1 000",
      "1'000",
      "0b1",
      "nan1",
      "infinity1",
      "inf.",
      "+inf+",
      "-nan-",
      "\"1\"",
      "1;",
      "$1",
      "1%",
      "\xEF\xBB\xBF"
      "1",
      "\xC2\xA0"
      "1",
      "1\xC2\xA0",
      "\xE2\x88\x9E",
      "\xEF\xBC\x91",  // U+221E, U+FF11
      "\xD9\xA1",
      "NaN ",
      "infinity ",
      "- 1",
      "1 e5",
      "1e 5",
  };
  for (const char* token : refused) {
    const auto parsed = parse_double(token);
    EXPECT_FALSE(parsed.has_value()) << '"' << token << "\" gave " << parsed.value_or(0);
  }
  // An embedded NUL ends nothing: the whole token must match.
  EXPECT_FALSE(parse_double(std::string_view("1\0", 2)).has_value());
  EXPECT_FALSE(parse_double(std::string_view("\0"
                                             "1",
                                             2))
                   .has_value());
}

TEST(NumberParserGrammar, ReadsOnlyTheGivenView) {
  // Tokens are views into a line; characters beyond the view must not be looked at.
  const std::string line = "12e5 7";
  EXPECT_EQ(parse_double(std::string_view(line).substr(0, 2)), 12.0);
  EXPECT_FALSE(parse_double(std::string_view(line).substr(0, 3)).has_value());  // "12e"
  EXPECT_EQ(parse_double(std::string_view(line).substr(5, 1)), 7.0);
}

TEST(NumberParserSpecialValues, SignedZeros) {
  for (const char* token : {"0", "+0", "0.0", ".0", "0.", "0e5", "000", "+0e-5", "1e-400"}) {
    expect_bits(token, 0.0);
  }
  for (const char* token : {"-0", "-0.0", "-.0", "-0.", "-0e5", "-000", "-0e-5", "-1e-400"}) {
    expect_bits(token, -0.0);
  }
}

TEST(NumberParserSpecialValues, InfinityWordsInAnyCase) {
  for (const char* token : {"inf", "INF", "Inf", "iNf", "+inf", "infinity", "INFINITY", "Infinity",
                            "iNfInItY", "+InFiNiTy"}) {
    expect_bits(token, infinity);
  }
  for (const char* token : {"-inf", "-INF", "-Infinity", "-iNFINITy"})
    expect_bits(token, -infinity);
}

TEST(NumberParserSpecialValues, NanCarriesTheSignBit) {
  for (const char* token : {"nan", "NaN", "NAN", "nAn", "+nan", "+NaN"}) {
    const auto parsed = parse_double(token);
    ASSERT_TRUE(parsed.has_value()) << token;
    EXPECT_TRUE(std::isnan(*parsed)) << token;
    EXPECT_FALSE(std::signbit(*parsed)) << token;
  }
  for (const char* token : {"-nan", "-NaN", "-NAN"}) {
    const auto parsed = parse_double(token);
    ASSERT_TRUE(parsed.has_value()) << token;
    EXPECT_TRUE(std::isnan(*parsed)) << token;
    EXPECT_TRUE(std::signbit(*parsed)) << token;
  }
}

TEST(NumberParserRange, HugeExponentsSaturate) {
  const std::string thirty_nines(30, '9');
  expect_bits("1e400", infinity);
  expect_bits("-1e400", -infinity);
  expect_bits("1e-400", 0.0);
  expect_bits("-1e-400", -0.0);
  expect_bits("1e999999999", infinity);
  expect_bits("-1e999999999", -infinity);
  expect_bits("1e-999999999", 0.0);
  expect_bits("-1e-999999999", -0.0);
  expect_bits("1e" + thirty_nines, infinity);
  expect_bits("1e+" + thirty_nines, infinity);
  expect_bits("1e-" + thirty_nines, 0.0);
  expect_bits("-1e-" + thirty_nines, -0.0);
  expect_bits("0e99999", 0.0);
  expect_bits("-0e99999", -0.0);
  expect_bits("0.000e" + thirty_nines, 0.0);
  expect_bits("00000.0000e-" + thirty_nines, 0.0);
  expect_bits("1e65536", infinity);
  expect_bits("1e-65536", 0.0);
}

TEST(NumberParserRange, EdgesOfTheDoubleRange) {
  constexpr double max = std::numeric_limits<double>::max();
  constexpr double tiny = std::numeric_limits<double>::denorm_min();
  expect_bits("1.7976931348623157e308", max);
  expect_bits("1.7976931348623158e308", max);  // below the halfway point to 2^1024
  expect_bits("1.7976931348623159e308", infinity);
  expect_bits("-1.7976931348623159e308", -infinity);
  expect_bits("4.9406564584124654e-324", tiny);
  expect_bits("2.4703282292062328e-324", tiny);  // just above half of the smallest subnormal
  expect_bits("2.4703282292062327e-324", 0.0);   // just below: rounds to zero
  expect_bits("-2.4703282292062327e-324", -0.0);
  expect_bits("2.2250738585072014e-308", std::numeric_limits<double>::min());
  expect_bits("2.2250738585072011e-308", reference("2.2250738585072011e-308"));  // subnormal
}

TEST(NumberParserRounding, LongMantissas) {
  // The exact value of the double nearest to 0.1, all 55 decimal places.
  expect_bits("0.1000000000000000055511151231257827021181583404541015625", 0.1);
  // 2^53 + 1 lies halfway between two doubles: ties go to the even one, 2^53 ...
  expect_bits("9007199254740993", 9007199254740992.0);
  // ... and a single non-zero digit a thousand places later tips it upwards.
  std::string tipped = "9007199254740993." + std::string(983, '0') + "1";
  ASSERT_EQ(tipped.size(), 1001u);  // 1000 digits and the full stop
  expect_bits(tipped, 9007199254740994.0);
  // A 1000-digit integer numeral beyond the range, and a 1000-digit fraction below it.
  expect_bits(std::string(1000, '9'), infinity);
  expect_bits("0." + std::string(999, '0') + "1", 0.0);
  // Leading zeros do not count as precision.
  expect_bits(std::string(1000, '0') + "1.5", 1.5);
  expect_bits("0." + std::string(300, '0') + "1e301", 1.0);
}

TEST(NumberParserRounding, LargeExponentsOffsetByLongNumerals) {
  // 70000 zeros after the full stop and an exponent past 65536 that brings the value back:
  // the result is the correctly rounded value of the whole numeral, not one computed from
  // an exponent cut short.
  const std::string zeros(70000, '0');
  expect_bits("0." + zeros + "1e70001", 1.0);
  expect_bits("-0." + zeros + "15e70001", -1.5);
  expect_bits("1" + zeros + "e-70000", 1.0);
  expect_bits("0." + zeros + "1e70310", infinity);
  expect_bits("1" + zeros + "e-70400", 0.0);
}

TEST(NumberParserRounding, ThousandDigitNumeralsMatchStrtod) {
  std::mt19937_64 random(20240601);
  std::uniform_int_distribution<int> digit('0', '9');
  std::uniform_int_distribution<int> exponent(-700, 400);
  for (int round = 0; round < 200; ++round) {
    std::string digits(1000, '0');
    for (char& c : digits) c = static_cast<char>(digit(random));
    const std::size_t dot = static_cast<std::size_t>(round) * 5 % 1001;
    const std::string token =
        digits.substr(0, dot) + "." + digits.substr(dot) + "e" + std::to_string(exponent(random));
    expect_bits(token, reference(token));
  }
}

TEST(NumberParserRounding, RandomDoublesRoundTripLikeStrtod) {
  std::mt19937_64 random(42);
  const char* const formats[] = {"%.17g", "%.16g", "%.15g", "%.6g",
                                 "%.17e", "%.3e",  "%.20f", "%.1f"};
  char text[512];
  int checked = 0;
  for (int round = 0; round < 100000; ++round) {
    double value = std::bit_cast<double>(random());
    if (!std::isfinite(value)) continue;
    if (round % 3 == 0) value = std::ldexp(static_cast<double>(random() >> 11), -53 + round % 60);
    for (const char* format : formats) {
      std::snprintf(text, sizeof text, format, value);
      expect_bits(text, reference(text));
      ++checked;
    }
    std::snprintf(text, sizeof text, "%.17g", value);
    expect_bits(text, value);  // 17 significant digits identify every double
  }
  EXPECT_GT(checked, 700000);
}

TEST(NumberParserRounding, RandomDigitStringsMatchStrtod) {
  std::mt19937_64 random(7);
  std::uniform_int_distribution<int> digit('0', '9');
  std::uniform_int_distribution<int> length(1, 40);
  std::uniform_int_distribution<int> exponent(-360, 330);
  for (int round = 0; round < 200000; ++round) {
    std::string digits;
    const int n = length(random);
    for (int i = 0; i < n; ++i) digits += static_cast<char>(digit(random));
    const auto dot = static_cast<std::size_t>(random() % (digits.size() + 1));
    std::string token = round % 2 ? (round % 4 == 1 ? "-" : "+") : "";
    token += round % 5 != 0 ? digits.substr(0, dot) + "." + digits.substr(dot) : digits;
    if (round % 3 != 0) {
      token += round % 6 == 1 ? 'E' : 'e';
      token += std::to_string(exponent(random));
    }
    expect_bits(token, reference(token));
  }
}

// Numbers a file states keep their digits through a float32 field or a unit conversion.
TEST(StatedDigits, FloatsAndShiftsKeepTheStatedDecimal) {
  EXPECT_EQ(single_as_decimal(1.5406f), 1.5406);
  EXPECT_EQ(single_as_decimal(0.02f), 0.02);
  EXPECT_TRUE(std::isinf(single_as_decimal(std::numeric_limits<float>::infinity())));
  EXPECT_EQ(shift_decimal(4.0659e-11, 10), 0.40659);
  EXPECT_EQ(shift_decimal(1.5406, -1), 0.15406);
  EXPECT_EQ(shift_decimal(-0.0, 3), -0.0);
}

TEST(AxisKind, OneSpellingPerKindAndTheFilesWordOtherwise) {
  for (const char* word : {"2Theta", "TwoTheta", "TwoThetaTheta", "TwoThetaOmega", "2theta/theta",
                           "Locked Coupled", "Gonio", " 2-Theta "}) {
    EXPECT_EQ(axis_kind(word), "2Theta") << word;
  }
  EXPECT_EQ(axis_kind("Omega"), "Omega");
  EXPECT_EQ(axis_kind("time-of-flight"), "TOF");
  EXPECT_EQ(axis_kind(" Z "), "Z");
}

}  // namespace
}  // namespace morvex
