#include "core/tokens.hpp"

#include <array>

namespace morvex {
namespace {

constexpr std::array<bool, 128> ascii_white_space = [] {
  std::array<bool, 128> table{};
  for (char c : {'\t', '\n', '\v', '\f', '\r', ' '}) table[static_cast<unsigned char>(c)] = true;
  return table;
}();

// The last byte of a white-space character ending just before `end`, walking backwards.
std::size_t white_space_length_before(const char* begin, const char* end) {
  const auto last = static_cast<unsigned char>(end[-1]);
  if (last < 0x80) return ascii_white_space[last] ? 1 : 0;
  // A continuation byte: find the lead byte (at most three back in valid UTF-8).
  const char* lead = end - 1;
  while (lead > begin && (static_cast<unsigned char>(*lead) & 0xC0) == 0x80 && end - lead < 4) {
    --lead;
  }
  const std::size_t length = white_space_length(lead, end);
  return lead + length == end ? length : 0;
}

// What a single byte says about a split: most bytes decide alone. Only the lead bytes
// 0xC2, 0xE1, 0xE2 and 0xE3 can start a white-space character outside ASCII; every other
// byte of a multi-byte character belongs to a token.
enum class ByteClass : unsigned char { token, separator, maybe_white_space };

template <bool comma_separates>
constexpr std::array<ByteClass, 256> byte_classes = [] {
  std::array<ByteClass, 256> table{};
  for (std::size_t b = 0; b < 128; ++b) {
    if (ascii_white_space[b]) table[b] = ByteClass::separator;
  }
  if (comma_separates) table[','] = ByteClass::separator;
  for (std::size_t lead : {0xC2u, 0xE1u, 0xE2u, 0xE3u}) table[lead] = ByteClass::maybe_white_space;
  return table;
}();

// The next token at or after p, or an empty view at the end; p is left just after it.
template <bool comma_separates>
std::string_view next_token(const char*& p, const char* const end) {
  const auto& classes = byte_classes<comma_separates>;
  const auto class_at = [&](const char* q) { return classes[static_cast<unsigned char>(*q)]; };
  // Length of the separator at q, 0 inside a token.
  const auto separator_at = [&](const char* q) -> std::size_t {
    const ByteClass c = class_at(q);
    if (c == ByteClass::token) return 0;
    return c == ByteClass::separator ? 1 : white_space_length(q, end);
  };
  for (std::size_t sep; p < end && (sep = separator_at(p)) != 0;) p += sep;
  if (p == end) return {};
  const char* const token = p++;
  for (;;) {
    while (p < end && class_at(p) == ByteClass::token) ++p;
    if (p == end || separator_at(p) != 0) break;
    ++p;  // a lead byte that starts no white-space character
  }
  return std::string_view(token, static_cast<std::size_t>(p - token));
}

template <bool comma_separates>
void split(std::string_view text, std::vector<std::string_view>& tokens, std::size_t max_tokens) {
  tokens.clear();
  const char* p = text.data();
  const char* const end = p + text.size();
  while (tokens.size() < max_tokens) {
    const std::string_view token = next_token<comma_separates>(p, end);
    if (token.empty()) break;
    tokens.push_back(token);
  }
}

}  // namespace

std::size_t white_space_length(const char* p, const char* end) {
  const auto b0 = static_cast<unsigned char>(p[0]);
  if (b0 < 0x80) return ascii_white_space[b0] ? 1 : 0;
  const std::size_t left = static_cast<std::size_t>(end - p);
  if (left < 2) return 0;
  const auto b1 = static_cast<unsigned char>(p[1]);
  if (b0 == 0xC2) return (b1 == 0x85 || b1 == 0xA0) ? 2 : 0;  // U+0085, U+00A0
  if (left < 3) return 0;
  const auto b2 = static_cast<unsigned char>(p[2]);
  switch (b0) {
    case 0xE1:  // U+1680
      return (b1 == 0x9A && b2 == 0x80) ? 3 : 0;
    case 0xE2:
      if (b1 == 0x80) {
        // U+2000..U+200A, U+2028, U+2029, U+202F (not U+200B..U+200D, the zero-width ones)
        return (b2 <= 0x8A || b2 == 0xA8 || b2 == 0xA9 || b2 == 0xAF) ? 3 : 0;
      }
      return (b1 == 0x81 && b2 == 0x9F) ? 3 : 0;  // U+205F
    case 0xE3:  // U+3000
      return (b1 == 0x80 && b2 == 0x80) ? 3 : 0;
    default:
      return 0;
  }
}

std::string_view trim_white_space(std::string_view text) {
  const char* begin = text.data();
  const char* end = begin + text.size();
  while (begin < end) {
    const std::size_t n = white_space_length(begin, end);
    if (n == 0) break;
    begin += n;
  }
  while (end > begin) {
    const std::size_t n = white_space_length_before(begin, end);
    if (n == 0) break;
    end -= n;
  }
  return std::string_view(begin, static_cast<std::size_t>(end - begin));
}

void split_white_space(std::string_view text, std::vector<std::string_view>& tokens,
                       std::size_t max_tokens) {
  split<false>(text, tokens, max_tokens);
}

void split_fields(std::string_view text, std::vector<std::string_view>& tokens,
                  std::size_t max_tokens) {
  split<true>(text, tokens, max_tokens);
}

std::string_view next_white_space_token(std::string_view& rest) {
  const char* p = rest.data();
  const char* const end = p + rest.size();
  const std::string_view token = next_token<false>(p, end);
  rest = std::string_view(p, static_cast<std::size_t>(end - p));
  return token;
}

}  // namespace morvex
