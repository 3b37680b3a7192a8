#include "core/line_reader.hpp"

#include <cstdint>
#include <cstring>

namespace morvex {
namespace {

constexpr std::string_view byte_order_mark = "\xEF\xBB\xBF";

bool all_ascii(const unsigned char* p, std::size_t n) {
  std::size_t i = 0;
  for (; i + 8 <= n; i += 8) {
    std::uint64_t word;
    std::memcpy(&word, p + i, 8);
    if (word & 0x8080808080808080ull) return false;
  }
  for (; i < n; ++i) {
    if (p[i] & 0x80) return false;
  }
  return true;
}

}  // namespace

bool is_valid_utf8(std::string_view text) {
  const auto* p = reinterpret_cast<const unsigned char*>(text.data());
  const std::size_t n = text.size();
  std::size_t i = 0;
  while (i < n) {
    if (all_ascii(p + i, std::min<std::size_t>(16, n - i))) {
      i += std::min<std::size_t>(16, n - i);
      continue;
    }
    const unsigned char lead = p[i];
    if (lead < 0x80) {
      ++i;
      continue;
    }
    std::size_t length;
    unsigned char low = 0x80, high = 0xBF;  // allowed range of the second byte
    if (lead >= 0xC2 && lead <= 0xDF) {
      length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
      length = 3;
      if (lead == 0xE0) low = 0xA0;   // overlong
      if (lead == 0xED) high = 0x9F;  // surrogates
    } else if (lead >= 0xF0 && lead <= 0xF4) {
      length = 4;
      if (lead == 0xF0) low = 0x90;   // overlong
      if (lead == 0xF4) high = 0x8F;  // above U+10FFFF
    } else {
      return false;
    }
    if (n - i < length) return false;
    if (p[i + 1] < low || p[i + 1] > high) return false;
    for (std::size_t k = 2; k < length; ++k) {
      if ((p[i + k] & 0xC0) != 0x80) return false;
    }
    i += length;
  }
  return true;
}

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
