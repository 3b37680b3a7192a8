// GSAS powder data in text form: each usable BANK line gives the x axis and the data layout
// of a bank, and the numbers up to the next BANK line are that bank's points.
#include <algorithm>
#include <cmath>

#include "core/head.hpp"
#include "core/axis.hpp"
#include "core/line_reader.hpp"
#include "core/memory.hpp"
#include "core/number.hpp"
#include "core/tokens.hpp"
#include "core/utf8.hpp"
#include "formats/readers.hpp"

namespace morvex {
namespace {

constexpr std::string_view bank_word = "BANK";
// BANK, number, NCHAN, NREC, binning, then the coefficients: start and step come first.
constexpr std::size_t min_header_tokens = 7;
constexpr std::size_t points_token = 2;
constexpr std::size_t binning_token = 4;
constexpr std::size_t start_token = 5;
constexpr std::size_t step_token = 6;
constexpr std::size_t layout_token = 9;  // after the four coefficients
// Start and step, and FXYE positions of constant binning, are in hundredths of the x unit
// (centidegrees of 2-theta).
constexpr double hundredths = 100.0;
// ALT positions are stored as 32 times the time of flight.
constexpr double alt_position_scale = 32.0;

// STD: every number is an intensity. ESD: value and uncertainty pairs. FXYE and ALT:
// position, value and uncertainty triples.
enum class Layout { standard, with_errors, positions, alt_positions };

struct BankHeader {
  std::string number;   // as the file spells it
  std::string binning;  // CONST, CONS, RALF, SLOG, ...
  double start = 0.0;
  double step = 0.0;
  Layout layout = Layout::standard;
  double position_scale = 1.0;
  std::optional<std::uint64_t> points;  // NCHAN: the bank holds no more points than this
};

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
  if (tokens.size() <= layout_token) return;
  const std::string_view word = tokens[layout_token];
  if (word == "ESD") {
    header.layout = Layout::with_errors;
  } else if (word == "FXYE") {
    header.layout = Layout::positions;
    const std::string_view binning = tokens[binning_token];
    // Constant binning means centidegrees; other binnings store time of flight as it is.
    if (binning == "CONST" || binning == "CONS") header.position_scale = hundredths;
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
  header.start = *start / hundredths;
  header.step = *step / hundredths;
  read_layout(tokens, header);
  return header;
}

// The first line of a GSAS file is its title.
void note_title(std::string_view line, MetaTable& meta) {
  const std::string_view title = trim_white_space(line);
  if (!title.empty() && is_valid_utf8(title)) meta.table("header").set("title", std::string(title));
}

// The first usable header from here on; none where the lines end first.
Result<std::optional<BankHeader>, LoadError> next_header(LineReader& lines,
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

// GSAS writes data records in fixed columns, and wide numbers may touch their neighbours, so
// a line with the shape of a record is read by its columns. STD: 8-column fields of a
// 2-column counter and a 6-column intensity. ESD: 8-column fields. ALT: 8, 7 and 5 columns
// for position, intensity and uncertainty. FXYE is free-form.
struct RecordShape {
  std::span<const std::size_t> widths;  // repeated from the start of each line
  std::size_t counter_width = 0;
};
constexpr std::size_t eight_columns[] = {8};
constexpr std::size_t alt_columns[] = {8, 7, 5};
constexpr std::size_t counter_columns = 2;

std::optional<RecordShape> record_shape(Layout layout) {
  switch (layout) {
    case Layout::standard:
      return RecordShape{eight_columns, counter_columns};
    case Layout::with_errors:
      return RecordShape{eight_columns, 0};
    case Layout::alt_positions:
      return RecordShape{alt_columns, 0};
    case Layout::positions:
      return std::nullopt;
  }
  return std::nullopt;
}

std::size_t next_field(const RecordShape& shape, std::size_t field) {
  return field + 1 == shape.widths.size() ? 0 : field + 1;
}

bool is_digit(char c) {
  return c >= '0' && c <= '9';
}
bool is_blank(char c) {
  return c == ' ' || c == '\t';
}

// Columns 1-2 of an STD field: blank, or a counter (a blank and a digit, or two digits).
// Sets `counted` when there is a counter.
bool is_counter(std::string_view columns, bool& counted) {
  if (columns[0] == ' ' && columns[1] == ' ') return true;
  if (!(columns[0] == ' ' || is_digit(columns[0])) || !is_digit(columns[1])) return false;
  counted = true;
  return true;
}

// Fills `values` from a line with the shape of a record: it ends on a field boundary once
// trailing white space is removed, each field ends in a non-blank column and holds one
// number, and an STD line has at least one counter. False for any other line.
bool read_record(std::string_view line, const RecordShape& shape, std::vector<double>& values) {
  line = trim_trailing_white_space(line);
  if (line.empty()) return false;

  // The shape first, so that free-form lines cost no number parsing here. An STD record has
  // a counter, with a digit in its field's second column: most free-form lines have none.
  if (shape.counter_width) {
    bool digit_in_second_column = false;
    for (std::size_t at = 1; at < line.size(); at += shape.widths[0]) {
      digit_in_second_column |= is_digit(line[at]);
    }
    if (!digit_in_second_column) return false;
  }
  bool counted = false;
  std::size_t field = 0;  // in shape.widths, counted round without a division per field
  for (std::size_t at = 0; at < line.size(); field = next_field(shape, field)) {
    const std::size_t width = shape.widths[field];
    if (line.size() - at < width || is_blank(line[at + width - 1])) return false;
    if (shape.counter_width && !is_counter(line.substr(at, shape.counter_width), counted)) {
      return false;
    }
    at += width;
  }
  if (shape.counter_width && !counted) return false;

  values.clear();
  field = 0;
  for (std::size_t at = 0; at < line.size(); field = next_field(shape, field)) {
    const std::size_t width = shape.widths[field];
    const std::string_view number =
        line.substr(at + shape.counter_width, width - shape.counter_width);
    const auto value = parse_double(trim_white_space(number), line.data());
    if (!value) return false;
    values.push_back(*value);
    at += width;
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

  void add(double value) {
    if (full_) return;
    switch (header_.layout) {
      case Layout::standard:
        y_.push_back(value);
        full_ = header_.points && y_.size() == *header_.points;
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
  bool full_ = false;  // NCHAN points read: the rest is padding (zeros filling the record)
  std::vector<double> x_, y_, e_;
};

struct Bank {
  Scan scan;
  bool ended_by_bank_line = false;
  // The header of the bank that follows, where the BANK line that ended this one gives one.
  std::optional<Result<BankHeader, LoadError>> next;
};

// Words among the numbers are skipped. The next BANK line ends the bank.
Result<Bank, LoadError> read_bank(Input& input, LineReader& lines, const BankHeader& header,
                                  std::vector<std::string_view>& tokens) {
  BankColumns columns(header, input.remaining_size());
  const auto shape = record_shape(header.layout);
  std::vector<double> record;
  Bank bank;
  while (const auto line = lines.next_line()) {
    if (is_bank_line(*line)) {
      bank.ended_by_bank_line = true;
      bank.next = parse_bank_line(*line, tokens);
      break;
    }
    if (shape && read_record(*line, *shape, record)) {
      for (const double value : record) columns.add(value);
      continue;
    }
    // A batch of tokens at a time: a bank may be one line of millions of numbers.
    for_each_white_space_token(*line, tokens, [&columns, &line](std::string_view token) {
      if (const auto value = parse_double(token, line->data())) columns.add(*value);
    });
  }
  if (lines.failed()) return fail(lines.take_error());
  bank.scan = std::move(columns).finish();
  return bank;
}

void describe_bank(const BankHeader& header, MetaTable& meta) {
  meta.set("bank", header.number);
  const bool angle = header.binning == "CONST" || header.binning == "CONS";
  meta.set("scan_axis", angle ? "2Theta" : "TOF");
  meta.set("x_unit", angle ? "deg" : "us");
  if (header.layout != Layout::positions && header.layout != Layout::alt_positions) {
    meta.set("start", header.start);
    meta.set("step", header.step);
  }
  meta.table("header").set("binning", header.binning);
}

// Titles are free text: some hold a zero byte or bytes of no encoding, which says nothing of
// the data. Such a title line is passed over unread when every scan is wanted.
void skip_binary_title(Input& input) {
  const std::string_view head = input.peek(Input::buffer_size);
  const std::size_t newline = head.find('\n');
  if (newline == std::string_view::npos) return;
  const std::string_view title = head.substr(0, newline);
  if (is_bank_line(title) || (is_valid_utf8(title) && title.find('\0') == title.npos)) return;
  input.consume(newline + 1);
}

}  // namespace

ReadStatus read_gsas_raw(Input& input, ScanSink& sink) {
  if (sink.scope() == Scope::every_scan) skip_binary_title(input);
  LineReader lines(input);
  std::vector<std::string_view> tokens;
  auto first = next_header(lines, tokens, &sink.meta());
  if (!first) return fail(std::move(first).error());
  if (!first.value()) return parse_failure("BANK header not found in RAW file");
  BankHeader header = std::move(*first.value());
  for (;;) {
    auto bank = read_bank(input, lines, header, tokens);
    if (!bank) return fail(std::move(bank).error());
    // Where every bank is wanted, one with fewer points than its header states is a cut
    // file, not a shorter bank.
    if (sink.scope() == Scope::every_scan && header.points &&
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
    auto later = next_header(lines, tokens, nullptr);
    if (!later) return fail(std::move(later).error());
    if (!later.value()) return succeeded;
    header = std::move(*later.value());
  }
}

// A line that starts with BANK, whatever it is called; a zero byte in the title does not make
// the file binary.
bool gsas_content(std::string_view head) {
  for (std::size_t at = 0; at < head.size();) {
    if (next_head_line(head, at).starts_with("BANK ")) return true;
  }
  return false;
}

}  // namespace morvex
