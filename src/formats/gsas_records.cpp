#include "formats/gsas_records.hpp"

#include "core/number.hpp"
#include "core/tokens.hpp"

namespace morvex::gsas {
namespace {

constexpr std::size_t field_columns = 8;
constexpr std::size_t eight_columns[] = {field_columns};
constexpr std::size_t pair_columns[] = {field_columns, field_columns};
constexpr std::size_t alt_columns[] = {8, 7, 5};
constexpr std::size_t counter_columns = 2;
constexpr RecordShape standard_shapes[] = {{eight_columns, counter_columns}};
constexpr RecordShape error_shapes[] = {{pair_columns, 0}};
constexpr RecordShape alt_shapes[] = {{alt_columns, 0}};
constexpr RecordShape plain_record = {eight_columns, 0};

std::size_t next_field(const RecordShape& shape, std::size_t field) {
  return field + 1 == shape.widths.size() ? 0 : field + 1;
}

bool is_blank(char c) {
  return c == ' ' || c == '\t';
}

// Columns 1-2 of an STD field: blank, or a counter (a blank and a digit, or two digits).
// Sets `counted` when there is a counter.
bool is_counter(std::string_view columns, bool& counted) {
  if (columns[0] == ' ' && columns[1] == ' ') return true;
  if (!(columns[0] == ' ' || is_ascii_digit(columns[0])) || !is_ascii_digit(columns[1]))
    return false;
  counted = true;
  return true;
}

}  // namespace

std::span<const RecordShape> record_shapes(Layout layout) {
  switch (layout) {
    case Layout::standard:
      return standard_shapes;
    case Layout::with_errors:
      return error_shapes;
    case Layout::alt_positions:
      return alt_shapes;
    case Layout::positions:
      return {};
  }
  return {};
}

const RecordShape& plain_shape() {
  return plain_record;
}

bool read_record(std::string_view line, const RecordShape& shape, std::vector<double>& values) {
  if (line.empty()) return false;
  // The shape first, so that free-form lines cost no number parsing here. A counted record
  // has a counter, with a digit in its field's second column: most free-form lines have none.
  if (shape.counter_width) {
    bool digit_in_second_column = false;
    for (std::size_t at = 1; at < line.size(); at += shape.widths[0]) {
      digit_in_second_column |= is_ascii_digit(line[at]);
    }
    if (!digit_in_second_column) return false;
  }
  bool counted = false;
  bool aligned = false;
  std::size_t field = 0;  // in shape.widths, counted round without a division per field
  for (std::size_t at = 0; at < line.size(); field = next_field(shape, field)) {
    const std::size_t width = shape.widths[field];
    if (line.size() - at < width || is_blank(line[at + width - 1])) return false;
    aligned |= is_blank(line[at]);
    if (shape.counter_width && !is_counter(line.substr(at, shape.counter_width), counted)) {
      return false;
    }
    at += width;
  }
  if (field != 0 || !(shape.counter_width ? counted : aligned)) return false;

  values.clear();
  field = 0;
  for (std::size_t at = 0; at < line.size(); field = next_field(shape, field)) {
    const std::size_t end = at + shape.widths[field];
    // Fields end in a non-blank column; other white space than blanks fails the number.
    std::size_t first = at + shape.counter_width;
    while (is_blank(line[first])) ++first;
    const auto value = parse_double(line.substr(first, end - first), line.data());
    if (!value) return false;
    values.push_back(*value);
    at = end;
  }
  return true;
}

std::size_t values_per_point(Layout layout) {
  switch (layout) {
    case Layout::standard:
      return 1;
    case Layout::with_errors:
      return 2;
    case Layout::positions:
    case Layout::alt_positions:
      return 3;
  }
  return 1;
}

}  // namespace morvex::gsas
