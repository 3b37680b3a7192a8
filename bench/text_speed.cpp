// Times the text toolkit on the lines of one file: parse_double on every token, the two
// tokenizers, and fast_float on the same tokens for comparison. Each figure is the best of
// RUNS passes over data already in memory, so it measures the code and not the page cache.
//
// Usage: text_speed FILE [RUNS]
// Output: one "name ns_per_unit" line per measurement, then the totals that tie them to the
// file (lines, tokens) and a checksum of the parsed values.
#include <fast_float/fast_float.h>

#include <algorithm>
#include <bit>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <string_view>
#include <vector>

#include "core/number.hpp"
#include "core/tokens.hpp"

namespace {

std::string read_file(const char* path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    std::fprintf(stderr, "cannot open %s\n", path);
    std::exit(1);
  }
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// Lines without their "\n", as the line reader hands them to the column readers.
std::vector<std::string_view> lines_of(std::string_view text) {
  std::vector<std::string_view> lines;
  while (!text.empty()) {
    const std::size_t newline = std::min(text.find('\n'), text.size());
    lines.push_back(text.substr(0, newline));
    text.remove_prefix(std::min(newline + 1, text.size()));
  }
  return lines;
}

// The best time of `runs` calls of `pass`, in nanoseconds per unit; `pass` returns a value
// that is folded into `sink`, so that the compiler cannot drop the work.
template <typename Pass>
double best_ns(int runs, std::size_t units, std::uint64_t& sink, Pass pass) {
  double best = 1e300;
  for (int run = 0; run < runs; ++run) {
    const auto start = std::chrono::steady_clock::now();
    sink += pass();
    const std::chrono::duration<double, std::nano> spent = std::chrono::steady_clock::now() - start;
    best = std::min(best, spent.count());
  }
  return best / static_cast<double>(units);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: %s FILE [RUNS]\n", argv[0]);
    return 2;
  }
  const int runs = argc > 2 ? std::max(1, std::atoi(argv[2])) : 15;
  const std::string text = read_file(argv[1]);
  const std::vector<std::string_view> lines = lines_of(text);
  std::vector<std::string_view> tokens;
  std::vector<std::string_view> all_tokens;
  for (const auto line : lines) {
    morvex::split_white_space(line, tokens);
    all_tokens.insert(all_tokens.end(), tokens.begin(), tokens.end());
  }
  std::uint64_t sink = 0;

  const double parse = best_ns(runs, all_tokens.size(), sink, [&] {
    std::uint64_t sum = 0;
    for (const auto token : all_tokens)
      sum += std::bit_cast<std::uint64_t>(*morvex::parse_double(token));
    return sum;
  });
  const double fast_float = best_ns(runs, all_tokens.size(), sink, [&] {
    std::uint64_t sum = 0;
    for (const auto token : all_tokens) {
      double value = 0;
      fast_float::from_chars(token.data(), token.data() + token.size(), value);
      sum += std::bit_cast<std::uint64_t>(value);
    }
    return sum;
  });
  const double split = best_ns(runs, lines.size(), sink, [&] {
    std::uint64_t count = 0;
    for (const auto line : lines) {
      morvex::split_white_space(line, tokens, 3);
      count += tokens.size();
    }
    return count;
  });
  const double split_fields = best_ns(runs, lines.size(), sink, [&] {
    std::uint64_t count = 0;
    for (const auto line : lines) {
      morvex::split_fields(line, tokens, 3);
      count += tokens.size();
    }
    return count;
  });
  const double next_token = best_ns(runs, all_tokens.size(), sink, [&] {
    std::uint64_t count = 0;
    std::vector<std::string_view> batch;
    morvex::for_each_white_space_token(text, batch, [&](std::string_view) { ++count; });
    return count;
  });
  // What a column reader does with each line once it has it.
  const double row = best_ns(runs, all_tokens.size(), sink, [&] {
    std::uint64_t sum = 0;
    for (const auto line : lines) {
      morvex::split_white_space(line, tokens, 3);
      for (const auto token : tokens)
        sum += std::bit_cast<std::uint64_t>(*morvex::parse_double(token));
    }
    return sum;
  });

  std::printf("parse_double %.2f ns/number\n", parse);
  std::printf("fast_float_from_chars %.2f ns/number\n", fast_float);
  std::printf("split_white_space %.2f ns/line\n", split);
  std::printf("split_fields %.2f ns/line\n", split_fields);
  std::printf("for_each_white_space_token %.2f ns/token\n", next_token);
  std::printf("split_and_parse %.2f ns/number\n", row);
  std::printf("lines=%zu tokens=%zu checksum=%016llx\n", lines.size(), all_tokens.size(),
              static_cast<unsigned long long>(sink));
  return 0;
}
