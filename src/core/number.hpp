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
inline std::optional<double> parse_double(std::string_view token);

namespace number_detail {

// Every token that the inline part below does not finish: exponents, long numerals, the
// words, and refusals.
std::optional<double> parse_double_in_full(std::string_view token);

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
// at most 16 bytes, digits with an optional "." and fraction, fewer than eight digits before
// it. Then there are at most 15 digits and 15 decimals, so the digits and the power of ten
// are exact doubles and one IEEE division rounds the quotient correctly. The 16 bytes are
// read as two words and judged eight at a time. False for any other text.
inline bool parse_plain_decimal(const char* p, const char* end, double& value) {
  using namespace swar;
  const auto length = static_cast<std::size_t>(end - p);
  if (length - 1 >= 16) return false;  // also when empty
  std::uint64_t low;
  std::uint64_t high = 0;  // bytes 8 to 15, zeros past the end
  if (length >= 8) {
    low = load8(p);
    const auto half_drop = static_cast<unsigned>(4 * (16 - length));  // 64 bits in one is undefined
    high = (load8(end - 8) >> half_drop) >> half_drop;
  } else {
    low = load_short(p, end);
  }
  low = digit_values(low);
  high = digit_values(high);

  const int whole = digit_run(low);
  if (static_cast<std::size_t>(whole) == length) {
    value = static_cast<double>(digits_value(low, whole));
    return true;
  }
  const auto dot = static_cast<unsigned>(8 * whole);
  if (whole == 8 || ((low >> dot) & 0xFF) != ('.' ^ '0')) return false;
  // The eight bytes after the ".", and the rest of the 16, marked as non-digits past them.
  const std::uint64_t next = ((low >> 8) >> dot) | high << (56 - dot);
  const std::uint64_t rest = ((high >> 8) >> dot) | every_byte(0x30) << (56 - dot);
  int decimals = digit_run(next);
  std::uint64_t digits =
      digits_value(low, whole) * powers_of_ten_to_8[static_cast<std::size_t>(decimals)] +
      digits_value(next, decimals);
  if (decimals == 8) {
    const int more = digit_run(rest);
    digits = digits * powers_of_ten_to_8[static_cast<std::size_t>(more)] + digits_value(rest, more);
    decimals += more;
  }
  if (static_cast<std::size_t>(whole + 1 + decimals) != length || whole + decimals == 0) {
    return false;
  }
  value = static_cast<double>(digits) / exact_powers_of_ten[static_cast<std::size_t>(decimals)];
  return true;
}

}  // namespace number_detail

// Inline, so that the readers' loops keep the common case free of calls.
inline std::optional<double> parse_double(std::string_view token) {
  const char* p = token.data();
  const char* const end = p + token.size();
  const bool signed_token = p < end && (*p == '+' || *p == '-');
  double value;
  if (number_detail::parse_plain_decimal(p + signed_token, end, value)) {
    return signed_token && *p == '-' ? -value : value;
  }
  return number_detail::parse_double_in_full(token);
}

}  // namespace morvex
