// The text toolkit shared by the text readers: white space, tokenizers, the number parser
// and the row rule of the column readers.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

namespace morvex {

// Length in bytes of the Unicode White_Space character that starts at p (0 if none).
// The text must be valid UTF-8, as every line of the line reader is.
std::size_t white_space_length(const char* p, const char* end);

std::string_view trim_white_space(std::string_view text);

// Tokens are views into `text`; `tokens` is cleared first and reused to save allocations.
// Splitting stops after `max_tokens`: a reader that uses only the leading columns then holds
// no view per token of a line that may be megabytes long.
void split_white_space(std::string_view text, std::vector<std::string_view>& tokens,
                       std::size_t max_tokens = SIZE_MAX);
// Like split_white_space, but "," separates too; empty fields vanish.
void split_fields(std::string_view text, std::vector<std::string_view>& tokens,
                  std::size_t max_tokens = SIZE_MAX);

// Takes the first white-space-separated token off the front of `rest`; an empty view when
// none is left. For texts whose every token is used one at a time.
std::string_view next_white_space_token(std::string_view& rest);

// push_row reads no further than this: position, intensity, uncertainty.
constexpr std::size_t row_columns = 3;

// The whole token as a decimal number: optional sign, then digits with an optional "." and
// fraction and an optional exponent, or one of INF, INFINITY, NAN in any case. Correctly
// rounded; overflow gives an infinity and underflow a zero of the token's sign. Failure is
// an ordinary result.
std::optional<double> parse_double(std::string_view token);

// The growing columns of a column reader.
struct ColumnTarget {
  std::vector<double> x;
  std::vector<double> y;
  std::vector<double> e;
};

// Two leading numbers make a point; a third number, when there is one, an uncertainty.
void push_row(std::span<const std::string_view> tokens, ColumnTarget& target);

// The uncertainties survive only when every point has one.
std::optional<std::vector<double>> finish_error_column(const std::vector<double>& x,
                                                       std::vector<double>&& e);

}  // namespace morvex
