// XRDML documents: the 2θ start and end positions and the intensities of the first scan.
#include <algorithm>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/memory.hpp"
#include "core/number.hpp"
#include "core/tokens.hpp"
#include "formats/readers.hpp"
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
  std::vector<double> intensity_values;  // from every intensities element so far, never cleared
  // The intensities element last opened, for the message when the input ends inside it.
  std::string intensities_name;
  std::uint64_t intensities_offset = 0;
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
  return parse_failure(std::string(prefix) + error.description());
}

// Evenly spaced from start to end, one position per intensity. The step divides by
// n + (-1.0) and each position is i * step + start, so that the values match those of
// other programs bit for bit; the last one is not forced to `end`.
std::vector<double> two_theta_axis(std::size_t count, double start, double end) {
  if (count == 1) return {start};
  const double step = (end - start) / (static_cast<double>(count) + (-1.0));
  return linear_axis(count, start, step);
}

class ScanReader {
 public:
  explicit ScanReader(Input& input) : parser_(input) {}

  LoadResult read() {
    for (;;) {
      auto event = parser_.next();
      if (!event) return failure("XRDML parse error: ", event.error());
      switch (event->kind) {
        case xml::EventKind::start_tag:
          if (auto step = on_start(*event); !step) return fail(std::move(step).error());
          break;
        case xml::EventKind::end_tag:
          if (settles(*event)) return build();
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
    if (local == "startPosition") {
      if (state_.in_2theta_positions) state_.in_start_position = true;
    } else if (local == "endPosition") {
      if (state_.in_2theta_positions) state_.in_end_position = true;
    } else if (is_intensities(local)) {
      state_.in_intensities = true;
      state_.intensities_name.assign(tag.name);
      state_.intensities_offset = tag.offset;
    }
    return succeeded;
  }

  // Every attribute is walked, even after "axis", so that a malformed one is reported
  // wherever it stands in the tag.
  Status<ParseError> on_positions(const xml::Event& tag) {
    state_.in_2theta_positions = false;
    xml::AttributeReader attributes(tag);
    for (;;) {
      auto attribute = attributes.next();
      if (!attribute) return failure("XRDML attribute error: ", attribute.error());
      if (!attribute.value()) return succeeded;
      if ((*attribute)->name != "axis") continue;
      auto value = xml::unescape_value(**attribute);
      if (!value) return failure("XRDML attribute decode error: ", value.error());
      if (*value == "2Theta") state_.in_2theta_positions = true;
    }
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

  LoadResult at_end_of_input() {
    // A file cut off inside its intensities would otherwise pass for a complete scan.
    if (state_.in_intensities) {
      const xml::Error cut{"unexpected end of input inside <" + state_.intensities_name + ">",
                           state_.intensities_offset};
      return failure("XRDML parse error: ", cut);
    }
    if (!state_.start_found) return parse_failure("XRDML missing 2Theta start position");
    if (!state_.end_found) return parse_failure("XRDML missing 2Theta end position");
    if (state_.intensity_values.empty()) return parse_failure("XRDML intensities not found");
    return build();
  }

  LoadResult build() {
    auto x =
        two_theta_axis(state_.intensity_values.size(), state_.start_position, state_.end_position);
    return Pattern{std::move(x), std::move(state_.intensity_values), std::nullopt};
  }

  xml::PullParser parser_;
  XrdmlScanState state_;
  std::vector<std::string_view> tokens_;
};

}  // namespace

LoadResult read_xrdml(Input& input) {
  return ScanReader(input).read();
}

}  // namespace morvex
