// Column files: xy and xye (white-space columns) and csv (comma or white-space columns).
#include "core/tokens.hpp"
#include "formats/columns.hpp"
#include "formats/readers.hpp"

namespace morvex {

LoadResult read_xy(Input& input) {
  return read_columns(input, split_white_space, row_columns);
}

LoadResult read_csv(Input& input) {
  return read_columns(input, split_fields, row_columns);
}

}  // namespace morvex
