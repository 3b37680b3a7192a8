// SPEC data files: a file header (#F, #E, #D, #C, motor names #O0…, their mnemonics #o0…), then
// scans, each opened by "#S number command" with its control lines (#D date, #P0… motor
// positions, #N column count, #L labels) and rows of numbers. A scan without rows (aborted, or
// its data written elsewhere) is counted, not read; @A lines (MCA spectra, continued by a
// trailing backslash) are passed over.
#include <string>
#include <vector>

#include "core/axis.hpp"
#include "core/date_time.hpp"
#include "core/encodings.hpp"
#include "core/head.hpp"
#include "core/number.hpp"
#include "core/tokens.hpp"
#include "formats/readers.hpp"

namespace morvex {
namespace {

bool is_blank(char c) {
  return c == ' ' || c == '\t' || c == '\r';
}

// Header text may be Latin-1, so blanks are trimmed as bytes.
std::string_view trim_blanks(std::string_view text) {
  while (!text.empty() && is_blank(text.front())) text.remove_prefix(1);
  while (!text.empty() && is_blank(text.back())) text.remove_suffix(1);
  return text;
}

// "#S 12  ascan ...": the control word ("#S") and what follows it.
struct Control {
  std::string_view key;
  std::string_view value;
};

Control control_of(std::string_view line) {
  std::size_t end = 0;
  while (end < line.size() && !is_blank(line[end])) ++end;
  return {line.substr(0, end), trim_blanks(line.substr(end))};
}

// "#P3" with prefix "#P": 3; nullopt for another key.
std::optional<std::size_t> indexed(std::string_view key, std::string_view prefix) {
  if (!key.starts_with(prefix) || key.size() == prefix.size()) return std::nullopt;
  std::size_t index = 0;
  for (const char c : key.substr(prefix.size())) {
    if (!is_ascii_digit(c) || index > 1000) return std::nullopt;
    index = index * 10 + static_cast<std::size_t>(c - '0');
  }
  return index;
}

// Names and labels stand two blanks apart, since one may hold a single blank; `single` splits
// at every blank instead, as some writers separate them.
std::vector<std::string> split_names(std::string_view text, bool single) {
  std::vector<std::string> names;
  std::size_t at = 0;
  while (at < text.size()) {
    while (at < text.size() && is_blank(text[at])) ++at;
    std::size_t end = at;
    while (end < text.size() &&
           !(text[end] == '\t' || (text[end] == ' ' && single) ||
             (text[end] == ' ' && end + 1 < text.size() && is_blank(text[end + 1])))) {
      ++end;
    }
    if (end > at) names.push_back(utf8_or_latin1(trim_blanks(text.substr(at, end - at))));
    at = end;
  }
  return names;
}

void set_indexed(std::vector<std::vector<std::string>>& lines, std::size_t index,
                 std::vector<std::string> names) {
  if (index == 0) lines.clear();  // a new file header starts its lists again
  if (lines.size() <= index) lines.resize(index + 1);
  lines[index] = std::move(names);
}

// The motors of the file header: names (#O) and mnemonics (#o), eight or so a line.
struct Motors {
  std::vector<std::vector<std::string>> names;
  std::vector<std::vector<std::string>> mnemonics;
};

// "Thu Sep 23 10:47:02 2021".
std::optional<std::string> parse_date(std::string_view text) {
  std::vector<std::string_view> words;
  if (!is_ascii(text)) return std::nullopt;
  split_white_space(text, words, 6);
  if (words.size() != 5) return std::nullopt;
  constexpr std::string_view months[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                         "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  DateTime time;
  for (int k = 0; k < 12; ++k) {
    if (words[1] == months[k]) time.month = k + 1;
  }
  const auto day = parse_small_number(words[2]);
  const auto year = parse_small_number(words[4]);
  if (!day || !year || !parse_clock(words[3], time)) return std::nullopt;
  time.day = *day;
  time.year = *year;
  return iso_8601(time);
}

// The scans whose first argument is the motor moved and whose last is the count time.
bool is_motor_scan(std::string_view command) {
  if (command == "mesh" || command == "dmesh" || command == "lup") return true;
  if (command.size() < 5 || (command[0] != 'a' && command[0] != 'd')) return false;
  const std::string_view rest = command.substr(1);
  return rest == "scan" || (rest.size() == 5 && is_ascii_digit(rest[0]) && rest.ends_with("scan"));
}

// The count time of a point: the last argument of a motor scan or an hklscan, the second of
// loopscan, the first of timescan. A negative one counts to a monitor, not a time.
std::optional<double> count_time(const std::vector<std::string_view>& words) {
  if (words.empty()) return std::nullopt;
  const std::string_view command = words[0];
  std::optional<double> time;
  if (command == "loopscan" && words.size() > 2) {
    time = parse_double(words[2]);
  } else if (command == "timescan" && words.size() > 1) {
    time = parse_double(words[1]);
  } else if ((is_motor_scan(command) || command == "hklscan" || command == "th2th") &&
             words.size() > 2) {
    time = parse_double(words.back());
  }
  if (time && *time > 0.0) return time;
  return std::nullopt;
}

struct SpecScan {
  std::string number;
  std::string command;
  std::string_view date;
  std::vector<std::vector<double>> positions;  // by #P line
  std::optional<std::size_t> declared;         // #N
  std::optional<std::string_view> labels;      // #L
  std::vector<std::vector<double>> columns;
  std::size_t rows = 0;
};

std::string scan_name(const SpecScan& scan) {
  return "SPEC scan " + scan.number;
}

// x is the column of the motor the command moves where #L lists it (by name or mnemonic), else
// the first column.
std::size_t motor_column(const SpecScan& scan, const std::vector<std::string>& labels,
                         const Motors& motors) {
  std::vector<std::string_view> words;
  split_white_space(scan.command, words, 3);
  if (words.size() < 2 || !is_motor_scan(words[0]) || parse_double(words[1])) return 0;
  const auto column_of = [&](std::string_view name) -> std::optional<std::size_t> {
    for (std::size_t k = 0; k < labels.size(); ++k) {
      if (labels[k] == name) return k;
    }
    return std::nullopt;
  };
  if (auto column = column_of(words[1])) return *column;
  for (std::size_t line = 0; line < motors.mnemonics.size(); ++line) {
    const auto& mnemonics = motors.mnemonics[line];
    for (std::size_t k = 0; k < mnemonics.size(); ++k) {
      if (mnemonics[k] != words[1] || line >= motors.names.size()) continue;
      if (k < motors.names[line].size()) {
        if (auto column = column_of(motors.names[line][k])) return *column;
      }
    }
  }
  return 0;
}

// A label repeated ("I0  I0") keeps its column under "I0_2".
std::vector<std::string> unique_labels(const std::vector<std::string>& labels) {
  std::vector<std::string> unique = labels;
  for (std::size_t k = 1; k < unique.size(); ++k) {
    const auto taken = [&] {
      for (std::size_t j = 0; j < k; ++j) {
        if (unique[j] == unique[k]) return true;
      }
      return false;
    };
    for (int copy = 2; taken(); ++copy) unique[k] = labels[k] + "_" + std::to_string(copy);
  }
  return unique;
}

Result<std::vector<std::string>, LoadError> labels_of(const SpecScan& scan) {
  if (!scan.labels) return parse_failure(scan_name(scan) + " has rows but no #L labels");
  const std::size_t width = scan.columns.size();
  std::vector<std::string> labels = split_names(*scan.labels, false);
  if (labels.size() != width) labels = split_names(*scan.labels, true);
  if (labels.size() != width) {
    return parse_failure(scan_name(scan) + ": #L names " + std::to_string(labels.size()) +
                         " columns, its rows hold " + std::to_string(width));
  }
  return unique_labels(labels);
}

void motor_positions(const SpecScan& scan, const Motors& motors, MetaTable& meta) {
  MetaTable axes;
  for (std::size_t line = 0; line < scan.positions.size() && line < motors.names.size(); ++line) {
    const auto& names = motors.names[line];
    for (std::size_t k = 0; k < names.size() && k < scan.positions[line].size(); ++k) {
      axes.set(names[k], scan.positions[line][k]);
    }
  }
  if (!axes.empty()) meta.set("axes", std::move(axes));
}

Result<Scan, LoadError> make_scan(SpecScan&& spec, const Motors& motors) {
  auto labels = labels_of(spec);
  if (!labels) return fail(std::move(labels).error());
  const std::size_t x_column = motor_column(spec, labels.value(), motors);
  Scan scan;
  scan.meta.set("scan_number", spec.number);
  scan.meta.set("command", spec.command);
  if (auto started = parse_date(spec.date)) scan.meta.set("started", std::move(*started));
  scan.meta.set("x_axis", axis_kind(labels.value()[x_column]));
  std::vector<std::string_view> words;
  split_white_space(spec.command, words);
  if (const auto time = count_time(words)) scan.meta.set("time_per_step_s", *time);
  motor_positions(spec, motors, scan.meta);
  scan.x = spec.columns[x_column];
  scan.y = spec.columns.back();
  MetaTable columns;
  for (std::size_t k = 0; k < spec.columns.size(); ++k) {
    columns.set(labels.value()[k], std::move(spec.columns[k]));
  }
  scan.meta.set("columns", std::move(columns));
  return scan;
}

ReadStatus read_row(std::string_view line, std::vector<std::string_view>& tokens, SpecScan& scan) {
  if (!is_ascii(line)) return parse_failure(scan_name(scan) + " holds a row that is no numbers");
  if (scan.columns.empty()) {
    split_white_space(line, tokens);
    scan.columns.resize(scan.declared.value_or(tokens.size()));
  } else {
    split_white_space(line, tokens, scan.columns.size() + 1);
  }
  if (tokens.size() != scan.columns.size()) {
    return parse_failure(scan_name(scan) + " has a row of " + std::to_string(tokens.size()) +
                         " numbers where #N states " + std::to_string(scan.columns.size()) +
                         " (cut file?)");
  }
  for (std::size_t k = 0; k < tokens.size(); ++k) {
    const auto value = parse_double(tokens[k]);
    if (!value) return parse_failure(scan_name(scan) + " holds a row that is no numbers");
    scan.columns[k].push_back(*value);
  }
  ++scan.rows;
  return succeeded;
}

std::vector<double> numbers_of(std::string_view text, std::vector<std::string_view>& tokens) {
  std::vector<double> numbers;
  if (!is_ascii(text)) return numbers;
  split_white_space(text, tokens);
  for (const std::string_view token : tokens) numbers.push_back(parse_double(token).value_or(0.0));
  return numbers;
}

// The reading of one file: its motors, the scan being read and what was handed on.
class SpecReader {
 public:
  explicit SpecReader(ScanSink& sink) : sink_(sink) {}

  // False where the reading ends here: the sink stopped it, or the file is refused.
  bool line(std::string_view text);
  ReadStatus finish();

 private:
  bool end_scan();
  void control(const Control& c);
  void file_header(const Control& c);

  ScanSink& sink_;
  Motors motors_;
  std::optional<SpecScan> scan_;
  std::vector<std::string_view> tokens_;
  bool continued_ = false;  // the previous line went on with a backslash
  bool stopped_ = false;
  double without_rows_ = 0;
  bool any_taken_ = false;
  ReadStatus status_ = succeeded;
};

bool SpecReader::end_scan() {
  if (!scan_) return true;
  SpecScan spec = std::move(*scan_);
  scan_.reset();
  if (spec.rows == 0) {
    ++without_rows_;
    return true;
  }
  auto scan = make_scan(std::move(spec), motors_);
  if (!scan) {
    status_ = fail(std::move(scan).error());
    return false;
  }
  if (!any_taken_) {
    if (const auto* started = scan.value().meta.find("started"))
      sink_.meta().set("started", *started);
  }
  any_taken_ = true;
  if (!sink_.take(std::move(scan).value())) {
    stopped_ = true;
    return false;
  }
  return true;
}

void SpecReader::file_header(const Control& c) {
  MetaTable& header = sink_.meta().table("header");
  const std::string_view key = c.key.substr(1);
  if ((key == "F" || key == "E" || key == "C") && !header.find(key)) {
    set_header_text(header, key, c.value);
  }
}

void SpecReader::control(const Control& c) {
  if (const auto names = indexed(c.key, "#O")) {
    set_indexed(motors_.names, *names, split_names(c.value, false));
  } else if (const auto mnemonics = indexed(c.key, "#o")) {
    set_indexed(motors_.mnemonics, *mnemonics, split_names(c.value, true));
  } else if (!scan_) {
    file_header(c);
  } else if (c.key == "#D") {
    scan_->date = c.value;
  } else if (c.key == "#N") {
    const auto count = parse_double(c.value.substr(0, c.value.find_first_of(" \t")));
    if (count && *count >= 1 && *count < 1e5) scan_->declared = static_cast<std::size_t>(*count);
  } else if (c.key == "#L") {
    scan_->labels = c.value;
  } else if (const auto positions = indexed(c.key, "#P")) {
    if (scan_->positions.size() <= *positions) scan_->positions.resize(*positions + 1);
    scan_->positions[*positions] = numbers_of(c.value, tokens_);
  }
}

bool SpecReader::line(std::string_view text) {
  const bool continues = !text.empty() && text.back() == '\\';
  if (continued_ || text.starts_with('@')) {  // an MCA spectrum, over as many lines as it goes
    continued_ = continues;
    return true;
  }
  text = trim_blanks(text);
  if (text.empty()) return true;
  if (text.front() != '#') {
    if (!scan_) return true;  // text between scans is no row of any
    status_ = read_row(text, tokens_, *scan_);
    return static_cast<bool>(status_);
  }
  const Control c = control_of(text);
  if (c.key == "#S" || c.key == "#F") {
    if (!end_scan()) return false;
    if (c.key == "#F") {
      file_header(c);
      return true;
    }
    scan_.emplace();
    const std::size_t blank = c.value.find_first_of(" \t");
    scan_->number = utf8_or_latin1(c.value.substr(0, blank));
    if (blank != std::string_view::npos) {
      scan_->command = utf8_or_latin1(trim_blanks(c.value.substr(blank)));
    }
    return true;
  }
  control(c);
  return true;
}

ReadStatus SpecReader::finish() {
  if (!status_ || stopped_) return std::move(status_);
  if (!end_scan()) return std::move(status_);
  if (!stopped_) sink_.meta().set("scans_without_rows", without_rows_);
  return succeeded;
}

bool is_control(std::string_view line, std::string_view key) {
  return line.starts_with(key) && (line.size() == key.size() || is_blank(line[key.size()]));
}

}  // namespace

ReadStatus read_spec(std::string_view bytes, ScanSink& sink) {
  std::string_view rest = without_byte_order_mark(bytes);
  SpecReader reader(sink);
  while (const auto line = cut_line(rest)) {
    if (!reader.line(*line)) break;
  }
  return reader.finish();
}

// A first line "#F", "#E" or "#S", and a scan ("#S 1 ...") or the file's epoch ("#E 1632386243")
// among the first lines.
bool spec_content(std::string_view head) {
  head = without_byte_order_mark(head);
  bool first = true;
  for (std::size_t at = 0; at < head.size();) {
    const std::string_view line = trim_blanks(next_head_line(head, at));
    if (line.empty()) continue;
    const bool scan_or_epoch = is_control(line, "#S") || is_control(line, "#E");
    if (first && !scan_or_epoch && !is_control(line, "#F")) return false;
    first = false;
    if (!scan_or_epoch) continue;
    const std::string_view value = trim_blanks(line.substr(2));  // "#S" or "#E" first
    if (!value.empty() && is_ascii_digit(value.front())) return true;
  }
  return false;
}

}  // namespace morvex
