// The number parser against the C library's strtod (C locale) on every token the grammar
// accepts, and against an independent grammar check on every token.
#include <locale.h>

#include <cerrno>
#include <cmath>
#include <cstdlib>

#include "core/number.hpp"
#include "fuzz_common.hpp"

namespace {

using morvex::fuzz::bits;
using morvex::fuzz::die;

enum class Shape { invalid, numeral, infinity, nan };

bool lower_equals(std::string_view text, std::string_view word) {
  if (text.size() != word.size()) return false;
  for (std::size_t i = 0; i < text.size(); ++i) {
    char c = text[i];
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    if (c != word[i]) return false;
  }
  return true;
}

// The grammar written out a second time, as plainly as possible.
Shape classify(std::string_view token) {
  std::size_t i = 0;
  if (i < token.size() && (token[i] == '+' || token[i] == '-')) ++i;
  const std::string_view body = token.substr(i);
  if (lower_equals(body, "inf") || lower_equals(body, "infinity")) return Shape::infinity;
  if (lower_equals(body, "nan")) return Shape::nan;
  auto digit = [&](std::size_t k) {
    return k < token.size() && token[k] >= '0' && token[k] <= '9';
  };
  std::size_t digits = 0;
  while (digit(i)) ++i, ++digits;
  if (i < token.size() && token[i] == '.') {
    ++i;
    while (digit(i)) ++i, ++digits;
  }
  if (digits == 0) return Shape::invalid;
  if (i < token.size() && (token[i] == 'e' || token[i] == 'E')) {
    ++i;
    if (i < token.size() && (token[i] == '+' || token[i] == '-')) ++i;
    if (!digit(i)) return Shape::invalid;
    while (digit(i)) ++i;
  }
  return i == token.size() ? Shape::numeral : Shape::invalid;
}

locale_t c_locale() {
  static const locale_t locale = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(0));
  return locale;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  // The parser stops enlarging an exponent past a fixed bound (65536 or more) while strtod
  // does not; with fewer digits than this in the whole token the two cannot part, as both
  // give infinity or zero beyond the bound.
  if (size >= 30000) return 0;
  const std::string token(reinterpret_cast<const char*>(data), size);
  const auto parsed = morvex::parse_double(token);
  const Shape shape = classify(token);
  if (parsed.has_value() != (shape != Shape::invalid)) {
    die(parsed ? "accepted a token outside the grammar" : "refused a token of the grammar");
  }
  if (!parsed) return 0;

  const bool negative = token[0] == '-';
  switch (shape) {
    case Shape::infinity:
      if (!std::isinf(*parsed) || std::signbit(*parsed) != negative) die("wrong infinity");
      break;
    case Shape::nan:
      if (!std::isnan(*parsed) || std::signbit(*parsed) != negative) die("wrong NaN");
      break;
    case Shape::numeral: {
      char* end = nullptr;
      const double reference = strtod_l(token.c_str(), &end, c_locale());
      if (end != token.c_str() + token.size()) die("strtod did not take the whole token");
      if (bits(reference) != bits(*parsed)) die("value differs from strtod");
      break;
    }
    case Shape::invalid:
      break;
  }
  return 0;
}
