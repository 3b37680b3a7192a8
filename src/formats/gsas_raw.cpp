// GSAS powder data in text form: each usable BANK line gives the x axis and the data layout
// of a bank, and the numbers up to the next BANK line are that bank's points.
#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>

#include "core/axis.hpp"
#include "core/head.hpp"
#include "core/line_reader.hpp"
#include "core/memory.hpp"
#include "core/number.hpp"
#include "core/tokens.hpp"
#include "core/utf8.hpp"
#include "formats/gsas_records.hpp"
#include "formats/readers.hpp"

namespace morvex {
namespace {

using gsas::Layout;
using gsas::plain_shape;
using gsas::read_record;
using gsas::record_columns;
using gsas::record_shapes;
using gsas::RecordShape;
using gsas::values_per_point;

constexpr std::string_view bank_word = "BANK";
// BANK, number, NCHAN, NREC, binning, then the coefficients: start and step come first.
constexpr std::size_t min_header_tokens = 7;
constexpr std::size_t points_token = 2;
constexpr std::size_t records_token = 3;
constexpr std::size_t binning_token = 4;
constexpr std::size_t start_token = 5;
constexpr std::size_t step_token = 6;
constexpr std::size_t layout_token = 9;  // after the four coefficients
// Start and step, and FXYE positions of constant binning, are in hundredths of the x unit
// (centidegrees of 2-theta).
constexpr double hundredths = 100.0;
// ALT positions, and the RALF coefficients, are stored as 32 times the time of flight.
constexpr double alt_position_scale = 32.0;

struct BankHeader {
  std::string number;                   // as the file spells it
  std::string binning;                  // CONST, CONS, RALF, SLOG, ...
  double coefficients[2] = {0.0, 0.0};  // the first two, as stated
  double start = 0.0;                   // of the axis built for banks without positions
  double step = 0.0;
  Layout layout = Layout::standard;
  double position_scale = 1.0;
  std::optional<std::uint64_t> points;   // NCHAN: the bank holds no more points than this
  std::optional<std::uint64_t> records;  // NREC
};

bool is_angle_binning(std::string_view binning) {
  return binning == "CONST" || binning == "CONS";
}

// Upper case at column 0 only: indented or lower-case "bank" is title or comment text.
bool is_bank_line(std::string_view line) {
  return line.starts_with(bank_word);
}

std::optional<std::uint64_t> parse_point_count(std::string_view token) {
  const auto value = parse_double(token);
  // Below 2^53 every whole double converts exactly.
  constexpr double max_exact = 9007199254740992.0;
  if (!value || !(*value >= 1.0) || *value >= max_exact || std::floor(*value) != *value) {
    return std::nullopt;
  }
  return static_cast<std::uint64_t>(*value);
}

// The layout named after the coefficients; a file without one, or with another word such
// as STD, is read by the plain rule.
void read_layout(std::span<const std::string_view> tokens, BankHeader& header) {
  header.points = parse_point_count(tokens[points_token]);
  header.records = parse_point_count(tokens[records_token]);
  if (tokens.size() <= layout_token) return;
  const std::string_view word = tokens[layout_token];
  if (word == "ESD") {
    header.layout = Layout::with_errors;
  } else if (word == "FXYE") {
    header.layout = Layout::positions;
    // Constant binning means centidegrees; other binnings store time of flight as it is.
    if (is_angle_binning(tokens[binning_token])) header.position_scale = hundredths;
  } else if (word == "ALT") {
    header.layout = Layout::alt_positions;
    header.position_scale = alt_position_scale;
  }
}

// A BANK line long enough to hold the coefficients gives a header; a shorter one gives none.
std::optional<Result<BankHeader, LoadError>> parse_bank_line(
    std::string_view line, std::vector<std::string_view>& tokens) {
  split_white_space(line, tokens);
  if (tokens.size() < min_header_tokens) return std::nullopt;
  const auto start = parse_double(tokens[start_token]);
  if (!start) return parse_failure("Invalid start");
  const auto step = parse_double(tokens[step_token]);
  if (!step) return parse_failure("Invalid step");
  BankHeader header;
  header.number = std::string(tokens[1]);
  header.binning = std::string(tokens[binning_token]);
  header.coefficients[0] = *start;
  header.coefficients[1] = *step;
  header.start = *start / hundredths;
  header.step = *step / hundredths;
  read_layout(tokens, header);
  return header;
}

// The lines of the file, numbered from its first, each known to end in a line break or not:
// a cut file stops in a last line without one.
class NumberedLines {
 public:
  NumberedLines(Input& input, std::uint64_t lines_before)
      : input_(input), reader_(input), number_(lines_before) {}

