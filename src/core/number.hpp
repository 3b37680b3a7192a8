// The one decimal number parser of every text format: locale-free, correctly rounded.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string_view>

#include "core/swar.hpp"

namespace morvex {

// The whole token as a decimal number: optional sign, then digits with an optional "." and
// fraction and an optional exponent, or one of INF, INFINITY, NAN in any case. Correctly
// rounded; overflow gives an infinity and underflow a zero of the token's sign. Failure is
// an ordinary result. Reads no byte outside the token.
[[gnu::always_inline]] inline std::optional<double> parse_double(std::string_view token);

namespace number_detail {

// Every token that the inline part below does not finish: exponents, numerals of more than
// 16 bytes, the words, and refusals. False when the grammar refuses the token.
bool parse_double_in_full(std::string_view token, double& value);

// Powers of ten that a double holds exactly.
inline constexpr std::array<double, 23> exact_powers_of_ten = [] {
  std::array<double, 23> powers{};
  double power = 1;
  for (double& slot : powers) {
    slot = power;
    power *= 10;
  }
  return powers;
}();

inline constexpr std::array<std::uint64_t, 9> powers_of_ten_to_8 = {
    1, 10, 100, 1000, 10000, 100000, 1000000, 10000000, 100000000};

// The plain decimal that most numbers in data files are, such as 1024.6929, 0.000145 or 12:
// at most 16 bytes of digits with an optional "." and decimals, fewer than eight digits
// before the "." (or eight and no "."). That makes at most 15 digits, so they and the power of
// ten are exact doubles and one IEEE division rounds the quotient correctly. The bytes are
// read as two words and judged eight at a time. False for any other token.
inline bool parse_plain_decimal(const char* p, const char* end, double& value) {
  using namespace swar;
  const auto length = static_cast<std::size_t>(end - p);
  if (length - 1 >= 16) return false;  // also when empty
  // Bytes 0 to 7 and 8 to 15 as digit values, those past the token reading as non-digits.
  std::uint64_t low;
  std::uint64_t high = digit_values(0);
  if (length >= 8) {
    low = digit_values(load8(p));
    const auto half_drop = static_cast<unsigned>(4 * (16 - length));  // 64 bits in one is undefined
    high = digit_values((load8(end - 8) >> half_drop) >> half_drop);
  } else {
    low = digit_values(load_short(p, end));
  }
  const int whole = digit_run(low);
  if (static_cast<std::size_t>(whole) == length) {
    value = static_cast<double>(static_cast<std::int64_t>(digits_value(low, whole)));
    return true;
  }
  const auto dot = static_cast<unsigned>(8 * whole);
  if (whole == 8 || ((low >> dot) & 0xFF) != ('.' ^ '0')) return false;
  // The digits without the ".": those after it move down one byte, and one conversion of
  // eight takes most numerals whole.
  const std::uint64_t before_dot = (std::uint64_t{1} << dot) - 1;
  const std::uint64_t joined_low = (low & before_dot) | ((low >> 8) & ~before_dot) | high << 56;
  const std::uint64_t joined_high = high >> 8 | std::uint64_t{0x30} << 56;  // a non-digit last
  int digits = digit_run(joined_low);
  std::uint64_t mantissa = digits_value(joined_low, digits);
  if (digits == 8) {
    const int more = digit_run(joined_high);
    mantissa = mantissa * powers_of_ten_to_8[static_cast<std::size_t>(more)] +
               digits_value(joined_high, more);
    digits += more;
  }
  if (digits == 0 || static_cast<std::size_t>(digits) + 1 != length) return false;
  value = static_cast<double>(static_cast<std::int64_t>(mantissa)) /
          exact_powers_of_ten[static_cast<std::size_t>(digits - whole)];
  return true;
}

}  // namespace number_detail

// Always inlined, so that the readers' loops keep the common case free of calls (GCC would
// inline one call of the three in a row and leave the others).
[[gnu::always_inline]] inline std::optional<double> parse_double(std::string_view token) {
  const char* const p = token.data();
  const char* const end = p + token.size();
  const bool signed_token = p < end && (*p == '+' || *p == '-');
  if (double value; number_detail::parse_plain_decimal(p + signed_token, end, value)) {
    return signed_token && *p == '-' ? -value : value;
  }
  if (double value; number_detail::parse_double_in_full(token, value)) return value;
  return std::nullopt;
}

}  // namespace morvex
