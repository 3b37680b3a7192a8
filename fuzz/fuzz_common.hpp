// Helpers shared by the fuzz targets: comparing two load results exactly, and failing loudly.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "dispatch/dispatch.hpp"

namespace morvex::fuzz {

[[noreturn]] inline void die(const std::string& what) {
  std::fprintf(stderr, "fuzz check failed: %s\n", what.c_str());
  std::abort();
}

inline std::uint64_t bits(double value) {
  std::uint64_t out;
  std::memcpy(&out, &value, sizeof out);
  return out;
}

// Bit for bit, so that -0 differs from 0 and NaN payloads count.
inline bool same_values(const std::vector<double>& a, const std::vector<double>& b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (bits(a[i]) != bits(b[i])) return false;
  }
  return true;
}

// "" when equal, else what differs: two loads of a pattern or of a scan.
template <class LoadedResult>
std::string compare_results(const LoadedResult& a, const LoadedResult& b) {
  if (a.ok() != b.ok()) {
    return std::string("one load failed, the other did not: ") +
           (a.ok() ? b.error().message() : a.error().message());
  }
  if (!a.ok()) {
    if (a.error().is_io() != b.error().is_io()) return "error classes differ";
    if (a.error().message() != b.error().message()) {
      return "messages differ: \"" + a.error().message() + "\" vs \"" + b.error().message() + "\"";
    }
    return {};
  }
  const auto& p = a.value();
  const auto& q = b.value();
  if (!same_values(p.x, q.x)) return "x differs";
  if (!same_values(p.y, q.y)) return "y differs";
  if (p.e.has_value() != q.e.has_value()) return "presence of e differs";
  if (p.e && !same_values(*p.e, *q.e)) return "e differs";
  return {};
}

// What every successful load promises, whatever the input.
inline void check_pattern_shape(const LoadResult& result) {
  if (!result.ok()) {
    if (result.error().message().empty()) die("empty error message");
    return;
  }
  const Pattern& p = result.value();
  if (p.x.size() != p.y.size()) die("x and y differ in length");
  if (p.e && p.e->size() != p.x.size()) die("e differs in length from x");
}

}  // namespace morvex::fuzz
