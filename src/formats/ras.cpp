// Rigaku RAS text: per scan a block of `*KEY "value"` header lines and a block of
// `position intensity attenuation` rows, between *RAS_DATA_START and *RAS_DATA_END.
#include <cmath>

#include "core/axis.hpp"
#include "core/date_time.hpp"
#include "core/encodings.hpp"
#include "core/head.hpp"
#include "core/number.hpp"
#include "core/tokens.hpp"
#include "core/utf8.hpp"
#include "formats/measurement_keys.hpp"
#include "formats/readers.hpp"

namespace morvex {
namespace {

// The block markers, as the layouts of real RAS files show them.
constexpr std::string_view data_start = "*RAS_DATA_START";
constexpr std::string_view data_end = "*RAS_DATA_END";
constexpr std::string_view header_start = "*RAS_HEADER_START";
constexpr std::string_view header_end = "*RAS_HEADER_END";
constexpr std::string_view rows_start = "*RAS_INT_START";
constexpr std::string_view rows_end = "*RAS_INT_END";

// Header text may be Shift-JIS, so blanks are trimmed as bytes.
std::string_view trim_blanks(std::string_view line) {
  while (!line.empty() && (line.back() == ' ' || line.back() == '\t')) line.remove_suffix(1);
  while (!line.empty() && (line.front() == ' ' || line.front() == '\t')) line.remove_prefix(1);
  return line;
}

struct Field {
  std::string_view key;
  std::string_view value;  // without its quotes; the file's bytes, maybe Shift-JIS
};

// `*KEY "value"`; a value may go without quotes.
std::optional<Field> parse_field(std::string_view line) {
  if (!line.starts_with('*')) return std::nullopt;
  line.remove_prefix(1);
  const std::size_t space = line.find_first_of(" \t");
  Field field{line.substr(0, space), {}};
  if (field.key.empty()) return std::nullopt;
  if (space == std::string_view::npos) return field;
  std::string_view value = line.substr(space + 1);
  value = trim_blanks(value);
  if (value.size() >= 2 && value.front() == '"' && value.back() == '"') {
    value = value.substr(1, value.size() - 2);
  }
  field.value = value;
  return field;
}

const Field* find_field(const std::vector<Field>& header, std::string_view key) {
  for (const Field& field : header) {
    if (field.key == key) return &field;
  }
  return nullptr;
}

std::optional<double> number_field(const std::vector<Field>& header, std::string_view key) {
  const Field* field = find_field(header, key);
  return field ? parse_double(field->value) : std::nullopt;
}

// A text value fit to report: UTF-8 (Shift-JIS text is left out) and not blank.
std::optional<std::string> text_field(const std::vector<Field>& header, std::string_view key) {
  const Field* field = find_field(header, key);
  if (!field || !is_valid_utf8(field->value)) return std::nullopt;
  const std::string_view text = trim_white_space(field->value);
  if (text.empty()) return std::nullopt;
  return std::string(text);
}

// A unit key, where present, must name the unit the key is reported in.
bool unit_is(const std::vector<Field>& header, std::string_view key,
             std::initializer_list<std::string_view> accepted) {
  const Field* field = find_field(header, key);
  if (!field) return true;
  for (const std::string_view unit : accepted) {
    if (field->value == unit) return true;
  }
  return false;
}

// Rigaku writes "MM/DD/YY hh:mm:ss" or "MM/DD/YYYY hh:mm:ss"; the two-digit years are of
// this century, as every instrument that writes them is.
std::optional<std::string> parse_time(std::string_view text) {
  const std::size_t space = text.find(' ');
  if (space == std::string_view::npos) return std::nullopt;
  const std::string_view date = text.substr(0, space);
  if (date.size() < 8 || date[2] != '/' || date[5] != '/') return std::nullopt;
  const auto month = parse_small_number(date.substr(0, 2));
  const auto day = parse_small_number(date.substr(3, 2));
  const std::string_view year_digits = date.substr(6);
  auto year = parse_small_number(year_digits);
  if (!month || !day || !year || (year_digits.size() != 2 && year_digits.size() != 4)) {
    return std::nullopt;
  }
  if (year_digits.size() == 2) *year += 2000;
  DateTime time{*year, *month, *day, 0, 0, 0};
  if (!parse_clock(text.substr(space + 1), time)) return std::nullopt;
  return iso_8601(time);
}

struct KeyOf {
  std::string_view field;
  std::string_view key;
};

// What holds for the measurement, as the first scan's header states it.
void measurement_keys(const std::vector<Field>& header, MetaTable& meta) {
  if (auto name = text_field(header, "FILE_SAMPLE")) meta.set("sample_name", std::move(*name));
  if (auto anode = text_field(header, "HW_XG_TARGET_NAME")) meta.set("anode", std::move(*anode));
  if (unit_is(header, "HW_XG_WAVE_LENGTH_UNIT", {"Angstrom", "A"})) {
    constexpr KeyOf wavelengths[] = {{"HW_XG_WAVE_LENGTH_ALPHA1", "wavelength_kalpha1"},
                                     {"HW_XG_WAVE_LENGTH_ALPHA2", "wavelength_kalpha2"},
                                     {"HW_XG_WAVE_LENGTH_BETA", "wavelength_kbeta"}};
    for (const KeyOf& k : wavelengths) {
      if (const auto value = number_field(header, k.field)) meta.set(k.key, *value);
    }
  }
  if (unit_is(header, "HW_XG_VOLTAGE_UNIT", {"kV"})) {
    if (const auto kv = number_field(header, "MEAS_COND_XG_VOLTAGE")) meta.set("voltage_kv", *kv);
  }
  if (unit_is(header, "HW_XG_CURRENT_UNIT", {"mA"})) {
    if (const auto ma = number_field(header, "MEAS_COND_XG_CURRENT")) meta.set("current_ma", *ma);
  }
  if (const Field* f = find_field(header, "MEAS_SCAN_START_TIME")) {
    if (auto started = parse_time(f->value)) meta.set("started", std::move(*started));
  }
}

constexpr std::string_view mapped_fields[] = {
    "FILE_SAMPLE",
    "HW_XG_TARGET_NAME",
    "HW_XG_WAVE_LENGTH_ALPHA1",
    "HW_XG_WAVE_LENGTH_ALPHA2",
    "HW_XG_WAVE_LENGTH_BETA",
    "MEAS_COND_XG_VOLTAGE",
    "MEAS_COND_XG_CURRENT",
    "MEAS_SCAN_START_TIME",
    "MEAS_SCAN_AXIS_X",
    "MEAS_SCAN_UNIT_X",
    "MEAS_SCAN_START",
    "MEAS_SCAN_STEP",
};

bool is_mapped(std::string_view key) {
  for (const std::string_view mapped : mapped_fields) {
    if (key == mapped) return true;
  }
  return false;
}

// The axis whose positions the rows hold: 2θ for the coupled scans, else the one moved, as
// the internal name states it or else the name shown (the words stay, as `scan_axis` and
// under `header`).
std::optional<std::string> x_axis_of(const std::vector<Field>& header) {
  for (const std::string_view key : {"MEAS_SCAN_AXIS_X_INTERNAL", "MEAS_SCAN_AXIS_X"}) {
    const Field* field = find_field(header, key);
    if (field && is_valid_utf8(field->value) && !trim_white_space(field->value).empty()) {
      return axis_kind(field->value);
    }
  }
  return std::nullopt;
}

// A continuous scan states its speed, a step scan its counting time.
std::optional<double> time_per_step(const std::vector<Field>& header) {
  const auto speed = number_field(header, "MEAS_SCAN_SPEED");
  const Field* unit = find_field(header, "MEAS_SCAN_SPEED_UNIT");
  if (!speed || !unit || !(*speed > 0.0)) return std::nullopt;
  if (unit->value == "deg/min") {
    const auto step = number_field(header, "MEAS_SCAN_STEP");
    if (!step) return std::nullopt;
    return std::abs(*step) / *speed * 60.0;
  }
  if (unit->value == "sec" || unit->value == "s") return *speed;
  return std::nullopt;
}

void scan_keys(const std::vector<Field>& header, MetaTable& meta) {
  if (auto axis = text_field(header, "MEAS_SCAN_AXIS_X")) meta.set("scan_axis", std::move(*axis));
  if (auto axis = x_axis_of(header)) meta.set("x_axis", std::move(*axis));
  if (auto unit = text_field(header, "MEAS_SCAN_UNIT_X")) meta.set("x_unit", std::move(*unit));
  if (const auto start = number_field(header, "MEAS_SCAN_START")) meta.set("start", *start);
  if (const auto step = number_field(header, "MEAS_SCAN_STEP")) meta.set("step", *step);
  if (const auto time = time_per_step(header)) meta.set("time_per_step_s", *time);
  if (const Field* f = find_field(header, "MEAS_SCAN_START_TIME")) {
    if (auto started = parse_time(f->value)) meta.set("started", std::move(*started));
  }
  MetaTable& own = meta.table("header");
  for (const Field& field : header) {
    if (is_mapped(field.key) || !is_valid_utf8(field.key) || !is_valid_utf8(field.value)) continue;
    own.set(field.key, std::string(field.value));
  }
}

struct Rows {
  std::vector<double> x;
  std::vector<double> y;
  std::vector<double> attenuation;
};

ReadStatus read_row(std::string_view line, std::vector<std::string_view>& tokens, Rows& rows) {
  if (!is_ascii(line)) return parse_failure("Invalid RAS data row");
  split_white_space(line, tokens, 4);
  if (tokens.empty()) return succeeded;
  if (tokens.size() < 2 || tokens.size() > 3) return parse_failure("Invalid RAS data row");
  const auto x = parse_double(tokens[0]);
  const auto y = parse_double(tokens[1]);
  if (!x || !y) return parse_failure("Invalid RAS data row");
  rows.x.push_back(*x);
  rows.y.push_back(*y);
  if (tokens.size() == 3) {
    const auto factor = parse_double(tokens[2]);
    if (!factor) return parse_failure("Invalid RAS data row");
    rows.attenuation.push_back(*factor);
  }
  return succeeded;
}

// A scan states how many rows it holds; fewer means a cut file.
ReadStatus check_count(const std::vector<Field>& header, const Rows& rows) {
  const auto count = number_field(header, "MEAS_DATA_COUNT");
  if (!count) return succeeded;
  if (*count > static_cast<double>(rows.x.size())) {
    return parse_failure("RAS scan has fewer points than its header states (cut file?)");
  }
  if (*count < static_cast<double>(rows.x.size())) {
    return parse_failure("RAS scan has more points than its header states");
  }
  return succeeded;
}

Scan make_scan(const std::vector<Field>& header, Rows&& rows) {
  Scan scan;
  scan_keys(header, scan.meta);
  if (!rows.attenuation.empty() && rows.attenuation.size() == rows.x.size()) {
    scan.meta.set("attenuation", std::move(rows.attenuation));
  }
  scan.x = std::move(rows.x);
  scan.y = std::move(rows.y);
  return scan;
}

// Hands the scan just read to the sink; false when the sink says stop.
bool take_scan(const std::vector<Field>& header, Rows&& rows, bool first, ScanSink& sink) {
  Scan scan = make_scan(header, std::move(rows));
  MetaTable own;
  measurement_keys(header, own);
  keep_measurement_keys(own, first, sink, scan);
  return sink.take(std::move(scan));
}

enum class Block { outside, data, header, rows };

}  // namespace

ReadStatus read_ras(std::string_view bytes, ScanSink& sink) {
  std::string_view rest = bytes;
  Block block = Block::outside;
  std::vector<Field> header;
  std::vector<std::string_view> tokens;
  Rows rows;
  bool any_scan = false;
  while (const auto line = cut_line(rest)) {
    const std::string_view trimmed = trim_blanks(*line);
    switch (block) {
      case Block::rows:
        if (trimmed != rows_end) {
          if (auto status = read_row(trimmed, tokens, rows); !status) return status;
          break;
        }
        if (auto status = check_count(header, rows); !status) return status;
        if (!take_scan(header, std::move(rows), !any_scan, sink)) return succeeded;
        any_scan = true;
        rows = Rows{};
        block = Block::data;
        break;
      case Block::header:
        if (trimmed == header_end) {
          block = Block::data;
        } else if (const auto field = parse_field(trimmed)) {
          header.push_back(*field);
        } else if (!trimmed.empty()) {
          return parse_failure("Invalid RAS header line");
        }
        break;
      case Block::data:
        if (trimmed == header_start) {
          header.clear();
          block = Block::header;
        } else if (trimmed == rows_start) {
          if (header.empty()) return parse_failure("RAS data without a header");
          block = Block::rows;
        } else if (trimmed == data_end) {
          block = Block::outside;
        } else if (!trimmed.empty()) {
          return parse_failure("Invalid line in a RAS data block");
        }
        break;
      case Block::outside:  // what follows the data blocks is not ours to read
        if (trimmed == data_start) block = Block::data;
        break;
    }
  }
  if (block != Block::outside) return parse_failure("RAS file ends inside a scan (cut file?)");
  if (!any_scan) return parse_failure("No RAS scan found");
  return succeeded;
}

bool ras_content(std::string_view head) {
  return trim_white_space(without_byte_order_mark(head)).starts_with("*RAS_DATA_START");
}

}  // namespace morvex
