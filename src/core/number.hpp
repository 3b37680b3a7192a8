// The one decimal number parser of every text format: locale-free, correctly rounded.
#pragma once

#include <array>
#include <bit>
#include <cstdint>
#include <optional>
#include <string_view>

#include "core/swar.hpp"
#include "core/vector.hpp"

namespace morvex {

// The whole token as a decimal number: optional sign, then digits with an optional "." and
// fraction and an optional exponent, or one of INF, INFINITY, NAN in any case. Correctly
// rounded; overflow gives an infinity and underflow a zero of the token's sign. Failure is
// an ordinary result. Reads no byte outside the token.
[[gnu::always_inline]] inline std::optional<double> parse_double(std::string_view token);

// The same, for a token inside a larger buffer that starts at `buffer`: the bytes from there
// up to the token may be read as well, so that a short numeral is loaded in one piece.
[[gnu::always_inline]] inline std::optional<double> parse_double(std::string_view token,
                                                                 const char* buffer);

namespace number_detail {

// Every token that the inline part below does not finish: exponents, numerals of more than
// 16 bytes, the words, and refusals. False when the grammar refuses the token.
bool parse_double_in_full(std::string_view token, double& value);

// Powers of ten that a double holds exactly.
inline constexpr std::array<double, 23> exact_powers_of_ten = [] {
  std::array<double, 23> powers{};
  double power = 1;
  for (double& slot : powers) {
    slot = power;
    power *= 10;
  }
  return powers;
}();

inline constexpr std::array<std::uint64_t, 9> powers_of_ten_to_8 = {
    1, 10, 100, 1000, 10000, 100000, 1000000, 10000000, 100000000};

// The plain decimal that most numbers in data files are, such as 1024.6929, 0.000145 or 12:
// at most 16 bytes of digits with an optional "." and decimals, fewer than eight digits
// before the "." (or eight and no "."). That makes at most 15 digits, so they and the power of
// ten are exact doubles and one IEEE division rounds the quotient correctly. The bytes are
// read as two words and judged eight at a time. False for any other token.
inline bool parse_plain_decimal(const char* p, const char* end, double& value) {
  using namespace swar;
  const auto length = static_cast<std::size_t>(end - p);
  if (length - 1 >= 16) return false;  // also when empty
  // Bytes 0 to 7 and 8 to 15 as digit values, those past the token reading as non-digits.
  std::uint64_t low;
  std::uint64_t high = digit_values(0);
  if (length >= 8) {
    low = digit_values(load8(p));
    const auto half_drop = static_cast<unsigned>(4 * (16 - length));  // 64 bits in one is undefined
    high = digit_values((load8(end - 8) >> half_drop) >> half_drop);
  } else {
    low = digit_values(load_short(p, end));
  }
  const int whole = digit_run(low);
  if (static_cast<std::size_t>(whole) == length) {
    value = static_cast<double>(static_cast<std::int64_t>(digits_value(low, whole)));
    return true;
  }
  const auto dot = static_cast<unsigned>(8 * whole);
  if (whole == 8 || ((low >> dot) & 0xFF) != ('.' ^ '0')) return false;
  // The digits without the ".": those after it move down one byte, and one conversion of
  // eight takes most numerals whole.
  const std::uint64_t before_dot = (std::uint64_t{1} << dot) - 1;
  const std::uint64_t joined_low = (low & before_dot) | ((low >> 8) & ~before_dot) | high << 56;
  const std::uint64_t joined_high = high >> 8 | std::uint64_t{0x30} << 56;  // a non-digit last
  int digits = digit_run(joined_low);
  std::uint64_t mantissa = digits_value(joined_low, digits);
  if (digits == 8) {
    const int more = digit_run(joined_high);
    mantissa = mantissa * powers_of_ten_to_8[static_cast<std::size_t>(more)] +
               digits_value(joined_high, more);
    digits += more;
  }
  if (digits == 0 || static_cast<std::size_t>(digits) + 1 != length) return false;
  value = static_cast<double>(static_cast<std::int64_t>(mantissa)) /
          exact_powers_of_ten[static_cast<std::size_t>(digits - whole)];
  return true;
}

#if MORVEX_VECTOR
// Sixteen zero bytes, then sixteen of all ones: the 16 bytes from `n` on mark the last n.
inline constexpr std::array<unsigned char, 32> zeros_then_ones = [] {
  std::array<unsigned char, 32> bytes{};
  for (std::size_t k = 16; k < bytes.size(); ++k) bytes[k] = 0xFF;
  return bytes;
}();

// The plain decimal again, for a token that ends at `end` with 16 readable bytes before it:
// at most 15 digits, with an optional "." anywhere among them, judged and converted as one
// vector of the 16 bytes that end at `end`. False for any other token.
inline bool parse_plain_decimal_window(const char* p, const char* end, double& value) {
  if (static_cast<std::size_t>(end - p) - 1 >= 16) return false;  // also when empty
  const auto length = static_cast<unsigned>(end - p);
  const __m128i text = _mm_loadu_si128(reinterpret_cast<const __m128i*>(end - 16));
  const __m128i digits = _mm_sub_epi8(text, _mm_set1_epi8('0'));
  const __m128i zero = _mm_setzero_si128();
  // Bit k stands for byte k; the token is the last `length` bytes.
  const auto is_digit = static_cast<unsigned>(
      _mm_movemask_epi8(_mm_cmpeq_epi8(_mm_subs_epu8(digits, _mm_set1_epi8(9)), zero)));
  const auto is_dot =
      static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(text, _mm_set1_epi8('.'))));
  const unsigned token = (0xFFFFu << (16 - length)) & 0xFFFFu;
  const unsigned dot = is_dot & token;
  if (((is_digit | dot) & token) != token || (dot & (dot - 1)) != 0) return false;
  const unsigned digit_count = length - (dot != 0);
  if (digit_count - 1 >= 15) return false;  // none, or 16, which a double may not hold
  const auto last = [](unsigned n) {
    return _mm_loadu_si128(reinterpret_cast<const __m128i*>(zeros_then_ones.data() + n));
  };
  __m128i joined = digits;
  unsigned decimals = 0;
  if (dot != 0) {
    // The digits before the "." move up one byte onto it, those after it stay.
    decimals = 15 - static_cast<unsigned>(std::countr_zero(dot));
    const __m128i after = last(decimals);
    joined = _mm_or_si128(_mm_andnot_si128(after, _mm_slli_si128(digits, 1)),
                          _mm_and_si128(after, digits));
  }
  joined = _mm_and_si128(joined, last(digit_count));  // leading zeros before the digits
  // Neighbouring digits join into numbers of 2, then 4, then 8 digits; the first byte is the
  // most significant.
  const __m128i pairs = _mm_packs_epi32(
      _mm_madd_epi16(_mm_unpacklo_epi8(joined, zero), _mm_set1_epi32(10 | 1 << 16)),
      _mm_madd_epi16(_mm_unpackhi_epi8(joined, zero), _mm_set1_epi32(10 | 1 << 16)));
  const __m128i fours = _mm_madd_epi16(pairs, _mm_set1_epi32(100 | 1 << 16));
  const __m128i eights =
      _mm_madd_epi16(_mm_packs_epi32(fours, fours), _mm_set1_epi32(10000 | 1 << 16));
  const auto both = static_cast<std::uint64_t>(_mm_cvtsi128_si64(eights));
  const std::uint64_t mantissa = (both & 0xFFFFFFFF) * 100000000 + (both >> 32);
  value = static_cast<double>(static_cast<std::int64_t>(mantissa));
  if (decimals != 0) value /= exact_powers_of_ten[decimals];  // whole numbers need none
  return true;
}
#endif

}  // namespace number_detail

