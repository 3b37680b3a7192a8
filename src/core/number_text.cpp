#include "core/number_text.hpp"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>

#include "core/number.hpp"

namespace morvex {
namespace {

// From -4 on, and below 16: the range repr writes without an exponent.
constexpr int first_fixed_exponent = -4;
constexpr int last_fixed_exponent = 15;

std::size_t copy(const char* text, char* out) {
  const std::size_t length = std::strlen(text);
  std::memcpy(out, text, length);
  return length;
}

}  // namespace

std::size_t write_number(double value, char* out) {
  if (std::isnan(value)) return copy("nan", out);
  if (std::isinf(value)) return copy(value < 0 ? "-inf" : "inf", out);
  // The shortest digits, as d.ddde±XX: the digits and the exponent are then read off it.
  char scientific[max_number_text];
  const auto written = std::to_chars(scientific, scientific + sizeof scientific, value,
                                     std::chars_format::scientific);
  const char* p = scientific;
  char* o = out;
  if (*p == '-') *o++ = *p++;
  const char* const e =
      static_cast<const char*>(std::memchr(p, 'e', static_cast<std::size_t>(written.ptr - p)));
  char digits[max_number_text];
  std::size_t count = 0;
  for (const char* d = p; d < e; ++d) {
    if (*d != '.') digits[count++] = *d;
  }
  int exponent = 0;
  std::from_chars(e + 1 + (e[1] == '+'), written.ptr, exponent);
  if (exponent < first_fixed_exponent || exponent > last_fixed_exponent) {
    // d.ddd and the exponent as to_chars wrote them: sign always, two digits at least.
    const auto length = static_cast<std::size_t>(written.ptr - p);
    std::memcpy(o, p, length);
    return static_cast<std::size_t>(o - out) + length;
  }
  const auto point = exponent + 1;  // digits before the decimal point
  if (point <= 0) {
    *o++ = '0';
    *o++ = '.';
    for (int k = point; k < 0; ++k) *o++ = '0';
    std::memcpy(o, digits, count);
    o += count;
  } else if (static_cast<std::size_t>(point) >= count) {
    std::memcpy(o, digits, count);
    o += count;
    for (std::size_t k = count; k < static_cast<std::size_t>(point); ++k) *o++ = '0';
    *o++ = '.';
    *o++ = '0';
  } else {
    const auto whole = static_cast<std::size_t>(point);
    std::memcpy(o, digits, whole);
    o += whole;
    *o++ = '.';
    std::memcpy(o, digits + whole, count - whole);
    o += count - whole;
  }
  return static_cast<std::size_t>(o - out);
}

double single_as_decimal(float value) {
  if (!std::isfinite(value)) return static_cast<double>(value);
  char digits[max_number_text];
  const auto written = std::to_chars(std::begin(digits), std::end(digits), value);
  return parse_double(std::string_view(digits, static_cast<std::size_t>(written.ptr - digits)))
      .value_or(static_cast<double>(value));
}

double shift_decimal(double value, int shift) {
  if (!std::isfinite(value) || value == 0.0) return value;
  char digits[max_number_text + 8];
  const auto written =
      std::to_chars(std::begin(digits), std::end(digits) - 8, value, std::chars_format::scientific);
  char* const e = std::find(digits, written.ptr, 'e');
  int exponent = 0;
  std::from_chars(e + 1 + (e[1] == '+'), written.ptr, exponent);
  const auto end = std::to_chars(e + 1, std::end(digits), exponent + shift).ptr;
  return parse_double(std::string_view(digits, static_cast<std::size_t>(end - digits)))
      .value_or(value * std::pow(10.0, shift));
}

}  // namespace morvex
