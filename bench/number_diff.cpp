// Differential check of parse_double: random tokens of the number grammar and near misses,
// each judged by a plain second copy of the grammar and, where it accepts a numeral, by the
// C library's strtod in the C locale (correctly rounded in glibc), compared bit for bit.
// strtod's own acceptance is not the reference: it also takes hex, "nan(...)" and leading
// blanks, which the grammar refuses. Every token sits right before or right after an
// inaccessible page, so that reading a byte outside it crashes the run. Each is also read as
// a token inside a buffer (the page), with the bytes of earlier tokens before it, and must
// give the same.
//
// Usage: number_diff [COUNT [SEED]]   (COUNT defaults to 100000000)
// Output: the tokens checked by kind, the mismatches (the first few shown), and the exit
// status 1 if there was any.
#include <locale.h>
#include <sys/mman.h>
#include <unistd.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

#include "../fuzz/number_grammar.hpp"
#include "core/number.hpp"

namespace {

using morvex::reference::classify;
using morvex::reference::Shape;

// splitmix64: fast, and enough for test data.
struct Random {
  std::uint64_t state;
  std::uint64_t next() {
    std::uint64_t z = (state += 0x9E3779B97F4A7C15);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EB;
    return z ^ (z >> 31);
  }
  unsigned below(unsigned n) { return static_cast<unsigned>(next() % n); }
  bool one_in(unsigned n) { return below(n) == 0; }
};

void append_digits(std::string& out, unsigned count, Random& random) {
  // Mostly random digits; sometimes runs of zeros or nines, which sit at rounding edges.
  const unsigned style = random.below(8);
  for (unsigned i = 0; i < count; ++i) {
    const char c = style == 0 ? '0' : style == 1 ? '9' : static_cast<char>('0' + random.below(10));
    out += c;
  }
}

// A token of the grammar: the shapes of data files first, then everything the grammar allows.
void grammar_token(std::string& out, Random& random) {
  const unsigned sign = random.below(6);
  if (sign == 0) out += '-';
  if (sign == 1) out += '+';
  const unsigned kind = random.below(10);
  if (kind == 0) {  // a printed double, as writers produce them
    static const char* const formats[] = {"%.17g", "%.16g", "%.15g", "%.6g", "%.3e",
                                          "%.12E", "%.10f", "%.4f",  "%.1f", "%.0f"};
    double value = std::bit_cast<double>(random.next());
    if (!std::isfinite(value) || random.one_in(2)) {
      value = std::ldexp(static_cast<double>(random.next() >> 11),
                         static_cast<int>(random.below(80)) - 60);
    }
    char text[400];
    std::snprintf(text, sizeof text, formats[random.below(10)], std::fabs(value));
    out += text;
    return;
  }
  if (kind == 1) {  // around 2^53, where the exact mantissa ends
    const std::uint64_t near = (std::uint64_t{1} << 53) - 64 + random.below(128);
    const std::string digits = std::to_string(near * (random.one_in(4) ? 10 : 1));
    const std::size_t dot = random.one_in(2) ? digits.size() : random.below(17);
    out.append(digits, 0, dot);
    if (dot < digits.size()) out.append(".").append(digits, dot);
  } else {
    // Up to 20 digits on either side of an optional ".", so 15, 16, 19 and 20 all occur.
    const unsigned whole = random.below(kind < 6 ? 9 : 21);
    const unsigned decimals = random.below(kind < 6 ? 11 : 21);
    append_digits(out, whole, random);
    const bool dot = whole == 0 || decimals > 0 || random.one_in(3);
    if (dot) out += '.';
    append_digits(out, whole == 0 && decimals == 0 ? 1 : decimals, random);
  }
  if (kind >= 6 || random.one_in(4)) {  // an exponent, mostly near the exact range of 22
    out += random.one_in(2) ? 'e' : 'E';
    const unsigned exponent_sign = random.below(3);
    if (exponent_sign == 1) out += '-';
    if (exponent_sign == 2) out += '+';
    if (random.one_in(8)) out.append(random.below(4), '0');
    const unsigned exponent = random.one_in(8) ? random.below(400) : random.below(30);
    out += std::to_string(exponent);
  }
}

// Bytes that border on the grammar, or that other parsers take.
// (A literal with "sv" keeps its NUL byte.)
using std::string_view_literals::operator""sv;
constexpr std::string_view alphabet =
    "0123456789.eE+-xXpPinfaINFAty() ,_dD\t\n\v\f\r\0\x80\xC2\xA0\xE2\x80\x89\xFF"sv;

void near_miss(std::string& out, Random& random) {
  const unsigned kind = random.below(8);
  if (kind == 0) {  // words, right and wrong
    static const char* const words[] = {"inf",   "infinity", "nan",  "infin", "infinit",
                                        "nan()", "nan(1)",   "nana", "in",    "infinityy",
                                        "0x1p3", "0X10",     "1e",   "1e+",   ".",
                                        "..5",   "e5",       ".e5",  "1.e",   "5."};
    if (random.one_in(2)) out += random.one_in(2) ? '-' : '+';
    for (const char* c = words[random.below(20)]; *c; ++c) {
      out += random.one_in(2) && *c >= 'a' && *c <= 'z' ? static_cast<char>(*c - 32) : *c;
    }
    return;
  }
  if (kind == 1) {  // random bytes of the alphabet
    const unsigned length = random.below(12);
    for (unsigned i = 0; i < length; ++i) out += alphabet[random.below(alphabet.size())];
    return;
  }
  // A token of the grammar with one to three bytes changed, added or removed.
  grammar_token(out, random);
  for (unsigned edits = 1 + random.below(3); edits > 0; --edits) {
    const std::size_t at = random.below(static_cast<unsigned>(out.size() + 1));
    const char c = alphabet[random.below(alphabet.size())];
    const unsigned how = random.below(3);
    if (how == 0 || at == out.size()) {
      out.insert(at, 1, c);
    } else if (how == 1) {
      out[at] = c;
    } else {
      out.erase(at, 1);
    }
  }
}

locale_t c_locale() {
  static const locale_t locale = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(0));
  return locale;
}

