// Bruker RAW: every range of the four versions we know, and the metadata their file and range
// headers hold (layouts in bruker_layout.hpp).
#include "formats/bruker_ranges.hpp"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <iterator>
#include <optional>
#include <string>

#include "core/axis.hpp"
#include "core/little_endian.hpp"
#include "core/number_text.hpp"
#include "formats/bruker_layout.hpp"

namespace morvex {
namespace {

using namespace bruker;

constexpr const char* truncated = "Bruker RAW intensity data truncated";
constexpr std::string_view version1_signature = "RAW ";

// A fixed-size text field: up to its first NUL, without the blanks around it, Latin-1 made
// UTF-8. Empty where the field does not lie inside the input.
std::string text_at(std::string_view input, std::uint64_t offset, std::size_t size) {
  if (!has_bytes(input, offset, size)) return {};
  std::string_view field = input.substr(offset, size);
  field = field.substr(0, field.find('\0'));
  const auto first = field.find_first_not_of(' ');
  if (first == std::string_view::npos) return {};
  field = field.substr(first, field.find_last_not_of(' ') - first + 1);
  std::string text;
  for (const char c : field) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 0x80) {
      text.push_back(c);
    } else {
      text.push_back(static_cast<char>(0xC0 | (byte >> 6)));
      text.push_back(static_cast<char>(0x80 | (byte & 0x3F)));
    }
  }
  return text;
}

void set_text(MetaTable& meta, std::string_view key, std::string text) {
  if (!text.empty()) meta.set(key, std::move(text));
}

void set_table(MetaTable& meta, std::string_view key, MetaTable table) {
  if (!table.empty()) meta.set(key, std::move(table));
}

// A single the header states, as the shortest decimal that reads back to it (1.5406, not
// 1.5405999422073364).
std::optional<double> single_at(std::string_view input, std::uint64_t offset) {
  const auto value = read_le<float>(input, offset);
  if (!value || !std::isfinite(*value)) return std::nullopt;
  return single_as_decimal(*value);
}

std::optional<double> double_at(std::string_view input, std::uint64_t offset) {
  const auto value = read_le<double>(input, offset);
  if (!value || !std::isfinite(*value)) return std::nullopt;
  return value;
}

// Wavelengths, voltages and currents: a header holds zero or less where none was set.
void set_positive(MetaTable& meta, std::string_view key, std::optional<double> value) {
  if (value && *value > 0.0) meta.set(key, *value);
}

void set_position(MetaTable& axes, std::string_view drive, std::optional<double> value) {
  if (value && *value != unknown_position) axes.set(drive, *value);
}

// Two to four ASCII digits at `at`.
std::optional<int> digits_at(std::string_view text, std::size_t at, std::size_t count) {
  if (at + count > text.size()) return std::nullopt;
  int value = 0;
  for (std::size_t i = at; i < at + count; ++i) {
    if (text[i] < '0' || text[i] > '9') return std::nullopt;
    value = value * 10 + (text[i] - '0');
  }
  return value;
}

// A two-digit year as POSIX strptime's %y reads it.
int full_year(int year) {
  return year < 69 ? 2000 + year : 1900 + year;
}

// "YYYY-MM-DDThh:mm[:ss]" from date and time fields, nothing when one is not a valid number.
std::optional<std::string> iso_date_time(std::optional<int> year, std::optional<int> month,
                                         std::optional<int> day, std::string_view time) {
  const auto hour = digits_at(time, 0, 2);
  const auto minute = digits_at(time, 3, 2);
  if (!year || !month || !day || !hour || !minute || *month < 1 || *month > 12 || *day < 1 ||
      *day > 31 || *hour > 23 || *minute > 59 || time[2] != ':') {
    return std::nullopt;
  }
  const auto second = digits_at(time, 6, 2);
  char text[32];
  const int length = second && time[5] == ':'
                         ? std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d", *year,
                                         *month, *day, *hour, *minute, *second)
                         : std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d", *year,
                                         *month, *day, *hour, *minute);
  return std::string(text, static_cast<std::size_t>(length));
}

void set_started(MetaTable& meta, std::optional<std::string> started) {
  if (started) meta.set("started", std::move(*started));
}

