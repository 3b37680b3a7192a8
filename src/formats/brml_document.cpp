#include "formats/brml_document.hpp"

#include <algorithm>
#include <optional>
#include <string>
#include <vector>

#include "core/axis.hpp"
#include "core/number.hpp"
#include "core/tokens.hpp"
#include "xml/attributes.hpp"
#include "xml/markup.hpp"
#include "xml/pull_parser.hpp"

namespace morvex {
namespace {

// Marked on the parser's path: the elements of a data route after the first, which hold no
// measured data.
constexpr std::uint32_t in_other_route = 1;

// Elements whose text the reader takes; the text of any other is never gathered.
constexpr std::string_view text_elements[] = {
    "Datum", "TimePerStep", "TimeStampStarted", "MeasurementStatus",
    "Start", "Stop",        "Increment",        "TubeMaterial",
};

// Tube elements whose Value attribute is a measurement key, in the unit it must carry.
struct ValueRule {
  std::string_view element;
  std::string_view parent;
  std::string_view unit;
  std::string_view key;
};
constexpr ValueRule value_rules[] = {
    {"WaveLengthAlpha1", "Tube", "Å", "wavelength_kalpha1"},
    {"WaveLengthAlpha2", "Tube", "Å", "wavelength_kalpha2"},
    {"WaveLengthBeta", "Tube", "Å", "wavelength_kbeta"},
    {"WaveLengthRatio", "Tube", "", "kalpha2_ratio"},
    {"Voltage", "Generator", "kV", "voltage_kv"},
    {"Current", "Generator", "mA", "current_ma"},
};

struct AxisInfo {
  std::string id;
  std::string visible_name;
  std::string unit;
  std::optional<double> start;
  std::optional<double> increment;
};

struct Field {
  std::string name;  // FieldName, or AxisId where it has none
  std::size_t column = 0;
};

// x_axis is the kind of the x axis's VisibleName (else its FieldName); the file's word stays
// under the scan's header where the kind spells it otherwise ("TwoTheta" is "2Theta").
void set_x_axis(const AxisInfo* info, const Field& x, MetaTable& meta) {
  const bool visible = info && !info->visible_name.empty();
  const std::string& word = visible ? info->visible_name : x.name;
  std::string kind = axis_kind(word);
  if (kind != word) meta.table("header").set(visible ? "VisibleName" : "FieldName", word);
  meta.set("x_axis", std::move(kind));
}

struct Attributes {
  std::vector<std::pair<std::string, std::string>> values;
  std::optional<std::string_view> get(std::string_view name) const {
    for (const auto& [key, value] : values) {
      if (key == name) return value;
    }
    return std::nullopt;
  }
};

std::optional<std::size_t> column_of(std::optional<std::string_view> text) {
  if (!text) return std::nullopt;
  const auto value = parse_double(*text);
  if (!value || !(*value >= 0) || *value > 1e6 ||
      *value != static_cast<double>(static_cast<std::size_t>(*value))) {
    return std::nullopt;
  }
  return static_cast<std::size_t>(*value);
}

class RangeReader {
 public:
  RangeReader(Input& input, std::string_view entry, MetaTable& measurement)
      : parser_(input), entry_(entry), measurement_(measurement) {}

  Result<Scan, LoadError> read() {
    for (;;) {
      auto event = parser_.next();
      if (!event) return failure("XML error: " + event.error().description());
      switch (event->kind) {
        case xml::EventKind::start_tag:
        case xml::EventKind::empty_tag:
          if (auto step = on_tag(*event); !step) return fail(std::move(step).error());
          break;
        case xml::EventKind::end_tag:
          if (parser_.depth() == 0) closed_ = true;
          break;
        case xml::EventKind::end_of_input:
          if (!closed_) return failure("the document ends before </RawData>");
          return build();
        default:
          break;
      }
    }
  }

 private:
  Failure<ParseError> failure(const std::string& text) const {
    return parse_failure("BRML " + std::string(entry_) + ": " + text);
  }

  Result<Attributes, ParseError> attributes_of(const xml::Event& tag) const {
    Attributes attributes;
    xml::AttributeReader reader(tag);
    for (;;) {
      auto attribute = reader.next();
      if (!attribute) return failure("XML attribute error: " + attribute.error().description());
      if (!attribute.value()) return attributes;
      auto value = xml::unescape_value(**attribute);
      if (!value) return failure("XML attribute error: " + value.error().description());
      attributes.values.emplace_back(std::string((*attribute)->name), std::move(value).value());
    }
  }

  // The local name of the `up`-th element around the event; empty beyond the root.
  std::string_view around(std::size_t up) const { return xml::local_name(parser_.around(up)); }
  bool under(std::string_view parent) const { return around(0) == parent; }
  bool under(std::string_view parent, std::string_view grandparent) const {
    return around(0) == parent && around(1) == grandparent;
  }

