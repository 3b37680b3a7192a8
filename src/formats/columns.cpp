#include "formats/columns.hpp"

#include <algorithm>
#include <cstring>
#include <string>

#include "core/ascii_blocks.hpp"
#include "core/line_reader.hpp"
#include "core/memory.hpp"
#include "core/number.hpp"
#include "core/tokens.hpp"
#include "core/worker_team.hpp"
#include "formats/column_commas.hpp"

namespace morvex {
namespace {

bool is_comment_or_blank(std::string_view trimmed) {
  return trimmed.empty() || trimmed.front() == '#' || trimmed.front() == '!';
}

void note_without_e(ColumnTarget& target) {
  if (target.first_without_e == SIZE_MAX) target.first_without_e = target.x.size() - 1;
}

}  // namespace

void push_row(std::span<const std::string_view> tokens, ColumnTarget& target) {
  if (tokens.size() < 2) return;
  const auto x = parse_double(tokens[0]);
  const auto y = parse_double(tokens[1]);
  if (!x || !y) return;
  target.x.push_back(*x);
  target.y.push_back(*y);
  if (tokens.size() > 2) {
    if (const auto e = parse_double(tokens[2])) {
      target.e.push_back(*e);
      return;
    }
  }
  note_without_e(target);
}

std::optional<std::vector<double>> finish_error_column(const std::vector<double>& x,
                                                       std::vector<double>&& e) {
  if (e.empty() || e.size() != x.size()) return std::nullopt;
  return std::move(e);
}

namespace {

// The rows at the start of `text` that are plain: ASCII lines whose leading tokens are
// numbers, each read in place. Returns the bytes taken, always whole lines; it stops at the
// first line that needs the full rules (a comment, a word, a byte of 0x80 or more near it).
// What it takes, the line reader and the row rule would make the same points of.
//
// Tokens and line ends come from the separator masks of 64 bytes at a time, so that finding
// the next token waits on no parse and the numbers of a line are read side by side.
//
// `guard_gaps` leaves to the full rules every row whose tokens a blank separates, as well as
// the commas: only those can hold decimal commas that a comma separator would split.
template <bool comma_separates, bool guard_gaps = false>
std::size_t read_plain_rows(std::string_view text, std::size_t columns, ColumnTarget& target) {
#if !MORVEX_VECTOR
  (void)text, (void)columns, (void)target;
  return 0;  // the line reader takes every line
#else
  if (text.empty()) return 0;
  const char* const begin = text.data();
  const void* last_newline = memrchr(begin, '\n', text.size());
  if (last_newline == nullptr) return 0;
  const char* const end = static_cast<const char*>(last_newline) + 1;
  const char* line = begin;  // of the row in progress
  // The row's numbers in named slots rather than an array, so that they stay in registers.
  double x = 0, y = 0, e = 0;
  std::size_t count = 0;  // tokens of the row so far
  const auto take = [&](const char* token, const char* token_end) {
    if (count < columns) {
      const auto value =
          parse_double(std::string_view(token, static_cast<std::size_t>(token_end - token)), begin);
      if (!value) return false;
      (count == 0 ? x : count == 1 ? y : e) = *value;
    }
    ++count;
    return true;
  };
  const char* open_token = nullptr;  // running on from the previous chunk
  std::uint64_t after_stop = 1;      // whether the byte before the chunk ended a token
  std::uint64_t after_blank = 1;     // whether it was white space
  for (std::size_t offset = 0; begin + offset < end; offset += 64) {
    const char* const chunk = begin + offset;
    const auto masks = ascii_blocks::chunk_at<comma_separates>(begin, chunk, end);
    if (masks.non_ascii) break;
    const std::uint64_t stops = masks.separators;
    const std::uint64_t starts = ~stops & (stops << 1 | after_stop);
    after_stop = stops >> 63;
    std::uint64_t blank_starts = 0;  // tokens that white space comes before
    if constexpr (guard_gaps) {
      const std::uint64_t blanks = ascii_blocks::chunk_at<false>(begin, chunk, end).separators;
      blank_starts = starts & (blanks << 1 | after_blank);
      after_blank = blanks >> 63;
    }
    if (open_token != nullptr) {
      if (stops == 0) continue;  // the token fills the chunk
      if (!take(open_token, chunk + std::countr_zero(stops))) break;
      open_token = nullptr;
    }
    std::uint64_t events = starts | masks.newlines;
    while (events != 0) {
      const auto at = static_cast<unsigned>(std::countr_zero(events));
      events &= events - 1;
      if ((masks.newlines >> at) & 1) {
        const std::size_t n = std::min(count, columns);
        if (n >= 2) {
          target.x.push_back(x);
          target.y.push_back(y);
          if (n == 3) {
            target.e.push_back(e);
          } else {
            note_without_e(target);
          }
        }
        line = chunk + at + 1;
        count = 0;
        continue;
      }
      if constexpr (guard_gaps) {
        if (count != 0 && ((blank_starts >> at) & 1)) return static_cast<std::size_t>(line - begin);
      }
      const std::uint64_t token_stops = stops & (~std::uint64_t{0} << at);
      if (token_stops == 0) {  // no stop after it, so no line end either
        open_token = chunk + at;
        break;
      }
      if (!take(chunk + at, chunk + std::countr_zero(token_stops))) {
        return static_cast<std::size_t>(line - begin);
      }
    }
  }
  return static_cast<std::size_t>(line - begin);
#endif
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
  if (reserve_room(target.x, room) && reserve_room(target.y, room) && target.e.size() == rows) {
    reserve_room(target.e, room);
  }
}

Scan finish_scan(ColumnTarget&& target) {
  Scan scan;
  scan.e = finish_error_column(target.x, std::move(target.e));
  scan.x = std::move(target.x);
  scan.y = std::move(target.y);
  return scan;
}

// From this many bytes on, an input's plain rows are read by a team, a part each.
constexpr std::size_t team_input = std::size_t{1} << 20;
constexpr std::size_t min_part = std::size_t{32} << 10;
constexpr std::size_t max_part = std::size_t{1} << 20;
constexpr std::size_t most_members = 8;

void append_rows(const ColumnTarget& part, ColumnTarget& target) {
  if (part.first_without_e != SIZE_MAX && target.first_without_e == SIZE_MAX) {
    target.first_without_e = target.x.size() + part.first_without_e;
  }
  target.x.insert(target.x.end(), part.x.begin(), part.x.end());
  target.y.insert(target.y.end(), part.y.begin(), part.y.end());
  target.e.insert(target.e.end(), part.e.begin(), part.e.end());
}

// Empty again, its room kept for the next text.
void clear_rows(ColumnTarget& part) {
  part.x.clear();
  part.y.clear();
  part.e.clear();
  part.first_without_e = SIZE_MAX;
}

// The plain rows of a large input read by a team: the text cut at line ends into a part per
// member, each part read into columns of its own, and the columns joined in order. A part
// counts only where every part before it was plain to its end, so that what is taken, and
// every number of it, is what one reader going through the text would take.
class PlainRowTeam {
 public:
  PlainRowTeam() : team_(most_members), parts_(team_.size()) {}

