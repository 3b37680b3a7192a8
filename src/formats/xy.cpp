// Column files: xy and xye (white-space columns) and csv (comma or white-space columns).
#include "formats/columns.hpp"
#include "formats/readers.hpp"

namespace morvex {
namespace {

ReadStatus read_one(Input& input, ScanSink& sink, Separators separators) {
  auto scan = read_columns(input, separators, row_columns);
  if (!scan) return fail(std::move(scan).error());
  sink.take(std::move(scan).value());
  return succeeded;
}

}  // namespace

ReadStatus read_xy(Input& input, ScanSink& sink) {
  return read_one(input, sink, Separators::white_space);
}

ReadStatus read_csv(Input& input, ScanSink& sink) {
  return read_one(input, sink, Separators::white_space_and_comma);
}

}  // namespace morvex
