#include "formats/columns.hpp"

#include <array>
#include <cstring>

#include "core/line_reader.hpp"
#include "core/memory.hpp"
#include "core/number.hpp"
#include "core/tokens.hpp"
#include "core/utf8.hpp"

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

namespace {

// The rows at the start of `text` that are plain: ASCII lines of numerals under 16 bytes
// between ASCII separators, each number read in place. Returns the bytes taken, always whole
// lines; it stops at the first line that needs the full rules (a comment, a word, a long
// numeral, a byte of 0x80 or more) and at the last 16 bytes, which a token scan could pass.
// What it takes, the line reader and the row rule would make the same points of.
template <bool comma_separates>
std::size_t read_plain_rows(std::string_view text, std::size_t columns, ColumnTarget& target) {
  if (text.size() <= 16) return 0;
  const char* const begin = text.data();
  const void* last_newline = memrchr(begin, '\n', text.size() - 16);
  if (last_newline == nullptr) return 0;
  const char* const end = static_cast<const char*>(last_newline) + 1;
  const auto& separates = is_line_separator<comma_separates>;
  const char* p = begin;
  while (p < end) {
    const char* const line = p;
    std::array<double, row_columns> values;
    std::size_t count = 0;
    for (;;) {
      while (separates[static_cast<unsigned char>(*p)]) ++p;
      if (*p == '\n') break;
      if (count == columns) {  // tokens the row rule never reads need only be ASCII
        const auto* newline = static_cast<const char*>(std::memchr(p, '\n', end - p));
        if (first_non_ascii(p, newline) != newline) return line - begin;
        p = newline;
        break;
      }
      const unsigned length = short_token_length<comma_separates>(p);
      const auto value = parse_double(std::string_view(p, length));
      if (length == 16 || !value) return line - begin;
      values[count++] = *value;
      p += length;
    }
    ++p;
    if (count < 2) continue;
    target.x.push_back(values[0]);
    target.y.push_back(values[1]);
    if (count == 3) target.e.push_back(values[2]);
  }
  return p - begin;
}

// Once the first buffer's rows show how long a row is, room for the rows of the rest of the
// input, where its size is known. Grown by doubling instead, the columns would be copied and
// their memory touched twice over, and fresh memory costs more than the parsing. Room that
// stays unused is never touched, so an estimate too large costs address space only.
void reserve_for_rest(const Input& input, ColumnTarget& target) {
  const std::size_t rows = target.x.size();
  const auto rest = input.remaining_size();
  if (rows == 0 || !rest || *rest <= input.offset()) return;  // no gain where little is left
  const double rows_per_byte = static_cast<double>(rows) / static_cast<double>(input.offset());
  const double expected = static_cast<double>(*rest) * rows_per_byte * 1.02;
  if (!(expected < static_cast<double>(target.x.max_size() / 2))) return;  // cannot be meant
  const std::size_t room = rows + static_cast<std::size_t>(expected) + 64;
  // A size that misleads (a ZIP entry may state any) must not fail the load: where the room
  // cannot be had, the columns grow as they go.
  if (reserve_column(target.x, room) && reserve_column(target.y, room) && target.e.size() == rows) {
    reserve_column(target.e, room);
  }
}

template <bool comma_separates>
LoadResult read_columns(Input& input, std::size_t columns) {
  LineReader lines(input);
  ColumnTarget target;
  std::vector<std::string_view> tokens;
  bool reserved = false;
  for (;;) {
    // Whole lines a buffer at a time where they are plain; the line reader takes the rest,
    // one line before the next try.
    input.consume(read_plain_rows<comma_separates>(input.buffered(), columns, target));
    if (!reserved && !target.x.empty()) {
      reserve_for_rest(input, target);
      reserved = true;
    }
    const auto line = lines.next_line();
    if (!line) break;
    const std::string_view trimmed = trim_white_space(*line);
    if (is_comment_or_blank(trimmed)) continue;
    if constexpr (comma_separates) {
      split_fields(trimmed, tokens, columns);
    } else {
      split_white_space(trimmed, tokens, columns);
    }
    push_row(tokens, target);
  }
  if (lines.failed()) return fail(lines.take_error());
  auto e = finish_error_column(target.x, std::move(target.e));
  return Pattern{std::move(target.x), std::move(target.y), std::move(e)};
}

}  // namespace

LoadResult read_columns(Input& input, Separators separators, std::size_t columns) {
  return separators == Separators::white_space_and_comma ? read_columns<true>(input, columns)
                                                         : read_columns<false>(input, columns);
}

}  // namespace morvex