// Always inlined, so that the readers' loops keep the common case free of calls (GCC would
// inline one call of the three in a row and leave the others).
[[gnu::always_inline]] inline std::optional<double> parse_double(std::string_view token) {
  const char* const p = token.data();
  const char* const end = p + token.size();
  const bool signed_token = p < end && (*p == '+' || *p == '-');
  if (double value; number_detail::parse_plain_decimal(p + signed_token, end, value)) {
    return signed_token && *p == '-' ? -value : value;
  }
  if (double value; number_detail::parse_double_in_full(token, value)) return value;
  return std::nullopt;
}

[[gnu::always_inline]] inline std::optional<double> parse_double(std::string_view token,
                                                                 const char* buffer) {
#if MORVEX_VECTOR
  const char* const p = token.data();
  const char* const end = p + token.size();
  if (end - buffer >= 16) {
    const bool signed_token = p < end && (*p == '+' || *p == '-');
    if (double value; number_detail::parse_plain_decimal_window(p + signed_token, end, value)) {
      return signed_token && *p == '-' ? -value : value;
    }
    // The vector takes every token that parse_plain_decimal would.
    if (double value; number_detail::parse_double_in_full(token, value)) return value;
    return std::nullopt;
  }
#else
  (void)buffer;
#endif
  return parse_double(token);
}

}  // namespace morvex
