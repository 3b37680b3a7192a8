// Doubles as text that reads back exactly: the writing side of the number parser.
#pragma once

#include <cstddef>

namespace morvex {

// Room that any double's text fits in.
inline constexpr std::size_t max_number_text = 32;

// Writes the shortest decimal digits that read back as `value`, laid out as Python's repr
// lays out a float: fixed notation with at least one decimal ("5.0", "0.0001") where the
// decimal exponent is from -4 to 15, else one digit before the point and a signed exponent of
// at least two digits ("1e-05", "1.5e+16"); "nan", "inf", "-inf". Returns the bytes written
// to `out`, which has room for max_number_text.
std::size_t write_number(double value, char* out);

}  // namespace morvex
