// The keys of morvexio's metadata, declared once: docs/metadata.md's key tables and the
// converter's dataset columns are checked against (or made from) this table, and a test
// refuses a key a reader sets that it does not hold.
#pragma once

#include <array>
#include <cstddef>
#include <string_view>

namespace morvex {

// Where a key stands. A scan may restate a measurement key with its own value (a Bruker
// range's wavelength, a later RAS scan's sample); a key of both levels means each level's own.
enum class KeyLevel { measurement, scan, both };

// The Python type of the value: str, float, a 1-D float64 array, a dict.
enum class KeyType { text, number, array, table };

struct MetaKey {
  std::string_view name;
  KeyLevel level;
  KeyType type;
  std::string_view unit;  // or the form of a text ("ISO 8601"); empty where there is none
  std::string_view meaning;
  // The formats whose own key it is, separated by blanks; empty for a key of every format.
  std::string_view formats = {};
};

// In the order of the docs' tables; the converter's columns follow it, so a new key goes at
// the end of its group (common keys of a level, then format-specific ones).
inline constexpr std::array metadata_keys = {
    MetaKey{"sample_name", KeyLevel::measurement, KeyType::text, "",
            "the sample's name as the operator typed it"},
    MetaKey{"sample_id", KeyLevel::measurement, KeyType::text, "",
            "the sample's identifier, where the file keeps one apart from the name"},
    MetaKey{"anode", KeyLevel::measurement, KeyType::text, "",
            "the tube's anode material, as the file names it (\"Cu\", \"Co\")"},
    MetaKey{"wavelength_kalpha1", KeyLevel::measurement, KeyType::number, "Å", "Kα1 wavelength"},
    MetaKey{"wavelength_kalpha2", KeyLevel::measurement, KeyType::number, "Å", "Kα2 wavelength"},
    MetaKey{"wavelength_kbeta", KeyLevel::measurement, KeyType::number, "Å", "Kβ wavelength"},
    MetaKey{"kalpha2_ratio", KeyLevel::measurement, KeyType::number, "",
            "intensity ratio Kα2 / Kα1"},
    MetaKey{"wavelength", KeyLevel::measurement, KeyType::number, "Å",
            "the one wavelength of a file that names no line (synchrotron, pyFAI, powder CIF)"},
    MetaKey{"voltage_kv", KeyLevel::measurement, KeyType::number, "kV", "tube voltage"},
    MetaKey{"current_ma", KeyLevel::measurement, KeyType::number, "mA", "tube current"},
    MetaKey{"started", KeyLevel::both, KeyType::text, "ISO 8601",
            "when the measurement (its first scan) started; in `Scan.meta`, when this scan "
            "started"},
    MetaKey{"header", KeyLevel::both, KeyType::table, "",
            "everything else the header holds, under the file's own names: the file's in "
            "`Measurement.meta`, the scan's own in `Scan.meta`"},
    MetaKey{"scan_axis", KeyLevel::scan, KeyType::text, "",
            "the file's name for the scan's axis (\"2Theta\", \"Omega-2Theta\", \"Gonio\", "
            "\"TOF\")"},
    MetaKey{"x_axis", KeyLevel::scan, KeyType::text, "",
            "the kind of axis whose positions are `x`, one spelling per kind (above)"},
    MetaKey{"x_unit", KeyLevel::scan, KeyType::text, "",
            "unit of `x`: \"deg\" for angles, \"us\" for time of flight, or as the file spells "
            "it (\"q_nm^-1\")"},
    MetaKey{"start", KeyLevel::scan, KeyType::number, "`x_unit`",
            "first position, where the file states an evenly stepped axis"},
    MetaKey{"step", KeyLevel::scan, KeyType::number, "`x_unit`",
            "the step of an evenly stepped axis"},
    MetaKey{"time_per_step_s", KeyLevel::scan, KeyType::number, "s",
            "counting time of every point"},
    MetaKey{"counting_time", KeyLevel::scan, KeyType::array, "s",
            "counting time per point, where the file gives one per point"},
    MetaKey{"attenuation", KeyLevel::scan, KeyType::array, "",
            "attenuation (or absorber) factor per point"},
    MetaKey{"status", KeyLevel::scan, KeyType::text, "",
            "the scan's status where the file records one (XRDML: \"Completed\", \"Aborted\")"},
    MetaKey{"axes", KeyLevel::scan, KeyType::table, "",
            "the other axes: a fixed position as a float, a moving one as an array per point"},
    MetaKey{"bank", KeyLevel::scan, KeyType::text, "",
            "the bank number, as the BANK line spells it", "gsas"},
    MetaKey{"entry", KeyLevel::scan, KeyType::text, "", "the archive entry of the profile", "rasx"},
    MetaKey{"mode", KeyLevel::scan, KeyType::text, "",
            "the scan's mode as the file names it (\"Continuous\", \"Pre-set time\")",
            "rasx xrdml"},
    MetaKey{"block", KeyLevel::scan, KeyType::text, "", "the data block's name", "pdcif"},
    MetaKey{"y_source", KeyLevel::scan, KeyType::text, "",
            "the loop item the intensities come from (`_pd_meas_counts_total`, ...)", "pdcif"},
    MetaKey{"scan_number", KeyLevel::scan, KeyType::text, "",
            "the scan's number as its `#S` line spells it (numbers may repeat in a file)", "spec"},
    MetaKey{"command", KeyLevel::scan, KeyType::text, "",
            "the command that ran the scan (`ascan th 19.0 19.2 60 1`)", "spec"},
    MetaKey{"columns", KeyLevel::scan, KeyType::table, "",
            "every column of the scan as an array, by its `#L` label (a repeated label as "
            "`I0_2`)",
            "spec"},
    MetaKey{"scans_without_rows", KeyLevel::measurement, KeyType::number, "",
            "the scans the file opens that hold no rows (aborted, or data written elsewhere)",
            "spec"},
};

// A name declared twice would give the converter two columns of one name.
constexpr bool metadata_key_names_unique() {
  for (std::size_t i = 0; i < metadata_keys.size(); ++i) {
    for (std::size_t k = 0; k < i; ++k) {
      if (metadata_keys[i].name == metadata_keys[k].name) return false;
    }
  }
  return true;
}
static_assert(metadata_key_names_unique());

// The words morvexio.keys() gives: "measurement", "scan", "both"; "str", "float", "array",
// "dict".
constexpr std::string_view level_word(KeyLevel level) {
  switch (level) {
    case KeyLevel::measurement:
      return "measurement";
    case KeyLevel::scan:
      return "scan";
    case KeyLevel::both:
      return "both";
  }
  return "";
}

constexpr std::string_view type_word(KeyType type) {
  switch (type) {
    case KeyType::text:
      return "str";
    case KeyType::number:
      return "float";
    case KeyType::array:
      return "array";
    case KeyType::table:
      return "dict";
  }
  return "";
}

}  // namespace morvex
