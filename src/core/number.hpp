// The one decimal number parser of every text format: locale-free, correctly rounded.
#pragma once

#include <optional>
#include <string_view>

namespace morvex {

// The whole token as a decimal number: optional sign, then digits with an optional "." and
// fraction and an optional exponent, or one of INF, INFINITY, NAN in any case. Correctly
// rounded; overflow gives an infinity and underflow a zero of the token's sign. Failure is
// an ordinary result.
std::optional<double> parse_double(std::string_view token);

}  // namespace morvex
