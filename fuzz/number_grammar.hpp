// The number grammar written out a second time, as plainly as possible, for the programs that
// check parse_double against it (the number fuzz target and bench/number_diff).
#pragma once

#include <cstddef>
#include <string_view>

namespace morvex::reference {

enum class Shape { refused, numeral, infinity, nan };

inline bool lower_equals(std::string_view text, std::string_view word) {
  if (text.size() != word.size()) return false;
  for (std::size_t i = 0; i < text.size(); ++i) {
    char c = text[i];
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    if (c != word[i]) return false;
  }
  return true;
}

// The grammar, written out plainly once more.
inline Shape classify(std::string_view token) {
  std::size_t i = 0;
  if (i < token.size() && (token[i] == '+' || token[i] == '-')) ++i;
  const std::string_view body = token.substr(i);
  if (lower_equals(body, "inf") || lower_equals(body, "infinity")) return Shape::infinity;
  if (lower_equals(body, "nan")) return Shape::nan;
  const auto digit = [&](std::size_t k) {
    return k < token.size() && token[k] >= '0' && token[k] <= '9';
  };
  std::size_t digits = 0;
  while (digit(i)) ++i, ++digits;
  if (i < token.size() && token[i] == '.') {
    ++i;
    while (digit(i)) ++i, ++digits;
  }
  if (digits == 0) return Shape::refused;
  if (i < token.size() && (token[i] == 'e' || token[i] == 'E')) {
    ++i;
    if (i < token.size() && (token[i] == '+' || token[i] == '-')) ++i;
    if (!digit(i)) return Shape::refused;
    while (digit(i)) ++i;
  }
  return i == token.size() ? Shape::numeral : Shape::refused;
}

}  // namespace morvex::reference
