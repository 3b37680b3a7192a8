#include "core/tokens.hpp"

#include <algorithm>
#include <array>
#include <bit>

#include "core/swar.hpp"

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

#if defined(__SSE2__)

// Sixteen bytes at a time: the ASCII separators and the bytes of 0x80 or more among them, as
// bit masks (bit k for byte k). Any byte of 0x80 or more hands the decision to the bytewise
// code, as only then can a white-space character outside ASCII occur.
struct Block {
  unsigned separators;  // includes the positions past the end of the text
  unsigned non_ascii;
  unsigned length;  // bytes of text in the block, at most 16
};

// The separators among 16 bytes and those of 0x80 or more, as masks.
template <bool comma_separates>
[[gnu::always_inline]] inline Block classify(__m128i bytes, unsigned length) {
  return {separator_mask<comma_separates>(bytes), static_cast<unsigned>(_mm_movemask_epi8(bytes)),
          length};
}

// The block at p, reading only inside [first, end) (p < end). Always inlined: GCC leaves
// one of its two forms as a call, which costs the splitters a third of their time.
template <bool comma_separates>
[[gnu::always_inline]] inline Block block_at(const char* first, const char* p, const char* end) {
  if (end - p >= 16) {
    return classify<comma_separates>(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p)), 16);
  }
  const auto left = static_cast<unsigned>(end - p);
  Block block;
  if (end - first >= 16) {  // the last 16 bytes, less those before p
    block = classify<comma_separates>(_mm_loadu_si128(reinterpret_cast<const __m128i*>(end - 16)),
                                      left);
    block.separators >>= 16 - left;
    block.non_ascii >>= 16 - left;
  } else {
    const auto high = left > 8 ? swar::load_bounded(first, p + 8, end) : 0;
    const auto low = swar::load_bounded(first, p, end);
    block = classify<comma_separates>(
        _mm_set_epi64x(static_cast<long long>(high), static_cast<long long>(low)), left);
  }
  const unsigned past_text = (0xFFFFu << left) & 0xFFFF;
  block.separators |= past_text;
  block.non_ascii &= ~past_text;
  return block;
}

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

// Splits the text 64 bytes at a time while it is ASCII: the separators of a chunk make one
// 64-bit mask, whose runs of zeros are the tokens. Returns where the rest must be split token
// by token (the start of a chunk with a byte of 0x80 or more, or of a token running into
// it), or `end` when the text or the token limit is done. max_tokens must be positive.
template <bool comma_separates>
const char* split_ascii(const char* first, const char* end, std::vector<std::string_view>& tokens,
                        std::size_t max_tokens) {
  const auto text_size = static_cast<std::size_t>(end - first);
  const char* open_token = nullptr;  // a token that runs on into the next chunk
  for (std::size_t offset = 0; offset < text_size; offset += 64) {
    const char* const chunk = first + offset;
    const auto size = static_cast<unsigned>(std::min<std::size_t>(text_size - offset, 64));
    std::uint64_t separators = size < 64 ? ~std::uint64_t{0} << size : 0;
    std::uint64_t non_ascii = 0;
    for (unsigned k = 0; k < size; k += 16) {
      const Block block = block_at<comma_separates>(first, chunk + k, end);
      separators |= std::uint64_t{block.separators} << k;
      non_ascii |= std::uint64_t{block.non_ascii} << k;
    }
    if (non_ascii != 0) return open_token != nullptr ? open_token : chunk;
    unsigned at = 0;  // bits below it are done
    if (open_token != nullptr) {
      if (separators == 0) continue;  // the token fills the chunk
      at = static_cast<unsigned>(std::countr_zero(separators));
      tokens.emplace_back(open_token, static_cast<std::size_t>(chunk + at - open_token));
      open_token = nullptr;
      if (tokens.size() == max_tokens) return end;
    }
    for (;;) {
      const std::uint64_t starts = ~separators & ~std::uint64_t{0} << at;
      if (starts == 0) break;
      const auto start = static_cast<unsigned>(std::countr_zero(starts));
      const std::uint64_t stops = separators & ~std::uint64_t{0} << start;
      if (stops == 0) {
        open_token = chunk + start;
        break;
      }
      at = static_cast<unsigned>(std::countr_zero(stops));
      tokens.emplace_back(chunk + start, at - start);
      if (tokens.size() == max_tokens) return end;
    }
  }
  if (open_token != nullptr) {
    tokens.emplace_back(open_token, static_cast<std::size_t>(end - open_token));
  }
  return end;
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
#if defined(__SSE2__)
  if (max_tokens == 0) return;
  p = split_ascii<comma_separates>(text.data(), end, tokens, max_tokens);
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
