// Column files: xy and xye (white-space columns) and csv (comma or white-space columns).
#include "formats/columns.hpp"
#include "formats/readers.hpp"

namespace morvex {

LoadResult read_xy(Input& input) {
  return read_columns(input, Separators::white_space, row_columns);
}

LoadResult read_csv(Input& input) {
  return read_columns(input, Separators::white_space_and_comma, row_columns);
}

}  // namespace morvex
