// Every range of a Bruker RAW file of a version we know, with what its headers state.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

#include "core/load_error.hpp"
#include "core/metadata.hpp"
#include "core/result.hpp"
#include "formats/bruker_header.hpp"

namespace morvex {

struct BrukerRange {
  RangeLayout layout;  // every point inside the input
  MetaTable meta;      // the scan's metadata
};

// The ranges of a file in order, read one at a time so that a caller that wants the first
// reads no further. The caller has checked that the first range is one it trusts. A later
// range whose header or points the input does not hold fails there, as does one that departs
// from the layout.
class BrukerRanges {
 public:
  // Puts the file header's fields into `file_meta`, which must outlive the walk.
  BrukerRanges(std::string_view input, BrukerVersion version, MetaTable& file_meta);

  // The next range; nothing after the last.
  Result<std::optional<BrukerRange>, LoadError> next();

  // Numbers every range read so far states alike hold for the measurement.
  void finish();

 private:
  std::string_view input_;
  BrukerVersion version_;
  MetaTable& file_meta_;
  std::optional<std::uint64_t> at_;       // the next range header; nothing once none follows
  std::optional<std::uint64_t> counted_;  // ranges the file header counts, where it does
  std::uint64_t read_ = 0;
  // Per range, the numbers the measurement may take when all ranges agree.
  std::vector<MetaTable> common_;
};

}  // namespace morvex
