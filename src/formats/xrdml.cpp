// XRDML documents: every <scan> with its positions, counting times and attenuation factors,
// and the document's wavelengths, tube and sample. The first pattern has a rule of its own,
// over the document's events rather than its scans: the 2θ start and end positions and the
// intensities read when the first intensities element closes with all three found.
#include <algorithm>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "core/axis.hpp"
#include "core/head.hpp"
#include "core/memory.hpp"
#include "core/number.hpp"
#include "core/tokens.hpp"
#include "formats/readers.hpp"
#include "formats/xrdml_scan.hpp"
#include "xml/attributes.hpp"
#include "xml/markup.hpp"
#include "xml/pull_parser.hpp"

namespace morvex {
namespace {

// What the reader marks on the parser's path of open elements: a mark holds inside the
// element that got it, down to its deepest child, and ends with it.
constexpr std::uint32_t in_scan = 16;            // every scan: the scan being read
constexpr std::uint32_t in_scan_positions = 32;  // every scan: a positions element of it
constexpr std::uint32_t in_sample = 64;

// Where the reader stands for the 2θ positions and intensities. These are single flags, not
// marks on the path: an element nested in another of its name ends both, as the first
// pattern's rules have it, and any positions element ends the 2θ one.
struct XrdmlFlags {
  bool in_2theta_positions = false;
  bool in_start_position = false;  // a startPosition opened inside the 2θ positions
  bool in_end_position = false;    // an endPosition opened inside the 2θ positions
  bool in_intensities = false;     // whatever encloses it
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
  measurement_key,  // a number of the measurement under the rule's key
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

// Schema 1.x documents call the measured values "intensities", schema 2.x "counts".
bool is_intensities(std::string_view local) {
  return local == "intensities" || local == "counts";
}

Failure<ParseError> failure(std::string_view prefix, const xml::Error& error) {
  return parse_failure(std::string(prefix) + error.description(), error.offset);
}

// Text that is not UTF-8 has a message of its own.
Failure<ParseError> text_failure(const xml::Error& error) {
  const bool encoding = error.kind == xml::ErrorKind::encoding;
  return failure(encoding ? "XRDML text decode error: " : "XRDML parse error: ", error);
}

std::vector<double> numbers_of(std::string_view text, std::vector<std::string_view>& tokens) {
  std::vector<double> values;
  for_each_white_space_token(text, tokens, [&values, text](std::string_view token) {
    if (const auto value = parse_double(token, text.data())) values.push_back(*value);
  });
  return values;
}

// What both readings share: the parser, the flags of where it stands, and the intensities.
class XrdmlEvents {
 protected:
  explicit XrdmlEvents(Input& input) : parser_(input) {}

  // The one event loop of both readings. `reading` takes start tags and text, says at an end
  // tag whether the reading is over (and how), and says how the input may end.
  template <class Reading>
  ReadStatus run(Reading& reading) {
    for (;;) {
      auto event = parser_.next();
      if (!event) return failure("XRDML parse error: ", event.error());
      switch (event->kind) {
        case xml::EventKind::start_tag:
          if (auto step = reading.on_start(*event); !step) return fail(std::move(step).error());
          break;
        case xml::EventKind::end_tag:
          end_flag(xml::local_name(event->name));
          if (auto over = reading.on_end(*event)) return std::move(*over);
          break;
        case xml::EventKind::text:
          if (auto step = reading.on_text(*event); !step) return fail(std::move(step).error());
          break;
        case xml::EventKind::end_of_input:
          if (auto cut = cut_intensities()) return fail(std::move(cut->error));
          return reading.at_end();
        default:  // empty tags, CDATA, comments, declarations, references: nothing to take
          break;
      }
    }
  }

  // The flags an opening tag sets; the rest of the reading's own.
  void set_flag(std::string_view local) {
    if (local == "startPosition") {
      if (flags_.in_2theta_positions) flags_.in_start_position = true;
    } else if (local == "endPosition") {
      if (flags_.in_2theta_positions) flags_.in_end_position = true;
    } else if (is_intensities(local)) {
      flags_.in_intensities = true;
    }
  }

