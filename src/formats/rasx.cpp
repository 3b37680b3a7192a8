// Rigaku RASX archives: a ZIP archive whose profile entry is a text table of position and
// intensity.
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "archive/zip_archive.hpp"
#include "core/head.hpp"
#include "core/input.hpp"
#include "core/tokens.hpp"
#include "core/worker_team.hpp"
#include "formats/columns.hpp"
#include "formats/rasx_conditions.hpp"
#include "formats/readers.hpp"

namespace morvex {
namespace {

// Rigaku writes the first profile of the first data set under this name.
constexpr std::string_view preferred_profile = "Data0/Profile0.txt";
// What the fallback rule looks for, and the name reported when nothing fits.
constexpr std::string_view profile_marker = "Profile";
constexpr std::string_view profile_suffix = ".txt";
constexpr std::string_view profile_pattern = "Profile*.txt";

bool fits_profile_pattern(std::string_view name) {
  return name.find(profile_marker) != std::string_view::npos && name.ends_with(profile_suffix);
}

// The entry under the exact preferred name wherever it stands, else the first fitting name
// in directory order. Only entries that open count (an encrypted one or one of another method
// does not); a name that could not be chosen is not opened at all, and the chosen entry is
// opened once.
std::optional<ZipEntry> open_profile(ZipArchive& archive) {
  std::optional<ZipEntry> fallback;
  for (const auto& [index, name] : archive.entries()) {
    const bool preferred = name == preferred_profile;
    if (!preferred && (fallback || !fits_profile_pattern(name))) continue;
    auto entry = archive.open_entry(index);
    if (!entry) continue;
    if (preferred) return std::move(entry).value();
    fallback = std::move(entry).value();
  }
  return fallback;
}

// No comment marker: a header line drops out because its first two tokens do not both parse.
// A third column is Rigaku's attenuator coefficient, not an uncertainty: the one pattern
// never reads it, every scan keeps it as its attenuation.
ScanResult read_profile(ZipEntry& entry, std::size_t columns) {
  Input input(entry, entry.stated_size());
  return read_columns(input, Separators::white_space, columns);
}

// The profile's conditions, when the archive holds them: its own (each profile of a map has
// them, with its own axis positions), else those of its data set.
Result<std::optional<RasxConditions>, LoadError> read_conditions(ZipArchive& archive,
                                                                 std::string_view profile) {
  std::optional<std::uint64_t> index;
  for (const auto& name : {own_conditions_entry_name(profile), conditions_entry_name(profile)}) {
    if (name && !index) index = archive.find(*name);
  }
  if (!index) return std::optional<RasxConditions>();
  auto entry = archive.open_entry(*index);
  if (!entry) return fail(std::move(entry).error());
  Input input(*entry, entry->stated_size());
  auto conditions = read_rasx_conditions(input);
  if (!conditions) return fail(std::move(conditions).error());
  return std::optional<RasxConditions>(std::move(conditions).value());
}

// The first data set's conditions stand for the measurement.
void add_missing(MetaTable& target, const MetaTable& source) {
  for (const MetaEntry& entry : source.entries()) {
    if (!target.find(entry.key)) target.set(entry.key, entry.value);
  }
}

struct ProfileRead {
  Scan scan;
  std::optional<RasxConditions> conditions;
};

using ProfileResult = Result<ProfileRead, LoadError>;

ProfileResult read_profile_and_conditions(ZipArchive& archive, const ZipArchive::Entry& profile) {
  auto entry = archive.open_entry(profile.index);
  if (!entry) return fail(std::move(entry).error());
  auto scan = read_profile(*entry, row_columns);
  if (!scan) return fail(std::move(scan).error());
  auto conditions = read_conditions(archive, profile.name);
  if (!conditions) return fail(std::move(conditions).error());
  return ProfileRead{std::move(scan).value(), std::move(conditions).value()};
}

// From this many profiles on (a reciprocal-space map), the profiles are read by a team.
constexpr std::size_t team_profiles = 16;
constexpr std::size_t most_members = 8;

// Every profile's result in directory order, read by a team where there are many: each
// member reads a run of them through an archive of its own, up to its first failure (no
// later result of its run is needed: the first failure in order fails the load).
Result<std::vector<std::optional<ProfileResult>>, LoadError> read_profiles(
    ZipArchive& archive, const std::vector<ZipArchive::Entry>& profiles) {
  std::vector<std::optional<ProfileResult>> results(profiles.size());
  const auto read_run = [&](ZipArchive& own, std::size_t first, std::size_t end) {
    for (std::size_t k = first; k < end; ++k) {
      results[k] = read_profile_and_conditions(own, profiles[k]);
      if (!*results[k]) return;
    }
  };
  if (profiles.size() < team_profiles) {
    read_run(archive, 0, profiles.size());
    return results;
  }
  WorkerTeam team(most_members);
  std::vector<ZipArchive> views;
  for (std::size_t k = 1; k < team.size(); ++k) {
    auto view = archive.another_view();
    if (!view) return fail(std::move(view).error());
    views.push_back(std::move(view).value());
  }
  const std::size_t members = team.size();
  team.run([&](std::size_t k) {
    read_run(k == 0 ? archive : views[k - 1], profiles.size() * k / members,
             profiles.size() * (k + 1) / members);
  });
  return results;
}

// Every profile in directory order; an entry that cannot be read fails the load.
ReadStatus read_every_profile(ZipArchive& archive, ScanSink& sink) {
  std::vector<ZipArchive::Entry> profiles;
  for (const ZipArchive::Entry& entry : archive.entries()) {
    if (fits_profile_pattern(entry.name)) profiles.push_back(entry);
  }
  if (profiles.empty()) return fail(EntryNotFound{std::string(profile_pattern)});
  auto results = read_profiles(archive, profiles);
  if (!results) return fail(std::move(results).error());
  for (std::size_t k = 0; k < profiles.size(); ++k) {
    // A run's results end at its first failure, and the first failure in order ends this.
    ProfileResult& result = results.value()[k].value();
    if (!result) return fail(std::move(result).error());
    ProfileRead& read = result.value();
    Scan& scan = read.scan;
    if (read.conditions) {
      add_missing(sink.meta(), read.conditions->measurement);
      scan.meta = std::move(read.conditions->scan);
    }
    scan.meta.set("entry", std::string(profiles[k].name));
    if (scan.e) {
      scan.meta.set("attenuation", std::move(*scan.e));
      scan.e.reset();
    }
    if (!sink.take(std::move(scan))) return succeeded;
  }
  return succeeded;
}

}  // namespace

ReadStatus read_rasx(Input& input, ScanSink& sink) {
  auto archive = ZipArchive::read(input);
  if (!archive) return fail(std::move(archive).error());
  return read_every_profile(*archive, sink);
}

// The first pattern is the preferred profile, wherever it stands in the directory.
ReadStatus read_rasx_pattern(Input& input, ScanSink& sink) {
  auto archive = ZipArchive::read(input);
  if (!archive) return fail(std::move(archive).error());
  auto entry = open_profile(*archive);
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
