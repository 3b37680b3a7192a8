// One range of a BRML archive: a RawData*.xml document, read by its own description of its
// data rows.
#pragma once

#include <string_view>

#include "core/input.hpp"
#include "core/load_error.hpp"
#include "core/scan.hpp"

namespace morvex {

// The range's scan; the instrument (tube, wavelengths, sample) goes to `measurement`.
// `entry` names the document in messages.
Result<Scan, LoadError> read_brml_range(Input& input, std::string_view entry,
                                        MetaTable& measurement);

}  // namespace morvex