  Status<ParseError> on_tag(const xml::Event& tag) {
    const std::string_view name = xml::local_name(tag.name);
    if (parser_.depth() == (tag.kind == xml::EventKind::start_tag ? 1u : 0u) && name != "RawData") {
      return failure("the root element is not <RawData>");
    }
    if (name == "DataRoute" && under("DataRoutes") && ++routes_ > 1) {
      parser_.set_marks(in_other_route);
    }
    // Only the first data route (the measured data) is read.
    if (parser_.marks() & in_other_route) return succeeded;
    auto attributes = attributes_of(tag);
    if (!attributes) return fail(std::move(attributes).error());
    if (auto step = on_attributes(name, *attributes); !step) return step;
    if (tag.kind == xml::EventKind::start_tag &&
        std::ranges::find(text_elements, name) != std::end(text_elements)) {
      return on_text_element(name);
    }
    return succeeded;
  }

  Status<ParseError> on_attributes(std::string_view name, const Attributes& attributes) {
    if (name == "ScanInformation" && under("DataRoute")) {
      if (const auto visible = attributes.get("VisibleName"))
        set_header_text(meta_, "scan_axis", *visible);
    } else if (name == "ScanAxisInfo" && under("ScanAxes", "ScanInformation")) {
      AxisInfo axis;
      axis.id = attributes.get("AxisId").value_or("");
      axis.visible_name = attributes.get("VisibleName").value_or("");
      axis.unit = attributes.get("Unit").value_or("");
      axes_.push_back(std::move(axis));
    } else if (name == "RawDataView" && under("DataViews")) {
      return on_view(attributes);
    } else if (name == "Varying" && under("RawDataView")) {
      varying_is_scan_axes_ = attributes.get("LogicName") == "ScanAxes";
    } else if (name == "FieldDefinitions" && under("Varying")) {
      if (varying_is_scan_axes_) {
        const auto field = attributes.get("FieldName");
        fields_.push_back({std::string(field ? *field : attributes.get("AxisId").value_or("")),
                           view_start_ + view_field_});
      }
      ++view_field_;
    } else if (name == "InfoItem" && attributes.get("Name") == "SampleName") {
      if (const auto value = attributes.get("Value"))
        set_header_text(measurement_, "sample_name", *value);
    } else {
      for (const ValueRule& rule : value_rules) {
        if (rule.element != name || !under(rule.parent)) continue;
        const auto value = attributes.get("Value");
        const auto number = value ? parse_double(trim_white_space(*value)) : std::nullopt;
        if (number && attributes.get("Unit").value_or("") == rule.unit) {
          measurement_.set(rule.key, *number);
        }
      }
    }
    return succeeded;
  }

  Status<ParseError> on_view(const Attributes& attributes) {
    const std::string_view type = xml::local_name(attributes.get("xsi:type").value_or(""));
    const auto start = column_of(attributes.get("Start"));
    const auto length = column_of(attributes.get("Length"));
    if (!start || !length) return failure("a data view without a valid Start and Length");
    view_start_ = *start;
    view_field_ = 0;
    varying_is_scan_axes_ = false;
    const std::string_view logic = attributes.get("LogicName").value_or("");
    if (type == "FixedRawDataView" && *length == 1) {
      if (logic == "MeasuredTime") time_column_ = *start;
      if (logic == "AbsorptionFactor") absorption_column_ = *start;
    } else if (type == "RecordedRawDataView") {
      // The first recorded quantity is the counts; the others are further detectors.
      const auto index = column_of(attributes.get("MeasuredDataIndex"));
      if (index && (!counts_index_ || *index < *counts_index_)) {
        counts_index_ = index;
        counts_column_ = *start;
        counts_length_ = *length;
      }
    }
    return succeeded;
  }

  // The element's whole text, read at once; around it, as at its end tag, its parents.
  Status<ParseError> on_text_element(std::string_view local) {
    const std::string name(local);
    auto element_text = parser_.element_text();
    if (!element_text) return failure("XML error: " + element_text.error().description());
    const std::string_view text = trim_white_space(*element_text);
    if (name == "Datum") return take_row(text);
    if (name == "TimeStampStarted" && under("RawData")) {
      set_header_text(meta_, "started", text);
      if (!measurement_.find("started")) set_header_text(measurement_, "started", text);
    } else if (name == "MeasurementStatus" && under("RawData")) {
      set_header_text(meta_, "status", text);
    } else if (name == "TimePerStep" && under("ScanInformation")) {
      if (const auto value = parse_double(text)) meta_.set("time_per_step_s", *value);
    } else if (name == "TubeMaterial" && under("Tube")) {
      set_header_text(measurement_, "anode", text);
    } else if (under("ScanAxisInfo", "ScanAxes") && around(2) == "ScanInformation" &&
               !axes_.empty()) {
      const auto value = parse_double(text);
      if (name == "Start") axes_.back().start = value;
      if (name == "Increment") axes_.back().increment = value;
    }
    return succeeded;
  }

