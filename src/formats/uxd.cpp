// Bruker/Siemens UXD text: `_KEY=value` header lines and `;` comments, then per range its
// own header lines and its data, as counts on an axis from _START and _STEPSIZE (_COUNTS,
// _CPS) or as position and count pairs (_2THETACOUNTS, _2THETACPS).
#include <algorithm>

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

// The comment DIFFRAC writes before each range's header lines.
constexpr std::string_view range_comment = "; (Data for Range number";

enum class Layout { none, counts, pairs };

struct Field {
  std::string_view key;    // without its leading "_"
  std::string_view value;  // without its quotes; Latin-1 or UTF-8 bytes
};

struct Range {
  std::vector<Field> fields;
  Layout layout = Layout::none;
  std::vector<double> x;  // pairs only
  std::vector<double> y;
};

std::string_view trim_blanks(std::string_view text) {
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  return text;
}

// `_KEY=value` or `_KEY='text'`; nullopt for a line without "=".
std::optional<Field> parse_field(std::string_view line) {
  const std::size_t equals = line.find('=');
  if (equals == std::string_view::npos) return std::nullopt;
  Field field{trim_blanks(line.substr(1, equals - 1)), trim_blanks(line.substr(equals + 1))};
  if (field.value.size() >= 2 && field.value.front() == '\'' && field.value.back() == '\'') {
    field.value = field.value.substr(1, field.value.size() - 2);
  }
  return field;
}

std::optional<Layout> data_layout(std::string_view marker) {
  if (marker == "_COUNTS" || marker == "_CPS") return Layout::counts;
  if (marker == "_2THETACOUNTS" || marker == "_2THETACPS") return Layout::pairs;
  return std::nullopt;
}

// A range's field, or the file's where the range does not state it.
const Field* find_field(const Range& range, const std::vector<Field>& file, std::string_view key) {
  for (const auto* fields : {&range.fields, &file}) {
    for (const Field& field : *fields) {
      if (field.key == key) return &field;
    }
  }
  return nullptr;
}

std::optional<double> number_field(const Range& range, const std::vector<Field>& file,
                                   std::string_view key) {
  const Field* field = find_field(range, file, key);
  return field ? parse_double(field->value) : std::nullopt;
}

std::optional<std::string> text_field(const Range& range, const std::vector<Field>& file,
                                      std::string_view key) {
  const Field* field = find_field(range, file, key);
  if (!field) return std::nullopt;
  std::string text = utf8_or_latin1(field->value);
  if (trim_white_space(text).empty()) return std::nullopt;
  return text;
}

