// Lines of UTF-8 text from a byte source, streamed through an 8 KiB buffer.
#pragma once

#include <array>
#include <optional>
#include <string>
#include <string_view>

#include "core/byte_source.hpp"
#include "core/load_error.hpp"

namespace morvex {

class LineReader {
 public:
  static constexpr std::size_t buffer_size = 8192;

  explicit LineReader(ByteSource& source) : source_(source) {}
  LineReader(const LineReader&) = delete;
  LineReader& operator=(const LineReader&) = delete;

  // The next line without its "\n" (and a "\r" right before it), valid until the next call.
  // nullopt at the end of the input or on a read error; error() tells which. Every line is
  // checked to be strict UTF-8. A byte-order mark at the very start of the input is skipped:
  // it is an encoding signature, not text.
  std::optional<std::string_view> next_line();

  bool failed() const { return error_.has_value(); }
  const std::optional<IoError>& error() const { return error_; }
  IoError take_error() { return std::move(*error_); }

 private:
  bool refill();
  std::optional<std::string_view> finish(std::string_view line, bool terminated,
                                         bool known_ascii);

  ByteSource& source_;
  std::array<char, buffer_size> buffer_;
  std::size_t begin_ = 0;  // unread bytes are buffer_[begin_, end_)
  std::size_t end_ = 0;
  bool at_end_ = false;
  bool at_start_ = true;
  bool buffer_ascii_ = false;  // the bytes of the last refill are all ASCII, hence valid UTF-8
  std::string long_line_;  // reused for lines that cross a buffer boundary
  std::optional<IoError> error_;
};


}  // namespace morvex
