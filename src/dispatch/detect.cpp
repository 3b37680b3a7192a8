#include "dispatch/detect.hpp"

#include <algorithm>
#include <array>

#include "core/number.hpp"
#include "core/tokens.hpp"

namespace morvex {
namespace {

constexpr std::string_view zip_signature = "PK\x03\x04";
constexpr std::string_view byte_order_mark = "\xEF\xBB\xBF";
// A BRML archive keeps its experiment under this folder; a RASX archive never does.
constexpr std::string_view brml_folder = "Experiment0/";

bool is_digit(char c) {
  return c >= '0' && c <= '9';
}

// A GSAS file has a line that starts with BANK, whatever it is called; a zero byte in its
// title does not make it binary.
bool has_bank_line(std::string_view head) {
  for (std::size_t at = 0; at < head.size();) {
    if (head.substr(at).starts_with("BANK ")) return true;
    const std::size_t newline = head.find('\n', at);
    if (newline == std::string_view::npos) break;
    at = newline + 1;
  }
  return false;
}

// Lines that start like a number decide between comma- and blank-separated columns: the
// first such line with a comma makes a comma-separated file.
std::string_view column_format(std::string_view head) {
  std::size_t at = 0;
  while (at < head.size()) {
    std::size_t newline = head.find('\n', at);
    if (newline == std::string_view::npos) newline = head.size();
    const std::string_view line = trim_white_space(head.substr(at, newline - at));
    at = newline + 1;
    if (line.empty()) continue;
    const char c = line.front();
    if (!(is_digit(c) || c == '-' || c == '+' || c == '.')) continue;
    return line.find(',') != std::string_view::npos ? "csv" : "xy";
  }
  return "";
}

// Philips PC-APD binary scans: format version, then the file kind.
bool is_philips_rd(std::string_view head) {
  if (head.size() < 4) return false;
  const std::string_view version = head.substr(0, 2);
  const std::string_view kind = head.substr(2, 2);
  return (version == "V3" || version == "V5") && (kind == "RD" || kind == "SD");
}

// A CIF's first line that is neither blank nor a comment opens a data block.
bool is_cif(std::string_view text) {
  std::size_t at = 0;
  while (at < text.size()) {
    std::size_t newline = text.find('\n', at);
    if (newline == std::string_view::npos) newline = text.size();
    const std::string_view line = trim_white_space(text.substr(at, newline - at));
    at = newline + 1;
    if (line.empty() || line.front() == '#') continue;
    const auto same_letter = [](char c, char lower) { return (c | 0x20) == lower; };
    return line.size() > 5 &&
           std::ranges::equal(line.substr(0, 4), std::string_view("data"), same_letter) &&
           line[4] == '_';
  }
  return false;
}

bool starts_like_number(std::string_view line) {
  const char c = line.empty() ? ' ' : line.front();
  return is_digit(c) || c == '-' || c == '+' || c == '.';
}

// The line that starts at `at`, and `at` moved past it.
std::string_view next_line(std::string_view head, std::size_t& at) {
  std::size_t newline = head.find('\n', at);
  if (newline == std::string_view::npos) newline = head.size();
  const std::string_view line = head.substr(at, newline - at);
  at = std::min(head.size(), newline + 1);
  return line;
}

// UXD: the first line that is neither blank nor a ";" comment is a `_KEY=value` field.
bool is_uxd(std::string_view head) {
  for (std::size_t at = 0; at < head.size();) {
    const std::string_view line = trim_white_space(next_line(head, at));
    if (line.empty() || line.front() == ';') continue;
    return line.front() == '_' && line.find('=') != std::string_view::npos;
  }
  return false;
}

// Fit2D chi: a title and two axis labels (an empty one may be zero bytes), then a line that
// is only the point count, then the first row.
bool is_fit2d_chi(std::string_view head) {
  std::size_t at = 0;
  std::string_view lines[5];
  for (std::string_view& line : lines) {
    if (at >= head.size()) return false;
    line = next_line(head, at);
  }
  const std::string_view count = trim_white_space(lines[3]);
  if (count.empty() || !std::ranges::all_of(count, is_digit)) return false;
  // A label, not a row: "2-Theta Angle (Degrees)" starts like a number but is none.
  const std::string_view x_label = trim_white_space(lines[1]);
  if (parse_double(x_label.substr(0, x_label.find_first_of(" \t,"))) ||
      x_label.find('\0') != std::string_view::npos) {
    return false;
  }
  return starts_like_number(trim_white_space(lines[4]));
}

}  // namespace

std::string_view detect_format(std::string_view head) {
  if (head.starts_with(zip_signature)) {
    return head.find(brml_folder) != std::string_view::npos ? "brml" : "rasx";
  }
  if (head.starts_with("RAW_")) return "stoe_raw";
  if (is_philips_rd(head)) return "philips_rd";
  if (head.starts_with("RAW") && !head.starts_with("RAW_") &&
      head.substr(0, 1024).find('\0') != std::string_view::npos) {
    return "bruker_raw";
  }
  std::string_view text = head;
  if (text.starts_with(byte_order_mark)) text.remove_prefix(byte_order_mark.size());
  const std::string_view trimmed = trim_white_space(text);
  if (trimmed.starts_with("<") && trimmed.find("xrdMeasurement") != std::string_view::npos) {
    return "xrdml";
  }
  if (text.starts_with("SampleIdent,")) return "philips_udf";
  if (is_cif(text)) return "pdcif";
  if (trimmed.starts_with("*RAS_DATA_START")) return "ras";
  if (trimmed.starts_with("SIETRONICS XRD SCAN")) return "cpi";
  if (has_bank_line(text)) return "gsas";
  if (is_uxd(text)) return "uxd";
  if (is_fit2d_chi(text)) return "chi";
  if (text.find('\0') != std::string_view::npos) return "";
  return column_format(text);
}

std::string_view format_of_extension(std::string_view extension) {
  struct Known {
    std::string_view extension;
    std::string_view format;
  };
  static constexpr std::array<Known, 16> known = {{
      {"xy", "xy"},
      {"xye", "xy"},
      {"csv", "csv"},
      {"xrdml", "xrdml"},
      {"rasx", "rasx"},
      {"gsa", "gsas"},
      {"gss", "gsas"},
      {"brml", "brml"},
      {"rd", "philips_rd"},
      {"sd", "philips_rd"},
      {"udf", "philips_udf"},
      {"cif", "pdcif"},
      {"ras", "ras"},
      {"uxd", "uxd"},
      {"cpi", "cpi"},
      {"chi", "chi"},
  }};
  for (const Known& k : known) {
    if (k.extension == extension) return k.format;
  }
  return "";
}

}  // namespace morvex