  // An end tag ends the flag of its name, whatever encloses it.
  void end_flag(std::string_view local) {
    if (local == "positions") flags_.in_2theta_positions = false;
    if (local == "startPosition") flags_.in_start_position = false;
    if (local == "endPosition") flags_.in_end_position = false;
    if (is_intensities(local)) flags_.in_intensities = false;
  }

  // The axis a positions element names, and its unit where `with_unit`. Every attribute is
  // walked, even after "axis", so that a malformed one is reported wherever it stands.
  Result<AxisPositions, ParseError> positions_axis(const xml::Event& tag, bool with_unit) {
    AxisPositions axis;
    xml::AttributeReader attributes(tag);
    for (;;) {
      auto attribute = attributes.next();
      if (!attribute) return failure("XRDML attribute error: ", attribute.error());
      if (!attribute.value()) break;
      const std::string_view name = (*attribute)->name;
      if (name != "axis" && !(with_unit && name == "unit")) continue;
      auto value = xml::unescape_value(**attribute);
      if (!value) return failure("XRDML attribute decode error: ", value.error());
      (name == "unit" ? axis.unit : axis.axis) = std::move(value).value();
    }
    flags_.in_2theta_positions = axis.axis == "2Theta";
    return axis;
  }

  // Each text event stands alone: a value split by a comment or a reference gives two.
  Result<std::string_view, ParseError> checked_text(const xml::Event& text) {
    if (auto invalid = xml::check_utf8(text.bytes, text.offset)) {
      return failure("XRDML text decode error: ", *invalid);
    }
    return trim_white_space(text.bytes);
  }

  // A scan's intensities are one text of megabytes: taken a batch of tokens at a time, so
  // that no list of views over the whole text is built.
  void append_intensities(std::string_view text) {
    // Room for as many numbers as the text could hold (one byte and a separator each), grown
    // at least twofold so that many small texts cost no more than pushing each number. Room
    // never used is never touched.
    std::vector<double>& values = intensities_;
    const std::size_t most = values.size() + text.size() / 2 + 1;
    if (most > values.capacity()) reserve_room(values, std::max(most, 2 * values.capacity()));
    for_each_white_space_token(text, tokens_, [&values, text](std::string_view token) {
      if (const auto value = parse_double(token, text.data())) values.push_back(*value);
    });
  }

  // A file cut off inside its intensities would otherwise pass for a complete scan: the
  // innermost open intensities element, which the input ended in.
  std::optional<Failure<ParseError>> cut_intensities() const {
    if (!flags_.in_intensities) return std::nullopt;
    std::size_t level = parser_.depth();
    while (level > 1 && !is_intensities(xml::local_name(parser_.open_name(level - 1)))) --level;
    return failure("XRDML parse error: ", {xml::enclosed("unexpected end of input inside <",
                                                         parser_.open_name(level - 1), ">"),
                                           parser_.open_offset(level - 1)});
  }

  xml::PullParser parser_;
  XrdmlFlags flags_;
  std::vector<std::string_view> tokens_;
  std::vector<double> intensities_;
};

// The first pattern: the 2θ ends from any 2θ positions element, the intensities of every
// intensities element so far, never cleared; the first end of an intensities element with all
// three found settles it. A document without scan elements gives it too.
class PatternReader : XrdmlEvents {
  friend class XrdmlEvents;  // its loop calls the handlers below

 public:
  PatternReader(Input& input, ScanSink& sink) : XrdmlEvents(input), sink_(sink) {}

  ReadStatus read() { return run(*this); }

 private:
  Status<ParseError> on_start(const xml::Event& tag) {
    const std::string_view local = xml::local_name(tag.name);
    if (local != "positions") {
      set_flag(local);
      return succeeded;
    }
    auto axis = positions_axis(tag, false);
    if (!axis) return fail(std::move(axis).error());
    return succeeded;
  }

