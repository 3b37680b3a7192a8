// Bruker RAW header structures: the first range of the four versions we know, read by the
// fields their headers hold.
#include "formats/bruker_header.hpp"

#include <cmath>
#include <iterator>

#include "core/little_endian.hpp"
#include "formats/bruker_layout.hpp"

namespace morvex {
namespace {

using namespace bruker;

constexpr std::size_t single_size = 4;

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

std::optional<RangeLayout> read_version1(std::string_view input, std::uint64_t at) {
  using namespace version1;
  auto range = read_axis<std::uint32_t, float>(input, at, steps, start, step);
  if (range) range->data_offset = at + data;
  return range;
}

std::optional<RangeLayout> read_version2(std::string_view input, std::uint64_t at) {
  using namespace version2;
  const auto length = read_le<std::uint16_t>(input, at + header_length);
  auto range = read_axis<std::uint16_t, float>(input, at, steps, start, step);
  if (!length || !range || *length <= min_header_length) return std::nullopt;
  range->data_offset = at + *length;
  return range;
}

std::optional<RangeLayout> read_version3(std::string_view input, std::uint64_t at) {
  using namespace version3;
  const auto length = read_le<std::uint32_t>(input, at + header_length);
  const auto supplementary = read_le<std::uint32_t>(input, at + supplementary_size);
  auto range = read_axis<std::uint32_t, double>(input, at, steps, start, step);
  if (!length || !supplementary || !range) return std::nullopt;
  if (*length != expected_header_length) return std::nullopt;
  range->data_offset = at + expected_header_length + std::uint64_t{*supplementary};
  return range;
}

std::optional<RangeLayout> read_version4(std::string_view input, std::uint64_t at) {
  using namespace version4;
  auto layout = read_axis<std::uint32_t, double>(input, at, steps, start, step);
  const auto stride = read_le<std::uint32_t>(input, at + bytes_per_point);
  const auto extra = read_le<std::uint32_t>(input, at + extra_headers_size);
  if (!layout || !stride || !extra || *stride < min_bytes_per_point) return std::nullopt;
  layout->data_offset = at + range_header_size + *extra;
  layout->stride = *stride;
  return layout;
}

// Versions 2 and 3 count their ranges in the file header; a file of none has no first range.
bool has_ranges(std::string_view input, BrukerVersion version) {
  if (version == BrukerVersion::v2) {
    const auto ranges = read_le<std::uint16_t>(input, version2::range_count);
    return ranges && *ranges >= 1;
  }
  if (version == BrukerVersion::v3) {
    const auto ranges = read_le<std::uint32_t>(input, version3::range_count);
    return ranges && *ranges >= 1;
  }
  return true;
}

}  // namespace

std::optional<BrukerVersion> bruker_version(std::string_view input) {
  // The longer version texts first: "RAW1.01" must not be taken for some "RAW1".
  if (input.starts_with("RAW1.01")) return BrukerVersion::v3;
  if (input.starts_with("RAW4.00")) return BrukerVersion::v4;
  if (input.starts_with("RAW2")) return BrukerVersion::v2;
  if (input.starts_with("RAW ")) return BrukerVersion::v1;
  return std::nullopt;
}

std::optional<std::uint64_t> first_range_offset(std::string_view input, BrukerVersion version) {
  switch (version) {
    case BrukerVersion::v1:
      return version1::first_range;
    case BrukerVersion::v2:
      return version2::first_range;
    case BrukerVersion::v3:
      return version3::first_range;
    case BrukerVersion::v4:
      break;
  }
  // The range follows a chain of metadata segments, each giving its own length.
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

std::optional<RangeLayout> read_range_at(std::string_view input, BrukerVersion version,
                                         std::uint64_t at) {
  switch (version) {
    case BrukerVersion::v1:
      return read_version1(input, at);
    case BrukerVersion::v2:
      return read_version2(input, at);
    case BrukerVersion::v3:
      return read_version3(input, at);
    case BrukerVersion::v4:
      return read_version4(input, at);
  }
  return std::nullopt;
}

std::optional<RangeLayout> read_range_header(std::string_view input) {
  const auto version = bruker_version(input);
  if (!version || !has_ranges(input, *version)) return std::nullopt;
  const auto first = first_range_offset(input, *version);
  if (!first) return std::nullopt;
  return read_range_at(input, *version, *first);
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
