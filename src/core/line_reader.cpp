#include "core/line_reader.hpp"

#include <cstring>

#include "core/utf8.hpp"

namespace morvex {
namespace {

constexpr std::string_view byte_order_mark = "\xEF\xBB\xBF";

}  // namespace

bool LineReader::refill() {
  begin_ = 0;
  end_ = 0;
  if (at_end_) return false;
  auto got = source_.read(std::span<char>(buffer_.data(), buffer_.size()));
  if (!got) {
    error_ = std::move(got).error();
    at_end_ = true;
    return false;
  }
  end_ = got.value();
  if (end_ == 0) at_end_ = true;
  // One check per buffer spares the per-line check for the common plain-ASCII file.
  buffer_ascii_ = all_ascii(reinterpret_cast<const unsigned char*>(buffer_.data()), end_);
  return end_ > 0;
}

std::optional<std::string_view> LineReader::finish(std::string_view line, bool terminated,
                                                   bool known_ascii) {
  if (at_start_) {
    at_start_ = false;
    if (line.starts_with(byte_order_mark)) line.remove_prefix(byte_order_mark.size());
  }
  if (!known_ascii && !is_valid_utf8(line)) {
    error_ = IoError::invalid_utf8();
    at_end_ = true;
    begin_ = end_ = 0;
    return std::nullopt;
  }
  // Only a "\r" that precedes the "\n" belongs to the terminator.
  if (terminated && !line.empty() && line.back() == '\r') line.remove_suffix(1);
  return line;
}

std::optional<std::string_view> LineReader::next_line() {
  if (error_) return std::nullopt;
  if (begin_ == end_ && !refill()) return std::nullopt;

  // Fast path: the whole line lies in the buffer; hand out a view into it.
  const char* start = buffer_.data() + begin_;
  if (const void* nl = std::memchr(start, '\n', end_ - begin_)) {
    const auto length = static_cast<std::size_t>(static_cast<const char*>(nl) - start);
    begin_ += length + 1;
    return finish(std::string_view(start, length), true, buffer_ascii_);
  }

  // The line crosses the buffer's end: gather it in the reused line buffer.
  long_line_.assign(start, end_ - begin_);
  while (refill()) {
    const char* chunk = buffer_.data();
    if (const void* nl = std::memchr(chunk, '\n', end_)) {
      const auto length = static_cast<std::size_t>(static_cast<const char*>(nl) - chunk);
      long_line_.append(chunk, length);
      begin_ = length + 1;
      return finish(long_line_, true, false);
    }
    long_line_.append(chunk, end_);
  }
  if (error_) return std::nullopt;
  return finish(long_line_, false, false);
}

}  // namespace morvex
