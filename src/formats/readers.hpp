// The format readers: each turns the input into a Pattern or a LoadError. A reader reads
// from the input's current position; the source under it is closed by its owner once the
// reader has returned.
#pragma once

#include "core/input.hpp"
#include "core/load_error.hpp"

namespace morvex {

LoadResult read_xy(Input& input);
LoadResult read_csv(Input& input);
LoadResult read_gsas_raw(Input& input);
LoadResult read_bruker_raw(Input& input);
LoadResult read_xrdml(Input& input);
LoadResult read_rasx(Input& input);

}  // namespace morvex
