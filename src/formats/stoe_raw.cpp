// STOE binary raw files ("RAW_1.0x"): a file header of 512-byte records naming the measured
// ranges, each a range header record followed by its counts.
#include <array>
#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

#include "core/axis.hpp"
#include "core/head.hpp"
#include "core/little_endian.hpp"
#include "core/number_text.hpp"
#include "formats/readers.hpp"

namespace morvex {
namespace {

// The offsets are those of STOE's RAW_HEADER106 and RANGE_INFO records (512 bytes each), as
// the real files show them; the earlier 1.0x headers keep every field read here in place.
constexpr std::string_view signature = "RAW_1.0";
constexpr std::size_t record_size = 512;
constexpr std::size_t max_ranges = 8;

constexpr std::size_t program_offset = 0x08;  // 8 characters
constexpr std::size_t file_date_offset = 0x10;
constexpr std::size_t date_size = 16;
constexpr std::size_t title_offset = 0x20;
constexpr std::size_t title_size = 80;
constexpr std::size_t user_text_offset = 0x70;
constexpr std::size_t user_text_size = 192;
constexpr std::size_t tube_kv_offset = 0x13E;  // int16
constexpr std::size_t tube_ma_offset = 0x140;  // int16
constexpr std::size_t wavelength1_offset = 0x142;
constexpr std::size_t wavelength2_offset = 0x146;
constexpr std::size_t ranges_done_offset = 0x17A;   // int16: ranges actually measured
constexpr std::size_t head_records_offset = 0x1E0;  // int16 [8], record numbers from 1
constexpr std::size_t data_records_offset = 0x1F0;  // int16 [8]

// Range header, relative to its record.
constexpr std::size_t start_time_offset = 0x00;
constexpr std::size_t end_time_offset = 0x10;
constexpr std::size_t points_offset = 0x22;     // int16
constexpr std::size_t data_form_offset = 0x26;  // int16: 0 for int32 counts, 1 for int16
constexpr std::size_t count_factor_offset = 0x28;
constexpr std::size_t begin_offset = 0x2C;  // float32: 2θ, then ω
constexpr std::size_t end_offset = 0x34;
constexpr std::size_t step_offset = 0x3C;
constexpr std::size_t step_time_offset = 0x44;

// Count scaling came with version 1.05; the field held nothing before.
constexpr char first_scaled_version = '5';

Failure<ParseError> failure(const std::string& text) {
  return parse_failure("STOE RAW: " + text);
}

// The float32 that x is built from.
std::optional<double> read_single(std::string_view bytes, std::size_t offset) {
  const auto value = read_le<float>(bytes, offset);
  if (!value || !std::isfinite(*value)) return std::nullopt;
  return static_cast<double>(*value);
}

// A float32 the file states, as its shortest decimal: 1.5406, not 1.5405999422073364.
std::optional<double> stated_single(std::string_view bytes, std::size_t offset) {
  const auto value = read_le<float>(bytes, offset);
  if (!value || !std::isfinite(*value)) return std::nullopt;
  return single_as_decimal(*value);
}

void read_file_header(std::string_view bytes, MetaTable& meta) {
  MetaTable& header = meta.table("header");
  const auto text = [&](std::string_view key, std::size_t offset, std::size_t size) {
    if (const auto field = read_text_field(bytes, offset, size))
      set_header_text(header, key, *field);
  };
  text("Ident", 0, program_offset);
  text("ProgName", program_offset, 8);
  text("FileDate", file_date_offset, date_size);
  text("Title", title_offset, title_size);
  text("UserText", user_text_offset, user_text_size);
  for (const auto& [key, offset] : {std::pair{"wavelength_kalpha1", wavelength1_offset},
                                    std::pair{"wavelength_kalpha2", wavelength2_offset}}) {
    // Unused slots hold zero.
    if (const auto value = stated_single(bytes, offset); value && *value > 0) meta.set(key, *value);
  }
  for (const auto& [key, offset] :
       {std::pair{"voltage_kv", tube_kv_offset}, std::pair{"current_ma", tube_ma_offset}}) {
    if (const auto value = read_le<std::int16_t>(bytes, offset); value && *value > 0) {
      meta.set(key, static_cast<double>(*value));
    }
  }
}

struct RangeLayout {
  std::size_t header = 0;
  std::size_t data = 0;
  std::size_t data_size = 0;  // as the file header states it
};

Result<RangeLayout, LoadError> range_layout(std::string_view bytes, std::size_t index) {
  const auto head_record = read_le<std::int16_t>(bytes, head_records_offset + 2 * index);
  const auto data_records = read_le<std::int16_t>(bytes, data_records_offset + 2 * index);
  // Record 1 is the file header: a range header can only follow it.
  if (!head_record || !data_records || *head_record < 2 || *data_records < 0) {
    return failure("range " + std::to_string(index + 1) + " has no valid header record");
  }
  const auto header = static_cast<std::size_t>(*head_record - 1) * record_size;
  return RangeLayout{header, header + record_size,
                     static_cast<std::size_t>(*data_records) * record_size};
}

Result<Scan, LoadError> read_range(std::string_view bytes, const RangeLayout& layout,
                                   char version) {
  const std::size_t at = layout.header;
  const auto points = read_le<std::int16_t>(bytes, at + points_offset);
  const auto form = read_le<std::int16_t>(bytes, at + data_form_offset);
  const auto begin = read_single(bytes, at + begin_offset);
  const auto end = read_single(bytes, at + end_offset);
  const auto step = read_single(bytes, at + step_offset);
  if (!points || !form || !begin || !end || !step) return failure("range header truncated");
  if (*points <= 0) return failure("a range holds no points");
  if (*form != 0 && *form != 1) return failure("unknown count format " + std::to_string(*form));
  const auto count = static_cast<std::size_t>(*points);
  // The stated end must be the last point's position to within half a step.
  const double last = static_cast<double>(count - 1) * *step + *begin;
  if (!(*step > 0) || !(std::fabs(last - *end) <= *step / 2)) {
    return failure("range start, end and step do not fit its " + std::to_string(count) + " points");
  }
  const std::size_t width = *form == 0 ? 4 : 2;
  if (count * width > layout.data_size) return failure("range points exceed its data records");
  if (!has_bytes(bytes, layout.data, count * width)) return failure("range data truncated");

  double factor = 1.0;
  if (version >= first_scaled_version) {
    const auto stated = stated_single(bytes, at + count_factor_offset);
    if (stated && *stated > 1) factor = *stated;
  }
  Scan scan;
  scan.y.reserve(count);
  for (std::size_t k = 0; k < count; ++k) {
    const char* p = bytes.data() + layout.data + k * width;
    const double value = width == 4 ? static_cast<double>(load_le<std::int32_t>(p))
                                    : static_cast<double>(load_le<std::int16_t>(p));
    scan.y.push_back(factor == 1.0 ? value : value / factor);
  }
  scan.x = linear_axis(count, *begin, *step);
  // The range's begin and step are its 2θ drive's.
  scan.meta.set("x_axis", axis_kind("2Theta"));
  scan.meta.set("x_unit", "deg");
  scan.meta.set("start", *begin);
  scan.meta.set("step", *step);
  if (const auto time = stated_single(bytes, at + step_time_offset); time && *time > 0) {
    scan.meta.set("time_per_step_s", *time);
  }
  MetaTable& header = scan.meta.table("header");
  if (const auto field = read_text_field(bytes, at + start_time_offset, date_size)) {
    set_header_text(header, "StartTime", *field);
  }
  if (const auto field = read_text_field(bytes, at + end_time_offset, date_size)) {
    set_header_text(header, "EndTime", *field);
  }
  if (factor != 1.0) header.set("CntFactor", factor);
  return scan;
}

}  // namespace

ReadStatus read_stoe_raw(std::string_view bytes, ScanSink& sink) {
  if (bytes.size() < record_size || !bytes.starts_with(signature)) {
    return failure("not a RAW_1.0x file header");
  }
  const char version = bytes[signature.size()];
  read_file_header(bytes, sink.meta());
  const auto ranges = read_le<std::int16_t>(bytes, ranges_done_offset).value_or(0);
  if (ranges <= 0) return failure("the file announces no measured range");
  if (static_cast<std::size_t>(ranges) > max_ranges) {
    return failure("the file announces " + std::to_string(ranges) + " ranges, at most 8 fit");
  }
  for (std::size_t i = 0; i < static_cast<std::size_t>(ranges); ++i) {
    auto layout = range_layout(bytes, i);
    if (!layout) return fail(std::move(layout).error());
    auto scan = read_range(bytes, *layout, version);
    if (!scan) return fail(std::move(scan).error());
    if (!sink.take(std::move(scan).value())) break;
  }
  return succeeded;
}

bool stoe_raw_content(std::string_view head) {
  return head.starts_with("RAW_");
}

}  // namespace morvex
