// Philips PC-APD binary scans (.rd, .sd; "V3" and "V5" headers): x from the stated start,
// end and step, and one packed 16-bit count per point after the header.
#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <optional>
#include <string>

#include "core/axis.hpp"
#include "core/head.hpp"
#include "core/little_endian.hpp"
#include "core/number_text.hpp"
#include "formats/readers.hpp"

namespace morvex {
namespace {

// The header fields as xylib documents them and the real files show them.
constexpr std::size_t diffractor_offset = 0x54;  // one byte each: diffractor, anode, focus
constexpr std::size_t anode_offset = 0x55;
constexpr std::size_t focus_offset = 0x56;
constexpr std::size_t kalpha1_offset = 0x5E;  // doubles, Å
constexpr std::size_t kalpha2_offset = 0x66;
constexpr std::size_t ratio_offset = 0x6E;
constexpr std::size_t file_name_offset = 0x8A;
constexpr std::size_t file_name_size = 8;
constexpr std::size_t sample_offset = 0x92;
constexpr std::size_t sample_size = 20;
constexpr std::size_t step_offset = 0xD6;  // doubles: step, start, end
constexpr std::size_t v3_data_offset = 0xFA;
constexpr std::size_t v5_data_offset = 0x32A;
constexpr std::size_t count_size = 2;

constexpr std::array<std::string_view, 6> diffractor_names = {
    "PW1800", "PW1710 based system", "PW1840", "PW3710 based system", "Undefined", "X'Pert MPD"};
constexpr std::array<std::string_view, 5> anode_names = {"Cu", "Mo", "Fe", "Cr", "Other"};
constexpr std::array<std::string_view, 4> focus_names = {"BF", "NF", "FF", "LFF"};

// Programs that convert into RD (WinFit) leave other header bytes as blanks: only values in
// the range of real tubes are taken.
constexpr double min_wavelength = 0.1;
constexpr double max_wavelength = 10.0;
constexpr double min_ratio = 1e-3;
// The stated end must lie this close (in steps) to a point: a float32 end written as a
// double is off by a few millionths of a step.
constexpr double end_tolerance = 1e-3;
// WinFit writes one word after the last point; PC-APD writes none.
constexpr std::size_t max_trailing_words = 2;

Failure<ParseError> failure(const std::string& text) {
  return parse_failure("Philips RD: " + text);
}

template <std::size_t N>
void set_name(MetaTable& meta, std::string_view key, std::string_view bytes, std::size_t offset,
              const std::array<std::string_view, N>& names) {
  const auto code = read_le<std::uint8_t>(bytes, offset);
  if (code && *code < N) meta.set(key, std::string(names[*code]));
}

// A double field. Converters (WinFit) widen the float32 they hold, so a double that is a
// float32 is reported as that float32's shortest decimal: 1.5406, not 1.5405999422073364.
std::optional<double> stated_double(std::string_view bytes, std::size_t offset) {
  const auto value = read_le<double>(bytes, offset);
  if (!value) return std::nullopt;
  const auto single = static_cast<float>(*value);
  return static_cast<double>(single) == *value ? single_as_decimal(single) : *value;
}

void read_header(std::string_view bytes, MetaTable& meta) {
  for (const auto& [key, offset] : {std::pair{"wavelength_kalpha1", kalpha1_offset},
                                    std::pair{"wavelength_kalpha2", kalpha2_offset}}) {
    const auto value = stated_double(bytes, offset);
    if (value && *value >= min_wavelength && *value <= max_wavelength) meta.set(key, *value);
  }
  if (const auto ratio = stated_double(bytes, ratio_offset);
      ratio && *ratio >= min_ratio && *ratio <= 1) {
    meta.set("kalpha2_ratio", *ratio);
  }
  set_name(meta, "anode", bytes, anode_offset, anode_names);
  if (const auto sample = read_text_field(bytes, sample_offset, sample_size)) {
    set_header_text(meta, "sample_name", *sample);
  }
  MetaTable header;
  set_name(header, "diffractor type", bytes, diffractor_offset, diffractor_names);
  set_name(header, "focus type", bytes, focus_offset, focus_names);
  if (const auto name = read_text_field(bytes, file_name_offset, file_name_size)) {
    set_header_text(header, "file name", *name);
  }
  if (!header.empty()) meta.set("header", std::move(header));
}

// Packed counts: the square of the stored value over 100, in whole counts.
double unpack_count(std::uint16_t packed) {
  const std::uint32_t value = packed;
  return static_cast<double>(value * value / 100);
}

}  // namespace

ReadStatus read_philips_rd(std::string_view bytes, ScanSink& sink) {
  const std::string_view version = bytes.substr(0, 2);
  const std::string_view kind = bytes.substr(std::min<std::size_t>(bytes.size(), 2), 2);
  if ((version != "V3" && version != "V5") || (kind != "RD" && kind != "SD")) {
    return failure("not a V3 or V5 RD/SD header");
  }
  const std::size_t data_offset = version == "V3" ? v3_data_offset : v5_data_offset;
  const auto step = read_le<double>(bytes, step_offset);
  const auto start = read_le<double>(bytes, step_offset + 8);
  const auto end = read_le<double>(bytes, step_offset + 16);
  if (!step || !start || !end || bytes.size() < data_offset) return failure("header truncated");
  const double steps = (*end - *start) / *step;
  if (!std::isfinite(steps) || !(*step > 0) || steps < 0 ||
      std::fabs(steps - std::round(steps)) > end_tolerance || steps >= 1e9) {
    return failure("start, end and step do not make an even axis");
  }
  // The stated end is exclusive: a scan stated from 4.99 to 120.01 by 0.02 holds 5,751 points,
  // ending at 119.99, as the same measurement's UXD export shows, and the word after them
  // decodes to nonsense (millions of counts beside neighbours near a thousand). Converters
  // such as WinFit leave a word or two after the points; fewer words than points is a cut file.
  const std::size_t count = static_cast<std::size_t>(std::round(steps));
  const std::size_t data_bytes = bytes.size() - data_offset;
  if (data_bytes < count * count_size) {
    return failure("the header states " + std::to_string(count) + " points, the data holds " +
                   std::to_string(data_bytes / count_size) + " (a cut file)");
  }
  if (data_bytes - count * count_size > max_trailing_words * count_size) {
    return failure("the header states " + std::to_string(count) + " points, the data holds " +
                   std::to_string(data_bytes) + " bytes");
  }
  read_header(bytes, sink.meta());
  Scan scan;
  scan.y.reserve(count);
  for (std::size_t k = 0; k < count; ++k) {
    scan.y.push_back(unpack_count(load_le<std::uint16_t>(bytes.data() + data_offset + 2 * k)));
  }
  scan.x = linear_axis(count, *start, *step);
  // PC-APD scans give their positions in 2θ.
  scan.meta.set("x_axis", axis_kind("2Theta"));
  scan.meta.set("x_unit", "deg");
  scan.meta.set("start", *start);
  scan.meta.set("step", *step);
  sink.take(std::move(scan));
  return succeeded;
}

// Philips PC-APD binary scans: format version, then the file kind.
bool philips_rd_content(std::string_view head) {
  if (head.size() < 4) return false;
  const std::string_view version = head.substr(0, 2);
  const std::string_view kind = head.substr(2, 2);
  return (version == "V3" || version == "V5") && (kind == "RD" || kind == "SD");
}

}  // namespace morvex
