// Bruker RAW binary files: the first range (or every range, bruker_ranges.cpp) read by its
// header structure when the version is one we know (bruker_header.cpp), otherwise the one
// range found by a search for the point count, the start/step pair and the intensity block
// that ends the file.
#include "formats/bruker_raw.hpp"

#include <algorithm>
#include <cmath>
#include <vector>

#include "core/axis.hpp"
#include "core/head.hpp"
#include "core/little_endian.hpp"
#include "core/memory.hpp"
#include "formats/bruker_ranges.hpp"
#include "formats/readers.hpp"

namespace morvex {
namespace {

constexpr std::size_t min_input_size = 32;
constexpr std::string_view signature = "RAW";
// STOE's binary raw files share the extension and the first three bytes; no Bruker version
// text starts with an underscore.
constexpr std::string_view stoe_signature = "RAW_";
constexpr const char* truncated = "Bruker RAW intensity data truncated";

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

using ScanResult = Result<Scan, LoadError>;

ScanResult read_points(std::string_view input, const RangeLayout& range) {
  // One bounds check for the whole block instead of one per point.
  if (!range_fits(input, range)) return parse_failure(truncated);
  std::vector<double> y;
  y.reserve(range.count);  // no zero fill of memory that is written at once
  advise_huge_pages(y.data(), range.count * sizeof(double));
  const char* point = input.data() + range.data_offset;
  for (std::uint64_t k = 0; k < range.count; ++k, point += range.stride) {
    y.push_back(static_cast<double>(load_le<float>(point)));
  }
  Scan scan;
  scan.x = linear_axis(y.size(), range.start, range.step);
  scan.y = std::move(y);
  return scan;
}

Result<RangeLayout, LoadError> search_layout(std::string_view input) {
  const auto block = find_data_block(input);
  if (!block) return parse_failure("Failed to locate Bruker RAW data block");
  const auto pair = find_start_step(input, block->count_offset, block->count);
  if (!pair) return parse_failure("Failed to locate Bruker RAW start/step metadata");
  return RangeLayout{pair->start, pair->step, block->count, block->data_offset, single_size};
}

}  // namespace

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

namespace {

// Every range of a file whose first range the header gives, each taken as soon as it is
// read.
ReadStatus read_ranges(std::string_view bytes, BrukerVersion version, ScanSink& sink) {
  BrukerRanges ranges(bytes, version, sink.meta());
  for (;;) {
    auto range = ranges.next();
    if (!range) return fail(std::move(range).error());
    if (!range.value()) break;
    auto scan = read_points(bytes, range.value()->layout);
    if (!scan) return fail(std::move(scan).error());
    scan->meta = std::move(range.value()->meta);
    if (!sink.take(std::move(scan).value())) return succeeded;
  }
  ranges.finish();
  return succeeded;
}

}  // namespace

ReadStatus read_bruker_raw(std::string_view bytes, ScanSink& sink) {
  if (bytes.size() < min_input_size || !bytes.starts_with(signature) ||
      bytes.starts_with(stoe_signature)) {
    return parse_failure("Unsupported Bruker RAW header");
  }
  if (const auto range = read_range_header(bytes)) {
    if (is_trusted_range(bytes, *range)) return read_ranges(bytes, *bruker_version(bytes), sink);
    // A real scan whose points the input cannot hold is a cut file: a search would find some
    // other "block" that happens to end where the file was cut.
    if (is_plausible_scan(*range)) return parse_failure(truncated);
  }
  // A version we do not know: the one range a search finds.
  auto range = search_layout(bytes);
  if (!range) return fail(std::move(range).error());
  auto scan = read_points(bytes, range.value());
  if (!scan) return fail(std::move(scan).error());
  sink.take(std::move(scan).value());
  return succeeded;
}

// "RAW ", "RAW1.01", "RAW2", "RAW4.00": a binary header, so a zero byte comes early.
bool bruker_raw_content(std::string_view head) {
  return head.starts_with("RAW") && !head.starts_with("RAW_") &&
         head.substr(0, 1024).find('\0') != std::string_view::npos;
}

}  // namespace morvex
