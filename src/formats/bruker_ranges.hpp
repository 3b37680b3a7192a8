// Every range of a Bruker RAW file of a version we know, with what its headers state.
#pragma once

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

// The ranges in file order, the file header's fields put into `file_meta`. The caller has
// checked that the first range is one it trusts. A later range whose header or points the
// input does not hold fails the whole read, as does one that departs from the layout.
Result<std::vector<BrukerRange>, LoadError> read_every_range(std::string_view input,
                                                             BrukerVersion version,
                                                             MetaTable& file_meta);

}  // namespace morvex
