// XRDML documents: every <scan> with its positions, counting times and attenuation factors,
// and the document's wavelengths, tube and sample; or, where only the first pattern is
// wanted, the 2θ start and end positions and the intensities of the first complete scan.
#include <algorithm>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/axis.hpp"
#include "core/head.hpp"
#include "core/memory.hpp"
#include "core/number.hpp"
#include "core/tokens.hpp"
#include "formats/readers.hpp"
#include "formats/xrdml_scan.hpp"
#include "xml/attributes.hpp"
#include "xml/pull_parser.hpp"

namespace morvex {
namespace {

// Plain flags, not counters: an element nested in one of the same name is not tracked.
struct XrdmlScanState {
  bool in_2theta_positions = false;
  bool in_start_position = false;
  bool in_end_position = false;
  bool in_intensities = false;
  bool start_found = false;
  bool end_found = false;
  double start_position = 0;
  double end_position = 0;
  // For the first pattern: from every intensities element so far, never cleared. For every
  // scan: those of the scan being read.
  std::vector<double> intensity_values;
  // The intensities element last opened, for the message when the input ends inside it.
  std::string intensities_name;
  std::uint64_t intensities_offset = 0;
};

// Elements whose text the reading of every scan takes, and where it goes.
enum class Field {
  none,
  start,
  end,
  common,
  listed,
  common_counting_time,
  counting_times,
  attenuation,
  measurement_key,  // a number of the measurement under `field_key_`
  measurement_text,
  scan_text,
};

struct FieldRule {
  std::string_view element;
  Field field;
  std::string_view key;
};

constexpr FieldRule field_rules[] = {
    {"startPosition", Field::start, ""},
    {"endPosition", Field::end, ""},
    {"commonPosition", Field::common, ""},
    {"listPositions", Field::listed, ""},
    {"commonCountingTime", Field::common_counting_time, ""},
    {"countingTimes", Field::counting_times, ""},
    {"beamAttenuationFactors", Field::attenuation, ""},
    {"kAlpha1", Field::measurement_key, "wavelength_kalpha1"},
    {"kAlpha2", Field::measurement_key, "wavelength_kalpha2"},
    {"kBeta", Field::measurement_key, "wavelength_kbeta"},
    {"ratioKAlpha2KAlpha1", Field::measurement_key, "kalpha2_ratio"},
    {"tension", Field::measurement_key, "voltage_kv"},
    {"current", Field::measurement_key, "current_ma"},
    {"anodeMaterial", Field::measurement_text, "anode"},
};

// Names are compared without their namespace prefix, which documents spell as they like.
std::string_view local_name(std::string_view qualified) {
  const std::size_t colon = qualified.rfind(':');
  return colon == std::string_view::npos ? qualified : qualified.substr(colon + 1);
}

// Schema 1.x documents call the measured values "intensities", schema 2.x "counts".
bool is_intensities(std::string_view local) {
  return local == "intensities" || local == "counts";
}

Failure<ParseError> failure(std::string_view prefix, const xml::Error& error) {
  return parse_failure(std::string(prefix) + error.description(), error.offset);
}

std::vector<double> numbers_of(std::string_view text, std::vector<std::string_view>& tokens) {
  std::vector<double> values;
  for_each_white_space_token(text, tokens, [&values, text](std::string_view token) {
    if (const auto value = parse_double(token, text.data())) values.push_back(*value);
  });
  return values;
}

class ScanReader {
 public:
  ScanReader(Input& input, ScanSink& sink)
      : parser_(input), sink_(sink), every_(sink.scope() == Scope::every_scan) {}

  ReadStatus read() {
    for (;;) {
      auto event = parser_.next();
      if (!event) return failure("XRDML parse error: ", event.error());
      switch (event->kind) {
        case xml::EventKind::start_tag:
          if (auto step = on_start(*event); !step) return fail(std::move(step).error());
          break;
        case xml::EventKind::end_tag:
          if (settles(*event)) {
            if (!every_) return emit_first();
            state_.in_intensities = false;
          }
          if (every_) {
            if (auto step = on_end(*event); !step) return fail(std::move(step).error());
            if (stopped_) return succeeded;
          }
          break;
        case xml::EventKind::text:
          if (auto step = on_text(*event); !step) return fail(std::move(step).error());
          break;
        case xml::EventKind::end_of_input:
          return at_end_of_input();
        default:  // empty tags, CDATA, comments, declarations, references: nothing to take
          break;
      }
    }
  }

