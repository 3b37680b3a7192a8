#include "core/line_reader.hpp"

#include <cstring>

#include "core/utf8.hpp"

namespace morvex {

std::optional<std::string_view> LineReader::stop() {
  if (input_.failed()) {
    if (!error_) error_ = input_.take_error();
    return std::nullopt;
  }
  if (!mark_line_pending_) return std::nullopt;
  mark_line_pending_ = false;
  return std::string_view();
}

std::optional<std::string_view> LineReader::finish(std::string_view line, bool terminated,
                                                   bool known_ascii) {
  mark_line_pending_ = false;
  if (!known_ascii && !is_valid_utf8(line)) {
    error_ = IoError::invalid_utf8();
    return std::nullopt;
  }
  // Only a "\r" that precedes the "\n" belongs to the terminator.
  if (terminated && !line.empty() && line.back() == '\r') line.remove_suffix(1);
  return line;
}

std::optional<std::string_view> LineReader::next_line() {
  if (error_) return std::nullopt;
  std::string_view ahead = input_.buffered();
  if (ahead.empty()) {
    if (!input_.refill()) return stop();
    ahead = input_.buffered();
    ascii_end_ = nullptr;
  }
  const char* const ahead_end = ahead.data() + ahead.size();

  // Fast path: the whole line lies in the buffer; hand out a view into it.
  if (const void* nl = std::memchr(ahead.data(), '\n', ahead.size())) {
    const auto length = static_cast<std::size_t>(static_cast<const char*>(nl) - ahead.data());
    input_.consume(length + 1);
    if (!ascii_end_) ascii_end_ = first_non_ascii(ahead.data(), ahead_end);
    const bool known_ascii = ahead.data() + length <= ascii_end_;
    // Past a line that is not all ASCII, look ahead again from its end.
    if (!known_ascii) ascii_end_ = first_non_ascii(ahead.data() + length, ahead_end);
    return finish(ahead.substr(0, length), true, known_ascii);
  }

  // The line crosses the buffer's end: gather it in the reused line buffer.
  long_line_.assign(ahead);
  input_.consume(ahead.size());
  while (input_.refill()) {
    const std::string_view chunk = input_.buffered();
    ascii_end_ = nullptr;
    if (const void* nl = std::memchr(chunk.data(), '\n', chunk.size())) {
      const auto length = static_cast<std::size_t>(static_cast<const char*>(nl) - chunk.data());
      long_line_.append(chunk.data(), length);
      input_.consume(length + 1);
      return finish(long_line_, true, false);
    }
    long_line_.append(chunk);
    input_.consume(chunk.size());
  }
  if (input_.failed()) return stop();
  return finish(long_line_, false, false);
}

}  // namespace morvex
