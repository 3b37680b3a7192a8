// Little-endian fields at any offset of a byte buffer, with the bounds check in one place.
#pragma once

#include <algorithm>
#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <optional>
#include <string_view>
#include <type_traits>

namespace morvex {

// True when `size` bytes from `offset` lie inside the input.
inline bool has_bytes(std::string_view input, std::uint64_t offset, std::uint64_t size) {
  return offset <= input.size() && input.size() - offset >= size;
}

// The value at any alignment. The caller has checked that sizeof(T) bytes exist.
template <class T>
T load_le(const char* p) {
  static_assert(std::is_trivially_copyable_v<T>);
  std::array<char, sizeof(T)> bytes;
  std::memcpy(bytes.data(), p, sizeof(T));
  if constexpr (std::endian::native == std::endian::big) std::reverse(bytes.begin(), bytes.end());
  return std::bit_cast<T>(bytes);
}

// The value at `offset`, or nothing when it does not lie wholly inside the input.
template <class T>
std::optional<T> read_le(std::string_view input, std::uint64_t offset) {
  if (!has_bytes(input, offset, sizeof(T))) return std::nullopt;
  return load_le<T>(input.data() + offset);
}

// A fixed-size text field: its bytes up to the first zero byte, or nothing when the field
// does not lie wholly inside the input.
inline std::optional<std::string_view> read_text_field(std::string_view input, std::uint64_t offset,
                                                       std::size_t size) {
  if (!has_bytes(input, offset, size)) return std::nullopt;
  const std::string_view field = input.substr(static_cast<std::size_t>(offset), size);
  return field.substr(0, field.find('\0'));
}

}  // namespace morvex