 private:
  Status<ParseError> on_start(const xml::Event& tag) {
    const std::string_view local = local_name(tag.name);
    if (local == "positions") return on_positions(tag);
    if (every_ && local == "scan") return on_scan(tag);
    if (local == "startPosition") {
      if (state_.in_2theta_positions) state_.in_start_position = true;
    } else if (local == "endPosition") {
      if (state_.in_2theta_positions) state_.in_end_position = true;
    } else if (is_intensities(local)) {
      state_.in_intensities = true;
      state_.intensities_name.assign(tag.name);
      state_.intensities_offset = tag.offset;
    }
    if (every_) start_field(local);
    return succeeded;
  }

  // Every attribute is walked, even after "axis", so that a malformed one is reported
  // wherever it stands in the tag.
  Status<ParseError> on_positions(const xml::Event& tag) {
    state_.in_2theta_positions = false;
    AxisPositions axis;
    xml::AttributeReader attributes(tag);
    for (;;) {
      auto attribute = attributes.next();
      if (!attribute) return failure("XRDML attribute error: ", attribute.error());
      if (!attribute.value()) break;
      const std::string_view name = (*attribute)->name;
      if (name != "axis" && !(every_ && name == "unit")) continue;
      auto value = xml::unescape_value(**attribute);
      if (!value) return failure("XRDML attribute decode error: ", value.error());
      if (name == "unit") {
        axis.unit = std::move(value).value();
        continue;
      }
      if (*value == "2Theta") state_.in_2theta_positions = true;
      axis.axis = std::move(value).value();
    }
    if (every_ && in_scan_) parts_.axes.push_back(std::move(axis));
    return succeeded;
  }

  // A scan starts afresh: its attributes are its status and the axis the file names.
  Status<ParseError> on_scan(const xml::Event& tag) {
    in_scan_ = true;
    parts_ = XrdmlScanParts{};
    state_.intensity_values.clear();
    xml::AttributeReader attributes(tag);
    for (;;) {
      auto attribute = attributes.next();
      if (!attribute) return failure("XRDML attribute error: ", attribute.error());
      if (!attribute.value()) return succeeded;
      const std::string_view name = (*attribute)->name;
      if (name != "status" && name != "scanAxis" && name != "mode") continue;
      auto value = xml::unescape_value(**attribute);
      if (!value) return failure("XRDML attribute decode error: ", value.error());
      parts_.meta.set(name == "scanAxis" ? "scan_axis" : name, std::move(value).value());
    }
  }

  void start_field(std::string_view local) {
    field_ = Field::none;
    field_text_.clear();
    if (local == "sample") in_sample_ = true;
    if (in_sample_ && (local == "id" || local == "name")) {
      field_ = Field::measurement_text;
      field_key_ = local == "id" ? "sample_id" : "sample_name";
      return;
    }
    if (local == "startTimeStamp") {
      field_ = in_scan_ ? Field::scan_text : Field::measurement_text;
      field_key_ = "started";
      return;
    }
    for (const FieldRule& rule : field_rules) {
      if (rule.element != local) continue;
      field_ = rule.field;
      field_key_ = rule.key;
      // Positions count only inside a positions element of a scan.
      if (field_ <= Field::listed && (!in_scan_ || parts_.axes.empty())) field_ = Field::none;
      return;
    }
  }

  Status<ParseError> on_end(const xml::Event& tag) {
    const std::string_view local = local_name(tag.name);
    if (local == "sample") in_sample_ = false;
    if (local == "scan" && in_scan_) return finish_scan();
    if (field_ == Field::none) return succeeded;
    const Field field = field_;
    field_ = Field::none;
    take_field(field);
    return succeeded;
  }

  void take_field(Field field) {
    const std::string_view text = trim_white_space(field_text_);
    if (field == Field::measurement_text || field == Field::scan_text) {
      if (text.empty()) return;
      MetaTable& meta = field == Field::scan_text ? parts_.meta : sink_.meta();
      if (field == Field::scan_text && !sink_.meta().find("started")) {
        sink_.meta().set("started", std::string(text));
      }
      meta.set(field_key_, std::string(text));
      return;
    }
    if (field == Field::listed || field == Field::counting_times || field == Field::attenuation) {
      auto values = numbers_of(text, tokens_);
      if (field == Field::listed) parts_.axes.back().listed = std::move(values);
      if (field == Field::counting_times) parts_.counting_times = std::move(values);
      if (field == Field::attenuation) parts_.attenuation = std::move(values);
      return;
    }
    const auto value = parse_double(text);
    if (!value) return;  // a value that is no number is not stated
    switch (field) {
      case Field::start:
        parts_.axes.back().start = *value;
        break;
      case Field::end:
        parts_.axes.back().end = *value;
        break;
      case Field::common:
        parts_.axes.back().common = *value;
        break;
      case Field::common_counting_time:
        parts_.common_counting_time = *value;
        break;
      case Field::measurement_key:
        sink_.meta().set(field_key_, *value);
        break;
      default:
        break;
    }
  }

