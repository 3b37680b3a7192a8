// The column reader against the row rule applied line by line: whatever rows it reads in place,
// a buffer at a time, must give the points (or the error) that the line reader, the splitter and
// push_row give. The first byte picks the separators, the columns read and the chunk size.
#include <algorithm>
#include <cstring>
#include <string>

#include "core/line_reader.hpp"
#include "core/tokens.hpp"
#include "formats/columns.hpp"
#include "fuzz_common.hpp"

namespace {

using morvex::ColumnTarget;
using morvex::Input;
using morvex::ScanResult;
using morvex::Separators;

class Chunked final : public morvex::ByteSource {
 public:
  Chunked(std::string_view data, std::size_t chunk) : data_(data), chunk_(chunk) {}
  morvex::IoResult<std::size_t> read(std::span<char> buffer) override {
    const std::size_t n = std::min({buffer.size(), chunk_, data_.size() - position_});
    if (n != 0) std::memcpy(buffer.data(), data_.data() + position_, n);
    position_ += n;
    return n;
  }

 private:
  std::string_view data_;
  std::size_t chunk_;
  std::size_t position_ = 0;
};

ScanResult line_by_line(morvex::ByteSource& source, bool comma, std::size_t columns) {
  Input input(source);
  morvex::LineReader lines(input);
  ColumnTarget target;
  std::vector<std::string_view> tokens;
  while (const auto line = lines.next_line()) {
    const std::string_view trimmed = morvex::trim_white_space(*line);
    if (trimmed.empty() || trimmed.front() == '#' || trimmed.front() == '!') continue;
    if (comma) {
      morvex::split_fields(trimmed, tokens, columns);
    } else {
      morvex::split_white_space(trimmed, tokens, columns);
    }
    morvex::push_row(tokens, target);
  }
  if (lines.failed()) return morvex::fail(lines.take_error());
  morvex::Scan scan;
  scan.e = morvex::finish_error_column(target.x, std::move(target.e));
  scan.x = std::move(target.x);
  scan.y = std::move(target.y);
  return scan;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const bool comma = data[0] & 1;
  const std::size_t columns = data[0] & 2 ? 2 : morvex::row_columns;
  // Small chunks put line ends at buffer ends; the largest fills the buffer.
  const std::size_t chunk = std::size_t{1} << (data[0] >> 2) % 19;
  // An exact-size copy, so that AddressSanitizer sees any read past the text.
  const std::vector<char> bytes(data + 1, data + size);
  const std::string_view text(bytes.data(), bytes.size());
  const Separators separators = comma ? Separators::white_space_and_comma : Separators::white_space;

  morvex::SliceSource reference_source(text);
  const ScanResult expected = line_by_line(reference_source, comma, columns);
  morvex::SliceSource slice(text);
  Input slice_input(slice);
  std::string why =
      morvex::fuzz::compare_results(read_columns(slice_input, separators, columns), expected);
  if (!why.empty()) morvex::fuzz::die("in place: " + why);
  Chunked chunked(text, chunk);
  Input chunked_input(chunked);
  why = morvex::fuzz::compare_results(read_columns(chunked_input, separators, columns), expected);
  if (!why.empty()) morvex::fuzz::die("in chunks: " + why);
  return 0;
}
