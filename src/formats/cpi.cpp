// Sietronics CPI text: a signature line, start, end and step of 2θ, the anode, the
// wavelength, the date, the counting time, the sample, then SCANDATA and one count a line.
#include <cmath>
#include <string>

#include "core/axis.hpp"
#include "core/encodings.hpp"
#include "core/head.hpp"
#include "core/number.hpp"
#include "core/tokens.hpp"
#include "formats/readers.hpp"

namespace morvex {
namespace {

constexpr std::string_view signature = "SIETRONICS XRD SCAN";
constexpr std::string_view data_marker = "SCANDATA";
// Lines after the signature, in their order in every CPI file; the sample is the last one
// before SCANDATA.
enum HeaderLine {
  start_line,
  end_line,
  step_line,
  anode_line,
  wavelength_line,
  date_line,
  time_line,
  sample_line,
  header_lines
};
// A point count past this is no scan but a damaged header.
constexpr double max_points = 1e8;

// Sietronics writes numbers in the operator's locale: "1,5406" is 1.5406.
std::optional<double> parse_local_number(std::string_view text) {
  std::string number(trim_white_space(text));
  if (number.find('.') == std::string::npos) {
    if (const std::size_t comma = number.find(','); comma != std::string::npos) number[comma] = '.';
  }
  return parse_double(number);
}

struct Header {
  double start = 0.0;
  double end = 0.0;
  double step = 0.0;
  std::size_t points = 0;
};

Result<Header, LoadError> parse_header(const std::vector<std::string>& lines, ScanSink& sink,
                                       Scan& scan) {
  const auto start = parse_local_number(lines[start_line]);
  const auto end = parse_local_number(lines[end_line]);
  const auto step = parse_local_number(lines[step_line]);
  if (!start || !end || !step) return parse_failure("Invalid CPI start, end or step");
  const double intervals = (*end - *start) / *step;
  if (!(intervals >= 0.0) || !(intervals < max_points)) {
    return parse_failure("Invalid CPI start, end or step");
  }
  Header header{*start, *end, *step, static_cast<std::size_t>(std::floor(intervals + 0.5)) + 1};

  MetaTable& meta = sink.meta();
  if (const auto anode = trim_white_space(lines[anode_line]); !anode.empty()) {
    meta.set("anode", std::string(anode));
  }
  // One wavelength, the line it belongs to not named.
  if (const auto wavelength = parse_local_number(lines[wavelength_line])) {
    meta.set("wavelength", *wavelength);
  }
  if (lines.size() > sample_line) {
    const std::string_view sample = trim_white_space(lines[sample_line]);
    if (!sample.empty()) meta.set("sample_name", std::string(sample));
  }
  // The date's order of day and month is the operator's locale, which the file does not say.
  if (const auto date = trim_white_space(lines[date_line]); !date.empty()) {
    meta.table("header").set("date", std::string(date));
  }
  scan.meta.set("x_axis", std::string("2Theta"));
  scan.meta.set("x_unit", std::string("deg"));
  scan.meta.set("start", header.start);
  scan.meta.set("step", header.step);
  if (lines.size() > time_line) {
    if (const auto time = parse_local_number(lines[time_line])) {
      scan.meta.set("time_per_step_s", *time);
    }
  }
  return header;
}

}  // namespace

ReadStatus read_cpi(std::string_view bytes, ScanSink& sink) {
  std::string_view rest = bytes;
  const auto first = cut_line(rest);
  if (!first || !is_ascii(*first) || trim_white_space(*first) != signature) {
    return parse_failure("Not a Sietronics CPI file");
  }
  // Header text of these files may be in a legacy code page: Latin-1 where not UTF-8.
  std::vector<std::string> header_text;
  bool found_data = false;
  while (const auto line = cut_line(rest)) {
    std::string text = utf8_or_latin1(*line);
    if (trim_white_space(text) == data_marker) {
      found_data = true;
      break;
    }
    if (header_text.size() == header_lines) return parse_failure("CPI header has too many lines");
    header_text.push_back(std::move(text));
  }
  if (!found_data || header_text.size() <= date_line) {
    return parse_failure("CPI header ends before SCANDATA");
  }
  Scan scan;
  auto header = parse_header(header_text, sink, scan);
  if (!header) return fail(std::move(header).error());

  while (const auto line = cut_line(rest)) {
    if (!is_ascii(*line)) return parse_failure("Invalid CPI count");
    const std::string_view count = trim_white_space(*line);
    if (count.empty()) continue;
    const auto value = parse_local_number(count);
    if (!value) return parse_failure("Invalid CPI count");
    scan.y.push_back(*value);
  }
  if (scan.y.size() < header->points) {
    return parse_failure(
        "CPI scan has fewer points than its start, end and step state (cut file?)");
  }
  if (scan.y.size() > header->points) {
    return parse_failure("CPI scan has more points than its start, end and step state");
  }
  scan.x = linear_axis(scan.y.size(), header->start, header->step);
  sink.take(std::move(scan));
  return succeeded;
}

bool cpi_content(std::string_view head) {
  return trim_white_space(without_byte_order_mark(head)).starts_with("SIETRONICS XRD SCAN");
}

}  // namespace morvex