constexpr std::string_view months[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                       "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

// DIFFRAC writes "01-Dec-2010 11:00:32".
std::optional<std::string> parse_time(std::string_view text) {
  if (text.size() != 20 || text[2] != '-' || text[6] != '-' || text[11] != ' ') {
    return std::nullopt;
  }
  DateTime time;
  for (int k = 0; k < 12; ++k) {
    if (text.substr(3, 3) == months[k]) time.month = k + 1;
  }
  const auto day = parse_small_number(text.substr(0, 2));
  const auto year = parse_small_number(text.substr(7, 4));
  if (!day || !year || !parse_clock(text.substr(12), time)) return std::nullopt;
  time.day = *day;
  time.year = *year;
  return iso_8601(time);
}

struct KeyOf {
  std::string_view field;
  std::string_view key;
};

void measurement_keys(const Range& range, const std::vector<Field>& file, MetaTable& meta) {
  if (auto name = text_field(range, file, "SAMPLE")) meta.set("sample_name", std::move(*name));
  if (auto anode = text_field(range, file, "ANODE")) meta.set("anode", std::move(*anode));
  const Field* unit = find_field(range, file, "WL_UNIT");
  if (!unit || unit->value == "A") {
    constexpr KeyOf wavelengths[] = {{"WL1", "wavelength_kalpha1"},
                                     {"WL2", "wavelength_kalpha2"},
                                     {"WL3", "wavelength_kbeta"},
                                     {"WLRATIO", "kalpha2_ratio"}};
    for (const KeyOf& k : wavelengths) {
      if (const auto value = number_field(range, file, k.field)) meta.set(k.key, *value);
    }
  }
  if (const auto kv = number_field(range, file, "KV")) meta.set("voltage_kv", *kv);
  if (const auto ma = number_field(range, file, "MA")) meta.set("current_ma", *ma);
  if (const Field* date = find_field(range, file, "DATEMEASURED")) {
    if (auto started = parse_time(date->value)) meta.set("started", std::move(*started));
  }
}

constexpr std::string_view mapped_fields[] = {
    "SAMPLE", "ANODE",        "WL1",   "WL2",   "WL3",      "WLRATIO",  "KV",
    "MA",     "DATEMEASURED", "DRIVE", "START", "STEPSIZE", "STEPTIME",
};

bool is_mapped(std::string_view key) {
  for (const std::string_view mapped : mapped_fields) {
    if (key == mapped) return true;
  }
  return false;
}

// Fields that no key of ours takes, under the file's names.
void own_fields(const std::vector<Field>& fields, MetaTable& meta) {
  if (std::ranges::all_of(fields, [](const Field& field) { return is_mapped(field.key); })) return;
  MetaTable& own = meta.table("header");
  for (const Field& field : fields) {
    if (!is_mapped(field.key)) own.set(utf8_or_latin1(field.key), utf8_or_latin1(field.value));
  }
}

// The kinds of axis whose positions UXD states in degrees.
constexpr std::string_view angles[] = {"2Theta", "Omega", "Theta", "Chi", "Phi", "Psi"};

// The pairs of _2THETACOUNTS are 2θ whatever the drive; counts lie on the drive's axis.
void scan_keys(const Range& range, const std::vector<Field>& file, MetaTable& meta) {
  auto drive = text_field(range, file, "DRIVE");
  std::optional<std::string> axis;
  if (range.layout == Layout::pairs) {
    axis = "2Theta";
  } else if (drive) {
    axis = axis_kind(*drive);
  }
  if (drive) meta.set("scan_axis", std::move(*drive));
  if (axis) {
    if (std::ranges::find(angles, *axis) != std::end(angles)) {
      meta.set("x_unit", std::string("deg"));
    }
    meta.set("x_axis", std::move(*axis));
  }
  if (const auto start = number_field(range, file, "START")) meta.set("start", *start);
  if (const auto step = number_field(range, file, "STEPSIZE")) meta.set("step", *step);
  if (const auto time = number_field(range, file, "STEPTIME")) meta.set("time_per_step_s", *time);
  own_fields(range.fields, meta);
}

ReadStatus read_row(std::string_view line, std::vector<std::string_view>& tokens, Range& range) {
  if (!is_ascii(line)) return parse_failure("Invalid UXD data row");
  split_white_space(line, tokens);
  if (range.layout == Layout::pairs && tokens.size() % 2 != 0) {
    return parse_failure("Invalid UXD data row");
  }
  for (std::size_t k = 0; k < tokens.size(); ++k) {
    const auto value = parse_double(tokens[k]);
    if (!value) return parse_failure("Invalid UXD data row");
    (range.layout == Layout::pairs && k % 2 == 0 ? range.x : range.y).push_back(*value);
  }
  return succeeded;
}

// The axis of a counts range, and the stated point count checked: fewer points than stated
// means a cut file.
ReadStatus finish_range(Range& range, const std::vector<Field>& file, Scan& scan) {
  if (const auto count = number_field(range, file, "STEPCOUNT")) {
    if (*count > static_cast<double>(range.y.size())) {
      return parse_failure("UXD range has fewer points than its header states (cut file?)");
    }
    if (*count < static_cast<double>(range.y.size())) {
      return parse_failure("UXD range has more points than its header states");
    }
  }
  if (range.layout == Layout::counts) {
    const auto start = number_field(range, file, "START");
    const auto step = number_field(range, file, "STEPSIZE");
    if (!start || !step) return parse_failure("UXD counts without _START and _STEPSIZE");
    range.x = linear_axis(range.y.size(), *start, *step);
  }
  scan_keys(range, file, scan.meta);
  scan.x = std::move(range.x);
  scan.y = std::move(range.y);
  return succeeded;
}

class UxdReader {
 public:
  explicit UxdReader(ScanSink& sink) : sink_(sink) {}

  // False when the sink says stop.
  Result<bool, LoadError> line(std::string_view line) {
    if (line.starts_with(range_comment)) return next_range();
    if (line.empty() || line.front() == ';') return true;
    if (line.front() != '_') {
      if (range_.layout == Layout::none) return parse_failure("UXD data before a data marker");
      if (auto status = read_row(line, tokens_, range_); !status) return fail(status.error());
      return true;
    }
    if (const auto layout = data_layout(line)) {
      if (range_.layout != Layout::none) return parse_failure("UXD range with two data markers");
      if (!in_range_) {  // a file without range comments: its fields describe one range
        range_.fields = std::move(file_);
        file_.clear();
        in_range_ = true;
      }
      range_.layout = *layout;
      return true;
    }
    const auto field = parse_field(line);
    if (!field) return parse_failure("Unknown UXD data marker");
    if (range_.layout != Layout::none || (!in_range_ && field->key == "DRIVE")) {
      auto more = next_range();
      if (!more || !more.value()) return more;
    }
    (in_range_ ? range_.fields : file_).push_back(*field);
    return true;
  }

  // Hands over the range in progress, if any, and starts the next.
  Result<bool, LoadError> next_range() {
    in_range_ = true;
    if (range_.layout == Layout::none) {
      if (!range_.fields.empty()) return parse_failure("UXD range without data");
      return true;
    }
    Scan scan;
    if (auto status = finish_range(range_, file_, scan); !status) return fail(status.error());
    MetaTable own;
    measurement_keys(range_, file_, own);
    keep_measurement_keys(own, !any_scan_, sink_, scan);
    if (!any_scan_) own_fields(file_, sink_.meta());
    any_scan_ = true;
    range_ = Range{};
    return sink_.take(std::move(scan));
  }

  bool any_scan() const { return any_scan_; }

 private:
  ScanSink& sink_;
  std::vector<Field> file_;
  Range range_;
  bool in_range_ = false;
  bool any_scan_ = false;
  std::vector<std::string_view> tokens_;
};

}  // namespace

ReadStatus read_uxd(std::string_view bytes, ScanSink& sink) {
  std::string_view rest = bytes;
  UxdReader reader(sink);
  while (const auto line = cut_line(rest)) {
    auto more = reader.line(trim_blanks(*line));
    if (!more) return fail(std::move(more).error());
    if (!more.value()) return succeeded;
  }
  auto more = reader.next_range();
  if (!more) return fail(std::move(more).error());
  if (!reader.any_scan()) return parse_failure("No UXD data found");
  return succeeded;
}

// The first line that is neither blank nor a ";" comment is a `_KEY=value` field.
bool uxd_content(std::string_view head) {
  const std::string_view line = first_content_line(
      without_byte_order_mark(head), [](std::string_view l) { return l.front() == ';'; });
  return line.starts_with("_") && line.find('=') != std::string_view::npos;
}

}  // namespace morvex