  std::optional<std::string_view> next_line() {
    start_ = input_.offset();
    const auto line = reader_.next_line();
    if (!line) return line;
    ++number_;
    // The reader consumes a line's break with it, and keeps the "\r" of a line without one.
    terminated_ = input_.offset() - start_ > line->size();
    return line;
  }
  std::uint64_t number() const { return number_; }
  std::uint64_t start() const { return start_; }  // the line's offset in the input
  bool terminated() const { return terminated_; }
  bool failed() const { return reader_.failed(); }
  IoError take_error() { return reader_.take_error(); }

 private:
  Input& input_;
  LineReader reader_;
  std::uint64_t number_;
  std::uint64_t start_ = 0;
  bool terminated_ = true;
};

// The first line of a GSAS file is its title.
void note_title(std::string_view line, MetaTable& meta) {
  const std::string_view title = trim_white_space(line);
  if (!title.empty() && is_valid_utf8(title)) meta.table("header").set("title", std::string(title));
}

// The first usable header from here on; none where the lines end first.
Result<std::optional<BankHeader>, LoadError> next_header(NumberedLines& lines,
                                                         std::vector<std::string_view>& tokens,
                                                         MetaTable* title_meta) {
  while (const auto line = lines.next_line()) {
    if (!is_bank_line(*line)) {
      if (title_meta) note_title(*line, *title_meta);
      title_meta = nullptr;
      continue;
    }
    title_meta = nullptr;
    if (auto header = parse_bank_line(*line, tokens)) {
      if (!*header) return fail(std::move(*header).error());
      return std::optional<BankHeader>(std::move(*header).value());
    }
  }
  if (lines.failed()) return fail(lines.take_error());
  return std::optional<BankHeader>();
}

// Deals the bank's numbers into columns by their place in the point they belong to.
class BankColumns {
 public:
  // `remaining`: the input's bytes left, where known. With NCHAN the columns are sized once,
  // but never beyond what those bytes could hold (two per number at least), as a damaged
  // header may state any count.
  BankColumns(const BankHeader& header, std::optional<std::uint64_t> remaining)
      : header_(header), width_(values_per_point(header.layout)) {
    if (!header.points || !remaining) return;
    const std::uint64_t room = std::min(*header.points, *remaining / (2 * width_));
    reserve_room(y_, room);
    if (width_ > 1) reserve_room(e_, room);
    if (width_ > 2) reserve_room(x_, room);
  }

  // Inlined into the token loop, which is the most of a bank's time: intensities alone there.
  [[gnu::always_inline]] void add(double value) {
    ++offered_;
    if (full_) return;
    if (header_.layout != Layout::standard) return add_to_point(value);
    y_.push_back(value);
    full_ = header_.points && y_.size() == *header_.points;
  }

  void add_to_point(double value) {
    switch (header_.layout) {
      case Layout::standard:  // add() keeps intensities alone itself
        return;
      case Layout::with_errors:
        (place_ == 0 ? y_ : e_).push_back(value);
        break;
      case Layout::positions:
      case Layout::alt_positions:
        if (place_ == 0) {
          x_.push_back(value / header_.position_scale);
        } else {
          (place_ == 1 ? y_ : e_).push_back(value);
        }
        break;
    }
    if (++place_ == width_) {
      place_ = 0;
      full_ = header_.points && e_.size() == *header_.points;
    }
  }

  // Every number added, kept or not.
  std::size_t offered() const { return offered_; }

  Scan finish() && {
    Scan scan;
    // A point cut short at the end of the bank is dropped.
    if (header_.layout == Layout::standard) {
      scan.x = linear_axis(y_.size(), header_.start, header_.step);
      scan.y = std::move(y_);
      return scan;
    }
    const std::size_t count = e_.size();
    y_.resize(count);
    if (width_ == 3) {
      x_.resize(count);
    } else {
      x_ = linear_axis(count, header_.start, header_.step);
    }
    scan.x = std::move(x_);
    scan.y = std::move(y_);
    scan.e = std::move(e_);
    return scan;
  }

 private:
  const BankHeader& header_;
  std::size_t width_;
  std::size_t place_ = 0;
  std::size_t offered_ = 0;
  bool full_ = false;  // NCHAN points read: the rest is padding (zeros filling the record)
  std::vector<double> x_, y_, e_;
};

// A line kept past the next: records fit in place, and a copy of so few bytes costs far less
// than a string's assignment, which counts in a bank of short lines.
class LineCopy {
 public:
  void assign(std::string_view line) {
    size_ = line.size();
    if (size_ <= short_.size()) {
      std::memcpy(short_.data(), line.data(), size_);
    } else {
      long_.assign(line);
    }
  }
  std::string_view view() const {
    return size_ <= short_.size() ? std::string_view(short_.data(), size_) : long_;
  }

