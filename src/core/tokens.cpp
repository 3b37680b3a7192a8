#include "core/tokens.hpp"

#include <algorithm>
#include <array>
#include <bit>

#include "core/ascii_blocks.hpp"

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

// The end of the token that reaches p: p moves to the first separator or to `end`.
template <bool comma_separates>
void finish_token(const char*& p, const char* const end) {
  const auto& classes = byte_classes<comma_separates>;
  for (;;) {
    while (p < end && classes[static_cast<unsigned char>(*p)] == ByteClass::token) ++p;
    if (p == end || classes[static_cast<unsigned char>(*p)] == ByteClass::separator ||
        white_space_length(p, end) != 0) {
      return;
    }
    ++p;  // a lead byte that starts no white-space character
  }
}

// The next token at or after p, or an empty view at the end; p is left just after it. One
// byte at a time, with every white-space rule.
template <bool comma_separates>
std::string_view next_token_bytewise(const char*& p, const char* const end) {
  const auto& classes = byte_classes<comma_separates>;
  for (;;) {
    if (p == end) return {};
    const ByteClass c = classes[static_cast<unsigned char>(*p)];
    if (c == ByteClass::token) break;
    const std::size_t length = c == ByteClass::separator ? 1 : white_space_length(p, end);
    if (length == 0) break;
    p += length;
  }
  const char* const token = p++;
  finish_token<comma_separates>(p, end);
  return std::string_view(token, static_cast<std::size_t>(p - token));
}

#if MORVEX_VECTOR

using ascii_blocks::Block;
using ascii_blocks::block_at;

template <bool comma_separates>
std::string_view next_token(const char* first, const char*& p, const char* const end) {
  Block block;
  unsigned at;  // the token's first byte in the block
  for (;;) {
    if (p == end) return {};
    block = block_at<comma_separates>(first, p, end);
    const unsigned others = ~block.separators & 0xFFFF;
    if (others != 0) {
      at = static_cast<unsigned>(std::countr_zero(others));
      break;
    }
    p += block.length;
  }
  p += at;
  if ((block.non_ascii >> at) & 1) return next_token_bytewise<comma_separates>(p, end);
  const char* const token = p;
  // The first stop after the token's first byte, in this block or a later one.
  unsigned stops = (block.separators | block.non_ascii) >> at;
  std::size_t block_start = 0;  // of the current block, counted from the token
  while (stops == 0) {
    block_start += 16 - at;
    p = token + block_start;
    at = 0;
    if (p == end) return std::string_view(token, block_start);
    block = block_at<comma_separates>(first, p, end);
    stops = block.separators | block.non_ascii;
  }
  const auto stop = static_cast<unsigned>(std::countr_zero(stops));
  p = token + block_start + stop;
  if ((block.non_ascii >> (stop + at)) & 1) finish_token<comma_separates>(p, end);
  return std::string_view(token, static_cast<std::size_t>(p - token));
}

#else

template <bool comma_separates>
std::string_view next_token(const char*, const char*& p, const char* const end) {
  return next_token_bytewise<comma_separates>(p, end);
}

#endif

template <bool comma_separates>
void split(std::string_view text, std::vector<std::string_view>& tokens, std::size_t max_tokens) {
  tokens.clear();
  const char* p = text.data();
  const char* const end = p + text.size();
#if MORVEX_VECTOR
  if (max_tokens == 0) return;
  p = ascii_blocks::split_ascii<comma_separates>(text.data(), end, [&](std::string_view token) {
    tokens.push_back(token);
    return tokens.size() < max_tokens;
  });
#endif
  while (p < end && tokens.size() < max_tokens) {
    const std::string_view token = next_token<comma_separates>(text.data(), p, end);
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
    case 0xE3:                                    // U+3000
      return (b1 == 0x80 && b2 == 0x80) ? 3 : 0;
    default:
      return 0;
  }
}

std::string_view trim_white_space(std::string_view text) {
  const char* begin = text.data();
  const char* const end = begin + text.size();
  while (begin < end) {
    const std::size_t n = white_space_length(begin, end);
    if (n == 0) break;
    begin += n;
  }
  return trim_trailing_white_space(std::string_view(begin, static_cast<std::size_t>(end - begin)));
}

std::string_view trim_trailing_white_space(std::string_view text) {
  const char* const begin = text.data();
  const char* end = begin + text.size();
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

}  // namespace morvex
