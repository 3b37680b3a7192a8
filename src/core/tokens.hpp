// White space as Unicode defines it, and the tokenizers built on it, over valid UTF-8 text.
#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

#include "core/ascii_blocks.hpp"

namespace morvex {

// Length in bytes of the Unicode White_Space character that starts at p (0 if none).
// The text must be valid UTF-8, as every line of the line reader is.
std::size_t white_space_length(const char* p, const char* end);

inline bool is_ascii_digit(char c) {
  return c >= '0' && c <= '9';
}

std::string_view trim_white_space(std::string_view text);
std::string_view trim_trailing_white_space(std::string_view text);

// Tokens are views into `text`; `tokens` is cleared first and reused to save allocations.
// Splitting stops after `max_tokens`: a reader that uses only the leading columns then holds
// no view per token of a line that may be megabytes long.
void split_white_space(std::string_view text, std::vector<std::string_view>& tokens,
                       std::size_t max_tokens = SIZE_MAX);
// Like split_white_space, but "," separates too; empty fields vanish.
void split_fields(std::string_view text, std::vector<std::string_view>& tokens,
                  std::size_t max_tokens = SIZE_MAX);

// Calls `use` with every white-space-separated token of `text`, in order. While the text is
// ASCII, each token goes to `use` as the separator masks of 64 bytes find it. From a byte of
// 0x80 or more on, the splitter takes a batch of tokens at a time into `tokens` (reused),
// much faster per token than one by one, while a text of millions of tokens holds one batch
// of views only.
template <class Use>
void for_each_white_space_token(std::string_view text, std::vector<std::string_view>& tokens,
                                Use&& use) {
#if MORVEX_VECTOR
  const char* const rest = ascii_blocks::split_ascii<false>(text.data(), text.data() + text.size(),
                                                            [&use](std::string_view token) {
                                                              use(token);
                                                              return true;
                                                            });
  text.remove_prefix(static_cast<std::size_t>(rest - text.data()));
#endif
  constexpr std::size_t batch = 256;
  while (!text.empty()) {
    split_white_space(text, tokens, batch);
    for (const std::string_view token : tokens) use(token);
    if (tokens.size() < batch) return;
    const std::string_view last = tokens.back();
    text.remove_prefix(static_cast<std::size_t>(last.data() + last.size() - text.data()));
  }
}

}  // namespace morvex
