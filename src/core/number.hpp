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

// A token of 1 to 16 bytes as two words of digit values (swar::digit_values): bytes 0 to 7
// and 8 to 15, where the bytes past the token read as non-digits.
struct ShortText {
  std::uint64_t low;
  std::uint64_t high;
  std::size_t length;
};

inline ShortText load_short_text(const char* p, const char* end) {
  using namespace swar;
  const auto length = static_cast<std::size_t>(end - p);
  if (length < 8) return {digit_values(load_short(p, end)), digit_values(0), length};
  const auto half_drop = static_cast<unsigned>(4 * (16 - length));  // 64 bits in one is undefined
  return {digit_values(load8(p)), digit_values((load8(end - 8) >> half_drop) >> half_drop), length};
}

// The decimal at the front of a short text: digits, then optionally "." and decimals, with
// fewer than eight digits before the "." (all eight when nothing follows them), so at most
// 15 digits in all: the value of `digits` is exact as a double. `size` is 0 when the text
// starts with no such decimal.
struct Mantissa {
  std::uint64_t digits;
  int decimals;
  std::size_t size;  // bytes
};

inline Mantissa read_mantissa(const ShortText& text) {
  using namespace swar;
  const int whole = digit_run(text.low);
  if (static_cast<std::size_t>(whole) == text.length) {
    return {digits_value(text.low, whole), 0, text.length};
  }
  const auto dot = static_cast<unsigned>(8 * whole);
  if (whole == 8) return {0, 0, 0};
  if (((text.low >> dot) & 0xFF) != ('.' ^ '0')) {
    return {digits_value(text.low, whole), 0, static_cast<std::size_t>(whole)};
  }
  // The eight bytes after the ".", and the rest of the 16, marked as non-digits past them.
  const std::uint64_t next = ((text.low >> 8) >> dot) | text.high << (56 - dot);
  const std::uint64_t rest = ((text.high >> 8) >> dot) | every_byte(0x30) << (56 - dot);
  int decimals = digit_run(next);
  std::uint64_t digits =
      digits_value(text.low, whole) * powers_of_ten_to_8[static_cast<std::size_t>(decimals)] +
      digits_value(next, decimals);
  if (decimals == 8) {
    const int more = digit_run(rest);
    digits = digits * powers_of_ten_to_8[static_cast<std::size_t>(more)] + digits_value(rest, more);
    decimals += more;
  }
  if (whole + decimals == 0) return {0, 0, 0};
  return {digits, decimals, static_cast<std::size_t>(whole + 1 + decimals)};
}

// The plain decimal that most numbers in data files are, such as 1024.6929, 0.000145 or 12:
// a mantissa that is the whole token. Its digits and the power of ten are exact doubles, so
// one IEEE division rounds the quotient correctly. False for any other token.
inline bool parse_plain_decimal(const char* p, const char* end, double& value) {
  const auto length = static_cast<std::size_t>(end - p);
  if (length - 1 >= 16) return false;  // also when empty
  const Mantissa mantissa = read_mantissa(load_short_text(p, end));
  if (mantissa.size != length) return false;
  value = static_cast<double>(mantissa.digits) /
          exact_powers_of_ten[static_cast<std::size_t>(mantissa.decimals)];
  return true;
}

}  // namespace number_detail

// Always inlined, so that the readers' loops keep the common case free of calls (GCC would
// inline one call of the three in a row and leave the others).
[[gnu::always_inline]] inline std::optional<double> parse_double(std::string_view token) {
  const char* const p = token.data();
  const char* const end = p + token.size();
  const bool signed_token = p < end && (*p == '+' || *p == '-');
  double value;
  bool parsed = number_detail::parse_plain_decimal(p + signed_token, end, value);
  if (parsed) {
    if (signed_token && *p == '-') value = -value;
  } else {
    parsed = number_detail::parse_double_in_full(token, value);
  }
  // One optional built from plain values: joining two optionals made GCC store one and
  // load it back whole, a stall on every call.
  return parsed ? std::optional<double>(value) : std::nullopt;
}

}  // namespace morvex
