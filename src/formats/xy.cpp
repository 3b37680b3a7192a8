// Column files: xy and xye (white-space columns) and csv (comma or white-space columns).
#include "formats/column_header.hpp"
#include "formats/columns.hpp"
#include "formats/readers.hpp"

namespace morvex {
namespace {

// Header lines count for every scan only: the first pattern is the rows alone, as it always
// was.
ReadStatus read_one(Input& input, ScanSink& sink, Separators separators) {
  std::optional<ColumnHeader> header;
  const bool every_scan = sink.scope() == Scope::every_scan;
  if (every_scan) {
    const std::string_view head = input.peek(column_header_peek);
    header = read_column_header(head, head.size() < column_header_peek,
                                separators == Separators::white_space_and_comma);
  }
  auto scan = read_columns(input, separators, row_columns,
                           every_scan ? RowRules::checked : RowRules::as_always);
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

}  // namespace

ReadStatus read_xy(Input& input, ScanSink& sink) {
  return read_one(input, sink, Separators::white_space);
}

ReadStatus read_csv(Input& input, ScanSink& sink) {
  return read_one(input, sink, Separators::white_space_and_comma);
}

}  // namespace morvex
