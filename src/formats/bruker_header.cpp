// Bruker RAW header structures: the first range of the four versions we know, read by the
// fields their headers hold.
#include "formats/bruker_header.hpp"

#include <cmath>
#include <iterator>

#include "core/little_endian.hpp"

namespace morvex {
namespace {

constexpr std::size_t single_size = 4;

// The offsets below are the header layouts that real files of each version show. Offsets of
// range fields are from the range header's start; all fields are little-endian.
namespace version1 {  // "RAW ": ranges follow the signature
constexpr std::size_t first_range = 4;
constexpr std::size_t steps = 0;   // u32
constexpr std::size_t step = 8;    // f32
constexpr std::size_t start = 20;  // f32
constexpr std::size_t data = 152;  // the range header's size; intensities follow, f32 each
}  // namespace version1

namespace version2 {                    // "RAW2"
constexpr std::size_t range_count = 4;  // u16
constexpr std::size_t first_range = 256;
constexpr std::size_t header_length = 0;       // u16, intensities start this far into the range
constexpr std::size_t min_header_length = 48;  // exclusive: the fields below lie inside
constexpr std::size_t steps = 2;               // u16
constexpr std::size_t step = 12;               // f32
constexpr std::size_t start = 16;              // f32
}  // namespace version2

namespace version3 {                     // "RAW1.01"
constexpr std::size_t range_count = 12;  // u32
constexpr std::size_t first_range = 712;
constexpr std::size_t header_length = 0;  // u32, always 304
constexpr std::uint32_t expected_header_length = 304;
constexpr std::size_t steps = 4;                 // u32
constexpr std::size_t start = 16;                // f64, 2-theta
constexpr std::size_t step = 176;                // f64
constexpr std::size_t supplementary_size = 256;  // u32, extra headers before the data
}  // namespace version3

namespace version4 {  // "RAW4.00"
constexpr std::size_t first_segment = 61;
constexpr std::size_t segment_length = 4;  // u32, the whole segment, after a u32 type
constexpr std::uint32_t min_segment_length = 8;
constexpr std::uint32_t range_types[] = {0, 160};  // a segment of these types is the range
constexpr std::size_t range_header_size = 160;
constexpr std::size_t start = 72;             // f64
constexpr std::size_t step = 80;              // f64
constexpr std::size_t steps = 88;             // u32
constexpr std::size_t bytes_per_point = 136;  // u32, the intensity is its first single
constexpr std::uint32_t min_bytes_per_point = 4;
constexpr std::size_t extra_headers_size = 140;  // u32, between range header and data
}  // namespace version4

// What a scan by an instrument looks like: anything else read from a header is taken for
// unrelated bytes, and the search decides.
constexpr std::uint64_t max_plausible_points = 5'000'000;
constexpr double max_plausible_step = 10.0;
constexpr double min_plausible_start = -180.0;
constexpr double max_plausible_start = 360.0;
constexpr std::uint64_t max_plausible_stride = 64;

// A range's point count, start and step from the field offsets of its version, the data
// left for the caller to place.
template <class Count, class Real>
std::optional<RangeLayout> read_axis(std::string_view input, std::uint64_t range,
                                     std::size_t count_at, std::size_t start_at,
                                     std::size_t step_at) {
  const auto count = read_le<Count>(input, range + count_at);
  const auto first = read_le<Real>(input, range + start_at);
  const auto step_width = read_le<Real>(input, range + step_at);
  if (!count || !first || !step_width) return std::nullopt;
  return RangeLayout{*first, *step_width, *count, 0, single_size};
}

std::optional<RangeLayout> read_version1(std::string_view input) {
  using namespace version1;
  auto range = read_axis<std::uint32_t, float>(input, first_range, steps, start, step);
  if (range) range->data_offset = first_range + data;
  return range;
}

std::optional<RangeLayout> read_version2(std::string_view input) {
  using namespace version2;
  const auto ranges = read_le<std::uint16_t>(input, range_count);
  const auto length = read_le<std::uint16_t>(input, first_range + header_length);
  auto range = read_axis<std::uint16_t, float>(input, first_range, steps, start, step);
  if (!ranges || !length || !range) return std::nullopt;
  if (*ranges < 1 || *length <= min_header_length) return std::nullopt;
  range->data_offset = first_range + *length;
  return range;
}

std::optional<RangeLayout> read_version3(std::string_view input) {
  using namespace version3;
  const auto ranges = read_le<std::uint32_t>(input, range_count);
  const auto length = read_le<std::uint32_t>(input, first_range + header_length);
  const auto supplementary = read_le<std::uint32_t>(input, first_range + supplementary_size);
  auto range = read_axis<std::uint32_t, double>(input, first_range, steps, start, step);
  if (!ranges || !length || !supplementary || !range) return std::nullopt;
  if (*ranges < 1 || *length != expected_header_length) return std::nullopt;
  range->data_offset = first_range + expected_header_length + std::uint64_t{*supplementary};
  return range;
}

// The range follows a chain of metadata segments, each giving its own length.
std::optional<std::size_t> find_version4_range(std::string_view input) {
  std::size_t offset = version4::first_segment;
  for (;;) {
    const auto type = read_le<std::uint32_t>(input, offset);
    if (!type) return std::nullopt;
    if (std::ranges::find(version4::range_types, *type) != std::end(version4::range_types)) {
      return offset;
    }
    const auto length = read_le<std::uint32_t>(input, offset + version4::segment_length);
    if (!length || *length < version4::min_segment_length) return std::nullopt;
    if (*length > input.size() - offset) return std::nullopt;
    offset += *length;
  }
}

std::optional<RangeLayout> read_version4(std::string_view input) {
  using namespace version4;
  const auto range = find_version4_range(input);
  if (!range) return std::nullopt;
  auto layout = read_axis<std::uint32_t, double>(input, *range, steps, start, step);
  const auto stride = read_le<std::uint32_t>(input, *range + bytes_per_point);
  const auto extra = read_le<std::uint32_t>(input, *range + extra_headers_size);
  if (!layout || !stride || !extra || *stride < min_bytes_per_point) return std::nullopt;
  layout->data_offset = std::uint64_t{*range} + range_header_size + *extra;
  layout->stride = *stride;
  return layout;
}

}  // namespace

std::optional<RangeLayout> read_range_header(std::string_view input) {
  // The longer version texts first: "RAW1.01" must not be taken for some "RAW1".
  if (input.starts_with("RAW1.01")) return read_version3(input);
  if (input.starts_with("RAW4.00")) return read_version4(input);
  if (input.starts_with("RAW2")) return read_version2(input);
  if (input.starts_with("RAW ")) return read_version1(input);
  return std::nullopt;
}

bool range_fits(std::string_view input, const RangeLayout& range) {
  if (range.data_offset > input.size()) return false;
  if (range.count == 0) return true;
  const std::uint64_t room = input.size() - range.data_offset;
  return room >= range.stride && range.count - 1 <= (room - range.stride) / range.stride;
}

bool is_trusted_range(std::string_view input, const RangeLayout& range) {
  return range.count >= 1 && std::isfinite(range.start) && std::isfinite(range.step) &&
         range.step != 0.0 && range_fits(input, range);
}

bool is_plausible_scan(const RangeLayout& range) {
  const double step = std::fabs(range.step);
  return range.count >= 1 && range.count <= max_plausible_points && std::isfinite(range.start) &&
         range.start >= min_plausible_start && range.start <= max_plausible_start && step > 0.0 &&
         step <= max_plausible_step && range.stride >= single_size &&
         range.stride <= max_plausible_stride && range.stride % single_size == 0;
}

std::optional<RangeLayout> read_known_header(std::string_view input) {
  const auto range = read_range_header(input);
  if (!range || !is_trusted_range(input, *range)) return std::nullopt;
  return range;
}

}  // namespace morvex
