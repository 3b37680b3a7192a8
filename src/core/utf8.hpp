// Strict UTF-8 checking, shared by the line reader and the XML parser.
#pragma once

#include <cstddef>
#include <string_view>

namespace morvex {

// The first byte of [p, end) that is not ASCII, or end; checks eight bytes at a time.
const char* first_non_ascii(const char* p, const char* end);

// Index of the first byte that breaks UTF-8 in the strict sense of RFC 3629 (no overlong
// forms, no surrogates, nothing above U+10FFFF, no sequence cut off at the end), or npos.
std::size_t first_invalid_utf8(std::string_view text);

inline bool is_valid_utf8(std::string_view text) {
  return first_invalid_utf8(text) == std::string_view::npos;
}

}  // namespace morvex
