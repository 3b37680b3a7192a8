#include "dispatch/dispatch.hpp"

#include <algorithm>
#include <array>

#include "core/byte_source.hpp"
#include "core/input.hpp"
#include "dispatch/detect.hpp"
#include "formats/readers.hpp"

namespace morvex {
namespace {

// Raw files are sniffed over this many leading bytes: a zero byte means Bruker binary.
constexpr std::size_t sniff_size = 1024;

using Reader = ReadStatus (*)(Input&, ScanSink&);

struct Format {
  std::string_view extension;
  Reader reader;
};

// raw is absent: it is chosen by content, see choose_raw_reader.
constexpr std::array<Format, 5> formats = {{
    {"xy", read_xy},
    {"xye", read_xy},
    {"csv", read_csv},
    {"xrdml", read_xrdml},
    {"rasx", read_rasx},
}};

Reader find_reader(std::string_view extension) {
  for (const Format& format : formats) {
    if (format.extension == extension) return format.reader;
  }
  return nullptr;
}

// Raw files are told apart by content: the sniff is a peek, so the chosen reader still
// starts at the first byte, and a pipe works as well as a regular file.
LoadResult load(Input& input, std::string_view extension) {
  Reader reader = find_reader(extension);
  if (extension == "raw") {
    reader = looks_binary(input.peek(sniff_size)) ? read_bruker_raw : read_gsas_raw;
  }
  if (!reader) return fail(UnknownFormat{});
  FirstScanSink sink;
  if (auto status = reader(input, sink); !status) return fail(std::move(status).error());
  // Every reader gives a scan or an error for the first pattern.
  Scan& scan = sink.scan().value();
  return Pattern{std::move(scan.x), std::move(scan.y), std::move(scan.e)};
}

struct NamedReader {
  std::string_view name;
  Reader reader;
};

constexpr std::array<NamedReader, 15> named_readers = {{
    {"xy", read_xy},
    {"csv", read_csv},
    {"gsas", read_gsas_raw},
    {"bruker_raw", read_bruker_raw},
    {"xrdml", read_xrdml},
    {"rasx", read_rasx},
    {"brml", read_brml},
    {"philips_rd", read_philips_rd},
    {"philips_udf", read_philips_udf},
    {"pdcif", read_pdcif},
    {"stoe_raw", read_stoe_raw},
    {"ras", read_ras},
    {"uxd", read_uxd},
    {"cpi", read_cpi},
    {"chi", read_chi},
}};

// Column files name themselves by what they hold: xye where every point has an uncertainty.
std::string_view column_format_name(std::string_view format, const Measurement& measurement) {
  if (format != "xy") return format;
  const bool with_errors = !measurement.scans.empty() && measurement.scans.front().e;
  return with_errors ? "xye" : "xy";
}

MeasurementResult measure(Input& input, std::string_view name) {
  const std::string_view head = input.peek(detect_size);
  std::string_view format = detect_format(head);
  const std::string extension = format_extension(name);
  const std::string_view named = format_of_extension(extension);
  // A Fit2D chi header is also what a column file's title lines may be: a file named as
  // columns stays one, so that morvexio reads it as morvex does.
  if (format.empty() || (format == "chi" && (named == "xy" || named == "csv"))) format = named;
  // A raw file the content rules cannot place goes to the reader its zero-byte test picks,
  // whose message says what is wrong with it.
  if (format.empty() && extension == "raw") format = looks_binary(head) ? "bruker_raw" : "gsas";
  // A BRML archive whose first entries lie outside its experiment folder looks like any ZIP.
  if (format == "rasx" && named == "brml") format = "brml";
  const auto found = std::ranges::find(named_readers, format, &NamedReader::name);
  if (found == named_readers.end()) return fail(UnknownFormat{});
  CollectingSink sink;
  if (auto status = found->reader(input, sink); !status) return fail(std::move(status).error());
  Measurement& measurement = sink.measurement();
  measurement.format = column_format_name(format, measurement);
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
