// The search steps of the Bruker RAW reader, for versions whose header it does not know,
// open to its tests.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

#include "formats/bruker_header.hpp"

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

// The block with the largest count; among equal counts the lowest offset whose start/step
// pair (the two doubles right before the count) is valid, else the lowest offset.
std::optional<BlockCandidate> find_data_block(std::string_view input);

// The pair right before the count, or else the first valid pair in the 64 bytes before it.
std::optional<StartStep> find_start_step(std::string_view input, std::size_t count_offset,
                                         std::uint32_t count);

// A scan of `count` points inside -180..360 with a step between 1e-6 and 10.
bool is_valid_start_step(StartStep pair, std::uint32_t count);

}  // namespace morvex
