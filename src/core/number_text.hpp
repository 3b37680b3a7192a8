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

// A float32 field as the double of its shortest decimal that reads back as the same float:
// 1.5406f gives 1.5406, not the 1.5405999422073364 it also is. Not finite stays as it is.
double single_as_decimal(float value);

// `value` times 10^`shift`, taken on its shortest decimal digits so that a unit conversion
// keeps the digits the file states: 4.0659e-11 m shifted by 10 is 0.40659 Å, where the
// product 4.0659e-11 * 1e10 would be 0.40659999999999996.
double shift_decimal(double value, int shift);

}  // namespace morvex
