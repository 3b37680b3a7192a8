// The number parser against the C library's strtod (C locale) on every token the grammar
// accepts, and against an independent grammar check on every token.
#include <locale.h>

#include <cerrno>
#include <cmath>
#include <cstdlib>

#include "core/number.hpp"
#include "fuzz_common.hpp"
#include "number_grammar.hpp"

namespace {

using morvex::fuzz::bits;
using morvex::fuzz::die;

using morvex::reference::classify;
using morvex::reference::Shape;

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
  // Inside a buffer, after bytes that would change the number if they were taken for it.
  const std::string buffer = "9.9.9.9.9.9.9.9." + token;
  const auto in_buffer = morvex::parse_double(std::string_view(buffer).substr(16), buffer.data());
  if (in_buffer.has_value() != parsed.has_value() ||
      (parsed && bits(*parsed) != bits(*in_buffer))) {
    die("differs when read inside a buffer");
  }
  const Shape shape = classify(token);
  if (parsed.has_value() != (shape != Shape::refused)) {
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
    case Shape::refused:
      break;
  }
  return 0;
}
