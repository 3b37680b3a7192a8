#include "core/pattern.hpp"

namespace morvex {

std::vector<double> linear_axis(std::size_t count, double start, double step) {
  std::vector<double> x(count);
  for (std::size_t k = 0; k < count; ++k) {
    const double offset = static_cast<double>(k) * step;
    x[k] = offset + start;
  }
  return x;
}

}  // namespace morvex
