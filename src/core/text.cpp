#include "core/text.hpp"

#include <fast_float/fast_float.h>

#include <array>
#include <cmath>
#include <cstdint>
#include <limits>

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

bool is_digit(char c) { return c >= '0' && c <= '9'; }

bool equals_ignoring_ascii_case(std::string_view text, std::string_view lower_word) {
  if (text.size() != lower_word.size()) return false;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if ((text[i] | 0x20) != lower_word[i]) return false;
  }
  return true;
}

// Checks the decimal numeral grammar (no sign): digits, optional "." digits, at least one
// digit in all, then an optional exponent with at least one digit.
bool is_decimal_numeral(const char* p, const char* end) {
  std::size_t digits = 0;
  while (p < end && is_digit(*p)) ++p, ++digits;
  if (p < end && *p == '.') {
    ++p;
    while (p < end && is_digit(*p)) ++p, ++digits;
  }
  if (digits == 0) return false;
  if (p == end) return true;
  if (*p != 'e' && *p != 'E') return false;
  ++p;
  if (p < end && (*p == '+' || *p == '-')) ++p;
  if (p == end) return false;
  while (p < end && is_digit(*p)) ++p;
  return p == end;
}

// Powers of ten that a double holds exactly.
constexpr std::array<double, 23> exact_powers_of_ten = [] {
  std::array<double, 23> powers{};
  double power = 1;
  for (double& slot : powers) {
    slot = power;
    power *= 10;
  }
  return powers;
}();

// The common short numeral, such as 10.0125 or 1719: at most 15 digits, no exponent. Then
// the digits and the power of ten are both exact doubles, and one IEEE division rounds the
// quotient correctly, so the result is the one fast_float would give. False for any other
// token, which then takes the general path (which also judges the grammar).
bool parse_short_numeral(const char* p, const char* end, double& value) {
  constexpr std::ptrdiff_t max_digits = 15;
  // Longer tokens cannot be short numerals; the bound also keeps `digits` from overflowing.
  if (end - p > max_digits + 1) return false;
  std::uint64_t digits = 0;
  const char* q = p;
  for (; q < end && is_digit(*q); ++q) digits = digits * 10 + static_cast<std::uint64_t>(*q - '0');
  std::ptrdiff_t count = q - p;
  std::ptrdiff_t fraction = 0;
  if (q < end && *q == '.') {
    const char* const first = ++q;
    for (; q < end && is_digit(*q); ++q) digits = digits * 10 + static_cast<std::uint64_t>(*q - '0');
    fraction = q - first;
    count += fraction;
  }
  if (q != end || count == 0 || count > max_digits) return false;
  value = static_cast<double>(digits);
  if (fraction > 0) value /= exact_powers_of_ten[static_cast<std::size_t>(fraction)];
  return true;
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

std::optional<double> parse_double(std::string_view token) {
  const char* p = token.data();
  const char* const end = p + token.size();
  bool negative = false;
  if (p < end && (*p == '+' || *p == '-')) {
    negative = *p == '-';
    ++p;
  }
  if (p == end) return std::nullopt;

  if (!is_digit(*p) && *p != '.') {
    // Only the three words are allowed here; fast_float would also take "nan(...)".
    const std::string_view word(p, static_cast<std::size_t>(end - p));
    constexpr double infinity = std::numeric_limits<double>::infinity();
    if (equals_ignoring_ascii_case(word, "inf") || equals_ignoring_ascii_case(word, "infinity")) {
      return negative ? -infinity : infinity;
    }
    if (equals_ignoring_ascii_case(word, "nan")) {
      const double nan = std::numeric_limits<double>::quiet_NaN();
      return negative ? std::copysign(nan, -1.0) : std::copysign(nan, 1.0);
    }
    return std::nullopt;
  }

  if (double value; parse_short_numeral(p, end, value)) return negative ? -value : value;
  if (!is_decimal_numeral(p, end)) return std::nullopt;
  // fast_float takes no "+" but keeps a "-", which gives -0 and tiny negatives their sign.
  const char* first = negative ? p - 1 : p;
  double value = 0;
  const auto parsed = fast_float::from_chars(first, end, value);
  if (parsed.ptr != end) return std::nullopt;
  return value;
}

void push_row(std::span<const std::string_view> tokens, ColumnTarget& target) {
  if (tokens.size() < 2) return;
  const auto x = parse_double(tokens[0]);
  const auto y = parse_double(tokens[1]);
  if (!x || !y) return;
  target.x.push_back(*x);
  target.y.push_back(*y);
  if (tokens.size() == 2) return;
  if (const auto e = parse_double(tokens[2])) target.e.push_back(*e);
}

std::optional<std::vector<double>> finish_error_column(const std::vector<double>& x,
                                                       std::vector<double>&& e) {
  if (e.empty() || e.size() != x.size()) return std::nullopt;
  return std::move(e);
}

}  // namespace morvex
