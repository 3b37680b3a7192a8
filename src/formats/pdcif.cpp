// Powder CIF: every data block with a loop of measured or processed intensities is a scan,
// its x an explicit 2θ (or time-of-flight) column of that loop or the stated 2θ range.
#include <algorithm>
#include <cmath>
#include <optional>
#include <string>
#include <vector>

#include "core/axis.hpp"
#include "core/encodings.hpp"
#include "core/head.hpp"
#include "core/number.hpp"
#include "formats/cif_tokens.hpp"
#include "formats/readers.hpp"

namespace morvex {
namespace {

// In order of preference.
constexpr std::string_view y_tags[] = {"_pd_meas_counts_total", "_pd_meas_intensity_total",
                                       "_pd_proc_intensity_total"};
struct XRule {
  std::string_view tag;
  std::string_view axis;
  std::string_view unit;
};
constexpr XRule x_columns[] = {{"_pd_meas_2theta_scan", "2Theta", "deg"},
                               {"_pd_proc_2theta_corrected", "2Theta", "deg"},
                               {"_pd_meas_time_of_flight", "TOF", "us"}};
// Measured range first; the processed one serves where a file states only that.
constexpr std::string_view range_prefixes[] = {"_pd_meas_2theta_range_", "_pd_proc_2theta_range_"};
// The number of intensities decides the count; the stated maximum must lie within half a step
// of the last point.
constexpr double range_tolerance = 0.5;

struct Loop {
  std::vector<std::string> tags;  // lower-cased: CIF tags are case-insensitive
  std::vector<CifToken> values;   // row after row
  std::size_t rows() const { return values.size() / tags.size(); }
  std::optional<std::size_t> column(std::string_view tag) const {
    const auto found = std::ranges::find(tags, tag);
    if (found == tags.end()) return std::nullopt;
    return static_cast<std::size_t>(found - tags.begin());
  }
};

struct Block {
  std::string name;
  std::vector<std::pair<std::string, CifToken>> items;  // single values, tag lower-cased
  std::vector<Loop> loops;
  const CifToken* item(std::string_view tag) const {
    for (const auto& [key, value] : items) {
      if (key == tag) return &value;
    }
    return nullptr;
  }
};

Failure<ParseError> failure(const std::string& text) {
  return parse_failure("pdCIF: " + text);
}

bool is_placeholder(const CifToken& value) {
  return !value.quoted && (value.text == "?" || value.text == ".");
}

std::string lower(std::string_view text) {
  std::string lowered(text);
  for (char& c : lowered) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
  }
  return lowered;
}

struct Measured {
  double value = 0;
  std::optional<double> esd;
};

// "119(17)", "1.5402(3)", "2.5e3(4)": the esd counts in units of the last digit stated.
std::optional<Measured> parse_measured(std::string_view text) {
  const std::size_t open = text.find('(');
  if (open == std::string_view::npos) {
    const auto value = parse_double(text);
    if (!value) return std::nullopt;
    return Measured{*value, std::nullopt};
  }
  const std::string_view number = text.substr(0, open);
  const std::string_view digits = text.substr(open + 1, text.size() - open - 2);
  const auto value = parse_double(number);
  if (!value || !text.ends_with(')') || digits.empty() ||
      !std::ranges::all_of(digits, [](char c) { return c >= '0' && c <= '9'; })) {
    return std::nullopt;
  }
  const std::size_t exponent_at = number.find_first_of("eE");
  const std::string_view mantissa = number.substr(0, exponent_at);
  const std::size_t dot = mantissa.find('.');
  const long decimals =
      dot == std::string_view::npos ? 0 : static_cast<long>(mantissa.size() - dot - 1);
  long exponent = 0;
  if (exponent_at != std::string_view::npos) {
    const auto stated = parse_double(number.substr(exponent_at + 1));
    if (!stated || std::fabs(*stated) > 400) return std::nullopt;
    exponent = static_cast<long>(*stated);
  }
  // Spelled out and parsed, so that the esd is the decimal it states, correctly rounded.
  const auto esd = parse_double(std::string(digits) + "e" + std::to_string(exponent - decimals));
  return Measured{*value, esd};
}

std::optional<double> number_of(const CifToken* token) {
  if (!token || is_placeholder(*token)) return std::nullopt;
  const auto measured = parse_measured(token->text);
  return measured ? std::optional(measured->value) : std::nullopt;
}

// Wavelengths as the block states them: lines named by _diffrn_radiation_type ("K\a~1~")
// give the Kα keys, one unnamed wavelength gives `wavelength`.
void read_wavelengths(const Block& block, MetaTable& meta) {
  std::vector<std::optional<double>> lengths, weights;
  std::vector<std::string> types;
  const auto row = [&](const CifToken* length, const CifToken* weight, const CifToken* type) {
    lengths.push_back(number_of(length));
    weights.push_back(number_of(weight));
    types.push_back(type && !is_placeholder(*type) ? std::string(type->text) : std::string());
  };
  for (const Loop& loop : block.loops) {
    const auto length = loop.column("_diffrn_radiation_wavelength");
    if (!length) continue;
    const auto weight = loop.column("_diffrn_radiation_wavelength_wt");
    const auto type = loop.column("_diffrn_radiation_type");
    for (std::size_t r = 0; r < loop.rows(); ++r) {
      const CifToken* values = &loop.values[r * loop.tags.size()];
      row(&values[*length], weight ? &values[*weight] : nullptr, type ? &values[*type] : nullptr);
    }
  }
  if (lengths.empty() && block.item("_diffrn_radiation_wavelength")) {
    row(block.item("_diffrn_radiation_wavelength"), nullptr, block.item("_diffrn_radiation_type"));
  }
  std::optional<double> alpha1_weight, alpha2_weight;
  bool named = false;
  for (std::size_t i = 0; i < lengths.size(); ++i) {
    if (!lengths[i]) continue;
    const std::string& type = types[i];
    const char* key = type.find("\\a~1~") != std::string::npos   ? "wavelength_kalpha1"
                      : type.find("\\a~2~") != std::string::npos ? "wavelength_kalpha2"
                      : type.find("\\b") != std::string::npos    ? "wavelength_kbeta"
                                                                 : nullptr;
    if (!key) continue;
    named = true;
    meta.set(key, *lengths[i]);
    if (type.find("\\a~1~") != std::string::npos) alpha1_weight = weights[i];
    if (type.find("\\a~2~") != std::string::npos) alpha2_weight = weights[i];
  }
  if (alpha1_weight && alpha2_weight && *alpha1_weight > 0) {
    meta.set("kalpha2_ratio", *alpha2_weight / *alpha1_weight);
  }
  if (!named && lengths.size() == 1 && lengths.front()) meta.set("wavelength", *lengths.front());
}

// The x of a loop without an explicit column: min + k * inc, held to the stated max.
Status<ParseError> range_axis(const Block& block, std::size_t rows, Scan& scan) {
  for (const std::string_view prefix : range_prefixes) {
    const auto min = number_of(block.item(std::string(prefix) + "min"));
    const auto max = number_of(block.item(std::string(prefix) + "max"));
    const auto inc = number_of(block.item(std::string(prefix) + "inc"));
    if (!min || !max || !inc) continue;
    const double steps = (*max - *min) / *inc;
    if (!(*inc > 0) || !std::isfinite(steps) ||
        std::fabs(steps - static_cast<double>(rows - 1)) > range_tolerance) {
      return failure("block " + block.name + ": the 2theta range does not fit its " +
                     std::to_string(rows) + " points");
    }
    scan.x = linear_axis(rows, *min, *inc);
    scan.meta.set("x_axis", "2Theta");
    scan.meta.set("x_unit", "deg");
    scan.meta.set("start", *min);
    scan.meta.set("step", *inc);
    return succeeded;
  }
  return failure("block " + block.name + " states neither a 2theta column nor a 2theta range");
}

Status<ParseError> read_column(const Block& block, const Loop& loop, std::size_t column,
                               std::vector<double>& values, std::vector<double>* esds) {
  for (std::size_t r = 0; r < loop.rows(); ++r) {
    const CifToken& token = loop.values[r * loop.tags.size() + column];
    const auto measured = is_placeholder(token) ? std::nullopt : parse_measured(token.text);
    if (!measured) {
      return failure("block " + block.name + ": \"" + std::string(token.text) + "\" in " +
                     loop.tags[column] + " is no number");
    }
    values.push_back(measured->value);
    if (esds && measured->esd) esds->push_back(*measured->esd);
  }
  return succeeded;
}

// The block's scan, or nothing where it holds no intensities loop.
Result<std::optional<Scan>, ParseError> block_scan(const Block& block) {
  for (const std::string_view y_tag : y_tags) {
    for (const Loop& loop : block.loops) {
      const auto y_column = loop.column(y_tag);
      if (!y_column) continue;
      Scan scan;
      std::vector<double> esds;
      if (auto read = read_column(block, loop, *y_column, scan.y, &esds); !read) {
        return fail(std::move(read).error());
      }
      if (scan.y.empty()) return failure("block " + block.name + ": no points");
      // Uncertainties only where every point states one.
      if (esds.size() == scan.y.size()) scan.e = std::move(esds);
      const auto x_rule = std::ranges::find_if(
          x_columns, [&loop](const XRule& rule) { return loop.column(rule.tag).has_value(); });
      if (x_rule != std::end(x_columns)) {
        if (auto read = read_column(block, loop, *loop.column(x_rule->tag), scan.x, nullptr);
            !read) {
          return fail(std::move(read).error());
        }
        scan.meta.set("x_axis", std::string(x_rule->axis));
        scan.meta.set("x_unit", std::string(x_rule->unit));
      } else if (auto axis = range_axis(block, scan.y.size(), scan); !axis) {
        return fail(std::move(axis).error());
      }
      // A loop cut at a row boundary still shows against the stated number of points.
      const CifToken* points = block.item("_pd_meas_number_of_points");
      const auto stated = number_of(points);
      if (stated && *stated != static_cast<double>(scan.y.size())) {
        return failure("block " + block.name + " states " + std::string(points->text) +
                       " points, its loop holds " + std::to_string(scan.y.size()));
      }
      scan.meta.set("block", utf8_or_latin1(block.name));
      scan.meta.set("y_source", std::string(y_tag));
      if (const CifToken* started = block.item("_pd_meas_datetime_initiated");
          started && !is_placeholder(*started)) {
        set_header_text(scan.meta, "started", started->text);
      }
      read_wavelengths(block, scan.meta);
      MetaTable& header = scan.meta.table("header");
      for (const auto& [tag, value] : block.items) {
        if (!is_placeholder(value)) set_header_text(header, tag, value.text);
      }
      return std::optional<Scan>(std::move(scan));
    }
  }
  return std::optional<Scan>();
}

// The blocks of the document, in order; save frames are skipped whole.
Result<std::vector<Block>, ParseError> read_blocks(std::string_view text) {
  CifTokenizer tokens(text);
  std::vector<Block> blocks;
  auto token = tokens.next();
  while (token && token->kind != CifTokenKind::end) {
    const CifToken current = *token;
    token = tokens.next();
    if (current.kind == CifTokenKind::data_block) {
      blocks.push_back(Block{std::string(current.text), {}, {}});
    } else if (blocks.empty()) {
      return failure("content before the first data block, on line " +
                     std::to_string(tokens.line()));
    } else if (current.kind == CifTokenKind::tag) {
      if (!token) break;
      if (token->kind != CifTokenKind::value) {
        return failure("tag " + std::string(current.text) + " has no value");
      }
      tokens.extend_to_line_end(*token);
      blocks.back().items.emplace_back(lower(current.text), *token);
      token = tokens.next();
    } else if (current.kind == CifTokenKind::loop) {
      Loop loop;
      while (token && token->kind == CifTokenKind::tag) {
        loop.tags.push_back(lower(token->text));
        token = tokens.next();
      }
      while (token && token->kind == CifTokenKind::value) {
        loop.values.push_back(*token);
        token = tokens.next();
      }
      if (!token) break;
      if (loop.tags.empty() || loop.values.size() % loop.tags.size() != 0) {
        return failure("the loop of " + (loop.tags.empty() ? "no tags" : loop.tags.front()) +
                       " holds " + std::to_string(loop.values.size()) + " values for " +
                       std::to_string(loop.tags.size()) + " tags");
      }
      blocks.back().loops.push_back(std::move(loop));
    } else if (current.kind == CifTokenKind::save_frame) {
      while (token && token->kind != CifTokenKind::end &&
             !(token->kind == CifTokenKind::save_frame && token->text.empty())) {
        token = tokens.next();
      }
      if (token && token->kind == CifTokenKind::save_frame) token = tokens.next();
    } else {
      return failure("a value without a tag, on line " + std::to_string(tokens.line()));
    }
  }
  if (!token) return fail(std::move(token).error());
  return blocks;
}

// The wavelength keys every scan states alike hold for the measurement.
void share_wavelengths(std::vector<Scan>& scans, MetaTable& meta) {
  for (const std::string_view key : {"wavelength", "wavelength_kalpha1", "wavelength_kalpha2",
                                     "wavelength_kbeta", "kalpha2_ratio"}) {
    const auto value_of = [key](const Scan& scan) -> std::optional<double> {
      const MetaTable::Value* value = scan.meta.find(key);
      const double* number = value ? std::get_if<double>(value) : nullptr;
      return number ? std::optional(*number) : std::nullopt;
    };
    const auto first = value_of(scans.front());
    if (first && std::ranges::all_of(scans, [&](const Scan& s) { return value_of(s) == first; })) {
      meta.set(key, *first);
    }
  }
}

}  // namespace