 private:
  std::array<char, 2 * record_columns> short_;
  std::string long_;
  std::size_t size_ = 0;
};

// Reused from line to line.
struct LineBuffers {
  std::vector<std::string_view> tokens;
  std::vector<double> record;
  LineCopy last_line;  // the last line of numbers, where its shape is still to be checked
};

struct Bank {
  Scan scan;
  bool ended_by_bank_line = false;
  // Whether some line was read by its columns: such a bank must not end inside a record.
  bool fixed_columns = false;
  // The header of the bank that follows, where the BANK line that ended this one gives one.
  std::optional<Result<BankHeader, LoadError>> next;
};

// The last line of a bank that held a number, and where its numbers stop.
struct LastData {
  std::uint64_t number = 0;
  std::uint64_t end = 0;  // offset in the input
  std::size_t columns = 0;
  bool record = false;
  bool terminated = true;
  bool deferred = false;  // a plain STD line, whose shape is checked once it is known last
};

// A bank of records ends with a whole one: a record, and a full one where the file stops
// without a line break after it. Otherwise the file was cut inside a record, and the numbers
// left of the cut are no record's, so the bank is refused rather than split at blanks.
std::optional<LoadError> check_bank_end(const BankHeader& header, const Bank& bank,
                                        const std::optional<LastData>& last) {
  if (!bank.fixed_columns || !last) return std::nullopt;
  if (last->record && (last->terminated || last->columns >= record_columns)) return std::nullopt;
  return LoadError(ParseError{"GSAS bank " + header.number + " is cut inside a record at line " +
                                  std::to_string(last->number) + ", after column " +
                                  std::to_string(last->columns),
                              last->end});
}

// Reads a line of a bank into `columns`; true where it is a record read by its columns.
// White space splits any other line. `numbers`: whether the line held one.
bool read_line(std::string_view line, std::span<const RecordShape> shapes, BankColumns& columns,
               LineBuffers& buffers, bool& numbers) {
  for (const RecordShape& shape : shapes) {
    if (read_record(line, shape, buffers.record)) {
      for (const double value : buffers.record) columns.add(value);
      numbers = true;
      return true;
    }
  }
  // A batch of tokens at a time: a bank may be one line of millions of numbers.
  const std::size_t before = columns.offered();
  for_each_white_space_token(line, buffers.tokens, [&columns, &line](std::string_view token) {
    if (const auto value = parse_double(token, line.data())) columns.add(*value);
  });
  numbers = columns.offered() != before;
  return false;
}

// Words among the numbers are skipped. The next BANK line ends the bank.
Result<Bank, LoadError> read_bank(Input& input, NumberedLines& lines, const BankHeader& header,
                                  LineBuffers& buffers) {
  BankColumns columns(header, input.remaining_size());
  const auto shapes = record_shapes(header.layout);
  const bool may_be_plain = header.layout == Layout::standard;
  std::optional<LastData> last;
  Bank bank;
  while (const auto line = lines.next_line()) {
    if (is_bank_line(*line)) {
      bank.ended_by_bank_line = true;
      bank.next = parse_bank_line(*line, buffers.tokens);
      break;
    }
    const std::string_view text = trim_trailing_white_space(*line);
    bool numbers = false;
    bool record = read_line(text, shapes, columns, buffers, numbers);
    if (!numbers) continue;
    bool deferred = false;
    if (may_be_plain && !record) {
      // Until a record shows the bank's layout, and on the input's last line, the shape of a
      // plain STD line is checked at once; otherwise only where the line ends the bank.
      deferred = bank.fixed_columns && lines.terminated();
      if (deferred) {
        buffers.last_line.assign(text);
      } else {
        record = read_record(text, plain_shape(), buffers.record);
      }
    }
    bank.fixed_columns |= record;
    last = {lines.number(), lines.start() + text.size(), text.size(),
            record,         lines.terminated(),          deferred};
  }
  if (lines.failed()) return fail(lines.take_error());
  if (last && last->deferred) {
    last->record = read_record(buffers.last_line.view(), plain_shape(), buffers.record);
  }
  if (auto cut = check_bank_end(header, bank, last)) return fail(std::move(*cut));
  bank.scan = std::move(columns).finish();
  return bank;
}

// Start and step as the file states them, in the x unit. Banks without positions build x
// from them. FXYE and ALT banks give each position, and state them in the coefficients of
// their binning: hundredths of a degree (CONST), 1/32 us (RALF, whose step is the first
// one: its bins widen with time), or a start in us (SLOG, whose step is relative).
void describe_start_and_step(const BankHeader& header, MetaTable& meta) {
  if (header.layout != Layout::positions && header.layout != Layout::alt_positions) {
    meta.set("start", header.start);
    meta.set("step", header.step);
  } else if (is_angle_binning(header.binning) || header.binning == "RALF") {
    const double scale = header.binning == "RALF" ? alt_position_scale : hundredths;
    meta.set("start", header.coefficients[0] / scale);
    meta.set("step", header.coefficients[1] / scale);
  } else if (header.binning == "SLOG") {
    meta.set("start", header.coefficients[0]);
  }
}

void describe_bank(const BankHeader& header, MetaTable& meta) {
  meta.set("bank", header.number);
  const bool angle = is_angle_binning(header.binning);
  const std::string axis = axis_kind(angle ? "2Theta" : "TOF");
  meta.set("scan_axis", axis);
  meta.set("x_axis", axis);
  meta.set("x_unit", angle ? "deg" : "us");
  describe_start_and_step(header, meta);
  MetaTable& fields = meta.table("header");
  fields.set("binning", header.binning);
  // As stated: a bank read by its columns may hold fewer points.
  if (header.points) fields.set("NCHAN", static_cast<double>(*header.points));
  if (header.records) fields.set("NREC", static_cast<double>(*header.records));
}

// Titles are free text: some hold a zero byte or bytes of no encoding, which says nothing of
// the data. Such a title line is passed over unread where the rules say so; the lines
// skipped are counted.
std::uint64_t skip_binary_title(Input& input) {
  const std::string_view head = input.peek(Input::buffer_size);
  const std::size_t newline = head.find('\n');
  if (newline == std::string_view::npos) return 0;
  const std::string_view title = head.substr(0, newline);
  if (is_bank_line(title) || (is_valid_utf8(title) && title.find('\0') == title.npos)) return 0;
  input.consume(newline + 1);
  return 1;
}

// Where the two loads' contracts part on a GSAS file.
struct BankRules {
  // A title line with a zero byte or bytes of no encoding is passed over unread.
  bool pass_binary_title;
  // A bank of free numbers with fewer points than its header states is a cut file, not a
  // shorter bank.
  bool refuse_short_banks;
};

ReadStatus read_banks(Input& input, ScanSink& sink, const BankRules& rules) {
  NumberedLines lines(input, rules.pass_binary_title ? skip_binary_title(input) : 0);
  LineBuffers buffers;
  auto first = next_header(lines, buffers.tokens, &sink.meta());
  if (!first) return fail(std::move(first).error());
  if (!first.value()) return parse_failure("BANK header not found in RAW file");
  BankHeader header = std::move(*first.value());
  for (;;) {
    auto bank = read_bank(input, lines, header, buffers);
    if (!bank) return fail(std::move(bank).error());
    // A bank of records that ends with a whole record is whole: GSAS's own programs read
    // such banks, NCHAN notwithstanding.
    if (rules.refuse_short_banks && !bank->fixed_columns && header.points &&
        bank->scan.y.size() < *header.points) {
      return parse_failure("GSAS bank " + header.number + " holds " +
                           std::to_string(bank->scan.y.size()) + " of its " +
                           std::to_string(*header.points) + " points: the file is cut");
    }
    describe_bank(header, bank->scan.meta);
    // Nothing after the bank is read unless the sink wants more.
    if (!sink.take(std::move(bank->scan)) || !bank->ended_by_bank_line) return succeeded;
    if (bank->next) {
      if (!*bank->next) return fail(std::move(*bank->next).error());
      header = std::move(*bank->next).value();
      continue;
    }
    auto later = next_header(lines, buffers.tokens, nullptr);
    if (!later) return fail(std::move(later).error());
    if (!later.value()) return succeeded;
    header = std::move(*later.value());
  }
}

}  // namespace

ReadStatus read_gsas_raw(Input& input, ScanSink& sink) {
  return read_banks(input, sink, {.pass_binary_title = true, .refuse_short_banks = true});
}

// The first pattern reads a title as any other line and a short bank as it stands.
ReadStatus read_gsas_pattern(Input& input, ScanSink& sink) {
  return read_banks(input, sink, {.pass_binary_title = false, .refuse_short_banks = false});
}

// A line that starts with BANK, whatever it is called; a zero byte in the title does not make
// the file binary.
bool gsas_content(std::string_view head) {
  // The word first: rare in numbers, so that a long file of rows costs a few memchr calls.
  for (std::size_t at = head.find("BANK "); at != std::string_view::npos;
       at = head.find("BANK ", at + 1)) {
    if (at == 0 || head[at - 1] == '\n') return true;
  }
  return false;
}

}  // namespace morvex
