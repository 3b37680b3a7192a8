#include "core/number.hpp"

#include <fast_float/fast_float.h>

#include <array>
#include <cmath>
#include <cstdint>
#include <limits>

namespace morvex {
namespace {

bool is_digit(char c) { return c >= '0' && c <= '9'; }

bool equals_ignoring_ascii_case(std::string_view text, std::string_view lower_word) {
  if (text.size() != lower_word.size()) return false;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if ((text[i] | 0x20) != lower_word[i]) return false;
  }
  return true;
}

// Checks the decimal numeral grammar (no sign): digits, optional "." digits, at least one
// digit in all, then an optional exponent with at least one digit.
bool is_decimal_numeral(const char* p, const char* end) {
  std::size_t digits = 0;
  while (p < end && is_digit(*p)) ++p, ++digits;
  if (p < end && *p == '.') {
    ++p;
    while (p < end && is_digit(*p)) ++p, ++digits;
  }
  if (digits == 0) return false;
  if (p == end) return true;
  if (*p != 'e' && *p != 'E') return false;
  ++p;
  if (p < end && (*p == '+' || *p == '-')) ++p;
  if (p == end) return false;
  while (p < end && is_digit(*p)) ++p;
  return p == end;
}

// Powers of ten that a double holds exactly.
constexpr std::array<double, 23> exact_powers_of_ten = [] {
  std::array<double, 23> powers{};
  double power = 1;
  for (double& slot : powers) {
    slot = power;
    power *= 10;
  }
  return powers;
}();

// The common short numeral, such as 10.0125 or 1719: at most 15 digits, no exponent. Then
// the digits and the power of ten are both exact doubles, and one IEEE division rounds the
// quotient correctly, so the result is the one fast_float would give. False for any other
// token, which then takes the general path (which also judges the grammar).
bool parse_short_numeral(const char* p, const char* end, double& value) {
  constexpr std::ptrdiff_t max_digits = 15;
  // Longer tokens cannot be short numerals; the bound also keeps `digits` from overflowing.
  if (end - p > max_digits + 1) return false;
  std::uint64_t digits = 0;
  const char* q = p;
  for (; q < end && is_digit(*q); ++q) digits = digits * 10 + static_cast<std::uint64_t>(*q - '0');
  std::ptrdiff_t count = q - p;
  std::ptrdiff_t fraction = 0;
  if (q < end && *q == '.') {
    const char* const first = ++q;
    for (; q < end && is_digit(*q); ++q) digits = digits * 10 + static_cast<std::uint64_t>(*q - '0');
    fraction = q - first;
    count += fraction;
  }
  if (q != end || count == 0 || count > max_digits) return false;
  value = static_cast<double>(digits);
  if (fraction > 0) value /= exact_powers_of_ten[static_cast<std::size_t>(fraction)];
  return true;
}

}  // namespace

std::optional<double> parse_double(std::string_view token) {
  const char* p = token.data();
  const char* const end = p + token.size();
  bool negative = false;
  if (p < end && (*p == '+' || *p == '-')) {
    negative = *p == '-';
    ++p;
  }
  if (p == end) return std::nullopt;

  if (!is_digit(*p) && *p != '.') {
    // Only the three words are allowed here; fast_float would also take "nan(...)".
    const std::string_view word(p, static_cast<std::size_t>(end - p));
    constexpr double infinity = std::numeric_limits<double>::infinity();
    if (equals_ignoring_ascii_case(word, "inf") || equals_ignoring_ascii_case(word, "infinity")) {
      return negative ? -infinity : infinity;
    }
    if (equals_ignoring_ascii_case(word, "nan")) {
      const double nan = std::numeric_limits<double>::quiet_NaN();
      return negative ? std::copysign(nan, -1.0) : std::copysign(nan, 1.0);
    }
    return std::nullopt;
  }

  if (double value; parse_short_numeral(p, end, value)) return negative ? -value : value;
  if (!is_decimal_numeral(p, end)) return std::nullopt;
  // fast_float takes no "+" but keeps a "-", which gives -0 and tiny negatives their sign.
  const char* first = negative ? p - 1 : p;
  double value = 0;
  const auto parsed = fast_float::from_chars(first, end, value);
  if (parsed.ptr != end) return std::nullopt;
  return value;
}

}  // namespace morvex
