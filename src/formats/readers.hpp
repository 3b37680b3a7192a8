// The format readers: each turns a byte source into a Pattern or a LoadError. A reader
// reads from the source's current position; a file source is closed by its owner once the
// reader has returned.
#pragma once

#include "core/byte_source.hpp"
#include "core/load_error.hpp"

namespace morvex {

LoadResult read_xy(ByteSource& source);
LoadResult read_csv(ByteSource& source);
LoadResult read_gsas_raw(ByteSource& source);
LoadResult read_bruker_raw(ByteSource& source);
LoadResult read_xrdml(ByteSource& source);
LoadResult read_rasx(ByteSource& source);

}  // namespace morvex
