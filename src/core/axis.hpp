// Positions computed from a start and a step, and the one name each kind of axis goes by.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace morvex {

// x[k] = k * step + start for every k, the product rounded before the sum (the build
// disables contraction into a fused multiply-add). Computed per index, never accumulated,
// so that the last position carries no drift.
std::vector<double> linear_axis(std::size_t count, double start, double step);

// The one spelling of the kind of axis a file's word names, for the `x_axis` key: "2Theta"
// for every scan whose x is 2θ (2θ alone, 2θ/θ and 2θ/ω coupled, locked coupled, gonio),
// "Omega", "Theta", "Chi", "Phi", "TOF", "Q", "d", "Energy"; any other word as the file spells
// it, trimmed. Case, blanks, "-", "_" and "/" do not matter.
std::string axis_kind(std::string_view word);

}  // namespace morvex
