#include "formats/columns.hpp"

#include <algorithm>
#include <cstring>
#include <string>

#include "core/ascii_blocks.hpp"
#include "core/line_reader.hpp"
#include "core/memory.hpp"
#include "core/number.hpp"
#include "core/tokens.hpp"

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

// The commas of a file read for every scan: decimal marks or separators, as its rows show.
// A row's fields are cut at white space and semicolons. Its commas are decimal marks where it
// has two fields or more, no dot, and each comma sits between digits in a field of its own
// ("5,00\t1234"). They separate, in the csv reader only, where its one field holds them
// ("10.5,100"), or each sits at the end of a field or in one with a dot ("10.5, 100"). Both
// readings in one file, or a row with neither, would split a number somewhere: those are
// refused. So is a row whose commas could be either ("5,00,1234"), unless others show them
// to be separators.
class CommaRules {
 public:
  CommaRules(bool comma_separates, std::size_t columns)
      : comma_separates_(comma_separates), columns_(columns) {}

  // Whether the rows so far have shown their commas to be decimal marks, or separators.
  bool decimal() const { return use_ == Use::decimal; }
  bool separators() const { return use_ == Use::separators; }
  // Rows read elsewhere may have held a number with a dot, which no decimal-comma file has.
  void saw_rows(std::string_view rows) {
    if (!dots_ && use_ != Use::decimal) dots_ = rows.find('.') != std::string_view::npos;
  }

  // The row's point, if it has one.
  Status<ParseError> row(std::string_view trimmed, ColumnTarget& target);
  // Refuses a file whose commas nothing settled.
  Status<ParseError> finish() const {
    if (unsettled_.empty() || use_ == Use::separators) return succeeded;
    return unclear(unsettled_);
  }

 private:
  enum class Use { unknown, decimal, separators };
  enum class Kind { plain, decimal, separated, unclear, mixed };

  void cut_fields(std::string_view trimmed);
  Kind kind() const;
  void push_decimal(ColumnTarget& target);
  void push_separated(ColumnTarget& target);
  static Failure<ParseError> mixed(std::string_view row);
  static Failure<ParseError> unclear(std::string_view row);

  bool comma_separates_;
  std::size_t columns_;
  Use use_ = Use::unknown;
  bool dots_ = false;
  std::string unsettled_;  // the first row read with comma separators before any row showed them
  std::vector<std::string_view> words_, fields_, tokens_;
  std::string decimals_[row_columns];
};

bool is_digit(char c) {
  return c >= '0' && c <= '9';
}

// "5,00", "-1,5e3": one comma between digits, no dot.
bool has_decimal_comma(std::string_view field) {
  const std::size_t comma = field.find(',');
  return comma != std::string_view::npos && comma > 0 && comma + 1 < field.size() &&
         is_digit(field[comma - 1]) && is_digit(field[comma + 1]) &&
         field.find(',', comma + 1) == std::string_view::npos &&
         field.find('.') == std::string_view::npos;
}

bool commas_only_at_ends(std::string_view field) {
  const std::size_t first = field.find_first_not_of(',');
  if (first == std::string_view::npos) return true;
  const std::size_t last = field.find_last_not_of(',');
  return field.substr(first, last - first + 1).find(',') == std::string_view::npos;
}

std::string quoted_row(std::string_view row) {
  constexpr std::size_t shown = 60;
  std::size_t cut = row.size();
  if (cut > shown) {
    cut = shown;  // not inside a character
    while (cut > 0 && (static_cast<unsigned char>(row[cut]) & 0xC0) == 0x80) --cut;
  }
  std::string text(1, '"');
  text.append(row.substr(0, cut));
  if (cut < row.size()) text.append("...");
  text.push_back('"');
  return text;
}

Failure<ParseError> CommaRules::mixed(std::string_view row) {
  return parse_failure(
      "Column file mixes decimal commas with decimal points or comma separators, in row " +
      quoted_row(row));
}

Failure<ParseError> CommaRules::unclear(std::string_view row) {
  return parse_failure(
      "Column file has commas that could mark decimals or separate fields, in row " +
      quoted_row(row));
}

void CommaRules::cut_fields(std::string_view trimmed) {
  split_white_space(trimmed, words_, columns_);
  fields_.clear();
  for (std::string_view word : words_) {
    while (fields_.size() < columns_) {
      const std::size_t semicolon = word.find(';');
      if (semicolon != 0) fields_.push_back(word.substr(0, semicolon));
      if (semicolon == std::string_view::npos) break;
      word.remove_prefix(semicolon + 1);
      if (word.empty()) break;
    }
  }
}

