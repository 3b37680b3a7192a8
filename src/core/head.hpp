// The first bytes of an input as the content rules of the formats look at them.
#pragma once

#include <algorithm>
#include <string_view>

#include "core/tokens.hpp"

namespace morvex {

// How much of the input the content rules look at: enough for the longest headers seen above
// a column file's rows (a converter's own commented metadata runs to 10 KiB and more).
constexpr std::size_t head_size = 64 * 1024;

constexpr std::string_view byte_order_mark = "\xEF\xBB\xBF";

inline std::string_view without_byte_order_mark(std::string_view head) {
  if (head.starts_with(byte_order_mark)) head.remove_prefix(byte_order_mark.size());
  return head;
}

// The line that starts at `at` (without its "\n"), and `at` moved past it.
inline std::string_view next_head_line(std::string_view head, std::size_t& at) {
  std::size_t newline = head.find('\n', at);
  if (newline == std::string_view::npos) newline = head.size();
  const std::string_view line = head.substr(at, newline - at);
  at = std::min(head.size(), newline + 1);
  return line;
}

// The first line that is not blank once trimmed, skipping lines for which `skip` is true.
template <class Skip>
std::string_view first_content_line(std::string_view head, Skip&& skip) {
  for (std::size_t at = 0; at < head.size();) {
    const std::string_view line = trim_white_space(next_head_line(head, at));
    if (!line.empty() && !skip(line)) return line;
  }
  return {};
}

inline bool starts_like_number(std::string_view line) {
  const char c = line.empty() ? ' ' : line.front();
  return (c >= '0' && c <= '9') || c == '-' || c == '+' || c == '.';
}

}  // namespace morvex
