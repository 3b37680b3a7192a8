// Rigaku text exports (.asc, .dat, .txt): `*KEY = value` header lines, then one group per scan
// from *BEGIN to *END with its own `*KEY = value` lines (*START, *STEP, *COUNT, ...) and the
// counts, comma-separated, x being START + k · STEP.
#include <cmath>
#include <string>
#include <vector>

#include "core/axis.hpp"
#include "core/date_time.hpp"
#include "core/encodings.hpp"
#include "core/head.hpp"
#include "core/number.hpp"
#include "core/tokens.hpp"
#include "formats/measurement_keys.hpp"
#include "formats/readers.hpp"

namespace morvex {
namespace {

// A count past this is no scan but a damaged header.
constexpr double max_points = 1e8;

std::string_view trim_blanks(std::string_view text) {
  const auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r'; };
  while (!text.empty() && blank(text.front())) text.remove_prefix(1);
  while (!text.empty() && blank(text.back())) text.remove_suffix(1);
  return text;
}

struct Field {
  std::string_view key;
  std::string_view value;
};

// "*KEY = value", or "*BEGIN" alone; nullopt for a line that is neither.
std::optional<Field> parse_field(std::string_view line) {
  if (!line.starts_with('*')) return std::nullopt;
  line.remove_prefix(1);
  const std::size_t end = line.find_first_of(" \t=");
  Field field{line.substr(0, end), {}};
  if (field.key.empty()) return std::nullopt;
  if (end == std::string_view::npos) return field;
  std::string_view value = trim_blanks(line.substr(end));
  if (!value.starts_with('=')) return value.empty() ? std::optional(field) : std::nullopt;
  field.value = trim_blanks(value.substr(1));
  return field;
}

using Fields = std::vector<Field>;

const Field* find_field(const Fields& fields, std::string_view key) {
  for (const Field& field : fields) {
    if (field.key == key) return &field;
  }
  return nullptr;
}

std::optional<double> number_field(const Fields& fields, std::string_view key) {
  const Field* field = find_field(fields, key);
  return field ? parse_double(field->value) : std::nullopt;
}

// The anode's atomic number, as *TARGET states it.
std::string anode_name(std::string_view target) {
  struct Element {
    std::string_view number;
    std::string_view symbol;
  };
  constexpr Element elements[] = {{"24", "Cr"}, {"26", "Fe"}, {"27", "Co"}, {"28", "Ni"},
                                  {"29", "Cu"}, {"42", "Mo"}, {"47", "Ag"}, {"74", "W"}};
  for (const Element& element : elements) {
    if (target == element.number) return std::string(element.symbol);
  }
  return utf8_or_latin1(target);
}

// "04-Mar-92 16:34": two-digit years from 70 on are of the last century, the first RINT and
// D/MAX programs being of the 1980s.
std::optional<std::string> parse_date(std::string_view text) {
  constexpr std::string_view months[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                         "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  if (text.size() < 15 || text[2] != '-' || text[6] != '-' || text[9] != ' ' || text[12] != ':') {
    return std::nullopt;
  }
  DateTime time;
  for (int k = 0; k < 12; ++k) {
    if (text.substr(3, 3) == months[k]) time.month = k + 1;
  }
  const auto day = parse_small_number(text.substr(0, 2));
  const auto year = parse_small_number(text.substr(7, 2));
  const auto hour = parse_small_number(text.substr(10, 2));
  const auto minute = parse_small_number(text.substr(13, 2));
  if (!day || !year || !hour || !minute) return std::nullopt;
  time.day = *day;
  time.year = *year + (*year >= 70 ? 1900 : 2000);
  time.hour = *hour;
  time.minute = *minute;
  return iso_8601(time);
}

constexpr std::string_view file_mapped[] = {
    "SAMPLE", "DATE", "TARGET", "WAVE_LENGTH1", "WAVE_LENGTH2", "SCAN_AXIS", "GROUP_COUNT"};
constexpr std::string_view group_mapped[] = {"START", "STOP", "STEP", "SPEED", "KV", "MA", "COUNT"};

template <std::size_t n>
bool is_one_of(std::string_view key, const std::string_view (&keys)[n]) {
  for (const std::string_view k : keys) {
    if (k == key) return true;
  }
  return false;
}

// The other keys under the file's names; a key stated more than once keeps its values one a
// line.
void header_keys(const Fields& fields, MetaTable& header, bool group) {
  for (const Field& field : fields) {
    if (is_one_of(field.key, group ? group_mapped : file_mapped) || field.value.empty()) continue;
    const std::string key = utf8_or_latin1(field.key);
    std::string value = utf8_or_latin1(field.value);
    if (const auto* held = header.find(key); held && std::holds_alternative<std::string>(*held)) {
      value = std::get<std::string>(*held) + "\n" + value;
    }
    header.set(key, std::move(value));
  }
}

void file_keys(const Fields& fields, MetaTable& meta) {
  if (const Field* f = find_field(fields, "SAMPLE")) set_header_text(meta, "sample_name", f->value);
  if (const Field* f = find_field(fields, "DATE")) {
    if (auto started = parse_date(f->value)) meta.set("started", std::move(*started));
  }
  if (const Field* f = find_field(fields, "TARGET"); f && !f->value.empty()) {
    meta.set("anode", anode_name(f->value));
  }
  if (const auto wavelength = number_field(fields, "WAVE_LENGTH1")) {
    meta.set("wavelength_kalpha1", *wavelength);
  }
  if (const auto wavelength = number_field(fields, "WAVE_LENGTH2")) {
    meta.set("wavelength_kalpha2", *wavelength);
  }
  header_keys(fields, meta.table("header"), false);
}

// Seconds per step where *SPEED_DIM says so ("sec./step", "sec./step(FT)"); a speed in
// degrees a minute is no counting time.
std::optional<double> time_per_step(const Fields& file, const Fields& group) {
  const Field* unit = find_field(file, "SPEED_DIM");
  const auto speed = number_field(group, "SPEED");
  if (!unit || !speed || !(*speed > 0.0)) return std::nullopt;
  if (!unit->value.starts_with("sec") || unit->value.find("step") == std::string_view::npos) {
    return std::nullopt;
  }
  return speed;
}

struct Axis {
  double start = 0.0;
  double step = 0.0;
  std::size_t count = 0;
};

// START and STEP, and the count: *COUNT, or where a group states none, what START, STOP and
// STEP make.
Result<Axis, LoadError> axis_of(const Fields& group) {
  const auto start = number_field(group, "START");
  const auto step = number_field(group, "STEP");
  if (!start || !step) return parse_failure("Rigaku text group without *START or *STEP");
  std::optional<double> count = number_field(group, "COUNT");
  if (!count) {
    const auto stop = number_field(group, "STOP");
    if (stop && *step != 0.0) count = std::floor((*stop - *start) / *step + 0.5) + 1.0;
  }
  if (!count || !(*count >= 1.0 && *count < max_points) || *count != std::floor(*count)) {
    return parse_failure("Rigaku text group without a valid *COUNT");
  }
  return Axis{*start, *step, static_cast<std::size_t>(*count)};
}

Result<Scan, LoadError> make_scan(const Fields& file, const Fields& group,
                                  std::vector<double>&& counts) {
  auto axis = axis_of(group);
  if (!axis) return fail(std::move(axis).error());
  const Axis& a = axis.value();
  if (counts.size() != a.count) {
    return parse_failure("Rigaku text group holds " + std::to_string(counts.size()) +
                         " counts where *COUNT states " + std::to_string(a.count) +
                         (counts.size() < a.count ? " (cut file?)" : ""));
  }
  Scan scan;
  if (const Field* f = find_field(file, "SCAN_AXIS"); f && is_ascii(f->value)) {
    scan.meta.set("scan_axis", std::string(f->value));
    scan.meta.set("x_axis", axis_kind(f->value));
  }
  if (const Field* f = find_field(file, "XUNIT"); f && f->value.starts_with("deg")) {
    scan.meta.set("x_unit", std::string("deg"));
  }
  scan.meta.set("start", a.start);
  scan.meta.set("step", a.step);
  if (const auto time = time_per_step(file, group)) scan.meta.set("time_per_step_s", *time);
  header_keys(group, scan.meta.table("header"), true);
  scan.x = linear_axis(a.count, a.start, a.step);
  scan.y = std::move(counts);
  return scan;
}

ReadStatus read_counts(std::string_view line, std::vector<std::string_view>& tokens,
                       std::vector<double>& counts) {
  if (!is_ascii(line)) return parse_failure("Invalid Rigaku text count");
  split_fields(line, tokens);
  for (const std::string_view token : tokens) {
    const auto value = parse_double(token);
    if (!value) return parse_failure("Invalid Rigaku text count");
    counts.push_back(*value);
  }
  return succeeded;
}

enum class Part { file_header, group, between_groups };

// The groups of one file, handed on as each *END closes one.
class RigakuTextReader {
 public:
  explicit RigakuTextReader(ScanSink& sink) : sink_(sink) {}

