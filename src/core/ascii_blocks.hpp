// Text read 16 and 64 bytes at a time while it is ASCII: the masks of its separators and the
// splitter built on them, shared by the tokenizers.
#pragma once

#include <algorithm>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "core/swar.hpp"
#include "core/vector.hpp"

#if MORVEX_VECTOR

namespace morvex::ascii_blocks {

// The ASCII separators among 16 bytes, white space and "," where commas separate, as a bit
// mask: bit k for byte k.
template <bool comma_separates>
[[gnu::always_inline]] inline unsigned separator_mask(__m128i bytes) {
  // Signed comparisons: bytes of 0x80 or more are negative, so neither range takes them.
  __m128i separators = _mm_or_si128(_mm_and_si128(_mm_cmpgt_epi8(bytes, _mm_set1_epi8('\t' - 1)),
                                                  _mm_cmplt_epi8(bytes, _mm_set1_epi8('\r' + 1))),
                                    _mm_cmpeq_epi8(bytes, _mm_set1_epi8(' ')));
  if constexpr (comma_separates) {
    separators = _mm_or_si128(separators, _mm_cmpeq_epi8(bytes, _mm_set1_epi8(',')));
  }
  return static_cast<unsigned>(_mm_movemask_epi8(separators));
}

// Sixteen bytes at a time: the ASCII separators and the bytes of 0x80 or more among them, as
// bit masks (bit k for byte k). Any byte of 0x80 or more hands the decision to the bytewise
// code, as only then can a white-space character outside ASCII occur.
struct Block {
  unsigned separators;  // "\n" among them, and the positions past the end of the text
  unsigned newlines;
  unsigned non_ascii;
  unsigned length;  // bytes of text in the block, at most 16
};

// The separators among 16 bytes, the "\n" among them and the bytes of 0x80 or more, as masks.
template <bool comma_separates>
[[gnu::always_inline]] inline Block classify(__m128i bytes, unsigned length) {
  return {separator_mask<comma_separates>(bytes),
          static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(bytes, _mm_set1_epi8('\n')))),
          static_cast<unsigned>(_mm_movemask_epi8(bytes)), length};
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
    block.newlines >>= 16 - left;
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

// The masks of up to 64 bytes from p, bit k for byte k, reading only inside [first, end)
// (p < end). The positions past the end of the text count as separators.
struct Chunk {
  std::uint64_t separators;
  std::uint64_t newlines;
  bool non_ascii;  // whether any byte is 0x80 or more
};

template <bool comma_separates>
[[gnu::always_inline]] inline Chunk chunk_at(const char* first, const char* p, const char* end) {
  if (end - p >= 64) {
    Chunk chunk{0, 0, false};
    __m128i any = _mm_setzero_si128();
    for (unsigned k = 0; k < 64; k += 16) {
      const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + k));
      any = _mm_or_si128(any, bytes);
      chunk.separators |= std::uint64_t{separator_mask<comma_separates>(bytes)} << k;
      chunk.newlines |= std::uint64_t{static_cast<unsigned>(
                            _mm_movemask_epi8(_mm_cmpeq_epi8(bytes, _mm_set1_epi8('\n'))))}
                        << k;
    }
    chunk.non_ascii = _mm_movemask_epi8(any) != 0;
    return chunk;
  }
  const auto size = static_cast<unsigned>(end - p);
  Chunk chunk{~std::uint64_t{0} << size, 0, false};
  for (unsigned k = 0; k < size; k += 16) {
    const Block block = block_at<comma_separates>(first, p + k, end);
    chunk.separators |= std::uint64_t{block.separators} << k;
    chunk.newlines |= std::uint64_t{block.newlines} << k;
    chunk.non_ascii |= block.non_ascii != 0;
  }
  return chunk;
}

// Splits the text 64 bytes at a time while it is ASCII: the separators of a chunk make one
// 64-bit mask, whose runs of zeros are the tokens. Returns where the rest must be split token
// by token (the start of a chunk with a byte of 0x80 or more, or of a token running into
// it), or `end` when the text is done or `emit` (called with each token) returned false.
template <bool comma_separates, class Emit>
[[gnu::always_inline]] inline const char* split_ascii(const char* first, const char* end,
                                                      Emit&& emit) {
  const auto text_size = static_cast<std::size_t>(end - first);
  const char* open_token = nullptr;  // a token that runs on into the next chunk
  for (std::size_t offset = 0; offset < text_size; offset += 64) {
    const char* const chunk = first + offset;
    const Chunk masks = chunk_at<comma_separates>(first, chunk, end);
    const std::uint64_t separators = masks.separators;
    if (masks.non_ascii) return open_token != nullptr ? open_token : chunk;
    unsigned at = 0;  // bits below it are done
    if (open_token != nullptr) {
      if (separators == 0) continue;  // the token fills the chunk
      at = static_cast<unsigned>(std::countr_zero(separators));
      const std::string_view token(open_token, static_cast<std::size_t>(chunk + at - open_token));
      open_token = nullptr;
      if (!emit(token)) return end;
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
      if (!emit(std::string_view(chunk + start, at - start))) return end;
    }
  }
  if (open_token != nullptr) {
    emit(std::string_view(open_token, static_cast<std::size_t>(end - open_token)));
  }
  return end;
}

}  // namespace morvex::ascii_blocks

#endif