  Status<ParseError> finish_scan() {
    in_scan_ = false;
    ++scans_;
    auto scan = build_xrdml_scan(std::move(parts_), std::move(state_.intensity_values));
    state_.intensity_values = {};
    if (!scan) {
      const auto& error = scan.error();
      return parse_failure(error.message());
    }
    stopped_ = !sink_.take(std::move(scan).value());
    return succeeded;
  }

  // True when this end tag completes the first usable scan: reading stops there.
  bool settles(const xml::Event& tag) {
    const std::string_view local = local_name(tag.name);
    if (local == "positions") {
      state_.in_2theta_positions = false;
    } else if (local == "startPosition") {
      state_.in_start_position = false;
    } else if (local == "endPosition") {
      state_.in_end_position = false;
    } else if (is_intensities(local)) {
      if (state_.start_found && state_.end_found && !state_.intensity_values.empty()) return true;
      state_.in_intensities = false;
    }
    return false;
  }

  // Each text event stands alone: a value split by a comment or a reference gives two.
  Status<ParseError> on_text(const xml::Event& text) {
    if (auto invalid = xml::check_utf8(text.bytes, text.offset)) {
      return failure("XRDML text decode error: ", *invalid);
    }
    if (field_ != Field::none) field_text_.append(text.bytes);
    const std::string_view trimmed = trim_white_space(text.bytes);
    if (trimmed.empty()) return succeeded;
    if (state_.in_start_position) {
      const auto value = parse_double(trimmed);
      if (!value) return parse_failure("XRDML invalid 2Theta start position");
      state_.start_position = *value;
      state_.start_found = true;
    } else if (state_.in_end_position) {
      const auto value = parse_double(trimmed);
      if (!value) return parse_failure("XRDML invalid 2Theta end position");
      state_.end_position = *value;
      state_.end_found = true;
    } else if (state_.in_intensities) {
      append_intensities(trimmed);
    }
    return succeeded;
  }

  // A scan's intensities are one text of megabytes: taken a batch of tokens at a time, so
  // that no list of views over the whole text is built.
  void append_intensities(std::string_view text) {
    // Room for as many numbers as the text could hold (one byte and a separator each), grown
    // at least twofold so that many small texts cost no more than pushing each number. Room
    // never used is never touched.
    std::vector<double>& values = state_.intensity_values;
    const std::size_t most = values.size() + text.size() / 2 + 1;
    if (most > values.capacity()) reserve_room(values, std::max(most, 2 * values.capacity()));
    for_each_white_space_token(text, tokens_, [&values, text](std::string_view token) {
      if (const auto value = parse_double(token, text.data())) values.push_back(*value);
    });
  }

  ReadStatus at_end_of_input() {
    // A file cut off inside its intensities would otherwise pass for a complete scan.
    if (state_.in_intensities) {
      const xml::Error cut{"unexpected end of input inside <" + state_.intensities_name + ">",
                           state_.intensities_offset};
      return failure("XRDML parse error: ", cut);
    }
    if (in_scan_) return parse_failure("XRDML parse error: unexpected end of input inside <scan>");
    if (every_ && scans_ > 0) return succeeded;
    // A document without scan elements still gives the pattern of its 2θ positions.
    if (!state_.start_found) return parse_failure("XRDML missing 2Theta start position");
    if (!state_.end_found) return parse_failure("XRDML missing 2Theta end position");
    if (state_.intensity_values.empty()) return parse_failure("XRDML intensities not found");
    return emit_first();
  }

  ReadStatus emit_first() {
    Scan scan;
    scan.x =
        xrdml_even_axis(state_.intensity_values.size(), state_.start_position, state_.end_position);
    scan.y = std::move(state_.intensity_values);
    scan.meta.set("x_axis", "2Theta");
    sink_.take(std::move(scan));
    return succeeded;
  }

  xml::PullParser parser_;
  ScanSink& sink_;
  const bool every_;
  XrdmlScanState state_;
  std::vector<std::string_view> tokens_;
  // Every scan: the scan element being read and the field whose text is gathered.
  bool in_scan_ = false;
  bool in_sample_ = false;
  bool stopped_ = false;
  std::size_t scans_ = 0;
  XrdmlScanParts parts_;
  Field field_ = Field::none;
  std::string_view field_key_;
  std::string field_text_;
};

}  // namespace

ReadStatus read_xrdml(Input& input, ScanSink& sink) {
  return ScanReader(input, sink).read();
}

bool xrdml_content(std::string_view head) {
  const std::string_view text = trim_white_space(without_byte_order_mark(head));
  return text.starts_with("<") && text.find("xrdMeasurement") != std::string_view::npos;
}

}  // namespace morvex
