// Column files: xy and xye (white-space columns) and csv (comma or white-space columns).
#include "core/line_reader.hpp"
#include "core/number.hpp"
#include "core/tokens.hpp"
#include "formats/columns.hpp"
#include "formats/readers.hpp"

namespace morvex {
namespace {

using Splitter = void (*)(std::string_view, std::vector<std::string_view>&, std::size_t);

bool is_comment_or_blank(std::string_view trimmed) {
  return trimmed.empty() || trimmed.front() == '#' || trimmed.front() == '!';
}

LoadResult read_columns(ByteSource& source, Splitter split) {
  LineReader lines(source);
  ColumnTarget columns;
  std::vector<std::string_view> tokens;
  while (const auto line = lines.next_line()) {
    const std::string_view trimmed = trim_white_space(*line);
    if (is_comment_or_blank(trimmed)) continue;
    split(trimmed, tokens, row_columns);
    push_row(tokens, columns);
  }
  if (lines.failed()) return fail(lines.take_error());
  auto e = finish_error_column(columns.x, std::move(columns.e));
  return Pattern{std::move(columns.x), std::move(columns.y), std::move(e)};
}

}  // namespace

LoadResult read_xy(ByteSource& source) { return read_columns(source, split_white_space); }

LoadResult read_csv(ByteSource& source) { return read_columns(source, split_fields); }

}  // namespace morvex
