#include "core/axis.hpp"

#include "core/memory.hpp"

namespace morvex {

std::vector<double> linear_axis(std::size_t count, double start, double step) {
  std::vector<double> x;
  x.reserve(count);  // filled once, so no zero fill first
  advise_huge_pages(x.data(), count * sizeof(double));
  for (std::size_t k = 0; k < count; ++k) {
    const double offset = static_cast<double>(k) * step;
    x.push_back(offset + start);
  }
  return x;
}

}  // namespace morvex