CommaRules::Kind CommaRules::kind() const {
  bool commas = false, dots = false, decimal = true, at_ends = true;
  for (const std::string_view field : fields_) {
    dots = dots || field.find('.') != std::string_view::npos;
    if (field.find(',') == std::string_view::npos) continue;
    commas = true;
    decimal = decimal && has_decimal_comma(field);
    // A dot marks the field's decimals, so its commas can only separate.
    at_ends = at_ends && (commas_only_at_ends(field) || field.find('.') != std::string_view::npos);
  }
  if (!commas) return Kind::plain;
  if (fields_.size() >= 2) {
    if (decimal && !dots) return Kind::decimal;
    return at_ends ? Kind::separated : Kind::mixed;
  }
  // One field: the commas separate, unless they could as well be decimal commas between
  // numbers that commas separate ("5,00,1234").
  const std::string_view field = fields_.front();
  bool between_digits = true;
  for (std::size_t at = field.find(','); at != std::string_view::npos;
       at = field.find(',', at + 1)) {
    between_digits = between_digits && at > 0 && at + 1 < field.size() && is_digit(field[at - 1]) &&
                     is_digit(field[at + 1]);
  }
  const bool several = field.find(',') != field.rfind(',');
  return !dots && several && between_digits ? Kind::unclear : Kind::separated;
}

void CommaRules::push_decimal(ColumnTarget& target) {
  tokens_.clear();
  for (std::size_t k = 0; k < fields_.size() && k < row_columns; ++k) {
    decimals_[k].assign(fields_[k]);
    std::ranges::replace(decimals_[k], ',', '.');
    tokens_.push_back(decimals_[k]);
  }
  push_row(tokens_, target);
}

void CommaRules::push_separated(ColumnTarget& target) {
  tokens_.clear();
  for (const std::string_view field : fields_) {
    split_fields(field, words_, columns_);
    for (const std::string_view token : words_) {
      if (tokens_.size() < columns_) tokens_.push_back(token);
    }
  }
  push_row(tokens_, target);
}

Status<ParseError> CommaRules::row(std::string_view trimmed, ColumnTarget& target) {
  cut_fields(trimmed);
  const std::size_t points = target.x.size();
  const Kind row_kind = kind();
  switch (row_kind) {
    case Kind::plain:
      push_row(fields_, target);
      if (target.x.size() == points) return succeeded;
      if (use_ == Use::decimal && trimmed.find('.') != std::string_view::npos) {
        return mixed(trimmed);
      }
      saw_rows(trimmed);
      return succeeded;
    case Kind::decimal:
      push_decimal(target);
      if (target.x.size() == points) return succeeded;  // a header line, say
      if (!unsettled_.empty()) return unclear(unsettled_);
      if (use_ == Use::separators || dots_) return mixed(trimmed);
      use_ = Use::decimal;
      return succeeded;
    case Kind::mixed: {
      // Refused only where it reads as a point with its commas as decimal marks, or as
      // separators in the csv reader.
      ColumnTarget scratch;
      push_decimal(scratch);
      if (comma_separates_) push_separated(scratch);
      if (scratch.x.empty()) return succeeded;
      return mixed(trimmed);
    }
    case Kind::separated:
    case Kind::unclear:
      break;
  }
  if (!comma_separates_) {  // commas separate nothing here: the row is read as it is
    push_row(fields_, target);
    return succeeded;
  }
  push_separated(target);
  if (target.x.size() == points) return succeeded;
  if (use_ == Use::decimal) return mixed(trimmed);
  if (row_kind == Kind::separated) {
    use_ = Use::separators;
  } else if (use_ == Use::unknown && unsettled_.empty()) {
    unsettled_.assign(trimmed);
  }
  return succeeded;
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
  for (;;) {
    // Whole lines a buffer at a time where they are plain; the line reader takes the rest,
    // one line before the next try.
    input.consume(read_plain_rows<comma_separates>(input.buffered(), columns, target));
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
  for (;;) {
    const std::string_view text = input.buffered();
    const std::size_t plain =
        read_checked_plain_rows<comma_separates>(text, columns, rules, target);
    rules.saw_rows(text.substr(0, plain));
    input.consume(plain);
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