void read_version2_file(std::string_view input, MetaTable& meta) {
  using namespace version2;
  set_text(meta, "sample_name", text_at(input, sample_name, sample_name_size));
  const std::string stamp = text_at(input, date_time, date_time_size);  // "DD-MM-YYYYhh:mm"
  if (stamp.size() >= 10) {
    set_started(meta, iso_date_time(digits_at(stamp, 6, 4), digits_at(stamp, 3, 2),
                                    digits_at(stamp, 0, 2), std::string_view(stamp).substr(10)));
  }
  set_text(meta, "anode", text_at(input, anode, anode_size));
  set_positive(meta, "wavelength_kalpha1", single_at(input, kalpha1));
  set_positive(meta, "wavelength_kalpha2", single_at(input, kalpha2));
  set_positive(meta, "wavelength_kbeta", single_at(input, kbeta));
  set_positive(meta, "kalpha2_ratio", single_at(input, ratio));
  MetaTable header;
  set_text(header, "DATE_TIME_MEASURE", stamp);
  set_text(header, "COMMENT", text_at(input, comment, comment_size));
  set_table(meta, "header", std::move(header));
}

void read_version3_file(std::string_view input, MetaTable& meta) {
  using namespace version3;
  const std::string day = text_at(input, date, date_size);  // "MM/DD/YY"
  const std::string clock = text_at(input, time, date_size);
  set_text(meta, "sample_name", text_at(input, sample_id, sample_id_size));
  const auto year = digits_at(day, 6, 2);
  set_started(meta, iso_date_time(year ? std::optional(full_year(*year)) : std::nullopt,
                                  digits_at(day, 0, 2), digits_at(day, 3, 2), clock));
  set_text(meta, "anode", text_at(input, anode, anode_size));
  set_positive(meta, "wavelength_kalpha1", double_at(input, kalpha1));
  set_positive(meta, "wavelength_kalpha2", double_at(input, kalpha2));
  set_positive(meta, "wavelength_kbeta", double_at(input, kbeta));
  set_positive(meta, "kalpha2_ratio", double_at(input, ratio));
  MetaTable header;
  set_text(header, "MEASURE_DATE", day);
  set_text(header, "MEASURE_TIME", clock);
  set_text(header, "USER", text_at(input, user, user_size));
  set_text(header, "SITE", text_at(input, site, site_size));
  set_text(header, "COMMENT", text_at(input, comment, comment_size));
  set_table(meta, "header", std::move(header));
}

// The segments between the file header and the first range: named texts and the tube.
void read_version4_file(std::string_view input, std::uint64_t first_range, MetaTable& meta) {
  using namespace version4;
  const std::string day = text_at(input, date, date_size);  // "MM/DD/YYYY"
  const std::string clock = text_at(input, time, time_size);
  set_started(
      meta, iso_date_time(digits_at(day, 6, 4), digits_at(day, 0, 2), digits_at(day, 3, 2), clock));
  MetaTable header;
  set_text(header, "MEASURE_DATE", day);
  set_text(header, "MEASURE_TIME", clock);
  // first_range_offset has walked this chain: every length lies inside the input.
  for (std::uint64_t at = first_segment; at < first_range;) {
    const auto type = *read_le<std::uint32_t>(input, at);
    const auto length = *read_le<std::uint32_t>(input, at + segment_length);
    if (type == text_segment && length > text_value) {
      const std::string name = text_at(input, at + text_name, text_name_size);
      std::string value = text_at(input, at + text_value, length - text_value);
      if (name == "SAMPLEID") set_text(meta, "sample_name", value);
      if (!name.empty()) set_text(header, name, std::move(value));
    } else if (type == tube_segment && length >= tube_anode + tube_anode_size) {
      set_positive(meta, "wavelength_kalpha1", double_at(input, at + tube_kalpha1));
      set_positive(meta, "wavelength_kalpha2", double_at(input, at + tube_kalpha2));
      set_positive(meta, "wavelength_kbeta", double_at(input, at + tube_kbeta));
      set_positive(meta, "kalpha2_ratio", double_at(input, at + tube_ratio));
      set_text(meta, "anode", text_at(input, at + tube_anode, tube_anode_size));
    }
    at += length;
  }
  set_table(meta, "header", std::move(header));
}

// What every range states first: its axis, start and step as x is built from them. The
// scan axis names the kind of x (a coupled scan's x is 2θ).
MetaTable axis_meta(std::string_view scan_axis, const RangeLayout& layout) {
  MetaTable meta;
  set_text(meta, "scan_axis", std::string(scan_axis));
  if (!scan_axis.empty()) meta.set("x_axis", axis_kind(scan_axis));
  meta.set("x_unit", "deg");
  meta.set("start", layout.start);
  meta.set("step", layout.step);
  return meta;
}

