// Bruker RAW header structures of the four versions we know, read by the fields they hold.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

namespace morvex {

// Where a range's points lie: `count` points `stride` bytes apart from `data_offset`, the
// intensity a single at the start of each, and x = k * step + start.
struct RangeLayout {
  double start;
  double step;
  std::uint64_t count;
  std::uint64_t data_offset;
  std::uint64_t stride;
};

enum class BrukerVersion { v1, v2, v3, v4 };  // "RAW ", "RAW2", "RAW1.01", "RAW4.00"

// The version a file's signature names, when it is one we know.
std::optional<BrukerVersion> bruker_version(std::string_view input);

// Where the first range header starts: fixed for versions 1 to 3, after the metadata
// segments for version 4 (nothing when that chain leaves the input).
std::optional<std::uint64_t> first_range_offset(std::string_view input, BrukerVersion version);

// The range whose header starts at `at`, when every field it takes lies in the input.
std::optional<RangeLayout> read_range_at(std::string_view input, BrukerVersion version,
                                         std::uint64_t at);

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

}  // namespace morvex
