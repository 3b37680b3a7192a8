// RASX measurement conditions: the sample, tube, scan and axis positions of one data set, read
// from its MesurementConditions<N>.xml by the pull parser.
#include "formats/rasx_conditions.hpp"

#include <utility>
#include <vector>

#include "core/axis.hpp"
#include "core/number.hpp"
#include "core/tokens.hpp"
#include "xml/attributes.hpp"
#include "xml/pull_parser.hpp"

namespace morvex {
namespace {

constexpr std::string_view data_prefix = "Data";
constexpr std::string_view profile_prefix = "Profile";
constexpr std::string_view conditions_prefix = "MesurementConditions";  // sic

using Fields = std::vector<std::pair<std::string, std::string>>;

const std::string* field(const Fields& fields, std::string_view name) {
  for (const auto& [key, value] : fields) {
    if (key == name) return &value;
  }
  return nullptr;
}

bool all_digits(std::string_view text) {
  return !text.empty() && text.find_first_not_of("0123456789") == std::string_view::npos;
}

Failure<ParseError> failure(std::string_view what, const xml::Error& error) {
  return parse_failure("RASX measurement conditions " + std::string(what) + error.description(),
                       error.offset);
}

// Texts of the three sections that matter, and the positions of the fixed axes.
class ConditionsReader {
 public:
  explicit ConditionsReader(Input& input) : parser_(input) {}

  Result<RasxConditions, LoadError> read() {
    for (;;) {
      auto event = parser_.next();
      if (!event) return failure("parse error: ", event.error());
      switch (event->kind) {
        case xml::EventKind::start_tag:
          if (auto field = on_start(*event); !field) return fail(std::move(field).error());
          break;
        case xml::EventKind::empty_tag:
          if (auto axis = on_empty(*event); !axis) return fail(std::move(axis).error());
          break;
        case xml::EventKind::text:
          if (auto invalid = xml::check_utf8(event->bytes, event->offset)) {
            return failure("text decode error: ", *invalid);
          }
          break;
        case xml::EventKind::end_of_input:
          return finish();
        default:
          break;
      }
    }
  }

 private:
  Fields* section_around() {
    const std::string_view parent = parser_.around(0);
    if (parent == "GeneralInformation") return &general_;
    if (parent == "XrayGenerator") return &generator_;
    if (parent == "ScanInformation") return &scan_;
    return nullptr;
  }

  // An element of a section is a field: its whole text, where it has any, under its name.
  // The RAS header that SmartLab copies into the document, about half of its bytes, holds
  // nothing read here: it is passed over unparsed.
  Status<ParseError> on_start(const xml::Event& tag) {
    if (tag.name == "RASHeader" && parser_.depth() == 2) {
      auto skipped = parser_.skip_element();
      if (!skipped) return failure("parse error: ", skipped.error());
      return succeeded;
    }
    Fields* section = section_around();
    if (!section) return succeeded;
    std::string name(tag.name);
    auto text = parser_.element_text();
    if (!text) {
      const bool encoding = text.error().kind == xml::ErrorKind::encoding;
      return failure(encoding ? "text decode error: " : "parse error: ", text.error());
    }
    const std::string_view trimmed = trim_white_space(*text);
    if (!trimmed.empty()) section->emplace_back(std::move(name), trimmed);
    return succeeded;
  }

  // <Axis Name=".." Unit=".." Position=".." State=".."/>: a fixed axis with a unit and a
  // numeric position is one of the scan's other axes; the first of a name counts.
  Status<ParseError> on_empty(const xml::Event& tag) {
    if (tag.name != "Axis" || parser_.around(0) != "Axes") return succeeded;
    xml::AttributeReader attributes(tag);
    Fields values;
    for (;;) {
      auto attribute = attributes.next();
      if (!attribute) return failure("attribute error: ", attribute.error());
      if (!attribute.value()) break;
      auto value = xml::unescape_value(**attribute);
      if (!value) return failure("attribute decode error: ", value.error());
      values.emplace_back((*attribute)->name, std::move(value).value());
    }
    const std::string* name = field(values, "Name");
    const std::string* unit = field(values, "Unit");
    const std::string* position = field(values, "Position");
    const std::string* state = field(values, "State");
    if (!name || !unit || !position || !state || unit->empty() || *state != "Fixed") {
      return succeeded;
    }
    const auto number = parse_double(*position);
    if (number && !axes_.find(*name)) axes_.set(*name, *number);
    return succeeded;
  }

  void put_number(MetaTable& meta, std::string_view key, const Fields& fields,
                  std::string_view name) {
    const std::string* text = field(fields, name);
    if (!text) return;
    if (const auto number = parse_double(*text)) meta.set(key, *number);
  }

  // A value in the unit a key wants; in any other the file's own fields keep it.
  void put_in_unit(MetaTable& meta, std::string_view key, std::string_view name,
                   std::string_view unit) {
    const std::string* stated = field(generator_, std::string(name) + "Unit");
    if (stated && *stated == unit) put_number(meta, key, generator_, name);
  }

