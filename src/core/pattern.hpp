// The loaded diffraction pattern: what every successful load produces.
#pragma once

#include <optional>
#include <vector>

namespace morvex {

// x and y always have equal length; e, when present, has that length too. Each reader
// establishes this before it returns. Values are stored exactly as parsed or computed.
struct Pattern {
  std::vector<double> x;
  std::vector<double> y;
  std::optional<std::vector<double>> e;
};

// x[k] = k * step + start for every k, the product rounded before the sum (the build
// disables contraction into a fused multiply-add). Computed per index, never accumulated,
// so that the last position carries no drift.
std::vector<double> linear_axis(std::size_t count, double start, double step);

}  // namespace morvex