MetaTable version1_meta(std::string_view input, std::uint64_t at, const RangeLayout& layout) {
  using namespace version1;
  MetaTable meta = axis_meta("2Theta", layout);
  set_positive(meta, "time_per_step_s", single_at(input, at + time_per_step));
  set_positive(meta, "wavelength_kalpha1", single_at(input, at + kalpha1));
  set_positive(meta, "wavelength_kalpha2", single_at(input, at + kalpha2));
  MetaTable axes;
  set_position(axes, "Theta", single_at(input, at + theta));
  set_position(axes, "Chi", single_at(input, at + chi));
  set_position(axes, "Phi", single_at(input, at + phi));
  set_table(meta, "axes", std::move(axes));
  MetaTable header;
  set_text(header, "SAMPLE_NAME", text_at(input, at + sample_name, sample_name_size));
  set_table(meta, "header", std::move(header));
  return meta;
}

MetaTable version2_meta(std::string_view input, std::uint64_t at, const RangeLayout& layout) {
  MetaTable meta = axis_meta("2Theta", layout);
  set_positive(meta, "time_per_step_s", single_at(input, at + version2::time_per_step));
  return meta;
}

MetaTable version3_meta(std::string_view input, std::uint64_t at, const RangeLayout& layout) {
  using namespace version3;
  MetaTable meta = axis_meta("2Theta", layout);
  set_positive(meta, "time_per_step_s", single_at(input, at + time_per_step));
  set_positive(meta, "wavelength", double_at(input, at + used_wavelength));
  const auto kilovolts = read_le<std::uint32_t>(input, at + voltage);
  const auto milliamperes = read_le<std::uint32_t>(input, at + current);
  if (kilovolts) set_positive(meta, "voltage_kv", static_cast<double>(*kilovolts));
  if (milliamperes) set_positive(meta, "current_ma", static_cast<double>(*milliamperes));
  MetaTable axes;
  set_position(axes, "Theta", double_at(input, at + theta));
  set_position(axes, "Chi", double_at(input, at + chi));
  set_position(axes, "Phi", double_at(input, at + phi));
  set_position(axes, "X", double_at(input, at + x));
  set_position(axes, "Y", double_at(input, at + y));
  set_position(axes, "Z", double_at(input, at + z));
  set_table(meta, "axes", std::move(axes));
  return meta;
}

// The drives of a range's extra headers. A segment that breaks the chain ends the drives but
// not the range: where its points lie does not depend on them.
void read_version4_drives(std::string_view input, std::uint64_t first, std::uint64_t end,
                          std::string_view x_drive, MetaTable& axes) {
  using namespace version4;
  for (std::uint64_t at = first; at < end;) {
    const auto type = read_le<std::uint32_t>(input, at);
    const auto length = read_le<std::uint32_t>(input, at + segment_length);
    if (!type || !length || *length < min_segment_length || *length > end - at) return;
    if (*type == drive_segment && *length >= drive_start + sizeof(double)) {
      const std::string name = text_at(input, at + drive_name, drive_name_size);
      if (!name.empty() && name != x_drive)
        set_position(axes, name, double_at(input, at + drive_start));
    }
    at += *length;
  }
}

MetaTable version4_meta(std::string_view input, std::uint64_t at, const RangeLayout& layout) {
  using namespace version4;
  const std::string type = text_at(input, at + scan_type, scan_type_size);
  MetaTable meta = axis_meta(type, layout);
  set_positive(meta, "time_per_step_s", single_at(input, at + time_per_step));
  set_positive(meta, "wavelength", double_at(input, at + used_wavelength));
  set_positive(meta, "voltage_kv", single_at(input, at + voltage));
  set_positive(meta, "current_ma", single_at(input, at + current));
  MetaTable axes;
  // The drive of x starts where the range does.
  read_version4_drives(input, at + range_header_size, layout.data_offset,
                       type.empty() ? std::string() : axis_kind(type), axes);
  set_table(meta, "axes", std::move(axes));
  return meta;
}

MetaTable range_meta(std::string_view input, BrukerVersion version, std::uint64_t at,
                     const RangeLayout& layout) {
  switch (version) {
    case BrukerVersion::v1:
      return version1_meta(input, at, layout);
    case BrukerVersion::v2:
      return version2_meta(input, at, layout);
    case BrukerVersion::v3:
      return version3_meta(input, at, layout);
    case BrukerVersion::v4:
      break;
  }
  return version4_meta(input, at, layout);
}

