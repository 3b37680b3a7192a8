#include "dispatch/dispatch.hpp"

#include <algorithm>
#include <optional>

#include "core/byte_source.hpp"
#include "core/head.hpp"
#include "core/input.hpp"
#include "dispatch/detect.hpp"

namespace morvex {
namespace {

// Raw files are sniffed over this many leading bytes: a zero byte means Bruker binary.
constexpr std::size_t sniff_size = 1024;

// The first-pattern load chooses by the name alone; for raw names, a zero byte among the
// first bytes picks the binary reader. The sniff is a peek, so the chosen reader still
// starts at the first byte, and a pipe works as well as a regular file.
const FormatRow* pattern_format(Input& input, std::string_view extension) {
  std::optional<bool> binary;  // sniffed once, where a raw name asks for it
  for (const FormatRow& format : format_table()) {
    if (std::ranges::find(format.pattern_extensions, extension) ==
        format.pattern_extensions.end()) {
      continue;
    }
    if (format.pattern_sniff == RawSniff::none) return &format;
    if (!binary) binary = looks_binary(input.peek(sniff_size));
    if (*binary == (format.pattern_sniff == RawSniff::binary)) return &format;
  }
  return nullptr;
}

LoadResult load(Input& input, std::string_view extension) {
  const FormatRow* format = pattern_format(input, extension);
  if (!format) return fail(UnknownFormat{});
  FirstScanSink sink;
  if (auto status = read_format(pattern_reader(*format), input, sink); !status) {
    return fail(std::move(status).error());
  }
  // Every reader gives a scan or an error for the first pattern.
  Scan& scan = sink.scan().value();
  return Pattern{std::move(scan.x), std::move(scan.y), std::move(scan.e)};
}

// Column files name themselves by what they hold: xye where every point has an uncertainty.
std::string_view column_format_name(std::string_view format, const Measurement& measurement) {
  if (format != "xy") return format;
  const bool with_errors = !measurement.scans.empty() && measurement.scans.front().e;
  return with_errors ? "xye" : "xy";
}

// A scan of no points is never a result: a reader that found nothing to read failed.
std::optional<std::string> emptiness(const Measurement& measurement) {
  if (measurement.scans.empty()) return "the file holds no scan";
  const auto& scans = measurement.scans;
  for (std::size_t k = 0; k < scans.size(); ++k) {
    if (!scans[k].x.empty()) continue;
    if (scans.size() == 1) return "the file holds no points";
    return "scan " + std::to_string(k + 1) + " of " + std::to_string(scans.size()) +
           " holds no points";
  }
  return std::nullopt;
}

MeasurementResult measure(Input& input, std::string_view name) {
  const std::string_view head = input.peek(head_size);
  // A read that fails at once (a directory, say) is that failure, whatever the name.
  if (input.failed()) return fail(input.take_error());
  const Decision decision = decide_format(head, format_extension(name));
  if (!decision.format) return parse_failure(decision.refusal);
  CollectingSink sink;
  if (auto status = read_format(every_scan_reader(*decision.format), input, sink); !status) {
    return fail(std::move(status).error());
  }
  Measurement& measurement = sink.measurement();
  if (auto empty = emptiness(measurement)) return parse_failure(std::move(*empty));
  measurement.format = column_format_name(decision.format->name, measurement);
  return std::move(measurement);
}

bool is_separator(char c) {
  return c == '/' || c == '\\';
}

// The final component of a path, skipping trailing separators and "." components; empty
// when there is none or it is "..".
std::string_view final_component(std::string_view name) {
  for (;;) {
    while (!name.empty() && is_separator(name.back())) name.remove_suffix(1);
    std::size_t cut = name.size();
    while (cut > 0 && !is_separator(name[cut - 1])) --cut;
    const std::string_view component = name.substr(cut);
    if (component != ".") return component == ".." ? std::string_view() : component;
    name = name.substr(0, cut);
  }
}

}  // namespace

std::string format_extension(std::string_view name) {
  const std::string_view component = final_component(name);
  const std::size_t dot = component.rfind('.');
  if (dot == std::string_view::npos || dot == 0) return {};
  // Lower-casing only ASCII letters is exact here: no character outside ASCII lower-cases
  // into a letter of the six known extensions, so the choice of reader is the same.
  std::string extension(component.substr(dot + 1));
  for (char& c : extension) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return extension;
}

bool looks_binary(std::string_view bytes) {
  return bytes.find('\0') != std::string_view::npos;
}

LoadResult load_path(std::string_view path) {
  auto opened = FileSource::open(path);
  if (!opened) return fail(std::move(opened).error());
  Input input(opened.value());
  return load(input, format_extension(path));
}

LoadResult load_bytes(std::string_view data, std::string_view filename) {
  SliceSource source(data);
  Input input(source);
  return load(input, format_extension(filename));
}

MeasurementResult measure_path(std::string_view path) {
  auto opened = FileSource::open(path);
  if (!opened) return fail(std::move(opened).error());
  Input input(opened.value());
  return measure(input, path);
}

MeasurementResult measure_bytes(std::string_view data, std::string_view filename) {
  SliceSource source(data);
  Input input(source);
  return measure(input, filename);
}

}  // namespace morvex
