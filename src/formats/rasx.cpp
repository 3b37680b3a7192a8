// Rigaku RASX archives: a ZIP archive whose profile entry is a text table of position and
// intensity.
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/head.hpp"
#include "core/input.hpp"
#include "core/tokens.hpp"
#include "formats/columns.hpp"
#include "formats/inflate.hpp"
#include "formats/rasx_conditions.hpp"
#include "formats/readers.hpp"
#include "formats/zip_archive.hpp"

namespace morvex {
namespace {

// Rigaku writes the first profile of the first data set under this name.
constexpr std::string_view preferred_profile = "Data0/Profile0.txt";
// What the fallback rule looks for, and the name reported when nothing fits.
constexpr std::string_view profile_marker = "Profile";
constexpr std::string_view profile_suffix = ".txt";
constexpr std::string_view profile_pattern = "Profile*.txt";

// An open profile entry. A DEFLATE entry is opened for its compressed bytes, which this reader
// inflates and checks itself, faster than libzip's zlib path; a stored one is read through
// libzip as it is.
struct ProfileEntry {
  EntryHandle handle;
  std::optional<std::uint32_t> inflate_with_crc;
  std::optional<std::uint64_t> size;  // as the archive states it: a hint, never trusted
};

// Opens an entry for reading, refusing what the profile may not be: encrypted entries, and
// methods other than stored and DEFLATE even where libzip could decompress them.
Result<ProfileEntry, ZipError> open_entry(zip_t* archive, zip_uint64_t index) {
  zip_stat_t info;
  zip_stat_init(&info);
  if (zip_stat_index(archive, index, 0, &info) != 0)
    return fail(to_zip_error(zip_get_error(archive)));
  if ((info.valid & ZIP_STAT_ENCRYPTION_METHOD) != 0 && info.encryption_method != ZIP_EM_NONE) {
    return fail(zip_error_of(ZIP_ER_ENCRNOTSUPP));
  }
  if ((info.valid & ZIP_STAT_COMP_METHOD) == 0 ||
      (info.comp_method != ZIP_CM_STORE && info.comp_method != ZIP_CM_DEFLATE)) {
    return fail(zip_error_of(ZIP_ER_COMPNOTSUPP));
  }
  std::optional<std::uint32_t> inflate_with_crc;
  if (info.comp_method == ZIP_CM_DEFLATE && (info.valid & ZIP_STAT_CRC) != 0) {
    inflate_with_crc = info.crc;
  }
  zip_file_t* entry = zip_fopen_index(archive, index, inflate_with_crc ? ZIP_FL_COMPRESSED : 0);
  if (!entry) return fail(to_zip_error(zip_get_error(archive)));
  // The stated size sizes the columns in advance, so it is held to what the stored bytes can
  // give: DEFLATE makes at most 1032 bytes of one.
  std::optional<std::uint64_t> size;
  constexpr std::uint64_t deflate_limit = 1032;
  if ((info.valid & ZIP_STAT_SIZE) != 0 && (info.valid & ZIP_STAT_COMP_SIZE) != 0 &&
      info.size / deflate_limit <= info.comp_size) {
    size = info.size;
  }
  return ProfileEntry{EntryHandle(entry), inflate_with_crc, size};
}

bool fits_profile_pattern(std::string_view name) {
  return name.find(profile_marker) != std::string_view::npos && name.ends_with(profile_suffix);
}

// The entry under the exact preferred name wherever it stands, else the first fitting name
// in directory order. Only entries that open count; a name that could not be chosen is not
// opened at all, and the chosen entry is opened once.
std::optional<ProfileEntry> open_profile(zip_t* archive) {
  const zip_int64_t count = zip_get_num_entries(archive, 0);
  std::optional<ProfileEntry> fallback;
  for (zip_int64_t i = 0; i < count; ++i) {
    const auto index = static_cast<zip_uint64_t>(i);
    const char* raw_name = zip_get_name(archive, index, 0);
    if (!raw_name) continue;
    const std::string_view name(raw_name);
    const bool preferred = name == preferred_profile;
    if (!preferred && (fallback || !fits_profile_pattern(name))) continue;
    auto entry = open_entry(archive, index);
    if (!entry) {
      zip_error_clear(archive);
      continue;
    }
    if (preferred) return std::move(entry).value();
    fallback = std::move(entry).value();
  }
  return fallback;
}

// The entry's data as a byte source, inflated and checked here where it is DEFLATE.
template <class Use>
auto with_entry_source(const ProfileEntry& entry, Use&& use) {
  EntrySource source(entry.handle.get());
  if (!entry.inflate_with_crc) return use(static_cast<ByteSource&>(source));
  InflatingSource inflated(source, *entry.inflate_with_crc, inflate_errors());
  return use(static_cast<ByteSource&>(inflated));
}

// No comment marker: a header line drops out because its first two tokens do not both parse.
// A third column is Rigaku's attenuator coefficient, not an uncertainty: the one pattern
// never reads it, every scan keeps it as its attenuation.
ScanResult read_profile(const ProfileEntry& entry, std::size_t columns) {
  return with_entry_source(entry, [&](ByteSource& source) {
    Input input(source, entry.size);
    return read_columns(input, Separators::white_space, columns);
  });
}

// The conditions of the data set a profile belongs to, when the archive holds them.
Result<std::optional<RasxConditions>, LoadError> read_conditions(zip_t* archive,
                                                                 std::string_view profile) {
  const auto name = conditions_entry_name(profile);
  if (!name) return std::optional<RasxConditions>();
  const zip_int64_t index = zip_name_locate(archive, name->c_str(), 0);
  if (index < 0) return std::optional<RasxConditions>();
  auto entry = open_entry(archive, static_cast<zip_uint64_t>(index));
  if (!entry) return fail(std::move(entry).error());
  auto conditions = with_entry_source(*entry, [&](ByteSource& source) {
    Input input(source, entry->size);
    return read_rasx_conditions(input);
  });
  if (!conditions) return fail(std::move(conditions).error());
  return std::optional<RasxConditions>(std::move(conditions).value());
}

// The first data set's conditions stand for the measurement.
void add_missing(MetaTable& target, const MetaTable& source) {
  for (const MetaEntry& entry : source.entries()) {
    if (!target.find(entry.key)) target.set(entry.key, entry.value);
  }
}

// Every profile in directory order; an entry that cannot be read fails the load.
ReadStatus read_every_profile(zip_t* archive, ScanSink& sink) {
  const zip_int64_t count = zip_get_num_entries(archive, 0);
  bool found = false;
  for (zip_int64_t i = 0; i < count; ++i) {
    const auto index = static_cast<zip_uint64_t>(i);
    const char* raw_name = zip_get_name(archive, index, 0);
    if (!raw_name || !fits_profile_pattern(raw_name)) continue;
    found = true;
    auto entry = open_entry(archive, index);
    if (!entry) return fail(std::move(entry).error());
    auto scan = read_profile(*entry, row_columns);
    if (!scan) return fail(std::move(scan).error());
    auto conditions = read_conditions(archive, raw_name);
    if (!conditions) return fail(std::move(conditions).error());
    if (conditions.value()) {
      add_missing(sink.meta(), conditions.value()->measurement);
      scan->meta = std::move(conditions.value()->scan);
    }
    scan->meta.set("entry", std::string(raw_name));
    if (scan->e) {
      scan->meta.set("attenuation", std::move(*scan->e));
      scan->e.reset();
    }
    if (!sink.take(std::move(scan).value())) return succeeded;
  }
  if (!found) return fail(EntryNotFound{std::string(profile_pattern)});
  return succeeded;
}

}  // namespace

ReadStatus read_rasx(Input& input, ScanSink& sink) {
  ByteBuffer storage;
  auto archive = open_input_archive(input, storage);
  if (!archive) return fail(std::move(archive).error());
  if (sink.scope() == Scope::every_scan) return read_every_profile(archive->get(), sink);
  auto entry = open_profile(archive->get());
  if (!entry) return fail(EntryNotFound{std::string(profile_pattern)});
  auto scan = read_profile(*entry, 2);
  if (!scan) return fail(std::move(scan).error());
  sink.take(std::move(scan).value());
  return succeeded;
}

// Any other ZIP archive: the RASX reader says what is wrong with one that holds no profile.
bool rasx_content(std::string_view head) {
  return head.starts_with("PK\x03\x04");
}

}  // namespace morvex
