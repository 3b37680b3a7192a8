// Fit2D/pyFAI chi text: a title, the x and y labels, the point count, then a row of
// position and intensity (and an uncertainty, where every row has one) per point.
#include <algorithm>
#include <string>

#include "core/axis.hpp"
#include "core/encodings.hpp"
#include "core/head.hpp"
#include "core/number.hpp"
#include "core/tokens.hpp"
#include "formats/columns.hpp"
#include "formats/readers.hpp"

namespace morvex {
namespace {

constexpr std::size_t label_lines = 3;  // title, x label, y label
// The kinds of axis an x label may name ("2-Theta Angle (Degrees)", "Q (nm^-1)").
constexpr std::string_view stated_axes[] = {"2Theta", "Omega", "Theta", "Chi", "Phi",
                                            "Psi",    "TOF",   "Q",     "d",   "Energy"};

// Header text to report: Dioptas pads an empty label with zero bytes, and an older program
// may have written Latin-1.
std::string label_text(std::string_view line) {
  std::string text = utf8_or_latin1(line);
  std::erase(text, '\0');
  return std::string(trim_white_space(text));
}

std::optional<std::size_t> parse_count(std::string_view line) {
  if (!is_ascii(line)) return std::nullopt;
  const std::string_view digits = trim_white_space(line);
  if (digits.empty() || digits.size() > 12) return std::nullopt;
  std::size_t count = 0;
  for (const char c : digits) {
    if (c < '0' || c > '9') return std::nullopt;
    count = count * 10 + static_cast<std::size_t>(c - '0');
  }
  return count;
}

// "2-Theta Angle (Degrees)": the axis before the unit in parentheses. A label that names no
// kind of axis (a title such as "x") states none.
void axis_keys(std::string_view label, Scan& scan) {
  const std::size_t open = label.find('(');
  std::string_view word = trim_white_space(label.substr(0, open));
  if (word.ends_with(" Angle")) word.remove_suffix(6);
  const std::string axis = axis_kind(word);
  if (std::ranges::find(stated_axes, axis) == std::end(stated_axes)) return;
  scan.meta.set("x_axis", axis);
  const std::size_t close = label.find(')', open);
  if (open == std::string_view::npos || close == std::string_view::npos) return;
  const std::string_view unit = trim_white_space(label.substr(open + 1, close - open - 1));
  if (unit == "Degrees" || unit == "degrees" || unit == "deg") {
    scan.meta.set("x_unit", std::string("deg"));
  } else if (!unit.empty()) {
    scan.meta.set("x_unit", std::string(unit));
  }
}

void label_keys(const std::string (&labels)[label_lines], MetaTable& measurement, Scan& scan) {
  constexpr std::string_view names[label_lines] = {"title", "x_label", "y_label"};
  for (std::size_t k = 0; k < label_lines; ++k) {
    if (!labels[k].empty()) measurement.table("header").set(names[k], labels[k]);
  }
  axis_keys(labels[1], scan);
}

// Some writers follow a number with a comma and a blank ("2., 5.9e-2"); a comma inside a
// number ("2,5") stays part of it, and no number.
std::optional<double> parse_value(std::string_view token) {
  if (token.size() > 1 && token.back() == ',') token.remove_suffix(1);
  return parse_double(token);
}

ReadStatus read_row(std::string_view line, std::vector<std::string_view>& tokens,
                    ColumnTarget& target) {
  if (!is_ascii(line)) return parse_failure("Invalid chi data row");
  split_white_space(line, tokens, row_columns + 1);
  if (tokens.empty()) return succeeded;
  if (tokens.size() < 2 || tokens.size() > row_columns)
    return parse_failure("Invalid chi data row");
  const auto x = parse_value(tokens[0]);
  const auto y = parse_value(tokens[1]);
  if (!x || !y) return parse_failure("Invalid chi data row");
  target.x.push_back(*x);
  target.y.push_back(*y);
  if (tokens.size() == row_columns) {
    const auto e = parse_value(tokens[2]);
    if (!e) return parse_failure("Invalid chi data row");
    target.e.push_back(*e);
  }
  return succeeded;
}

}  // namespace

ReadStatus read_chi(std::string_view bytes, ScanSink& sink) {
  std::string_view rest = bytes;
  std::string labels[label_lines];
  for (std::string& label : labels) {
    const auto line = cut_line(rest);
    if (!line) return parse_failure("chi header ends before its point count");
    label = label_text(*line);
  }
  const auto count_line = cut_line(rest);
  const auto count = count_line ? parse_count(*count_line) : std::nullopt;
  if (!count) return parse_failure("Invalid chi point count");

  Scan scan;
  label_keys(labels, sink.meta(), scan);
  ColumnTarget target;
  if (*count < (std::size_t{1} << 28)) {  // room for what the header states, if sane
    target.x.reserve(*count);
    target.y.reserve(*count);
  }
  std::vector<std::string_view> tokens;
  while (const auto line = cut_line(rest)) {
    if (auto status = read_row(*line, tokens, target); !status) return status;
  }
  if (target.x.size() < *count) {
    return parse_failure("chi file has fewer points than its header states (cut file?)");
  }
  if (target.x.size() > *count) {
    return parse_failure("chi file has more points than its header states");
  }
  scan.e = finish_error_column(target.x, std::move(target.e));
  scan.x = std::move(target.x);
  scan.y = std::move(target.y);
  sink.take(std::move(scan));
  return succeeded;
}

// A title and two axis labels (an empty one may be zero bytes), then a line that is only the
// point count, then the first row.
bool chi_content(std::string_view head) {
  head = without_byte_order_mark(head);
  std::size_t at = 0;
  std::string_view lines[5];
  for (std::string_view& line : lines) {
    if (at >= head.size()) return false;
    line = next_head_line(head, at);
  }
  const std::string_view count = trim_white_space(lines[3]);
  if (count.empty() || !std::ranges::all_of(count, is_ascii_digit)) return false;
  // A label, not a row: "2-Theta Angle (Degrees)" starts like a number but is none.
  const std::string_view x_label = trim_white_space(lines[1]);
  if (parse_double(x_label.substr(0, x_label.find_first_of(" \t,"))) ||
      x_label.find('\0') != std::string_view::npos) {
    return false;
  }
  return starts_like_number(trim_white_space(lines[4]));
}

}  // namespace morvex