  Status<ParseError> on_text(const xml::Event& text) {
    auto checked = checked_text(text);
    if (!checked) return fail(std::move(checked).error());
    const std::string_view trimmed = checked.value();
    if (trimmed.empty()) return succeeded;
    if (flags_.in_start_position || flags_.in_end_position) {
      const bool start = flags_.in_start_position;
      const auto value = parse_double(trimmed);
      if (!value) {
        return parse_failure(start ? "XRDML invalid 2Theta start position"
                                   : "XRDML invalid 2Theta end position");
      }
      (start ? start_ : end_) = *value;
    } else if (flags_.in_intensities) {
      append_intensities(trimmed);
    }
    return succeeded;
  }

  // The end of an intensities element with the 2θ ends and intensities found settles it.
  std::optional<ReadStatus> on_end(const xml::Event& tag) {
    const bool settled =
        is_intensities(xml::local_name(tag.name)) && start_ && end_ && !intensities_.empty();
    return settled ? std::optional(emit()) : std::nullopt;
  }

  // A document without scan elements still gives the pattern of its 2θ positions.
  ReadStatus at_end() {
    if (!start_) return parse_failure("XRDML missing 2Theta start position");
    if (!end_) return parse_failure("XRDML missing 2Theta end position");
    if (intensities_.empty()) return parse_failure("XRDML intensities not found");
    return emit();
  }

  ReadStatus emit() {
    Scan scan;
    scan.x = xrdml_even_axis(intensities_.size(), *start_, *end_);
    scan.y = std::move(intensities_);
    scan.meta.set("x_axis", "2Theta");
    sink_.take(std::move(scan));
    return succeeded;
  }

  ScanSink& sink_;
  std::optional<double> start_;
  std::optional<double> end_;
};

// Every scan element, with the positions of each axis, its counting times and attenuation
// factors, and the document's fields.
class ScanReader : XrdmlEvents {
  friend class XrdmlEvents;  // its loop calls the handlers below

 public:
  ScanReader(Input& input, ScanSink& sink) : XrdmlEvents(input), sink_(sink) {}

  ReadStatus read() { return run(*this); }

 private:
  void mark(std::uint32_t on, std::uint32_t off = 0) {
    parser_.set_marks((parser_.marks() & ~off) | on);
  }

  Status<ParseError> on_start(const xml::Event& tag) {
    const std::string_view local = xml::local_name(tag.name);
    if (local == "positions") return on_positions(tag);
    if (local == "scan" && !(parser_.marks() & in_scan)) return on_scan(tag);
    set_flag(local);
    if (local == "sample") mark(in_sample);
    return take_field(local);
  }

