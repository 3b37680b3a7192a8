// The one table of formats: what each is called, the names it goes by, how its content shows
// it and which reader reads it. Both modules and the converter decide from it.
#pragma once

#include <span>
#include <string_view>

#include "formats/readers.hpp"

namespace morvex {

using Reader = ReadStatus (*)(Input&, ScanSink&);
using ContentRule = bool (*)(std::string_view head);

// The first pattern's reader for a raw file is chosen by a zero byte among its first bytes.
enum class RawSniff { none, text, binary };

struct FormatRow {
  std::string_view name;   // Measurement.format
  std::string_view title;  // what a file of the format is ("an XRDML document")
  std::span<const std::string_view> extensions;  // lower case, without the dot
  ContentRule content;  // none for the column formats, which column_content tells apart
  Reader reader;
  // The extensions the first-pattern load reads with this reader, chosen by name alone.
  std::span<const std::string_view> pattern_extensions;
  RawSniff pattern_sniff = RawSniff::none;
};

// In the order the content rules are tried: signatures first, columns last.
std::span<const FormatRow> format_table();

const FormatRow* find_format(std::string_view name);

// Whether `head` shows the format by its content rule.
bool shows_format(const FormatRow& format, std::string_view head);

}  // namespace morvex
