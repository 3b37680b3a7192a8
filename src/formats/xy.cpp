// Column files: xy and xye (white-space columns) and csv (comma or white-space columns).
#include "formats/column_header.hpp"
#include "formats/columns.hpp"
#include "formats/readers.hpp"

namespace morvex {
namespace {

// The header lines above the rows, and the rows by the rules that refuse what could only be
// misread.
ReadStatus read_with_header(Input& input, ScanSink& sink, Separators separators) {
  const std::string_view head = input.peek(column_header_peek);
  const std::optional<ColumnHeader> header = read_column_header(
      head, head.size() < column_header_peek, separators == Separators::white_space_and_comma);
  auto scan = read_columns(input, separators, row_columns, RowRules::checked);
  if (!scan) return fail(std::move(scan).error());
  if (header) {
    if (const auto stated = header->stated_points) {
      const auto rows = static_cast<double>(scan->x.size());
      if (*stated > rows) {
        return parse_failure("Column file has fewer points than its header states (cut file?)");
      }
      if (*stated < rows) {
        return parse_failure("Column file has more points than its header states");
      }
    }
    // The documented keys first, the file's own fields after them.
    for (const bool own : {false, true}) {
      for (const MetaEntry& entry : header->measurement.entries()) {
        if ((entry.key == "header") == own) sink.meta().set(entry.key, entry.value);
      }
    }
    scan->meta = std::move(header->scan);
  }
  sink.take(std::move(scan).value());
  return succeeded;
}

// The first pattern is the rows alone, read as they always were.
ReadStatus read_rows(Input& input, ScanSink& sink, Separators separators) {
  auto scan = read_columns(input, separators, row_columns, RowRules::as_always);
  if (!scan) return fail(std::move(scan).error());
  sink.take(std::move(scan).value());
  return succeeded;
}

}  // namespace

ReadStatus read_xy(Input& input, ScanSink& sink) {
  return read_with_header(input, sink, Separators::white_space);
}

ReadStatus read_csv(Input& input, ScanSink& sink) {
  return read_with_header(input, sink, Separators::white_space_and_comma);
}

ReadStatus read_xy_pattern(Input& input, ScanSink& sink) {
  return read_rows(input, sink, Separators::white_space);
}

ReadStatus read_csv_pattern(Input& input, ScanSink& sink) {
  return read_rows(input, sink, Separators::white_space_and_comma);
}

}  // namespace morvex
