// Byte sources for tests: input that arrives a few bytes at a time, as from a pipe or a
// decompressor, and input that fails with EIO once a given number of bytes is delivered.
#pragma once

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <string>
#include <string_view>

#include "core/byte_source.hpp"

namespace morvex {

class ChunkedSource final : public ByteSource {
 public:
  static constexpr std::size_t never = std::string_view::npos;

  ChunkedSource(std::string data, std::size_t chunk, std::size_t fail_at = never)
      : data_(std::move(data)), chunk_(chunk), fail_at_(fail_at) {}

  IoResult<std::size_t> read(std::span<char> buffer) override {
    if (position_ >= fail_at_) {
      ++failures;
      return fail(IoError::from_errno(EIO));
    }
    std::size_t n = std::min({buffer.size(), chunk_, data_.size() - position_});
    if (fail_at_ != never) n = std::min(n, fail_at_ - position_);
    std::memcpy(buffer.data(), data_.data() + position_, n);
    position_ += n;
    return n;
  }

  std::size_t position() const { return position_; }
  int failures = 0;

 private:
  std::string data_;
  std::size_t chunk_;
  std::size_t fail_at_;
  std::size_t position_ = 0;
};

// Delivers all its bytes at once, then fails every further read.
inline ChunkedSource failing_source(std::string data) {
  const std::size_t size = data.size();
  return ChunkedSource(std::move(data), ChunkedSource::never, size);
}

}  // namespace morvex
