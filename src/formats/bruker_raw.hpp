// The steps of the Bruker RAW reader, open to its tests.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

namespace morvex {

// Point counts outside this range are never taken for the intensity block.
constexpr std::uint32_t bruker_min_count = 10;
constexpr std::uint32_t bruker_max_count = 5'000'000;

// A 32-bit point count at `count_offset` whose block of `count` singles ends the input.
struct BlockCandidate {
  std::size_t count_offset;
  std::uint32_t count;
  std::size_t data_offset;
};

struct StartStep {
  double start;
  double step;
};

// Where a range's points lie: `count` points `stride` bytes apart from `data_offset`, the
// intensity a single at the start of each, and x = k * step + start.
struct RangeLayout {
  double start;
  double step;
  std::uint64_t count;
  std::uint64_t data_offset;
  std::uint64_t stride;
};

// The first range of a "RAW ", "RAW2", "RAW1.01" or "RAW4.00" file as its header states it,
// when every field it takes lies in the input; nothing for other versions. Where the points
// lie is not checked against the input's end.
std::optional<RangeLayout> read_range_header(std::string_view input);

// True when every point of the range, all `stride` bytes of it, lies inside the input.
bool range_fits(std::string_view input, const RangeLayout& range);

// A range the reader takes from the header: at least one point, all inside the input, on a
// finite axis with a step other than zero.
bool is_trusted_range(std::string_view input, const RangeLayout& range);

// A scan an instrument could have written: 1 to 5,000,000 points of 4 to 64 bytes (a multiple
// of 4), a finite start from -180 to 360 and a step with 0 < |step| <= 10.
bool is_plausible_scan(const RangeLayout& range);

// The first range when the header describes one the reader trusts.
std::optional<RangeLayout> read_known_header(std::string_view input);

// The block with the largest count; among equal counts the lowest offset whose start/step
// pair (the two doubles right before the count) is valid, else the lowest offset.
std::optional<BlockCandidate> find_data_block(std::string_view input);

// The pair right before the count, or else the first valid pair in the 64 bytes before it.
std::optional<StartStep> find_start_step(std::string_view input, std::size_t count_offset,
                                         std::uint32_t count);

// A scan of `count` points inside -180..360 with a step between 1e-6 and 10.
bool is_valid_start_step(StartStep pair, std::uint32_t count);

}  // namespace morvex
