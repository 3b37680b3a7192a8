// Bruker BRML archives: a ZIP archive whose Experiment0/RawData*.xml entries each hold one
// range, its data rows described by the entry's own data views.
#include <algorithm>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "archive/zip_archive.hpp"
#include "core/head.hpp"
#include "core/input.hpp"
#include "formats/brml_document.hpp"
#include "formats/readers.hpp"

namespace morvex {
namespace {

constexpr std::string_view raw_data_prefix = "Experiment0/RawData";
constexpr std::string_view raw_data_suffix = ".xml";
constexpr std::string_view raw_data_pattern = "Experiment0/RawData*.xml";

// The number between prefix and suffix, which orders the ranges; none for other names.
std::optional<std::uint64_t> range_number(std::string_view name) {
  if (!name.starts_with(raw_data_prefix) || !name.ends_with(raw_data_suffix)) return std::nullopt;
  const std::string_view digits = name.substr(
      raw_data_prefix.size(), name.size() - raw_data_prefix.size() - raw_data_suffix.size());
  if (digits.empty() || digits.size() > 9) return std::nullopt;
  std::uint64_t number = 0;
  for (const char c : digits) {
    if (c < '0' || c > '9') return std::nullopt;
    number = number * 10 + static_cast<std::uint64_t>(c - '0');
  }
  return number;
}

// The range entries in the order of their numbers.
std::vector<std::pair<std::uint64_t, ZipArchive::Entry>> range_entries(const ZipArchive& archive) {
  std::vector<std::pair<std::uint64_t, ZipArchive::Entry>> entries;
  for (const ZipArchive::Entry& entry : archive.entries()) {
    if (const auto number = range_number(entry.name)) entries.emplace_back(*number, entry);
  }
  std::ranges::sort(entries, {}, [](const auto& numbered) {
    return std::pair(numbered.first, numbered.second.index);
  });
  return entries;
}

// Through the archive's checked entries, as every archive reader: stored or DEFLATE only, and
// the CRC-32 checked at the end.
Result<Scan, LoadError> read_range(ZipArchive& archive, const ZipArchive::Entry& range,
                                   MetaTable& measurement) {
  auto entry = archive.open_entry(range.index);
  if (!entry) return fail(std::move(entry).error());
  Input input(*entry, entry->stated_size());
  return read_brml_range(input, range.name, measurement);
}

}  // namespace

ReadStatus read_brml(Input& input, ScanSink& sink) {
  auto archive = ZipArchive::read(input);
  if (!archive) return fail(std::move(archive).error());
  const auto entries = range_entries(*archive);
  if (entries.empty()) return fail(EntryNotFound{std::string(raw_data_pattern)});
  bool first = true;
  for (const auto& [number, range] : entries) {
    // The instrument is described in every range; the first one speaks for the measurement.
    MetaTable ignored;
    auto scan = read_range(*archive, range, first ? sink.meta() : ignored);
    if (!scan) return fail(std::move(scan).error());
    first = false;
    if (!sink.take(std::move(scan).value())) break;
  }
  return succeeded;
}

// A ZIP archive whose first entries show the experiment folder, which a RASX archive never has.
bool brml_content(std::string_view head) {
  return head.starts_with("PK\x03\x04") && head.find("Experiment0/") != std::string_view::npos;
}

}  // namespace morvex
