// Header lines above the columns of xy and csv files, as pyFAI, DIFFRAC.EVA and PANalytical
// Data Collector write them.
#include "formats/column_header.hpp"

#include <algorithm>
#include <string>
#include <vector>

#include "core/axis.hpp"
#include "core/number.hpp"
#include "core/number_text.hpp"
#include "core/tokens.hpp"
#include "core/utf8.hpp"

namespace morvex {
namespace {

constexpr std::string_view byte_order_mark = "\xEF\xBB\xBF";
constexpr std::string_view panalytical_first_line = "[Measurement conditions]";
constexpr int angstroms_per_metre_exponent = 10;
// pyFAI states wavelengths in metres, with or without the unit: no X-ray wavelength in
// ångströms is this small.
constexpr double largest_wavelength_in_metres = 1e-6;

bool is_row(std::string_view line, bool comma_separates, std::vector<std::string_view>& tokens) {
  if (comma_separates) {
    split_fields(line, tokens, 2);
  } else {
    split_white_space(line, tokens, 2);
  }
  return tokens.size() == 2 && parse_double(tokens[0]) && parse_double(tokens[1]);
}

std::string_view unquote(std::string_view text, char quote) {
  if (text.size() >= 2 && text.front() == quote && text.back() == quote) {
    return text.substr(1, text.size() - 2);
  }
  return text;
}

void set_text(MetaTable& meta, std::string_view key, std::string_view text) {
  if (!text.empty()) meta.set(key, std::string(text));
}

void set_number(MetaTable& meta, std::string_view key, std::string_view text) {
  if (const auto value = parse_double(trim_white_space(text))) meta.set(key, *value);
}

// The scan axis a header names ("Gonio", "Coupled TwoTheta/Theta") is the kind of its x,
// which angles give in degrees; the file's word stays as `scan_axis`.
void set_scan_axis(MetaTable& scan, std::string_view word) {
  constexpr std::string_view angles[] = {"2Theta", "Omega", "Theta", "Chi", "Phi", "Psi"};
  if (trim_white_space(word).empty()) return;
  scan.set("scan_axis", std::string(word));
  std::string axis = axis_kind(word);
  if (std::ranges::find(angles, axis) != std::end(angles)) scan.set("x_unit", std::string("deg"));
  scan.set("x_axis", std::move(axis));
}

// `'Id: "" Comment: "..." Anode: "Cu" Scantype: "..." TimePerStep: "96"`
void read_eva_line(std::string_view line, ColumnHeader& header) {
  line.remove_prefix(1);
  for (;;) {
    const std::size_t colon = line.find(": \"");
    if (colon == std::string_view::npos) return;
    const std::string_view key = trim_white_space(line.substr(0, colon));
    const std::size_t close = line.find('"', colon + 3);
    if (close == std::string_view::npos) return;
    const std::string_view value = line.substr(colon + 3, close - colon - 3);
    line.remove_prefix(close + 1);
    if (key == "Anode") {
      set_text(header.measurement, "anode", value);
    } else if (key == "Scantype") {
      set_scan_axis(header.scan, value);
    } else if (key == "TimePerStep") {
      set_number(header.scan, "time_per_step_s", value);
    } else if (!value.empty()) {
      header.measurement.table("header").set(key, std::string(value));
    }
  }
}

// "4.066e-11 m", "1e-10" (metres) or "1.5406 A".
// False where the unit is not one of these: the text then stays a header field.
bool read_wavelength(std::string_view text, MetaTable& meta) {
  std::vector<std::string_view> tokens;
  split_white_space(text, tokens);
  if (tokens.empty() || tokens.size() > 2) return false;
  const auto value = parse_double(tokens[0]);
  if (!value || !(*value > 0.0)) return false;
  const std::string_view unit = tokens.size() == 2 ? tokens[1] : std::string_view();
  if (unit == "m" || (unit.empty() && *value < largest_wavelength_in_metres)) {
    meta.set("wavelength", shift_decimal(*value, angstroms_per_metre_exponent));
    return true;
  }
  if (unit == "A" || unit == "\xC3\x85" || unit == "Angstrom") {
    meta.set("wavelength", *value);
    return true;
  }
  return false;
}

// pyFAI names its x column by quantity and unit: "2th_deg", "q_nm^-1", "r_mm".
void read_x_unit(std::string_view column, MetaTable& scan) {
  if (column == "2th_deg" || column == "2th_rad") {
    scan.set("x_axis", axis_kind("2th"));
    scan.set("x_unit", std::string(column == "2th_deg" ? "deg" : "rad"));
  } else if (column.starts_with("q_") || column.starts_with("r_") || column.starts_with("d*2_")) {
    scan.set("x_axis", axis_kind(column.substr(0, column.find('_'))));
    scan.set("x_unit", std::string(column));
  }
}

// `# key: value`, and the column titles on the last comment line before the rows.
void read_comment(std::string_view text, ColumnHeader& header, std::string_view& last_comment) {
  text = trim_white_space(text);
  last_comment = text;
  const std::size_t colon = text.find(": ");
  if (colon == std::string_view::npos || text.starts_with("==")) return;
  const std::string_view key = trim_white_space(text.substr(0, colon));
  const std::string_view value = trim_white_space(text.substr(colon + 2));
  if (key.empty()) return;
  if (key == "Wavelength" && read_wavelength(value, header.measurement)) return;
  if (!value.empty()) header.measurement.table("header").set(key, std::string(value));
}

struct KeyOf {
  std::string_view field;
  std::string_view key;
  bool scan_level;
  bool number;
};

constexpr KeyOf panalytical_keys[] = {
    {"Sample identification", "sample_name", false, false},
    {"Anode material", "anode", false, false},
    {"K-Alpha1 wavelength", "wavelength_kalpha1", false, true},
    {"K-Alpha2 wavelength", "wavelength_kalpha2", false, true},
    {"Ratio K-Alpha2/K-Alpha1", "kalpha2_ratio", false, true},
    {"Generator voltage", "voltage_kv", false, true},
    {"Tube current", "current_ma", false, true},
    {"Scan step size", "step", true, true},
    {"Time per step", "time_per_step_s", true, true},
};

// `key,value` of the conditions block; "No. of points" is checked against the rows.
void read_condition(std::string_view line, ColumnHeader& header) {
  const std::size_t comma = line.find(',');
  if (line.starts_with('[') || comma == std::string_view::npos) return;
  const std::string_view field = trim_white_space(line.substr(0, comma));
  const std::string_view value = unquote(trim_white_space(line.substr(comma + 1)), '"');
  if (field == "No. of points") {
    if (const auto points = parse_double(value)) header.stated_points = *points;
    return;
  }
  if (field == "Scan axis") {
    set_scan_axis(header.scan, value);
    return;
  }
  for (const KeyOf& k : panalytical_keys) {
    if (field != k.field) continue;
    MetaTable& meta = k.scan_level ? header.scan : header.measurement;
    if (k.number) {
      set_number(meta, k.key, value);
    } else {
      set_text(meta, k.key, value);
    }
    return;
  }
  if (!value.empty()) header.measurement.table("header").set(field, std::string(value));
}

}  // namespace

ColumnHeader read_column_header(std::string_view head, bool whole, bool comma_separates) {
  ColumnHeader header;
  if (head.starts_with(byte_order_mark)) head.remove_prefix(byte_order_mark.size());
  std::vector<std::string_view> tokens;
  std::string_view last_comment;
  bool panalytical = false;
  for (bool first = true; !head.empty(); first = false) {
    std::size_t newline = head.find('\n');
    if (newline == std::string_view::npos) {
      if (!whole) break;  // a line the peek has cut
      newline = head.size();
    }
    std::string_view line = head.substr(0, newline);
    head.remove_prefix(std::min(head.size(), newline + 1));
    if (!is_valid_utf8(line)) break;  // the row loop will refuse it
    line = trim_white_space(line);
    if (line.empty()) continue;
    if (line.front() == '#') {
      read_comment(line.substr(1), header, last_comment);
      continue;
    }
    if (is_row(line, comma_separates, tokens)) break;
    if (line.front() == '[') {  // a block title; the conditions come in the first block
      panalytical = first && line == panalytical_first_line;
    } else if (first && line.starts_with("'") && line.find(": \"") != std::string_view::npos) {
      read_eva_line(line, header);
    } else if (panalytical) {
      read_condition(line, header);
    }
  }
  if (!last_comment.empty()) {
    split_white_space(last_comment, tokens, 1);
    if (!tokens.empty()) read_x_unit(tokens[0], header.scan);
  }
  return header;
}

}  // namespace morvex