  // One row of comma-separated numbers; every row has as many as the first.
  Status<ParseError> take_row(std::string_view text) {
    std::size_t fields = 0;
    for (std::size_t at = 0;; ++fields) {
      const std::size_t comma = text.find(',', at);
      const std::string_view token = trim_white_space(text.substr(at, comma - at));
      const auto value = parse_double(token);
      if (!value) return failure("invalid number \"" + std::string(token) + "\" in a <Datum>");
      values_.push_back(*value);
      if (comma == std::string_view::npos) break;
      at = comma + 1;
    }
    ++fields;
    if (rows_ == 0) width_ = fields;
    if (fields != width_) {
      return failure("<Datum> " + std::to_string(rows_ + 1) + " holds " + std::to_string(fields) +
                     " values, the first " + std::to_string(width_));
    }
    ++rows_;
    return succeeded;
  }

  std::vector<double> column(std::size_t index) const {
    std::vector<double> values;
    values.reserve(rows_);
    for (std::size_t row = 0; row < rows_; ++row) values.push_back(values_[row * width_ + index]);
    return values;
  }

  const AxisInfo* axis_info(std::string_view id) const {
    const auto found = std::ranges::find(axes_, id, &AxisInfo::id);
    return found == axes_.end() ? nullptr : &*found;
  }

  // x is 2θ where the scan moves it, else the first axis the scan names.
  const Field* x_field() const {
    const auto two_theta = std::ranges::find(fields_, "TwoTheta", &Field::name);
    if (two_theta != fields_.end()) return &*two_theta;
    if (axes_.empty()) return nullptr;
    const auto first = std::ranges::find(fields_, axes_.front().id, &Field::name);
    return first == fields_.end() ? nullptr : &*first;
  }

  Result<Scan, LoadError> build() {
    if (rows_ == 0) return failure("no <Datum> rows");
    if (!counts_column_) return failure("no data view describes the counts");
    if (counts_length_ != 1) return failure("counts of more than one value per row");
    const Field* x = x_field();
    if (!x) return failure("no data view describes the scan axis");
    for (const std::optional<std::size_t> index :
         {std::optional(x->column), counts_column_, time_column_, absorption_column_}) {
      if (index && *index >= width_) return failure("a data view lies outside the rows");
    }
    for (const Field& field : fields_) {
      if (field.column >= width_) return failure("a data view lies outside the rows");
    }
    Scan scan;
    scan.x = column(x->column);
    scan.y = column(*counts_column_);
    scan.meta = std::move(meta_);
    const AxisInfo* info = axis_info(x->name);
    set_x_axis(info, *x, scan.meta);
    if (info && !info->unit.empty()) {
      scan.meta.set("x_unit", info->unit == "°" ? std::string("deg") : info->unit);
    }
    if (info && info->start && info->increment) {
      scan.meta.set("start", *info->start);
      scan.meta.set("step", *info->increment);
    }
    if (time_column_) scan.meta.set("counting_time", column(*time_column_));
    if (absorption_column_) scan.meta.set("attenuation", column(*absorption_column_));
    for (const Field& field : fields_) {
      if (&field == x) continue;
      const AxisInfo* other = axis_info(field.name);
      const std::string key =
          other && !other->visible_name.empty() ? other->visible_name : field.name;
      scan.meta.table("axes").set(key, column(field.column));
    }
    return scan;
  }

  xml::PullParser parser_;
  std::string_view entry_;
  MetaTable& measurement_;
  MetaTable meta_;
  bool closed_ = false;
  std::size_t routes_ = 0;
  std::vector<AxisInfo> axes_;
  std::vector<Field> fields_;
  std::size_t view_start_ = 0;
  std::size_t view_field_ = 0;
  bool varying_is_scan_axes_ = false;
  std::optional<std::size_t> counts_index_;
  std::optional<std::size_t> counts_column_;
  std::size_t counts_length_ = 0;
  std::optional<std::size_t> time_column_;
  std::optional<std::size_t> absorption_column_;
  std::vector<double> values_;  // the rows, one after another
  std::size_t width_ = 0;
  std::size_t rows_ = 0;
};

}  // namespace

Result<Scan, LoadError> read_brml_range(Input& input, std::string_view entry,
                                        MetaTable& measurement) {
  return RangeReader(input, entry, measurement).read();
}

}  // namespace morvex
