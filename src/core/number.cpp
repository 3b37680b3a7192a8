#include "core/number.hpp"

#include <fast_float/fast_float.h>

#include <cmath>
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

}  // namespace

bool parse_double_in_full(std::string_view token, double& value) {
  const char* p = token.data();
  const char* const end = p + token.size();
  bool negative = false;
  if (p < end && (*p == '+' || *p == '-')) {
    negative = *p == '-';
    ++p;
  }
  if (p == end) return false;

  if (!is_digit(*p) && *p != '.') {
    // Only the three words are allowed here; fast_float would also take "nan(...)".
    const std::string_view word(p, static_cast<std::size_t>(end - p));
    constexpr double infinity = std::numeric_limits<double>::infinity();
    if (equals_ignoring_ascii_case(word, "inf") || equals_ignoring_ascii_case(word, "infinity")) {
      value = negative ? -infinity : infinity;
      return true;
    }
    if (equals_ignoring_ascii_case(word, "nan")) {
      const double nan = std::numeric_limits<double>::quiet_NaN();
      value = negative ? std::copysign(nan, -1.0) : std::copysign(nan, 1.0);
      return true;
    }
    return false;
  }

  // Starting with a digit or ".", a numeral of the grammar is exactly what fast_float takes
  // whole, in one pass, with the same exact conversion where the digits and the power of ten
  // allow it (a version of ours for short numerals with exponents measured no faster). It
  // takes no "+" but keeps a "-", which gives -0 and tiny negatives their sign.
  const char* const first = negative ? p - 1 : p;
  return fast_float::from_chars(first, end, value).ptr == end;
}

}  // namespace morvex::number_detail