  // False where the reading ends: the sink stopped it, *EOF, or `status` holds a refusal.
  bool line(std::string_view text);
  ReadStatus finish();

 private:
  bool end_group();

  ScanSink& sink_;
  Part part_ = Part::file_header;
  Fields file_;
  Fields group_;
  std::vector<double> counts_;
  std::vector<std::string_view> tokens_;
  double groups_ = 0;
  bool stopped_ = false;
  ReadStatus status_ = succeeded;
};

bool RigakuTextReader::end_group() {
  auto scan = make_scan(file_, group_, std::move(counts_));
  counts_ = {};
  if (!scan) {
    status_ = fail(std::move(scan).error());
    return false;
  }
  MetaTable own;
  if (const auto kv = number_field(group_, "KV")) own.set("voltage_kv", *kv);
  if (const auto ma = number_field(group_, "MA")) own.set("current_ma", *ma);
  keep_measurement_keys(own, groups_ == 0, sink_, scan.value());
  ++groups_;
  part_ = Part::between_groups;
  stopped_ = !sink_.take(std::move(scan).value());
  return !stopped_;
}

bool RigakuTextReader::line(std::string_view text) {
  text = trim_blanks(text);
  if (text.empty()) return true;
  const auto field = parse_field(text);
  if (!field) {
    if (part_ != Part::group) {
      status_ = parse_failure("Invalid line outside a Rigaku text group");
      return false;
    }
    status_ = read_counts(text, tokens_, counts_);
    return static_cast<bool>(status_);
  }
  if (field->key == "EOF" && part_ != Part::group) return false;
  if (field->key == "BEGIN") {
    if (part_ == Part::file_header) file_keys(file_, sink_.meta());
    if (part_ == Part::group) {
      status_ = parse_failure("Rigaku text group without *END");
      return false;
    }
    part_ = Part::group;
    group_.clear();
    return true;
  }
  if (field->key == "END" && part_ == Part::group) return end_group();
  (part_ == Part::group ? group_ : file_).push_back(*field);
  return true;
}

ReadStatus RigakuTextReader::finish() {
  if (!status_ || stopped_) return std::move(status_);
  if (part_ == Part::group)
    return parse_failure("Rigaku text file ends inside a group (cut file?)");
  if (part_ == Part::file_header) return parse_failure("Rigaku text file holds no group");
  const auto stated = number_field(file_, "GROUP_COUNT");
  if (stated && *stated != groups_) {
    return parse_failure("Rigaku text file holds " + std::to_string(std::lround(groups_)) +
                         " groups where *GROUP_COUNT states " +
                         std::to_string(std::lround(*stated)));
  }
  return succeeded;
}

}  // namespace

ReadStatus read_rigaku_text(std::string_view bytes, ScanSink& sink) {
  std::string_view rest = without_byte_order_mark(bytes);
  RigakuTextReader reader(sink);
  while (const auto line = cut_line(rest)) {
    if (!reader.line(*line)) break;
  }
  return reader.finish();
}

// A first line `*KEY = value`, and a group (*BEGIN) in the head.
bool rigaku_text_content(std::string_view head) {
  head = without_byte_order_mark(head);
  bool first = true;
  for (std::size_t at = 0; at < head.size();) {
    const std::string_view line = trim_blanks(next_head_line(head, at));
    if (line.empty()) continue;
    const auto field = parse_field(line);
    if (first && (!field || line.find('=') == std::string_view::npos)) return false;
    first = false;
    if (field && field->key == "BEGIN" && field->value.empty()) return true;
  }
  return false;
}

}  // namespace morvex
