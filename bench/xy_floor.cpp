// The floor for the xy benchmark: the least work any reader of the file must do. Reads the
// whole file into memory and converts every number with fast_float into three columns, with
// no line handling, no validation and no grammar check. Prints the best of N runs.
//
// Usage: xy_floor FILE [RUNS]
// Output: one line "points=P best_s=T convert_s=C", where T covers reading and converting
// and C converting alone (both the best of RUNS).
#include <fast_float/fast_float.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

std::string read_file(const char* path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    std::fprintf(stderr, "cannot open %s\n", path);
    std::exit(1);
  }
  in.seekg(0, std::ios::end);
  std::string data(static_cast<std::size_t>(in.tellg()), '\0');
  in.seekg(0);
  in.read(data.data(), static_cast<std::streamsize>(data.size()));
  return data;
}

bool is_blank(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

// Every number of the text, in turn, into x, y and e.
std::size_t convert(const std::string& text, std::vector<double> (&columns)[3]) {
  for (auto& column : columns) column.clear();
  const char* p = text.data();
  const char* const end = p + text.size();
  std::size_t count = 0;
  while (p < end) {
    while (p < end && is_blank(*p)) ++p;
    if (p == end) break;
    double value = 0;
    const auto parsed = fast_float::from_chars(p, end, value);
    if (parsed.ec != std::errc()) {
      std::fprintf(stderr, "not a number at offset %td\n", p - text.data());
      std::exit(1);
    }
    columns[count % 3].push_back(value);
    ++count;
    p = parsed.ptr;
  }
  return columns[0].size();
}

double seconds_since(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: %s FILE [RUNS]\n", argv[0]);
    return 2;
  }
  const int runs = argc > 2 ? std::max(1, std::atoi(argv[2])) : 7;
  double best_total = 1e300;
  double best_convert = 1e300;
  std::size_t points = 0;
  for (int run = 0; run < runs; ++run) {
    std::vector<double> columns[3];
    const auto start = std::chrono::steady_clock::now();
    const std::string text = read_file(argv[1]);
    const auto converting = std::chrono::steady_clock::now();
    points = convert(text, columns);
    best_convert = std::min(best_convert, seconds_since(converting));
    best_total = std::min(best_total, seconds_since(start));
  }
  std::printf("points=%zu best_s=%.6f convert_s=%.6f\n", points, best_total, best_convert);
  return 0;
}
