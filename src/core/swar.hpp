// Eight bytes of text at a time in one 64-bit word: loads that never leave their range, and
// the length and value of a run of ASCII digits, with no branch per byte.
#pragma once

#include <bit>
#include <cstdint>
#include <cstring>

namespace morvex::swar {

constexpr std::uint64_t every_byte(std::uint8_t byte) {
  return 0x0101010101010101u * byte;
}

// Byte k of the word is p[k]: the first character sits in the lowest byte on any machine.
inline std::uint64_t load8(const char* p) {
  std::uint64_t word;
  std::memcpy(&word, p, sizeof word);
  if constexpr (std::endian::native == std::endian::big) word = __builtin_bswap64(word);
  return word;
}

// The bytes [p, end), fewer than eight, as load8 would give them and with zeros past `end`.
// Two overlapping loads read each byte of the range once or twice and no other byte.
inline std::uint64_t load_short(const char* p, const char* end) {
  const auto left = static_cast<unsigned>(end - p);
  if (left >= 4) {
    std::uint32_t first;
    std::uint32_t last;
    std::memcpy(&first, p, 4);
    std::memcpy(&last, end - 4, 4);
    if constexpr (std::endian::native == std::endian::big) {
      first = __builtin_bswap32(first);
      last = __builtin_bswap32(last);
    }
    return first | std::uint64_t{last} << (8 * (left - 4));
  }
  const auto byte = [](const char* q) -> std::uint64_t { return static_cast<unsigned char>(*q); };
  if (left >= 2)
    return (byte(p) | byte(p + 1) << 8) | (byte(end - 2) | byte(end - 1) << 8) << (8 * (left - 2));
  return left == 1 ? byte(p) : 0;
}

// Up to eight bytes from p as load8 gives them, zeros past `end`, reading only inside
// [first, end): callers pass views into larger buffers whose next bytes may be unmapped.
// Where the range holds eight bytes before `end`, one load serves any position.
inline std::uint64_t load_bounded(const char* first, const char* p, const char* end) {
  if (end - p >= 8) return load8(p);
  const auto left = static_cast<unsigned>(end - p);
  // Two shifts, as one of 64 bits (nothing left) would be undefined.
  if (end - first >= 8) return (load8(end - 8) >> 8) >> (8 * (7 - left));
  return load_short(p, end);
}

// A loaded word with every byte XORed with '0': digits become their values 0 to 9, and
// every other byte (the zeros past a range among them) becomes 10 or more.
inline std::uint64_t digit_values(std::uint64_t word) {
  return word ^ every_byte('0');
}

// How many of the lowest bytes of digit_values(word) are digits (0 to 8). Adding 0x76 sets
// the high bit of a byte of 10 to 0x7F; a byte of 0x80 or more has it already. The carry
// such a byte may pass upwards only spoils bytes above the first non-digit.
inline int digit_run(std::uint64_t values) {
  const std::uint64_t non_digits = ((values + every_byte(0x76)) | values) & every_byte(0x80);
  return std::countr_zero(non_digits) / 8;
}

// The number that the lowest `count` bytes (0 to 8) of digit_values(word) spell, the first
// digit the most significant; the bytes above them may hold anything.
inline std::uint64_t digits_value(std::uint64_t values, int count) {
  if (count == 0) return 0;
  // The digits move to the top; the zero bytes shifted in below are leading zeros.
  std::uint64_t d = values << (64 - 8 * count);
  // Neighbouring bytes, then pairs, then quadruples join into numbers of 2, 4 and 8 digits.
  d = (d * 10 + (d >> 8)) & 0x00FF00FF00FF00FF;
  d = (d * 100 + (d >> 16)) & 0x0000FFFF0000FFFF;
  return (d * 10000 + (d >> 32)) & 0xFFFFFFFF;
}

}  // namespace morvex::swar
