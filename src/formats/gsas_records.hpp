// The fixed-column records of GSAS banks: their shapes by layout, and the reading of a line
// that has one.
#pragma once

#include <cstddef>
#include <span>
#include <string_view>
#include <vector>

namespace morvex::gsas {

// STD: every number is an intensity. ESD: value and uncertainty pairs. FXYE and ALT:
// position, value and uncertainty triples.
enum class Layout { standard, with_errors, positions, alt_positions };

// GSAS writes data records in fixed columns, and wide numbers may touch their neighbours, so
// a line with the shape of a record is read by its columns. STD: 8-column fields, each a
// 2-column counter and a 6-column intensity or the intensity alone. ESD: 8-column fields.
// ALT: 8, 7 and 5 columns for position, intensity and uncertainty. FXYE is free-form. A full
// record is 80 columns: ten 8-column fields or four ALT triples.
struct RecordShape {
  std::span<const std::size_t> widths;  // repeated from the start of each line
  std::size_t counter_width = 0;
};
constexpr std::size_t record_columns = 80;

// The shapes of the records read by their columns; none for FXYE.
std::span<const RecordShape> record_shapes(Layout layout);

// STD records without counters are split at white space, to the same numbers where no fields
// touch, and much faster: their shape is checked only where it decides something.
const RecordShape& plain_shape();

// Fills `values` from a line with the shape of a record: the line, without trailing white
// space, ends with a whole point (pair, triple), each field ends in a non-blank column and
// holds one number, and a counted STD line has at least one counter, any other line a field
// that opens with a blank (a line of digits alone is one long number). False for any other
// line.
bool read_record(std::string_view line, const RecordShape& shape, std::vector<double>& values);

std::size_t values_per_point(Layout layout);

}  // namespace morvex::gsas
