#include "core/encodings.hpp"

#include "core/utf8.hpp"

namespace morvex {

std::optional<std::string_view> cut_line(std::string_view& rest) {
  if (rest.empty()) return std::nullopt;
  const std::size_t newline = rest.find('\n');
  std::string_view line = rest.substr(0, newline);
  rest.remove_prefix(newline == std::string_view::npos ? rest.size() : newline + 1);
  if (line.ends_with('\r')) line.remove_suffix(1);
  return line;
}

std::string utf8_or_latin1(std::string_view text) {
  if (is_valid_utf8(text)) return std::string(text);
  std::string utf8;
  utf8.reserve(text.size() * 2);
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 0x80) {
      utf8 += c;
    } else {  // U+0080 to U+00FF in two bytes
      utf8 += static_cast<char>(0xC0 | (byte >> 6));
      utf8 += static_cast<char>(0x80 | (byte & 0x3F));
    }
  }
  return utf8;
}

bool is_ascii(std::string_view text) {
  return first_non_ascii(text.data(), text.data() + text.size()) == text.data() + text.size();
}

}  // namespace morvex