  template <class Plain>
  std::size_t read(std::string_view text, ColumnTarget& target, Plain plain) {
    const std::size_t members = std::min(team_.size(), text.size() / min_part);
    if (members < 2) return plain(text, target);
    // A megabyte a part at most, so that the parts' own columns stay small whatever the
    // input holds in place: the caller comes back for the rest.
    if (text.size() > members * max_part) {
      const std::size_t line_end = text.find('\n', members * max_part);
      if (line_end != std::string_view::npos) text = text.substr(0, line_end + 1);
    }
    std::vector<std::string_view> cuts(members);
    std::vector<std::size_t> taken(members);
    for (std::size_t k = 0, start = 0; k < members; ++k) {
      std::size_t end = text.size();
      if (k + 1 < members) {
        const std::size_t line_end = text.find('\n', text.size() * (k + 1) / members);
        end = line_end == std::string_view::npos ? text.size() : std::max(line_end + 1, start);
      }
      cuts[k] = text.substr(start, end - start);
      start = end;
    }
    team_.run([&](std::size_t k) {
      if (k < members) taken[k] = plain(cuts[k], k == 0 ? target : parts_[k]);
    });
    std::size_t total = 0;
    bool whole = true;  // every part so far was plain to its end
    for (std::size_t k = 0; k < members; ++k) {
      if (k > 0) {
        if (whole) append_rows(parts_[k], target);
        clear_rows(parts_[k]);
      }
      if (!whole) continue;
      total += taken[k];
      whole = taken[k] == cuts[k].size();
    }
    return total;
  }

