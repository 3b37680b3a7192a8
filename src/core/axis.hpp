// Positions computed from a start and a step, as every format with a stated axis needs them.
#pragma once

#include <cstddef>
#include <vector>

namespace morvex {

// x[k] = k * step + start for every k, the product rounded before the sum (the build
// disables contraction into a fused multiply-add). Computed per index, never accumulated,
// so that the last position carries no drift.
std::vector<double> linear_axis(std::size_t count, double start, double step);

}  // namespace morvex