  // A step scan states its counting time per step as its speed, in seconds; a continuous
  // scan states a speed in deg/min instead, which Speed and SpeedUnit keep.
  void put_step_time(MetaTable& scan) const {
    const std::string* unit = field(scan_, "SpeedUnit");
    if (!unit || (*unit != "s" && *unit != "sec")) return;
    const std::string* speed = field(scan_, "Speed");
    const auto seconds = speed ? parse_double(*speed) : std::nullopt;
    if (seconds && *seconds > 0.0) scan.set("time_per_step_s", *seconds);
  }

  Result<RasxConditions, LoadError> finish() {
    RasxConditions conditions;
    MetaTable& measurement = conditions.measurement;
    if (const std::string* name = field(general_, "SampleName")) {
      measurement.set("sample_name", *name);
    }
    if (const std::string* target = field(generator_, "TargetName")) {
      measurement.set("anode", *target);
    }
    put_number(measurement, "wavelength_kalpha1", generator_, "WavelengthKalpha1");
    put_number(measurement, "wavelength_kalpha2", generator_, "WavelengthKalpha2");
    put_number(measurement, "wavelength_kbeta", generator_, "WavelengthKbeta");
    put_in_unit(measurement, "voltage_kv", "Voltage", "kV");
    put_in_unit(measurement, "current_ma", "Current", "mA");
    if (const std::string* started = field(scan_, "StartTime")) {
      measurement.set("started", *started);
    }
    const bool volts = measurement.find("voltage_kv") != nullptr;
    const bool amperes = measurement.find("current_ma") != nullptr;
    MetaTable header;
    for (const Fields* section : {&general_, &generator_}) {
      for (const auto& [key, value] : *section) {
        const bool taken = key == "SampleName" || key == "TargetName" ||
                           key.starts_with("Wavelength") || (volts && key.starts_with("Voltage")) ||
                           (amperes && key.starts_with("Current"));
        if (!taken) header.set(key, value);
      }
    }
    if (!header.empty()) measurement.set("header", std::move(header));

    MetaTable& scan = conditions.scan;
    if (const std::string* axis = field(scan_, "AxisName")) {
      scan.set("scan_axis", *axis);
      scan.set("x_axis", axis_kind(*axis));
    }
    if (const std::string* unit = field(scan_, "PositionUnit")) scan.set("x_unit", *unit);
    put_number(scan, "start", scan_, "Start");
    put_number(scan, "step", scan_, "Step");
    put_step_time(scan);
    if (const std::string* mode = field(scan_, "Mode")) scan.set("mode", *mode);
    if (const std::string* started = field(scan_, "StartTime")) scan.set("started", *started);
    if (!axes_.empty()) scan.set("axes", std::move(axes_));
    MetaTable scan_header;
    for (const auto& [key, value] : scan_) {
      // The file's own axis word stays where the kind of axis spells it otherwise.
      const bool taken = (key == "AxisName" && axis_kind(value) == value) ||
                         key == "PositionUnit" || key == "Mode" || key == "StartTime" ||
                         (key == "Start" && scan.find("start")) ||
                         (key == "Step" && scan.find("step"));
      if (!taken) scan_header.set(key, value);
    }
    if (!scan_header.empty()) scan.set("header", std::move(scan_header));
    return conditions;
  }

  xml::PullParser parser_;
  Fields general_;
  Fields generator_;
  Fields scan_;
  MetaTable axes_;
};

}  // namespace

std::optional<std::string> conditions_entry_name(std::string_view profile) {
  // "Data<N>/Profile<M>.txt": the data set's number N names its conditions.
  if (!profile.starts_with(data_prefix)) return std::nullopt;
  const auto slash = profile.find('/');
  if (slash == std::string_view::npos) return std::nullopt;
  const std::string_view number = profile.substr(data_prefix.size(), slash - data_prefix.size());
  if (!all_digits(number) || !profile.substr(slash + 1).starts_with(profile_prefix)) {
    return std::nullopt;
  }
  std::string name(profile.substr(0, slash + 1));
  name.append(conditions_prefix).append(number).append(".xml");
  return name;
}

std::optional<std::string> own_conditions_entry_name(std::string_view profile) {
  if (!conditions_entry_name(profile)) return std::nullopt;
  const std::size_t slash = profile.find('/');
  std::string_view number = profile.substr(slash + 1 + profile_prefix.size());
  if (!number.ends_with(".txt")) return std::nullopt;
  number.remove_suffix(4);
  if (!all_digits(number)) return std::nullopt;
  std::string name(profile.substr(0, slash + 1));
  name.append(conditions_prefix).append(number).append(".xml");
  return name;
}

Result<RasxConditions, LoadError> read_rasx_conditions(Input& input) {
  ConditionsReader reader(input);
  return reader.read();
}

}  // namespace morvex