 private:
  WorkerTeam team_;
  std::vector<ColumnTarget> parts_;  // parts_[0] unused: the first part goes to the target
};

// Whether an input gets a team, asked once, at its first full buffer: its rest only shrinks.
struct TeamChoice {
  bool asked = false;
  std::optional<PlainRowTeam> team;
};

// The plain rows at the front of the input's buffer, read by a team where the input is large
// enough to be worth one (made on first use, for the rest of the load).
template <class Plain>
std::size_t take_plain_rows(Input& input, TeamChoice& choice, ColumnTarget& target, Plain plain) {
  const std::string_view text = input.buffered();
  // Without the vector paths no row is plain: the line reader takes them all.
  constexpr bool plain_rows = MORVEX_VECTOR;
  if (plain_rows && !choice.asked && text.size() >= 2 * min_part) {
    choice.asked = true;
    if (input.remaining_size().value_or(0) >= team_input) choice.team.emplace();
  }
  std::optional<PlainRowTeam>& team = choice.team;
  const std::size_t taken = team ? team->read(text, target, plain) : plain(text, target);
  input.consume(taken);
  return taken;
}

// Room for the rest once the first rows are in, so that it is reserved once.
void reserve_once(const Input& input, ColumnTarget& target, bool& reserved) {
  if (reserved || target.x.empty()) return;
  reserve_for_rest(input, target);
  reserved = true;
}

template <bool comma_separates>
ScanResult read_columns(Input& input, std::size_t columns) {
  LineReader lines(input);
  ColumnTarget target;
  std::vector<std::string_view> tokens;
  bool reserved = false;
  TeamChoice team;
  const auto plain = [columns](std::string_view text, ColumnTarget& into) {
    return read_plain_rows<comma_separates>(text, columns, into);
  };
  for (;;) {
    // Whole lines a buffer at a time where they are plain; the line reader takes the rest,
    // one line before the next try.
    take_plain_rows(input, team, target, plain);
    reserve_once(input, target, reserved);
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
  return finish_scan(std::move(target));
}

// The plain rows as the fast reader takes them, where the rules leave them to it: none once
// the rows have decimal commas, and rows with commas only once they have shown themselves
// separators.
template <bool comma_separates>
std::size_t read_checked_plain_rows(std::string_view text, std::size_t columns,
                                    const CommaRules& rules, ColumnTarget& target) {
  if (rules.decimal()) return 0;
  if (comma_separates && rules.separators()) {
    return read_plain_rows<true, true>(text, columns, target);
  }
  return read_plain_rows<false>(text, columns, target);
}

// A file whose rows all hold an uncertainty but the last was cut within that row.
Status<ParseError> check_last_row(const ColumnTarget& target) {
  const std::size_t points = target.x.size();
  if (points < 2 || target.e.size() + 1 != points || target.first_without_e != points - 1) {
    return succeeded;
  }
  return parse_failure("Column file's last row (point " + std::to_string(points) +
                       ") has no uncertainty, every row before it has one (cut file?)");
}

template <bool comma_separates>
ScanResult read_checked_columns(Input& input, std::size_t columns) {
  LineReader lines(input);
  ColumnTarget target;
  CommaRules rules(comma_separates, columns);
  bool reserved = false;
  TeamChoice team;
  const auto plain = [columns, &rules](std::string_view text, ColumnTarget& into) {
    return read_checked_plain_rows<comma_separates>(text, columns, rules, into);
  };
  for (;;) {
    const std::string_view text = input.buffered();
    rules.saw_rows(text.substr(0, take_plain_rows(input, team, target, plain)));
    reserve_once(input, target, reserved);
    const auto line = lines.next_line();
    if (!line) break;
    const std::string_view trimmed = trim_white_space(*line);
    if (is_comment_or_blank(trimmed)) continue;
    if (auto status = rules.row(trimmed, target); !status) return fail(std::move(status).error());
  }
  if (lines.failed()) return fail(lines.take_error());
  if (auto status = rules.finish(); !status) return fail(std::move(status).error());
  if (auto status = check_last_row(target); !status) return fail(std::move(status).error());
  return finish_scan(std::move(target));
}

}  // namespace

ScanResult read_columns(Input& input, Separators separators, std::size_t columns, RowRules rules) {
  const bool commas = separators == Separators::white_space_and_comma;
  if (rules == RowRules::checked) {
    return commas ? read_checked_columns<true>(input, columns)
                  : read_checked_columns<false>(input, columns);
  }
  return commas ? read_columns<true>(input, columns) : read_columns<false>(input, columns);
}

}  // namespace morvex
