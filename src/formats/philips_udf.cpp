// Philips UDF text scans: "Key,value,/" header lines, then after "RawScan" the counts,
// separated by commas and ended by "/"; x from the stated angle range and step.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "core/axis.hpp"
#include "core/head.hpp"
#include "core/number.hpp"
#include "core/tokens.hpp"
#include "formats/readers.hpp"

namespace morvex {
namespace {

constexpr std::string_view data_marker = "RawScan";
constexpr std::string_view value_end = ",/";
// The stated end must lie this close (in steps) to a point.
constexpr double end_tolerance = 1e-3;
// DOS text editors end a file with Ctrl-Z.
constexpr char dos_end_of_file = '\x1A';

struct KeyRule {
  std::string_view key;
  std::string_view meta_key;
  bool is_text;
};

constexpr KeyRule measurement_keys[] = {
    {"SampleIdent", "sample_name", true},         {"Anode", "anode", true},
    {"LabdaAlpha1", "wavelength_kalpha1", false}, {"LabdaAlpha2", "wavelength_kalpha2", false},
    {"RatioAlpha21", "kalpha2_ratio", false},     {"GeneratorVoltage", "voltage_kv", false},
    {"TubeCurrent", "current_ma", false},
};

struct Header {
  std::optional<double> start;
  std::optional<double> end;
  std::optional<double> step;
  std::optional<double> step_time;
};

Failure<ParseError> failure(const std::string& text) {
  return parse_failure("Philips UDF: " + text);
}

std::string_view trim_blanks(std::string_view text) {
  const auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r'; };
  while (!text.empty() && blank(text.front())) text.remove_prefix(1);
  while (!text.empty() && blank(text.back())) text.remove_suffix(1);
  return text;
}

// The numbers of a header value. Some files write decimal commas, which the separating
// commas then double: "2,0000, 60,0000" holds two numbers as "2.0000, 60.0000" does.
std::optional<std::vector<double>> header_numbers(std::string_view value, std::size_t expected) {
  std::vector<std::string> fields;
  for (std::size_t at = 0;;) {
    const std::size_t comma = value.find(',', at);
    fields.emplace_back(trim_blanks(value.substr(at, comma - at)));
    if (comma == std::string_view::npos) break;
    at = comma + 1;
  }
  const bool decimal_commas =
      fields.size() == 2 * expected && std::ranges::none_of(fields, [](const std::string& field) {
        return field.find('.') != std::string::npos;
      });
  if (decimal_commas) {
    for (std::size_t i = 0; i < expected; ++i) fields[i] = fields[2 * i] + "." + fields[2 * i + 1];
    fields.resize(expected);
  }
  if (fields.size() != expected) return std::nullopt;
  std::vector<double> numbers;
  for (const std::string& field : fields) {
    const auto number = parse_double(field);
    if (!number) return std::nullopt;
    numbers.push_back(*number);
  }
  return numbers;
}

// "15-Mar-2002  9:34" or "21-janv-2002 09:16:36" as ISO 8601, where the month's first three
// letters name it in English; nothing otherwise.
std::optional<std::string> iso_date(std::string_view text) {
  static constexpr std::string_view months[] = {"jan", "feb", "mar", "apr", "may", "jun",
                                                "jul", "aug", "sep", "oct", "nov", "dec"};
  std::vector<std::string_view> parts;
  split_white_space(text, parts);
  if (parts.size() != 2) return std::nullopt;
  const std::string_view date = parts[0];
  const std::size_t dash1 = date.find('-');
  const std::size_t dash2 = date.rfind('-');
  if (dash1 == std::string_view::npos || dash1 == dash2 || dash2 - dash1 < 4) return std::nullopt;
  std::string month(date.substr(dash1 + 1, 3));
  for (char& c : month) c = static_cast<char>(c | 0x20);
  const auto found = std::ranges::find(months, month);
  const auto day = parse_double(date.substr(0, dash1));
  const auto year = parse_double(date.substr(dash2 + 1));
  const std::string_view time = parts[1];
  const std::size_t colon = time.find(':');
  if (found == std::end(months) || !day || !year || date.size() - dash2 != 5 ||
      colon == std::string_view::npos || *day < 1 || *day > 31) {
    return std::nullopt;
  }
  const auto hour = parse_double(time.substr(0, colon));
  if (!hour || *hour < 0 || *hour > 23) return std::nullopt;
  char iso[32];
  std::snprintf(iso, sizeof iso, "%04d-%02d-%02dT%02d:", static_cast<int>(*year),
                static_cast<int>(found - std::begin(months) + 1), static_cast<int>(*day),
                static_cast<int>(*hour));
  const std::string_view rest = time.substr(colon + 1);  // "34" or "16:36"
  if ((rest.size() != 2 && rest.size() != 5) ||
      !std::ranges::all_of(rest, [](char c) { return (c >= '0' && c <= '9') || c == ':'; })) {
    return std::nullopt;
  }
  return std::string(iso) + std::string(rest);
}

Status<ParseError> take_key(std::string_view key, std::string_view value, Header& header,
                            MetaTable& meta) {
  for (const KeyRule& rule : measurement_keys) {
    if (rule.key != key) continue;
    if (rule.is_text) {
      set_header_text(meta, rule.meta_key, value);
    } else if (const auto number = header_numbers(value, 1)) {
      meta.set(rule.meta_key, number->front());
    }
    return succeeded;
  }
  if (key == "DataAngleRange" || key == "ScanStepSize" || key == "ScanStepTime") {
    const auto numbers = header_numbers(value, key == "DataAngleRange" ? 2 : 1);
    if (!numbers) return failure("cannot read the numbers of " + std::string(key));
    if (key == "DataAngleRange") {
      header.start = (*numbers)[0];
      header.end = (*numbers)[1];
    } else {
      (key == "ScanStepSize" ? header.step : header.step_time) = numbers->front();
    }
    return succeeded;
  }
  if (key == "FileDateTime") {
    if (auto started = iso_date(value)) meta.set("started", std::move(*started));
  }
  set_header_text(meta.table("header"), key, value);
  return succeeded;
}

// The counts after the marker line, up to the closing "/".
Result<std::vector<double>, ParseError> read_counts(std::string_view data) {
  std::vector<double> counts;
  std::size_t at = 0;
  for (;;) {
    while (at < data.size() && (data[at] == ',' || static_cast<unsigned char>(data[at]) <= ' ')) {
      ++at;
    }
    if (at == data.size()) return failure("the counts do not end with \"/\"");
    if (data[at] == '/') break;
    std::size_t end = at;
    while (end < data.size() && data[end] != ',' && data[end] != '/' &&
           static_cast<unsigned char>(data[end]) > ' ') {
      ++end;
    }
    const auto value = parse_double(data.substr(at, end - at));
    if (!value) return failure("invalid count \"" + std::string(data.substr(at, end - at)) + "\"");
    counts.push_back(*value);
    at = end;
  }
  for (++at; at < data.size(); ++at) {
    const char c = data[at];
    if (c != dos_end_of_file && static_cast<unsigned char>(c) > ' ') {
      return failure("text after the closing \"/\" of the counts");
    }
  }
  return counts;
}

}  // namespace

ReadStatus read_philips_udf(std::string_view bytes, ScanSink& sink) {
  std::string_view rest = bytes;
  Header header;
  std::size_t line_number = 0;
  for (;;) {
    if (rest.empty()) return failure("no \"RawScan\" line");
    const std::size_t newline = rest.find('\n');
    const std::string_view line = trim_blanks(rest.substr(0, newline));
    rest = newline == std::string_view::npos ? std::string_view() : rest.substr(newline + 1);
    ++line_number;
    if (line == data_marker) break;
    if (line.empty()) continue;
    const std::size_t comma = line.find(',');
    if (comma == std::string_view::npos || !line.ends_with(value_end) ||
        comma + 1 > line.size() - value_end.size()) {
      return failure("line " + std::to_string(line_number) + " is not \"Key,value,/\"");
    }
    const std::string_view key = trim_blanks(line.substr(0, comma));
    const std::string_view value =
        line.substr(comma + 1, line.size() - value_end.size() - comma - 1);
    if (auto taken = take_key(key, value, header, sink.meta()); !taken) {
      return fail(std::move(taken).error());
    }
  }
  if (!header.start || !header.end || !header.step) {
    return failure("DataAngleRange or ScanStepSize missing");
  }
  auto counts = read_counts(rest);
  if (!counts) return fail(std::move(counts).error());
  const double steps = (*header.end - *header.start) / *header.step;
  if (!std::isfinite(steps) || !(*header.step > 0) || steps < 0 || steps >= 1e12 ||
      std::fabs(steps - std::round(steps)) > end_tolerance) {
    return failure("DataAngleRange and ScanStepSize do not make an even axis");
  }
  // The stated end may imply one point more than the file holds.
  const auto stated = static_cast<std::size_t>(std::round(steps)) + 1;
  const std::size_t count = counts->size();
  if (count != stated && count + 1 != stated) {
    return failure("RawScan holds " + std::to_string(count) + " counts, the angle range " +
                   std::to_string(stated));
  }
  if (count == 0) return failure("RawScan holds no counts");
  Scan scan;
  scan.x = linear_axis(count, *header.start, *header.step);
  scan.y = std::move(counts).value();
  // DataAngleRange is the 2θ range, as in the RD files of the same software.
  scan.meta.set("x_axis", axis_kind("2Theta"));
  scan.meta.set("x_unit", "deg");
  scan.meta.set("start", *header.start);
  scan.meta.set("step", *header.step);
  if (header.step_time) scan.meta.set("time_per_step_s", *header.step_time);
  sink.take(std::move(scan));
  return succeeded;
}

bool philips_udf_content(std::string_view head) {
  return without_byte_order_mark(head).starts_with("SampleIdent,");
}

}  // namespace morvex