std::uint64_t bits(double value) {
  return std::bit_cast<std::uint64_t>(value);
}

// "" when parse_double agrees with the reference, else what differs.
std::string check(std::string_view token, Shape shape, const char* buffer) {
  const auto parsed = morvex::parse_double(token);
  const auto in_buffer = morvex::parse_double(token, buffer);
  if (in_buffer.has_value() != parsed.has_value() ||
      (parsed && bits(*parsed) != bits(*in_buffer))) {
    return "differs when read inside a buffer";
  }
  if (parsed.has_value() != (shape != Shape::refused)) {
    return parsed ? "accepted a token outside the grammar" : "refused a token of the grammar";
  }
  if (!parsed) return {};
  const bool negative = token[0] == '-';
  if (shape == Shape::infinity || shape == Shape::nan) {
    const bool right_kind = shape == Shape::nan ? std::isnan(*parsed) : std::isinf(*parsed);
    return right_kind && std::signbit(*parsed) == negative ? "" : "wrong special value";
  }
  const std::string terminated(token);
  char* end = nullptr;
  const double reference = strtod_l(terminated.c_str(), &end, c_locale());
  if (end != terminated.c_str() + terminated.size()) return "strtod did not take the whole token";
  if (bits(reference) != bits(*parsed)) {
    char text[80];
    std::snprintf(text, sizeof text, "value %.17g differs from strtod's %.17g", *parsed, reference);
    return text;
  }
  return {};
}

}  // namespace

int main(int argc, char** argv) {
  const unsigned long long count = argc > 1 ? std::strtoull(argv[1], nullptr, 10) : 100000000;
  Random random{argc > 2 ? std::strtoull(argv[2], nullptr, 10) : 20240611};

  // Three pages, the outer two inaccessible: tokens go at the end or the start of the middle.
  const auto page = static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
  auto* pages = static_cast<char*>(
      mmap(nullptr, 3 * page, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0));
  if (pages == MAP_FAILED || mprotect(pages, page, PROT_NONE) != 0 ||
      mprotect(pages + 2 * page, page, PROT_NONE) != 0) {
    std::perror("guard pages");
    return 2;
  }
  char* const middle = pages + page;

  unsigned long long by_shape[4] = {};
  unsigned long long inline_path = 0;  // numerals the inline plain-decimal path finished
  unsigned long long vector_path = 0;  // and the one for tokens inside a buffer
  unsigned long long mismatches = 0;
  std::string token;
  for (unsigned long long i = 0; i < count; ++i) {
    token.clear();
    if (random.below(8) < 5) {
      grammar_token(token, random);
    } else {
      near_miss(token, random);
    }
    if (token.size() > page) continue;
    char* const at = i % 2 ? middle : middle + page - token.size();
    std::memcpy(at, token.data(), token.size());
    const std::string_view view(at, token.size());
    const Shape shape = classify(view);
    ++by_shape[static_cast<int>(shape)];
    const bool is_signed = !view.empty() && (view[0] == '+' || view[0] == '-');
    double ignored;
    inline_path += morvex::number_detail::parse_plain_decimal(view.data() + is_signed,
                                                              view.data() + view.size(), ignored);
#if defined(MORVEX_NUMBER_VECTOR)
    // Before a token at the page's end lie the bytes of earlier tokens.
    vector_path += view.end() - middle >= 16 &&
                   morvex::number_detail::parse_plain_decimal_window(
                       view.data() + is_signed, view.data() + view.size(), ignored);
#endif
    const std::string problem = check(view, shape, middle);
    if (!problem.empty() && ++mismatches <= 20) {
      std::printf("MISMATCH \"%s\": %s\n", token.c_str(), problem.c_str());
    }
  }
  std::printf(
      "tokens=%llu numerals=%llu (inline path %llu, in a buffer %llu) infinities=%llu nans=%llu "
      "refused=%llu mismatches=%llu\n",
      count, by_shape[1], inline_path, vector_path, by_shape[2], by_shape[3], by_shape[0],
      mismatches);
  return mismatches == 0 ? 0 : 1;
}
