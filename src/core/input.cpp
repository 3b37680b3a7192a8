#include "core/input.hpp"

#include <algorithm>
#include <cstring>
#include <new>

#include "core/memory.hpp"

namespace morvex {
namespace {

constexpr std::string_view byte_order_mark = "\xEF\xBB\xBF";

}  // namespace

Input::Input(SliceSource& slice) : source_(slice), in_place_(true), at_end_(true) {
  const std::string_view rest = slice.take_rest();
  data_ = rest.data();
  end_ = rest.size();
}

bool Input::refill() {
  if (at_end_) return false;
  // Keep what is unconsumed at the front and read behind it.
  const std::size_t kept = end_ - position_;
  if (kept == buffer_size) return false;
  std::memmove(buffer_.get(), buffer_.get() + position_, kept);
  base_ += position_;
  position_ = 0;
  end_ = kept;
  auto got = source_.read(std::span<char>(buffer_.get() + kept, buffer_size - kept));
  if (!got) {
    error_ = std::move(got).error();
    at_end_ = true;
    return false;
  }
  end_ += got.value();
  if (got.value() == 0) at_end_ = true;
  return got.value() > 0;
}

std::optional<std::uint64_t> Input::remaining_size() const {
  const std::uint64_t ahead = end_ - position_;
  if (in_place_ || at_end_) return ahead;
  if (file_) {
    const auto unread = file_->remaining_size();
    if (unread) return ahead + *unread;
  }
  if (stated_size_) return *stated_size_ > offset() ? *stated_size_ - offset() : 0;
  return std::nullopt;
}

std::string_view Input::peek(std::size_t n) {
  n = std::min(n, buffer_size);
  while (end_ - position_ < n && refill()) {
  }
  const std::string_view ahead = buffered();
  return ahead.substr(0, std::min(n, ahead.size()));
}

bool Input::skip_byte_order_mark() {
  if (offset() != 0 || peek(byte_order_mark.size()) != byte_order_mark) return false;
  consume(byte_order_mark.size());
  return true;
}

IoResult<std::string_view> Input::read_all(ByteBuffer& storage) {
  // A read that failed while peeking has cut the input short: it is not the end.
  if (error_) return fail(*error_);
  if (in_place_) {
    const std::string_view rest = buffered();
    consume(rest.size());
    return rest;
  }
  constexpr std::size_t chunk = 64 * 1024;
  const std::string_view ahead = buffered();
  std::size_t used = ahead.size();
  try {
    // A file's length, when known, sizes the buffer at once; the loop still copes with
    // files that change size and with sources of unknown length.
    const std::size_t hint = file_ ? file_->remaining_size().value_or(0) : 0;
    storage.resize(std::max(chunk, used + hint + 1));
    advise_huge_pages(storage.data(), storage.size());  // the read touches it first
    std::memcpy(storage.data(), ahead.data(), used);
    consume(used);
    base_ += end_;
    position_ = end_ = 0;
    while (!at_end_) {
      if (used == storage.size()) storage.resize(storage.size() * 2);
      auto got = source_.read(std::span<char>(storage.data() + used, storage.size() - used));
      if (!got) {
        error_ = got.error();
        at_end_ = true;
        return fail(std::move(got).error());
      }
      if (got.value() == 0) at_end_ = true;
      used += got.value();
      base_ += got.value();
    }
  } catch (const std::bad_alloc&) {
    return fail(IoError::out_of_memory());
  }
  return std::string_view(storage.data(), used);
}

}  // namespace morvex
