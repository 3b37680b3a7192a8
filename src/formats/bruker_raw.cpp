// Bruker RAW binary files: the first range read by its header structure when the version is
// one we know, otherwise found by a search for the point count, the start/step pair and the
// intensity block that ends the file.
#include "formats/bruker_raw.hpp"

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <cstring>
#include <type_traits>
#include <vector>

#include "core/pattern.hpp"
#include "formats/readers.hpp"

namespace morvex {
namespace {

constexpr std::size_t min_input_size = 32;
constexpr std::string_view signature = "RAW";

constexpr std::size_t count_size = 4;
constexpr std::size_t single_size = 4;
constexpr std::size_t pair_size = 16;  // start then step, two doubles
constexpr std::size_t step_offset = 8;
constexpr std::size_t fallback_window = 64;
constexpr std::size_t scan_block = 64;  // offsets tested together before any closer look

constexpr std::uint64_t max_samples = 16;
// Exactly representable as a single, so the comparison is exact in single precision.
constexpr float max_sample = 1e9f;

constexpr double min_start = -180.0;
constexpr double max_end = 360.0;
constexpr double max_step = 10.0;
// No instrument steps by less than a millionth of a degree; smaller values come from
// unrelated header bytes read as doubles.
constexpr double min_step = 1e-6;

// Little-endian value at any alignment. The caller has checked that sizeof(T) bytes exist.
template <class T>
T load_le(const char* p) {
  static_assert(std::is_trivially_copyable_v<T>);
  std::array<char, sizeof(T)> bytes;
  std::memcpy(bytes.data(), p, sizeof(T));
  if constexpr (std::endian::native == std::endian::big) std::reverse(bytes.begin(), bytes.end());
  return std::bit_cast<T>(bytes);
}

// Every field read outside the block scan goes through this one bounds check.
template <class T>
std::optional<T> read_le(std::string_view input, std::size_t offset) {
  if (offset > input.size() || input.size() - offset < sizeof(T)) return std::nullopt;
  return load_le<T>(input.data() + offset);
}

bool is_plausible_intensity(float value) {
  return std::isfinite(value) && value >= 0.0f && value <= max_sample;  // -0 passes
}

// Up to 16 values spread evenly from the first to the last, both included.
bool samples_pass(std::string_view input, std::size_t data_offset, std::uint32_t count) {
  const std::uint64_t samples = std::min<std::uint64_t>(count, max_samples);
  for (std::uint64_t j = 0; j < samples; ++j) {
    const std::uint64_t index = j * (count - 1) / (samples - 1);
    const auto value = read_le<float>(input, data_offset + single_size * index);
    if (!value || !is_plausible_intensity(*value)) return false;
  }
  return true;
}

std::optional<StartStep> read_pair(std::string_view input, std::size_t offset) {
  const auto start = read_le<double>(input, offset);
  const auto step = read_le<double>(input, offset + step_offset);
  if (!start || !step) return std::nullopt;
  return StartStep{*start, *step};
}

bool has_valid_primary_pair(std::string_view input, const BlockCandidate& block) {
  if (block.count_offset < pair_size) return false;
  const auto pair = read_pair(input, block.count_offset - pair_size);
  return pair && is_valid_start_step(*pair, block.count);
}

// True when `count` items of `size` bytes, `stride` bytes apart from `offset`, all lie
// inside the input.
bool fits(std::string_view input, std::size_t offset, std::uint64_t count, std::uint64_t stride,
          std::uint64_t size) {
  if (offset > input.size()) return false;
  const std::uint64_t room = input.size() - offset;
  if (count == 0) return true;
  if (room < size) return false;
  return stride == 0 || count - 1 <= (room - size) / stride;
}

LoadResult read_points(std::string_view input, const RangeLayout& range) {
  // One bounds check for the whole block instead of one per point.
  if (!fits(input, range.data_offset, range.count, range.stride, single_size)) {
    return parse_failure("Bruker RAW intensity data truncated");
  }
  std::vector<double> y;
  y.reserve(range.count);  // no zero fill of memory that is written at once
  const char* point = input.data() + range.data_offset;
  for (std::uint64_t k = 0; k < range.count; ++k, point += range.stride) {
    y.push_back(static_cast<double>(load_le<float>(point)));
  }
  return Pattern{linear_axis(y.size(), range.start, range.step), std::move(y), std::nullopt};
}

// Header layouts of the four known versions. Offsets of range fields are from the range
// header's start; all fields little-endian.
namespace version1 {  // "RAW ": ranges follow the signature
constexpr std::size_t first_range = 4;
constexpr std::size_t steps = 0;     // u32
constexpr std::size_t step = 8;      // f32
constexpr std::size_t start = 20;    // f32
constexpr std::size_t data = 152;    // intensities, f32 each
}  // namespace version1

namespace version2 {  // "RAW2"
constexpr std::size_t range_count = 4;  // u16
constexpr std::size_t first_range = 256;
constexpr std::size_t header_length = 0;  // u16, intensities start this far into the range
constexpr std::size_t min_header_length = 48;  // exclusive: the fields below lie inside
constexpr std::size_t steps = 2;    // u16
constexpr std::size_t step = 12;    // f32
constexpr std::size_t start = 16;   // f32
}  // namespace version2

namespace version3 {  // "RAW1.01"
constexpr std::size_t range_count = 12;  // u32
constexpr std::size_t first_range = 712;
constexpr std::size_t header_length = 0;  // u32, always 304
constexpr std::uint32_t expected_header_length = 304;
constexpr std::size_t steps = 4;                // u32
constexpr std::size_t start = 16;               // f64, 2-theta
constexpr std::size_t step = 176;               // f64
constexpr std::size_t supplementary_size = 256;  // u32, extra headers before the data
}  // namespace version3

namespace version4 {  // "RAW4.00"
constexpr std::size_t first_segment = 61;
constexpr std::size_t segment_length = 4;   // u32, the whole segment, after a u32 type
constexpr std::uint32_t min_segment_length = 8;
constexpr std::uint32_t range_types[] = {0, 160};  // a segment of these types is the range
constexpr std::size_t range_header_size = 160;
constexpr std::size_t start = 72;            // f64
constexpr std::size_t step = 80;             // f64
constexpr std::size_t steps = 88;            // u32
constexpr std::size_t bytes_per_point = 136;  // u32, the intensity is its first single
constexpr std::uint32_t min_bytes_per_point = 4;
constexpr std::size_t extra_headers_size = 140;  // u32, between range header and data
}  // namespace version4

// A structured read is trusted only when it describes a real scan that lies in the input;
// anything else is left to the search.
std::optional<RangeLayout> trusted(std::string_view input, const RangeLayout& range) {
  if (range.count < 1 || !std::isfinite(range.start) || !std::isfinite(range.step) ||
      range.step == 0.0) {
    return std::nullopt;
  }
  if (!fits(input, range.data_offset, range.count, range.stride, range.stride)) {
    return std::nullopt;
  }
  return range;
}

std::optional<RangeLayout> read_version1(std::string_view input) {
  using namespace version1;
  const auto count = read_le<std::uint32_t>(input, first_range + steps);
  const auto step_width = read_le<float>(input, first_range + step);
  const auto first = read_le<float>(input, first_range + start);
  if (!count || !step_width || !first) return std::nullopt;
  return trusted(input, {*first, *step_width, *count, first_range + data, single_size});
}

std::optional<RangeLayout> read_version2(std::string_view input) {
  using namespace version2;
  const auto ranges = read_le<std::uint16_t>(input, range_count);
  const auto length = read_le<std::uint16_t>(input, first_range + header_length);
  const auto count = read_le<std::uint16_t>(input, first_range + steps);
  const auto step_width = read_le<float>(input, first_range + step);
  const auto first = read_le<float>(input, first_range + start);
  if (!ranges || !length || !count || !step_width || !first) return std::nullopt;
  if (*ranges < 1 || *length <= min_header_length) return std::nullopt;
  return trusted(input, {*first, *step_width, *count, first_range + *length, single_size});
}

std::optional<RangeLayout> read_version3(std::string_view input) {
  using namespace version3;
  const auto ranges = read_le<std::uint32_t>(input, range_count);
  const auto length = read_le<std::uint32_t>(input, first_range + header_length);
  const auto count = read_le<std::uint32_t>(input, first_range + steps);
  const auto first = read_le<double>(input, first_range + start);
  const auto step_width = read_le<double>(input, first_range + step);
  const auto supplementary = read_le<std::uint32_t>(input, first_range + supplementary_size);
  if (!ranges || !length || !count || !first || !step_width || !supplementary) {
    return std::nullopt;
  }
  if (*ranges < 1 || *length != expected_header_length) return std::nullopt;
  const std::size_t data = first_range + expected_header_length + *supplementary;
  return trusted(input, {*first, *step_width, *count, data, single_size});
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
  if (!range || !fits(input, *range, 1, 0, range_header_size)) return std::nullopt;
  const auto first = read_le<double>(input, *range + start);
  const auto step_width = read_le<double>(input, *range + step);
  const auto count = read_le<std::uint32_t>(input, *range + steps);
  const auto stride = read_le<std::uint32_t>(input, *range + bytes_per_point);
  const auto extra = read_le<std::uint32_t>(input, *range + extra_headers_size);
  if (!first || !step_width || !count || !stride || !extra) return std::nullopt;
  if (*stride < min_bytes_per_point) return std::nullopt;
  const std::uint64_t data = std::uint64_t{*range} + range_header_size + *extra;
  if (data > input.size()) return std::nullopt;
  return trusted(input, {*first, *step_width, *count, static_cast<std::size_t>(data), *stride});
}

Result<RangeLayout, LoadError> search_layout(std::string_view input) {
  const auto block = find_data_block(input);
  if (!block) return parse_failure("Failed to locate Bruker RAW data block");
  const auto pair = find_start_step(input, block->count_offset, block->count);
  if (!pair) return parse_failure("Failed to locate Bruker RAW start/step metadata");
  return RangeLayout{pair->start, pair->step, block->count, block->data_offset, single_size};
}

}  // namespace

std::optional<RangeLayout> read_known_header(std::string_view input) {
  // The longer version texts first: "RAW1.01" must not be taken for some "RAW1".
  if (input.starts_with("RAW1.01")) return read_version3(input);
  if (input.starts_with("RAW4.00")) return read_version4(input);
  if (input.starts_with("RAW2")) return read_version2(input);
  if (input.starts_with("RAW ")) return read_version1(input);
  return std::nullopt;
}

bool is_valid_start_step(StartStep pair, std::uint32_t count) {
  const double start = pair.start;
  const double step = pair.step;
  // A subnormal start is never a real angle: it is header bytes read as a double.
  if (!std::isfinite(start) || std::fpclassify(start) == FP_SUBNORMAL) return false;
  if (!std::isfinite(step) || !(step >= min_step) || step > max_step) return false;
  const double last_index = count < 2 ? 0.0 : static_cast<double>(count - 1);
  const double end = last_index * step + start;
  return std::isfinite(end) && end <= max_end && start >= min_start && start <= end;
}

std::optional<BlockCandidate> find_data_block(std::string_view input) {
  const std::uint64_t length = input.size();
  if (length < count_size) return std::nullopt;
  const auto* bytes = reinterpret_cast<const unsigned char*>(input.data());
  const std::size_t last_offset = input.size() - count_size;

  // A count that can qualify is at most the smaller of the count limit and length / 4, so
  // its top byte is zero and its third byte at most that bound's third byte. Blocks of
  // offsets where no such byte pair occurs are passed over by a test the compiler turns
  // into vector compares; nearly every offset of an intensity block ends there.
  const std::uint64_t count_bound = std::min<std::uint64_t>(bruker_max_count, length / 4);
  const auto third_byte_bound = static_cast<unsigned char>(count_bound >> 16);

  std::optional<BlockCandidate> lowest;     // lowest offset of the largest count
  std::optional<BlockCandidate> with_pair;  // lowest such offset with a valid pair before it
  for (std::size_t block_start = 0; block_start <= last_offset; block_start += scan_block) {
    const std::size_t block_end = std::min(block_start + scan_block, last_offset + 1);
    unsigned char maybe = 0;
    for (std::size_t i = block_start; i < block_end; ++i) {
      maybe |= static_cast<unsigned char>((bytes[i + 3] == 0) & (bytes[i + 2] <= third_byte_bound));
    }
    if (!maybe) continue;

    // i + 3 <= last_offset + 3 < length: every 4-byte load below lies inside the input.
    for (std::size_t i = block_start; i < block_end; ++i) {
      const auto count = load_le<std::uint32_t>(input.data() + i);
      if (count - bruker_min_count > bruker_max_count - bruker_min_count) continue;
      const std::uint64_t block_size = std::uint64_t{single_size} * count;
      if (block_size > length) continue;
      const auto data_offset = static_cast<std::size_t>(length - block_size);
      if (i >= data_offset) continue;
      // Candidates that could not replace the chosen one need no sampling.
      if (lowest && (count < lowest->count || (count == lowest->count && with_pair))) continue;
      if (!samples_pass(input, data_offset, count)) continue;

      const BlockCandidate candidate{i, count, data_offset};
      if (!lowest || count > lowest->count) {
        lowest = candidate;
        with_pair.reset();
      }
      if (!with_pair && has_valid_primary_pair(input, candidate)) with_pair = candidate;
    }
  }
  return with_pair ? with_pair : lowest;
}

std::optional<StartStep> find_start_step(std::string_view input, std::size_t count_offset,
                                         std::uint32_t count) {
  if (count_offset < pair_size) return std::nullopt;
  if (const auto primary = read_pair(input, count_offset - pair_size)) {
    if (is_valid_start_step(*primary, count)) return primary;
  }
  const std::size_t first = count_offset > fallback_window ? count_offset - fallback_window : 0;
  for (std::size_t offset = first; offset < count_offset; ++offset) {
    const auto pair = read_pair(input, offset);
    if (!pair) break;  // every later window ends past the input too
    if (is_valid_start_step(*pair, count)) return pair;
  }
  return std::nullopt;
}

LoadResult read_bruker_raw(ByteSource& source) {
  ByteBuffer storage;
  auto all = source.read_all(storage);
  if (!all) return fail(std::move(all).error());
  const std::string_view input = all.value();

  if (input.size() < min_input_size || !input.starts_with(signature)) {
    return parse_failure("Unsupported Bruker RAW header");
  }
  if (const auto range = read_known_header(input)) return read_points(input, *range);
  auto range = search_layout(input);
  if (!range) return fail(std::move(range).error());
  return read_points(input, range.value());
}

}  // namespace morvex