// How many ranges the file header counts; versions 1 and 4 chain them instead.
std::optional<std::uint64_t> stated_range_count(std::string_view input, BrukerVersion version) {
  if (version == BrukerVersion::v2) return read_le<std::uint16_t>(input, version2::range_count);
  if (version == BrukerVersion::v3) return read_le<std::uint32_t>(input, version3::range_count);
  return std::nullopt;
}

// Whether another range follows the one at `at` whose points end at `next`.
Result<bool, LoadError> range_follows(std::string_view input, BrukerVersion version,
                                      std::uint64_t at, std::uint64_t next) {
  if (version == BrukerVersion::v1) {
    return read_le<std::uint32_t>(input, at + version1::following_range).value_or(0) != 0;
  }
  if (next == input.size()) return false;
  const auto type = read_le<std::uint32_t>(input, next);
  if (!type) return parse_failure(truncated);
  if (std::ranges::find(version4::range_types, *type) == std::end(version4::range_types)) {
    return parse_failure("Bruker RAW data followed by something other than a range");
  }
  return true;
}

const double* number_of(const MetaTable& meta, std::string_view key) {
  const MetaTable::Value* value = meta.find(key);
  return value ? std::get_if<double>(value) : nullptr;
}

constexpr std::string_view common_keys[] = {"wavelength_kalpha1", "wavelength_kalpha2",
                                            "voltage_kv", "current_ma"};

// A number every range states alike holds for the measurement.
void lift_common(const std::vector<MetaTable>& ranges, std::string_view key, MetaTable& meta) {
  const double* first = number_of(ranges.front(), key);
  if (!first) return;
  for (const MetaTable& range : ranges) {
    const double* value = number_of(range, key);
    if (!value || *value != *first) return;
  }
  meta.set(key, *first);
}

}  // namespace

BrukerRanges::BrukerRanges(std::string_view input, BrukerVersion version, MetaTable& file_meta)
    : input_(input),
      version_(version),
      file_meta_(file_meta),
      at_(first_range_offset(input, version)),
      counted_(stated_range_count(input, version)) {
  if (!at_) return;
  if (version == BrukerVersion::v2) read_version2_file(input, file_meta);
  if (version == BrukerVersion::v3) read_version3_file(input, file_meta);
  if (version == BrukerVersion::v4) read_version4_file(input, *at_, file_meta);
}

Result<std::optional<BrukerRange>, LoadError> BrukerRanges::next() {
  if (read_ == 0 && !at_) return parse_failure("Unsupported Bruker RAW header");
  if (!at_) return std::optional<BrukerRange>();
  std::uint64_t at = *at_;
  // Early DIFFRAC-AT files repeat the signature before each further range.
  if (version_ == BrukerVersion::v1 && read_ > 0 &&
      input_.substr(std::min<std::uint64_t>(at, input_.size())).starts_with(version1_signature)) {
    at += version1_signature.size();
  }
  const auto layout = read_range_at(input_, version_, at);
  if (!layout || !range_fits(input_, *layout)) return parse_failure(truncated);
  if (layout->count > 0 && !is_trusted_range(input_, *layout)) {
    return parse_failure("Bruker RAW range header holds no valid axis");
  }
  BrukerRange range{*layout, range_meta(input_, version_, at, *layout)};
  ++read_;
  if (version_ == BrukerVersion::v1 && read_ == 1) {
    // The first range's header stands in for the file header this version lacks.
    const MetaTable::Value* header = range.meta.find("header");
    const auto* fields = header ? std::get_if<MetaTable>(header) : nullptr;
    const MetaTable::Value* name = fields ? fields->find("SAMPLE_NAME") : nullptr;
    if (name) file_meta_.set("sample_name", *name);
  }
  MetaTable& common = common_.emplace_back();
  for (const std::string_view key : common_keys) {
    if (const double* value = number_of(range.meta, key)) common.set(key, *value);
  }
  const std::uint64_t next = layout->data_offset + layout->count * layout->stride;
  at_ = next;
  if (counted_) {
    if (read_ == *counted_) at_.reset();
  } else {
    auto follows = range_follows(input_, version_, at, next);
    if (!follows) return fail(std::move(follows).error());
    if (!follows.value()) at_.reset();
  }
  return std::optional<BrukerRange>(std::move(range));
}

void BrukerRanges::finish() {
  if (common_.empty()) return;
  for (const std::string_view key : common_keys) {
    if (!file_meta_.find(key)) lift_common(common_, key, file_meta_);
  }
}

}  // namespace morvex
