// The content rule of the column files (xy, xye, csv): rows of two or three numbers, the same
// count in every row, below any header lines. Anything else that holds numbers is refused
// with the reason, so that no other layout is read as columns.
#include <array>

#include "core/head.hpp"
#include "core/number.hpp"
#include "formats/readers.hpp"

namespace morvex {
namespace {

// How the numbers of a row are separated, and what their commas are.
enum class RowStyle { plain, commas_separate, decimal_commas, ambiguous_commas };

struct Row {
  RowStyle style = RowStyle::plain;
  std::size_t numbers = 0;  // 0 where some token is not a number
};

bool is_blank(char c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f';
}

// Comments, and the Ctrl-Z that DOS programs wrote after the last line.
bool is_comment(std::string_view line) {
  return line.front() == '#' || line.front() == '!' || line == "\x1A";
}

// A comma is a separator where a blank stands beside it ("2., 5.9e-2") or where nothing but
// commas separates the numbers ("5.0,1234"); it is a decimal mark where blanks or semicolons
// separate numbers and none holds a "." ("5,00\t1234"). A line with both ("1.234,5 7") could
// be read two ways.
RowStyle style_of(std::string_view line) {
  if (line.find(',') == std::string_view::npos) return RowStyle::plain;
  bool blank_beside_comma = false;
  bool blank_between = false;
  for (std::size_t i = 0; i < line.size(); ++i) {
    if (line[i] == ',') {
      blank_beside_comma |= (i > 0 && is_blank(line[i - 1])) ||
                            (i + 1 < line.size() && is_blank(line[i + 1])) || i + 1 == line.size();
    } else if (is_blank(line[i]) || line[i] == ';') {
      blank_between = true;
    }
  }
  if (blank_beside_comma || !blank_between) return RowStyle::commas_separate;
  return line.find('.') == std::string_view::npos ? RowStyle::decimal_commas
                                                  : RowStyle::ambiguous_commas;
}

// A number whose one decimal mark may be a comma.
bool is_number(std::string_view token, bool decimal_comma) {
  if (!decimal_comma) return parse_double(token).has_value();
  std::array<char, 64> copy{};
  if (token.size() > copy.size()) return false;
  std::size_t commas = 0;
  for (std::size_t i = 0; i < token.size(); ++i) {
    commas += token[i] == ',';
    copy[i] = token[i] == ',' ? '.' : token[i];
  }
  return commas <= 1 && parse_double(std::string_view(copy.data(), token.size())).has_value();
}

Row row_of(std::string_view line) {
  Row row{style_of(line), 0};
  if (row.style == RowStyle::ambiguous_commas) return row;
  const bool commas_separate = row.style == RowStyle::commas_separate;
  std::size_t at = 0;
  while (at < line.size()) {
    const auto separates = [&](char c) {
      return is_blank(c) || c == ';' || (commas_separate && c == ',');
    };
    while (at < line.size() && separates(line[at])) ++at;
    if (at == line.size()) break;
    std::size_t end = at;
    while (end < line.size() && !separates(line[end])) ++end;
    if (!is_number(line.substr(at, end - at), row.style == RowStyle::decimal_commas)) {
      row.numbers = 0;
      return row;
    }
    ++row.numbers;
    at = end;
  }
  return row;
}

constexpr std::size_t min_columns = 2;
constexpr std::size_t max_columns = 3;
// Rows enough to show the layout; the reader checks the rest.
constexpr std::size_t rows_to_judge = 64;

}  // namespace

ColumnContent column_content(std::string_view head) {
  head = without_byte_order_mark(head);
  if (head.find('\0') != std::string_view::npos) return {};
  // A head that fills the window may end inside a line, which then says nothing.
  if (head.size() >= head_size) head = head.substr(0, head.rfind('\n') + 1);
  std::optional<Row> first;  // the first row of numbers, which the others must match
  std::size_t rows = 0;
  bool ambiguous = false;
  for (std::size_t at = 0; at < head.size() && rows < rows_to_judge;) {
    const std::string_view line = trim_white_space(next_head_line(head, at));
    if (line.empty() || is_comment(line)) continue;
    const Row row = row_of(line);
    ambiguous |= row.style == RowStyle::ambiguous_commas && starts_like_number(line);
    const bool last = at >= head.size();
    if (!first) {
      if (row.numbers >= min_columns) first = row;
      continue;  // header lines come before the rows
    }
    // The input's last line may be cut short: the reader says so.
    if (last && row.numbers >= 1 && row.numbers < first->numbers) break;
    if (row.numbers != first->numbers || row.style != first->style) {
      if (row.numbers > first->numbers && rows == 0 && first->numbers == max_columns) {
        // The start/step/stop reader's rule turned it down: its counts do not fit the line.
        return {"",
                "a start, step and stop line followed by rows of counts that do not number what "
                "it states (cut or miscounted)"};
      }
      return {"", "rows of different lengths or separators, which is no column layout"};
    }
    ++rows;
  }
  if (!first) {
    if (ambiguous) return {"", "commas that could be decimal marks or separators"};
    return {};
  }
  if (first->numbers > max_columns) {
    return {"", "rows of more than three numbers, a table whose x and y columns are not stated"};
  }
  return {first->style == RowStyle::commas_separate ? "csv" : "xy", ""};
}

}  // namespace morvex