ReadStatus read_pdcif(std::string_view bytes, ScanSink& sink) {
  auto blocks = read_blocks(bytes);
  if (!blocks) return fail(std::move(blocks).error());
  std::vector<Scan> scans;
  for (const Block& block : *blocks) {
    auto scan = block_scan(block);
    if (!scan) return fail(std::move(scan).error());
    if (*scan) scans.push_back(std::move(**scan));
  }
  if (scans.empty()) {
    return failure(
        "no data block holds a powder pattern (a loop of _pd_meas_counts_total, "
        "_pd_meas_intensity_total or _pd_proc_intensity_total)");
  }
  share_wavelengths(scans, sink.meta());
  for (Scan& scan : scans) {
    if (!sink.take(std::move(scan))) break;
  }
  return succeeded;
}

// A CIF's first line that is neither blank nor a comment opens a data block.
bool pdcif_content(std::string_view head) {
  const std::string_view line = first_content_line(
      without_byte_order_mark(head), [](std::string_view l) { return l.front() == '#'; });
  const auto same_letter = [](char c, char lower) { return (c | 0x20) == lower; };
  return line.size() > 5 &&
         std::ranges::equal(line.substr(0, 4), std::string_view("data"), same_letter) &&
         line[4] == '_';
}

}  // namespace morvex