  Status<ParseError> on_positions(const xml::Event& tag) {
    auto axis = positions_axis(tag, true);
    if (!axis) return fail(std::move(axis).error());
    const bool of_scan = parser_.marks() & in_scan;
    mark(of_scan ? in_scan_positions : 0, in_scan_positions);
    if (of_scan) parts_.axes.push_back(std::move(axis).value());
    return succeeded;
  }
  // A scan starts afresh: its attributes are its status and the axis the file names. A scan
  // inside a scan is part of it, not one of its own.
  Status<ParseError> on_scan(const xml::Event& tag) {
    mark(in_scan);
    parts_ = XrdmlScanParts{};
    intensities_.clear();
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

  // The field an element of this name is, where it stands, and under which key.
  std::pair<Field, std::string_view> field_of(std::string_view local) const {
    const std::uint32_t marks = parser_.marks();
    if ((marks & in_sample) && (local == "id" || local == "name")) {
      return {Field::measurement_text, local == "id" ? "sample_id" : "sample_name"};
    }
    if (local == "startTimeStamp") {
      return {(marks & in_scan) ? Field::scan_text : Field::measurement_text, "started"};
    }
    for (const FieldRule& rule : field_rules) {
      if (rule.element != local) continue;
      // Positions count only inside a positions element of a scan.
      if (rule.field <= Field::listed && !(marks & in_scan_positions)) return {Field::none, ""};
      return {rule.field, rule.key};
    }
    return {Field::none, ""};
  }

  // The whole text of a field element, its references expanded, is read at once.
  Status<ParseError> take_field(std::string_view local) {
    const auto [field, key] = field_of(local);
    if (field == Field::none) return succeeded;
    const bool two_theta = flags_.in_2theta_positions;
    auto element_text = parser_.element_text();
    if (!element_text) return text_failure(element_text.error());
    end_flag(local);  // its end tag, and any inside it, were read with the text
    const std::string_view text = trim_white_space(*element_text);
    if (field == Field::measurement_text || field == Field::scan_text) {
      if (text.empty()) return succeeded;
      MetaTable& meta = field == Field::scan_text ? parts_.meta : sink_.meta();
      if (field == Field::scan_text && !sink_.meta().find("started")) {
        sink_.meta().set("started", std::string(text));
      }
      meta.set(key, std::string(text));
      return succeeded;
    }
    if (field == Field::listed || field == Field::counting_times || field == Field::attenuation) {
      auto values = numbers_of(text, tokens_);
      if (field == Field::listed) parts_.axes.back().listed = std::move(values);
      if (field == Field::counting_times) parts_.counting_times = std::move(values);
      if (field == Field::attenuation) parts_.attenuation = std::move(values);
      return succeeded;
    }
    const auto value = parse_double(text);
    if (!value) {
      // Only a 2θ position must be a number; any other value that is none is not stated.
      if (!two_theta || text.empty() || (field != Field::start && field != Field::end)) {
        return succeeded;
      }
      return parse_failure(field == Field::start ? "XRDML invalid 2Theta start position"
                                                 : "XRDML invalid 2Theta end position");
    }
    set_number(field, key, *value);
    return succeeded;
  }

  void set_number(Field field, std::string_view key, double value) {
    switch (field) {
      case Field::start:
        parts_.axes.back().start = value;
        break;
      case Field::end:
        parts_.axes.back().end = value;
        break;
      case Field::common:
        parts_.axes.back().common = value;
        break;
      case Field::common_counting_time:
        parts_.common_counting_time = value;
        break;
      case Field::measurement_key:
        sink_.meta().set(key, value);
        break;
      default:
        break;
    }
  }

  // The end of a scan: the element that closed is a scan when what holds it is no scan.
  std::optional<ReadStatus> on_end(const xml::Event& tag) {
    if (xml::local_name(tag.name) != "scan" || (parser_.marks() & in_scan)) return std::nullopt;
    auto built = build_xrdml_scan(std::move(parts_), std::move(intensities_));
    intensities_ = {};
    if (!built) return ReadStatus(parse_failure(built.error().message()));
    if (!sink_.take(std::move(built).value())) return ReadStatus(succeeded);
    return std::nullopt;
  }

  ReadStatus at_end() {
    if (parser_.marks() & in_scan) {
      return parse_failure("XRDML parse error: unexpected end of input inside <scan>");
    }
    return succeeded;
  }

  // Text outside the fields read whole: the intensities, a text at a time.
  Status<ParseError> on_text(const xml::Event& text) {
    auto checked = checked_text(text);
    if (!checked) return fail(std::move(checked).error());
    if (flags_.in_intensities && !checked.value().empty()) append_intensities(checked.value());
    return succeeded;
  }

  ScanSink& sink_;
  XrdmlScanParts parts_;  // of the scan being read
};

}  // namespace

ReadStatus read_xrdml(Input& input, ScanSink& sink) {
  return ScanReader(input, sink).read();
}

ReadStatus read_xrdml_pattern(Input& input, ScanSink& sink) {
  return PatternReader(input, sink).read();
}

bool xrdml_content(std::string_view head) {
  const std::string_view text = trim_white_space(without_byte_order_mark(head));
  return text.starts_with("<") && text.find("xrdMeasurement") != std::string_view::npos;
}

}  // namespace morvex
