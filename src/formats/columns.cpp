#include "formats/columns.hpp"

#include "core/line_reader.hpp"
#include "core/number.hpp"
#include "core/tokens.hpp"

namespace morvex {
namespace {

bool is_comment_or_blank(std::string_view trimmed) {
  return trimmed.empty() || trimmed.front() == '#' || trimmed.front() == '!';
}

}  // namespace

void push_row(std::span<const std::string_view> tokens, ColumnTarget& target) {
  if (tokens.size() < 2) return;
  const auto x = parse_double(tokens[0]);
  const auto y = parse_double(tokens[1]);
  if (!x || !y) return;
  target.x.push_back(*x);
  target.y.push_back(*y);
  if (tokens.size() == 2) return;
  if (const auto e = parse_double(tokens[2])) target.e.push_back(*e);
}

std::optional<std::vector<double>> finish_error_column(const std::vector<double>& x,
                                                       std::vector<double>&& e) {
  if (e.empty() || e.size() != x.size()) return std::nullopt;
  return std::move(e);
}

LoadResult read_columns(Input& input, Splitter split, std::size_t columns) {
  LineReader lines(input);
  ColumnTarget target;
  std::vector<std::string_view> tokens;
  while (const auto line = lines.next_line()) {
    const std::string_view trimmed = trim_white_space(*line);
    if (is_comment_or_blank(trimmed)) continue;
    split(trimmed, tokens, columns);
    push_row(tokens, target);
  }
  if (lines.failed()) return fail(lines.take_error());
  auto e = finish_error_column(target.x, std::move(target.e));
  return Pattern{std::move(target.x), std::move(target.y), std::move(e)};
}

}  // namespace morvex
