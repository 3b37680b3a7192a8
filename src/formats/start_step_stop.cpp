// The start/step/stop family (RIET7/LHPM/CSRIET, ILL D1A, PSI DMC, DBWS): a few free-text
// header lines, a line whose first three numbers are start, step and stop, then the counts,
// free format or DBWS's eight F7.0 fields a line; ILL and PSI files follow them with as many
// uncertainties, and PSI files end with a few lines of text.
#include <cmath>
#include <string>
#include <vector>

#include "core/axis.hpp"
#include "core/encodings.hpp"
#include "core/head.hpp"
#include "core/number.hpp"
#include "core/tokens.hpp"
#include "formats/readers.hpp"

namespace morvex {
namespace {

// RIET7 allows four header lines; ILL and PSI files carry a few of their own.
constexpr std::size_t max_header_lines = 6;
// Point counts outside these are no scan but a line of other numbers: fewer points than this
// make no measured pattern, while a table's first row may well look like a short one.
constexpr double min_points = 8;
constexpr double max_points = 1e8;
constexpr std::size_t dbws_field = 7;  // F7.0
constexpr std::size_t dbws_fields = 8;

std::string_view trim_blanks(std::string_view text) {
  const auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r'; };
  while (!text.empty() && blank(text.front())) text.remove_prefix(1);
  while (!text.empty() && blank(text.back())) text.remove_suffix(1);
  return text;
}

// The numbers of a line of counts: separated by blanks or commas, or in F7.0 fields that a
// count of six digits leaves without a blank between them. False for a line of text.
bool read_counts(std::string_view line, std::vector<std::string_view>& tokens,
                 std::vector<double>* counts, std::size_t& found) {
  if (!is_ascii(line)) return false;
  split_fields(line, tokens);
  bool numbers = true;
  for (const std::string_view token : tokens) numbers = numbers && parse_double(token);
  if (!numbers) {
    if (line.size() > dbws_field * dbws_fields) return false;
    tokens.clear();
    for (std::size_t at = 0; at < line.size(); at += dbws_field) {
      const std::string_view field = trim_blanks(line.substr(at, dbws_field));
      if (!parse_double(field)) return false;
      tokens.push_back(field);
    }
  }
  found += tokens.size();
  if (counts) {
    for (const std::string_view token : tokens) counts->push_back(*parse_double(token));
  }
  return true;
}

// The counts below the start line, up to the first line of text; `counts` may be none, to
// count them only. A head cut inside a line ends at its last whole line.
struct Counts {
  std::size_t found = 0;
  std::string_view trailer;  // the text lines after the counts
};

Counts count_numbers(std::string_view text, std::vector<double>* counts) {
  Counts result;
  std::vector<std::string_view> tokens;
  for (std::size_t at = 0; at < text.size();) {
    const std::size_t line_start = at;
    const std::string_view line = trim_blanks(next_head_line(text, at));
    if (line.empty() || line == "\x1A") continue;
    if (!read_counts(line, tokens, counts, result.found)) {
      result.trailer = text.substr(line_start);
      break;
    }
  }
  return result;
}

struct Layout {
  std::string_view header;  // the text lines above the start line
  std::string_view title;   // what follows the three numbers on the start line (DBWS)
  double start = 0.0;
  double step = 0.0;
  std::size_t points = 0;
  std::string_view counts;   // everything below the start line
  bool numbers_only = true;  // the start line holds no text
};

// A start, step and stop line: three leading numbers with 0 < step and start < stop.
std::optional<Layout> start_line(std::string_view line) {
  std::vector<std::string_view> tokens;
  if (!is_ascii(line)) return std::nullopt;
  split_fields(line, tokens, 4);
  if (tokens.size() < 3) return std::nullopt;
  const auto start = parse_double(tokens[0]);
  const auto step = parse_double(tokens[1]);
  const auto stop = parse_double(tokens[2]);
  if (!start || !step || !stop || !(*step > 0.0) || !(*start < *stop)) return std::nullopt;
  const double intervals = std::round((*stop - *start) / *step);
  if (!(intervals + 1 >= min_points && intervals < max_points)) return std::nullopt;
  Layout layout;
  layout.start = *start;
  layout.step = *step;
  layout.points = static_cast<std::size_t>(intervals) + 1;
  if (tokens.size() == 4) {
    const auto rest = line.substr(static_cast<std::size_t>(tokens[3].data() - line.data()));
    std::size_t found = 0;
    layout.numbers_only = read_counts(rest, tokens, nullptr, found);
    if (!layout.numbers_only) layout.title = trim_blanks(rest);
  }
  return layout;
}

// The layout where the counts below a start line number what it states (or twice that, with
// the uncertainties); else the first start line, whose count is wrong, or none. `whole` is
// false where `text` is a head that may end before the counts do.
struct Search {
  std::optional<Layout> layout;
  std::optional<Layout> miscounted;
  std::size_t found = 0;  // the count below `miscounted`
};

Search find_layout(std::string_view text, bool whole) {
  Search search;
  std::size_t lines = 0;
  for (std::size_t at = 0; at < text.size() && lines <= max_header_lines;) {
    const std::size_t line_start = at;
    const std::string_view line = trim_blanks(next_head_line(text, at));
    if (line.empty()) continue;
    ++lines;
    auto layout = start_line(line);
    if (!layout) {
      // Header lines are text: a line of numbers alone above the start line is a row.
      std::vector<std::string_view> tokens;
      std::size_t found = 0;
      if (read_counts(line, tokens, nullptr, found)) break;
      continue;
    }
    layout->header = text.substr(0, line_start);
    layout->counts = text.substr(at);
    const Counts counts = count_numbers(layout->counts, nullptr);
    const std::size_t n = layout->points;
    const bool complete = whole || !counts.trailer.empty();
    if (complete ? counts.found == n || counts.found == 2 * n : counts.found <= 2 * n) {
      search.layout = layout;
      return search;
    }
    if (!search.miscounted) {
      search.miscounted = layout;
      search.found = counts.found;
    }
    if (layout->numbers_only) break;  // a line of numbers alone: the rows have begun
  }
  return search;
}

// "lambda= 2.4500", "Wavelength: 1.9110": the first number after either word, in Å.
std::optional<double> stated_wavelength(std::string_view text) {
  std::string lower(text);
  for (char& c : lower) c = (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
  for (const std::string_view word : {"wavelength", "lambda"}) {
    std::size_t at = lower.find(word);
    if (at == std::string::npos) continue;
    at += word.size();
    while (at < lower.size() && (lower[at] == ' ' || lower[at] == '=' || lower[at] == ':')) ++at;
    std::size_t end = at;
    while (end < lower.size() && lower[end] != ' ' && lower[end] != ',' && lower[end] != '\t' &&
           lower[end] != '\r' && lower[end] != '\n') {
      ++end;
    }
    const auto value = parse_double(std::string_view(lower).substr(at, end - at));
    if (value && *value > 0.01 && *value < 30.0) return value;
  }
  return std::nullopt;
}

// The title is the first header line, or DBWS's text after the three numbers; the other header
// lines and the text after the counts stay under `header`, one a line.
void header_keys(const Layout& layout, std::string_view trailer, MetaTable& meta) {
  MetaTable header;
  std::string_view rest = layout.header;
  std::string lines;
  while (const auto line = cut_line(rest)) {
    const std::string_view text = trim_blanks(*line);
    if (text.empty()) continue;
    if (!header.find("title")) {
      set_header_text(header, "title", text);
    } else {
      lines.append(lines.empty() ? "" : "\n").append(text);
    }
  }
  if (!layout.title.empty() && !header.find("title")) {
    set_header_text(header, "title", layout.title);
  }
  set_header_text(header, "text", lines);
  set_header_text(header, "trailer", trailer);
  if (!header.empty()) meta.set("header", std::move(header));
  const std::string stated = std::string(layout.header) + "\n" + std::string(layout.title);
  if (const auto wavelength = stated_wavelength(stated)) meta.set("wavelength", *wavelength);
}

ReadStatus refusal(const Search& search) {
  if (!search.miscounted) return parse_failure("No start, step and stop line above the counts");
  const std::size_t n = search.miscounted->points;
  return parse_failure("The counts number " + std::to_string(search.found) +
                       " where start, step and stop state " + std::to_string(n) +
                       (search.found < n ? " (cut file?)" : ""));
}

}  // namespace

ReadStatus read_start_step_stop(std::string_view bytes, ScanSink& sink) {
  const Search search = find_layout(without_byte_order_mark(bytes), true);
  if (!search.layout) return refusal(search);
  const Layout& layout = *search.layout;
  std::vector<double> counts;
  const Counts read = count_numbers(layout.counts, &counts);
  header_keys(layout, read.trailer, sink.meta());
  Scan scan;
  scan.meta.set("x_axis", std::string("2Theta"));
  scan.meta.set("x_unit", std::string("deg"));
  scan.meta.set("start", layout.start);
  scan.meta.set("step", layout.step);
  if (counts.size() == 2 * layout.points) {
    scan.e.emplace(counts.begin() + static_cast<std::ptrdiff_t>(layout.points), counts.end());
    counts.resize(layout.points);
  }
  scan.x = linear_axis(layout.points, layout.start, layout.step);
  scan.y = std::move(counts);
  sink.take(std::move(scan));
  return succeeded;
}

// A start, step and stop line among the first lines, and below it as many counts as it
// states, or twice as many (as many as the head holds, where the file goes on past it).
bool start_step_stop_content(std::string_view head) {
  head = without_byte_order_mark(head);
  if (head.find('\0') != std::string_view::npos) return false;
  const bool whole = head.size() < head_size;
  if (!whole) head = head.substr(0, head.rfind('\n') + 1);
  return find_layout(head, whole).layout.has_value();
}

}  // namespace morvex
