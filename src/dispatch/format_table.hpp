// The one table of formats: what each is called, the names it goes by, how its content shows
// it and which reader reads it. Both modules and the converter decide from it.
#pragma once

#include <span>
#include <string_view>

#include "formats/readers.hpp"

namespace morvex {

using ContentRule = bool (*)(std::string_view head);

// A reader of either kind: one that streams the input, or one that takes it whole, as bytes.
struct FormatReader {
  using Streaming = ReadStatus (*)(Input&, ScanSink&);
  using Whole = ReadStatus (*)(std::string_view bytes, ScanSink&);
  constexpr FormatReader() = default;
  constexpr FormatReader(Streaming reader) : streaming(reader) {}
  constexpr FormatReader(Whole reader) : whole(reader) {}
  Streaming streaming = nullptr;
  Whole whole = nullptr;
};

// The first pattern's reader for a raw file is chosen by a zero byte among its first bytes.
enum class RawSniff { none, text, binary };

struct FormatRow {
  std::string_view name;   // Measurement.format
  std::string_view title;  // what a file of the format is ("an XRDML document")
  std::span<const std::string_view> extensions;  // lower case, without the dot
  ContentRule content;  // none for the column formats, which column_content tells apart
  FormatReader reader;
  // The extensions the first-pattern load reads with this reader, chosen by name alone.
  std::span<const std::string_view> pattern_extensions;
  RawSniff pattern_sniff = RawSniff::none;
  // The first pattern is the first scan `reader` gives, unless the format's first pattern has
  // a rule of its own: then this reading gives it.
  FormatReader pattern_reader = {};
};

// In the order the content rules are tried: signatures first, columns last.
std::span<const FormatRow> format_table();

// Reads the input with `reader`, from the input's read position: the whole input at once for
// a reader that takes bytes.
ReadStatus read_format(FormatReader reader, Input& input, ScanSink& sink);

// The reading of every scan, and the one that gives the first pattern.
inline FormatReader every_scan_reader(const FormatRow& format) {
  return format.reader;
}
inline FormatReader pattern_reader(const FormatRow& format) {
  return format.pattern_reader.streaming || format.pattern_reader.whole ? format.pattern_reader
                                                                        : format.reader;
}

// Whether `head` shows the format by its content rule.
bool shows_format(const FormatRow& format, std::string_view head);

}  // namespace morvex
