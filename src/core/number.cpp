#include "core/number.hpp"

#include <fast_float/fast_float.h>

#include <array>
#include <cmath>
#include <cstdint>
#include <limits>

namespace morvex::number_detail {
namespace {

bool is_digit(char c) {
  return c >= '0' && c <= '9';
}

bool equals_ignoring_ascii_case(std::string_view text, std::string_view lower_word) {
  if (text.size() != lower_word.size()) return false;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if ((text[i] | 0x20) != lower_word[i]) return false;
  }
  return true;
}

// Reads the run of digits at q, eight at a time, into `mantissa` (which wraps past 19
// digits; the caller counts them) and returns its end.
const char* read_digits(const char* token, const char* q, const char* end,
                        std::uint64_t& mantissa) {
  for (;;) {
    const std::uint64_t values = swar::digit_values(swar::load_bounded(token, q, end));
    const int count = swar::digit_run(values);
    mantissa = mantissa * powers_of_ten_to_8[static_cast<std::size_t>(count)] +
               swar::digits_value(values, count);
    q += count;
    if (count < 8) return q;
  }
}

// Like read_digits, but the value stops growing once it is far beyond any exponent that a
// double can use, so that it cannot overflow however many digits follow.
const char* read_exponent_digits(const char* token, const char* q, const char* end,
                                 std::int64_t& exponent) {
  constexpr std::int64_t saturated = 1'000'000'000;
  for (;;) {
    const std::uint64_t values = swar::digit_values(swar::load_bounded(token, q, end));
    const int count = swar::digit_run(values);
    if (exponent < saturated) {
      exponent = exponent * static_cast<std::int64_t>(
                                powers_of_ten_to_8[static_cast<std::size_t>(count)]) +
                 static_cast<std::int64_t>(swar::digits_value(values, count));
    }
    q += count;
    if (count < 8) return q;
  }
}

// A token that starts, after any sign at `token`, with a digit or "." at p: the grammar
// checked and the value computed in one pass over its bytes. When the digits fit in 53 bits
// and the power of ten in 22, both are exact doubles and one IEEE multiplication or division
// rounds correctly (Clinger's fast path); any other numeral goes to fast_float.
std::optional<double> parse_numeral(const char* token, const char* p, const char* end,
                                    bool negative) {
  std::uint64_t mantissa = 0;
  const char* q = read_digits(token, p, end, mantissa);
  std::ptrdiff_t digits = q - p;
  std::ptrdiff_t fraction = 0;
  if (q < end && *q == '.') {
    const char* const first = ++q;
    q = read_digits(token, q, end, mantissa);
    fraction = q - first;
    digits += fraction;
  }
  if (digits == 0) return std::nullopt;
  std::int64_t exponent = 0;
  if (q < end) {
    if ((*q | 0x20) != 'e') return std::nullopt;
    ++q;
    const bool negative_exponent = q < end && *q == '-';
    if (q < end && (*q == '+' || *q == '-')) ++q;
    const char* const first = q;
    q = read_exponent_digits(token, q, end, exponent);
    if (q == first || q != end) return std::nullopt;
    if (negative_exponent) exponent = -exponent;
  }

  constexpr std::uint64_t max_exact_mantissa = std::uint64_t{1} << 53;
  if (digits <= 19 && mantissa <= max_exact_mantissa) {
    if (mantissa == 0) return negative ? -0.0 : 0.0;
    const std::int64_t power = exponent - fraction;
    if (power >= -22 && power <= 22) {
      double value = static_cast<double>(mantissa);
      if (power < 0) {
        value /= exact_powers_of_ten[static_cast<std::size_t>(-power)];
      } else {
        value *= exact_powers_of_ten[static_cast<std::size_t>(power)];
      }
      return negative ? -value : value;
    }
  }
  // fast_float takes no "+" but keeps a "-", which gives -0 and tiny negatives their sign.
  const char* const first = negative ? p - 1 : p;
  double value = 0;
  const auto parsed = fast_float::from_chars(first, end, value);
  if (parsed.ptr != end) return std::nullopt;
  return value;
}

}  // namespace

std::optional<double> parse_double_in_full(std::string_view token) {
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

  return parse_numeral(token.data(), p, end, negative);
}

}  // namespace morvex::number_detail
