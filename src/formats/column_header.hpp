// The header lines some programs write above their columns: pyFAI's `# key: value`
// comments, a DIFFRAC.EVA export's quoted first line, a PANalytical CSV export's
// `key,value` conditions. Read from a peek at the input, apart from the row loop.
#pragma once

#include <optional>
#include <string_view>

#include "core/metadata.hpp"

namespace morvex {

struct ColumnHeader {
  MetaTable measurement;                // measurement-level keys and the header fields
  MetaTable scan;                       // scan-level keys
  std::optional<double> stated_points;  // where the header states how many rows follow
};

// How much of a column file its header lines may fill.
constexpr std::size_t column_header_peek = 16 * 1024;

// The header lines of `head`, the input's first bytes, up to its first row of numbers.
// `whole` says that `head` is the whole input, so that its last line is complete.
ColumnHeader read_column_header(std::string_view head, bool whole, bool comma_separates);

}  // namespace morvex
