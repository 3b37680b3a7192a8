// Lines of UTF-8 text, read through the shared buffered input.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "core/input.hpp"
#include "core/load_error.hpp"

namespace morvex {

class LineReader {
 public:
  static constexpr std::size_t buffer_size = Input::buffer_size;

  // A byte-order mark at the very start of the input is skipped: it is an encoding
  // signature, not text.
  explicit LineReader(Input& input)
      : input_(input), mark_line_pending_(input_.skip_byte_order_mark()) {}
  LineReader(const LineReader&) = delete;
  LineReader& operator=(const LineReader&) = delete;

  // The next line without its "\n" (and a "\r" right before it), valid until the next call.
  // nullopt at the end of the input or on a read error; error() tells which. Every line is
  // checked to be strict UTF-8.
  std::optional<std::string_view> next_line();

  bool failed() const { return error_.has_value(); }
  const std::optional<IoError>& error() const { return error_; }
  IoError take_error() { return std::move(*error_); }

 private:
  std::optional<std::string_view> finish(std::string_view line, bool terminated, bool known_ascii);
  std::optional<std::string_view> stop();

  Input& input_;
  // Everything before this byte of the buffered input is known to be ASCII, hence valid
  // UTF-8: one scan ahead spares the per-line check of plain-ASCII text.
  const char* ascii_end_ = nullptr;
  // A mark alone still makes a first line, an empty one.
  bool mark_line_pending_;
  std::string long_line_;  // reused for lines that cross a buffer boundary
  std::optional<IoError> error_;
};

}  // namespace morvex
