// GSAS powder data in text form: the first usable BANK line gives start and step, and the
// numbers up to the next BANK line are that bank's intensities.
#include "core/line_reader.hpp"
#include "core/pattern.hpp"
#include "core/text.hpp"
#include "formats/readers.hpp"

namespace morvex {
namespace {

constexpr std::string_view bank_word = "BANK";
// BANK, number, NCHAN, NREC, binning, then the coefficients: start and step come first.
constexpr std::size_t min_header_tokens = 7;
constexpr std::size_t start_token = 5;
constexpr std::size_t step_token = 6;
// Start and step are stored in hundredths of the x unit (centidegrees of 2-theta).
constexpr double hundredths = 100.0;

struct BankHeader {
  double start;
  double step;
};

// Upper case at column 0 only: indented or lower-case "bank" is title or comment text.
bool is_bank_line(std::string_view line) { return line.starts_with(bank_word); }

Result<BankHeader, LoadError> find_header(LineReader& lines,
                                          std::vector<std::string_view>& tokens) {
  while (const auto line = lines.next_line()) {
    if (!is_bank_line(*line)) continue;
    split_white_space(*line, tokens);
    if (tokens.size() < min_header_tokens) continue;  // too short to hold the coefficients
    const auto start = parse_double(tokens[start_token]);
    if (!start) return parse_failure("Invalid start");
    const auto step = parse_double(tokens[step_token]);
    if (!step) return parse_failure("Invalid step");
    return BankHeader{*start / hundredths, *step / hundredths};
  }
  if (lines.failed()) return fail(lines.take_error());
  return parse_failure("BANK header not found in RAW file");
}

}  // namespace

LoadResult read_gsas_raw(ByteSource& source) {
  LineReader lines(source);
  std::vector<std::string_view> tokens;
  auto header = find_header(lines, tokens);
  if (!header) return fail(std::move(header).error());

  // Every number counts, whatever its column; words among them are skipped. The next
  // BANK line ends the bank, and nothing after it is read.
  std::vector<double> y;
  while (const auto line = lines.next_line()) {
    if (is_bank_line(*line)) break;
    split_white_space(*line, tokens);
    for (const std::string_view token : tokens) {
      if (const auto value = parse_double(token)) y.push_back(*value);
    }
  }
  if (lines.failed()) return fail(lines.take_error());

  auto x = linear_axis(y.size(), header->start, header->step);
  return Pattern{std::move(x), std::move(y), std::nullopt};
}

}  // namespace morvex
