#include "core/utf8.hpp"

#include <cstdint>
#include <cstring>

namespace morvex {

const char* first_non_ascii(const char* p, const char* end) {
  for (; end - p >= 8; p += 8) {
    std::uint64_t word;
    std::memcpy(&word, p, 8);
    if (word & 0x8080808080808080ull) break;
  }
  while (p < end && (static_cast<unsigned char>(*p) & 0x80) == 0) ++p;
  return p;
}

std::size_t first_invalid_utf8(std::string_view text) {
  const auto* p = reinterpret_cast<const unsigned char*>(text.data());
  const std::size_t n = text.size();
  std::size_t i = 0;
  while (i < n) {
    // Text is nearly all ASCII: skip it eight bytes at a time.
    i = static_cast<std::size_t>(first_non_ascii(text.data() + i, text.data() + n) - text.data());
    if (i == n) break;
    const unsigned char lead = p[i];
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
      return i;
    }
    if (n - i < length) return i;
    if (p[i + 1] < low || p[i + 1] > high) return i;
    for (std::size_t k = 2; k < length; ++k) {
      if ((p[i + k] & 0xC0) != 0x80) return i;
    }
    i += length;
  }
  return std::string_view::npos;
}

}  // namespace morvex
