// The white-space set, trimming and the two tokenizers.
#include "core/tokens.hpp"

#include <gtest/gtest.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cmath>
#include <cstring>
#include <random>
#include <string>
#include <vector>

namespace morvex {
namespace {

using Tokens = std::vector<std::string>;

Tokens split_ws(std::string_view text) {
  std::vector<std::string_view> views;
  split_white_space(text, views);
  return Tokens(views.begin(), views.end());
}

Tokens split_csv(std::string_view text) {
  std::vector<std::string_view> views;
  split_fields(text, views);
  return Tokens(views.begin(), views.end());
}

// Every character of the Unicode White_Space property, in UTF-8.
const char* const white_space[] = {
    "\t",           "\n",           "\v",           "\f",           "\r",           " ",
    "\xC2\x85",     "\xC2\xA0",     "\xE1\x9A\x80", "\xE2\x80\x80", "\xE2\x80\x81", "\xE2\x80\x82",
    "\xE2\x80\x83", "\xE2\x80\x84", "\xE2\x80\x85", "\xE2\x80\x86", "\xE2\x80\x87", "\xE2\x80\x88",
    "\xE2\x80\x89", "\xE2\x80\x8A", "\xE2\x80\xA8", "\xE2\x80\xA9", "\xE2\x80\xAF", "\xE2\x81\x9F",
    "\xE3\x80\x80",
};

// Characters that look like or neighbour white space but are not in the set.
const char* const look_alikes[] = {
    "\x1C",         "\x1D",         "\x1E",         "\x1F",      // information separators
    "\xE1\xA0\x8E",                                              // U+180E Mongolian vowel separator
    "\xE2\x80\x8B", "\xE2\x80\x8C", "\xE2\x80\x8D",              // U+200B..U+200D zero width
    "\xEF\xBB\xBF",                                              // U+FEFF byte-order mark
    "\xE2\x81\xA0",                                              // U+2060 word joiner
    "\xC2\x84",     "\xC2\x86",     "\xC2\x9F",     "\xC2\xA1",  // neighbours of 0085, 00A0
    "\xE1\x9A\x81", "\xE2\x80\xA7", "\xE2\x80\xAA", "\xE2\x80\xAE", "\xE2\x80\xB0",
    "\xE2\x81\x9E", "\xE3\x80\x81", "\x00",         "\x08",         "\x7F",
};

TEST(TextWhiteSpace, EveryWhiteSpaceCharacterSeparatesAndTrims) {
  for (const char* ws : white_space) {
    const std::string w(ws);
    EXPECT_EQ(white_space_length(w.data(), w.data() + w.size()), w.size()) << w;
    EXPECT_EQ(split_ws("1" + w + "2"), (Tokens{"1", "2"})) << w;
    EXPECT_EQ(split_ws(w + "1" + w + w + "2" + w), (Tokens{"1", "2"})) << w;
    EXPECT_EQ(split_csv("1" + w + "2"), (Tokens{"1", "2"})) << w;
    EXPECT_EQ(trim_white_space(w + "1" + w + "2" + w), "1" + w + "2") << w;
    EXPECT_EQ(trim_white_space(w + w), "") << w;
  }
}

TEST(TextWhiteSpace, LookAlikesDoNotSeparate) {
  for (const char* la : look_alikes) {
    const std::string c = *la ? std::string(la) : std::string(1, '\0');
    EXPECT_EQ(white_space_length(c.data(), c.data() + c.size()), 0u) << c;
    EXPECT_EQ(split_ws("1" + c + "2"), Tokens{"1" + c + "2"}) << c;
    EXPECT_EQ(split_ws(c), Tokens{c}) << c;
    EXPECT_EQ(trim_white_space(" " + c + " "), c) << c;
  }
}

TEST(TextWhiteSpace, TrimLooksAtWholeCharacters) {
  // Trailing characters whose last byte equals the last byte of a white-space character.
  EXPECT_EQ(trim_white_space("1\xC4\x85"), "1\xC4\x85");                  // U+0105, tail byte 0x85
  EXPECT_EQ(trim_white_space("1\xE2\x82\x85"), "1\xE2\x82\x85");          // U+2085, tail 0x85
  EXPECT_EQ(trim_white_space("1\xE2\x82\xA0"), "1\xE2\x82\xA0");          // U+20A0, tail 0xA0
  EXPECT_EQ(trim_white_space("1\xF0\x9F\x80\x80"), "1\xF0\x9F\x80\x80");  // 4-byte, tail 80 80
  EXPECT_EQ(trim_white_space("\xE3\x80\x80"
                             "1\xE3\x80\x80"),
            "1");
  EXPECT_EQ(trim_white_space("\xC2\xA0\xC2\x85"), "");
  EXPECT_EQ(trim_white_space(""), "");
  EXPECT_EQ(trim_white_space("x"), "x");
}

TEST(TextTokenizers, SplitWhiteSpace) {
  EXPECT_EQ(split_ws("  1.5\t\t2 "), (Tokens{"1.5", "2"}));
  EXPECT_EQ(split_ws(""), Tokens{});
  EXPECT_EQ(split_ws(" \t "), Tokens{});
  EXPECT_EQ(split_ws("a,b;c"), Tokens{"a,b;c"});
  EXPECT_EQ(split_ws("1 , 2"), (Tokens{"1", ",", "2"}));
  EXPECT_EQ(split_ws("\xC2\xA0"
                     "10\xC2\xA0"
                     "100\xE2\x80\x89"
                     "5"),
            (Tokens{"10", "100", "5"}));
}

TEST(TextTokenizers, SplitFieldsCutsAtCommasAndDropsEmptyFields) {
  EXPECT_EQ(split_csv("1,2"), (Tokens{"1", "2"}));
  EXPECT_EQ(split_csv("1,,2"), (Tokens{"1", "2"}));
  EXPECT_EQ(split_csv("1, 2"), (Tokens{"1", "2"}));
  EXPECT_EQ(split_csv(",1, ,2,,"), (Tokens{"1", "2"}));
  EXPECT_EQ(split_csv(",,,"), Tokens{});
  EXPECT_EQ(split_csv("1\t2,3 4"), (Tokens{"1", "2", "3", "4"}));
  EXPECT_EQ(split_csv("\"1\",\"2\""), (Tokens{"\"1\"", "\"2\""}));  // quotes have no meaning
  EXPECT_EQ(split_csv("1;2"), Tokens{"1;2"});                       // nor has a semicolon
  EXPECT_EQ(split_csv("1,5"), (Tokens{"1", "5"}));
}

TEST(TextTokenizers, TokenVectorIsReused) {
  std::vector<std::string_view> tokens;
  split_white_space("1 2 3 4", tokens);
  split_white_space("5", tokens);
  EXPECT_EQ(tokens, std::vector<std::string_view>{"5"});
  split_fields("", tokens);
  EXPECT_TRUE(tokens.empty());
}

TEST(TextTokenizers, SplittingStopsAtTheTokenLimit) {
  std::vector<std::string_view> tokens;
  split_white_space(" 1  2 3 4 5", tokens, 3);
  EXPECT_EQ(tokens, (std::vector<std::string_view>{"1", "2", "3"}));
  split_fields("1,,2", tokens, 3);
  EXPECT_EQ(tokens, (std::vector<std::string_view>{"1", "2"}));
  split_fields("1,2,3,4", tokens, 2);
  EXPECT_EQ(tokens, (std::vector<std::string_view>{"1", "2"}));
}

Tokens each_token(std::string_view text) {
  Tokens seen;
  std::vector<std::string_view> batch;
  for_each_white_space_token(text, batch,
                             [&](std::string_view token) { seen.emplace_back(token); });
  return seen;
}

TEST(TextTokenizers, EachTokenWalksTheWholeText) {
  const std::string_view text =
      "\xE3\x80\x80 10 \xE2\x80\xA8x\xE2\x80\x8B"
      "y\t";  // U+200B is no space
  EXPECT_EQ(each_token(text), (Tokens{"10", "x\xE2\x80\x8By"}));
  // Across batches: a batch that ends the text exactly, and one token more.
  for (const std::size_t count : {255u, 256u, 257u, 513u}) {
    std::string many;
    Tokens expected;
    for (std::size_t k = 0; k < count; ++k) {
      expected.push_back(std::to_string(k));
      many += expected.back() + (k % 2 ? "\xC2\xA0" : " ");
    }
    EXPECT_EQ(each_token(many), expected) << count;
  }
}

// The tokens as white_space_length alone defines them, one byte at a time.
Tokens reference_split(std::string_view text, bool comma_separates) {
  Tokens tokens(1);
  for (const char *p = text.data(), *end = p + text.size(); p < end;) {
    const std::size_t n = comma_separates && *p == ',' ? 1 : white_space_length(p, end);
    if (n == 0) tokens.back() += *p++;
    if (n != 0 && !tokens.back().empty()) tokens.emplace_back();
    p += n;
  }
  if (tokens.back().empty()) tokens.pop_back();
  return tokens;
}

// Texts across several 16- and 64-byte blocks, with tokens longer than both, every kind of
// separator, placed against an inaccessible page on either side so that reading outside
// them crashes.
TEST(TextTokenizers, RandomTextsSplitAsTheBytewiseRulesSay) {
  static const auto page = static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
  auto* const pages = static_cast<char*>(
      mmap(nullptr, 3 * page, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0));
  ASSERT_NE(pages, MAP_FAILED);
  ASSERT_EQ(mprotect(pages, page, PROT_NONE) | mprotect(pages + 2 * page, page, PROT_NONE), 0);
  // The first ten are ASCII, of which every other text is made.
  const std::string pieces[] = {"1",
                                "23.5",
                                "1234567890123456789",
                                std::string(70, '7'),
                                "x",
                                " ",
                                "  ",
                                "\t",
                                "\r\n",
                                ",",
                                "\xC3\xA9",
                                "\xE1\xA0\x8E",
                                "\xE2\x80\x8B",
                                "\xC2\xA0",
                                "\xC2\x85",
                                "\xE3\x80\x80",
                                "\xE2\x80\x89"};
  std::mt19937 random(11);
  std::vector<std::string_view> views;
  for (int round = 0; round < 20000; ++round) {
    std::string text;
    for (int n = static_cast<int>(random() % 40); n > 0; --n) {
      text += pieces[random() % (round % 4 < 2 ? 10 : std::size(pieces))];
    }
    char* const at = round % 2 ? pages + page : pages + 2 * page - text.size();
    std::memcpy(at, text.data(), text.size());
    const std::string_view view(at, text.size());
    const Tokens expected = reference_split(view, false);
    EXPECT_EQ(split_ws(view), expected) << text;
    EXPECT_EQ(split_csv(view), reference_split(view, true)) << text;
    const std::size_t limit = random() % 4;
    split_white_space(view, views, limit);
    EXPECT_EQ(Tokens(views.begin(), views.end()),
              Tokens(expected.begin(), expected.begin() + static_cast<std::ptrdiff_t>(
                                                              std::min(limit, expected.size()))));
    EXPECT_EQ(each_token(view), expected) << text;
  }
  munmap(pages, 3 * page);
}

}  // namespace
}  // namespace morvex
