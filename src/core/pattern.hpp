// The loaded diffraction pattern of the first module: one scan's arrays, nothing else.
#pragma once

#include <optional>
#include <vector>

namespace morvex {

// x and y always have equal length; e, when present, has that length too. Values are stored
// exactly as parsed or computed.
struct Pattern {
  std::vector<double> x;
  std::vector<double> y;
  std::optional<std::vector<double>> e;
};

}  // namespace morvex
