// Bruker BRML archives: a ZIP archive whose Experiment0/RawData*.xml entries each hold one
// range, its data rows described by the entry's own data views.
#include <algorithm>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "core/head.hpp"
#include "core/input.hpp"
#include "formats/brml_document.hpp"
#include "formats/readers.hpp"
#include "formats/zip_archive.hpp"

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
std::vector<std::pair<std::uint64_t, zip_uint64_t>> range_entries(zip_t* archive) {
  std::vector<std::pair<std::uint64_t, zip_uint64_t>> entries;
  const zip_int64_t count = zip_get_num_entries(archive, 0);
  for (zip_int64_t i = 0; i < count; ++i) {
    const auto index = static_cast<zip_uint64_t>(i);
    const char* name = zip_get_name(archive, index, 0);
    if (!name) continue;
    if (const auto number = range_number(name)) entries.emplace_back(*number, index);
  }
  std::ranges::sort(entries);
  return entries;
}

Result<Scan, LoadError> read_range(zip_t* archive, zip_uint64_t index, MetaTable& measurement) {
  zip_file_t* opened = zip_fopen_index(archive, index, 0);
  if (!opened) return fail(to_zip_error(zip_get_error(archive)));
  const EntryHandle entry(opened);
  EntrySource source(entry.get());
  Input input(source);
  const char* name = zip_get_name(archive, index, 0);
  return read_brml_range(input, name ? name : "", measurement);
}

}  // namespace

ReadStatus read_brml(Input& input, ScanSink& sink) {
  ByteBuffer storage;
  auto archive = open_input_archive(input, storage);
  if (!archive) return fail(std::move(archive).error());
  const auto entries = range_entries(archive->get());
  if (entries.empty()) return fail(EntryNotFound{std::string(raw_data_pattern)});
  bool first = true;
  for (const auto& [number, index] : entries) {
    // The instrument is described in every range; the first one speaks for the measurement.
    MetaTable ignored;
    auto scan = read_range(archive->get(), index, first ? sink.meta() : ignored);
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
