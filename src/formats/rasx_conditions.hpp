// The measurement conditions a RASX archive keeps beside each data set.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "core/input.hpp"
#include "core/load_error.hpp"
#include "core/metadata.hpp"
#include "core/result.hpp"

namespace morvex {

struct RasxConditions {
  MetaTable measurement;  // sample, tube and wavelengths
  MetaTable scan;         // axis, start, step, time and the positions of the other axes
};

// The conditions entry of the data set a profile entry belongs to, in Rigaku's spelling:
// "Data0/Profile0.txt" -> "Data0/MesurementConditions0.xml". Nothing for other names.
std::optional<std::string> conditions_entry_name(std::string_view profile);

// The profile's own conditions entry, which each profile of a map has beside it:
// "Data0/Profile7.txt" -> "Data0/MesurementConditions7.xml". Nothing for other names.
std::optional<std::string> own_conditions_entry_name(std::string_view profile);

// Reads one MesurementConditions document.
Result<RasxConditions, LoadError> read_rasx_conditions(Input& input);

}  // namespace morvex
