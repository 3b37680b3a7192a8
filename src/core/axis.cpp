#include "core/axis.hpp"

#include <array>

#include "core/memory.hpp"
#include "core/tokens.hpp"

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

namespace {

struct AxisWord {
  std::string_view folded;  // lower case, without blanks and separators
  std::string_view kind;
};

// The words real files use, folded. Every coupled or detector scan moves 2θ, whose positions
// the readers give as x; a rocking curve moves ω alone.
constexpr std::array<AxisWord, 34> axis_words = {{
    {"2theta", "2Theta"},
    {"twotheta", "2Theta"},
    {"2th", "2Theta"},
    {"2thdeg", "2Theta"},
    {"tt", "2Theta"},
    {"2thetatheta", "2Theta"},
    {"twothetatheta", "2Theta"},
    {"thetatwotheta", "2Theta"},
    {"theta2theta", "2Theta"},
    {"2thetaomega", "2Theta"},
    {"twothetaomega", "2Theta"},
    {"omega2theta", "2Theta"},
    {"omegatwotheta", "2Theta"},
    {"lockedcoupled", "2Theta"},
    {"unlockedcoupled", "2Theta"},
    {"coupled", "2Theta"},
    {"coupledtwotheta", "2Theta"},
    {"detectorscan", "2Theta"},
    {"gonio", "2Theta"},
    {"omega", "Omega"},
    {"rockingcurve", "Omega"},
    {"theta", "Theta"},
    {"chi", "Chi"},
    {"phi", "Phi"},
    {"tof", "TOF"},
    {"timeofflight", "TOF"},
    {"q", "Q"},
    {"d", "d"},
    {"dspacing", "d"},
    {"energy", "Energy"},
    {"psi", "Psi"},
    {"coupledtwothetatheta", "2Theta"},
    {"coupledtwothetaomega", "2Theta"},
    {"detector", "2Theta"},
}};

}  // namespace

std::string axis_kind(std::string_view word) {
  const std::string_view trimmed = trim_white_space(word);
  std::string folded;
  for (const char c : trimmed) {
    if (c == ' ' || c == '\t' || c == '-' || c == '_' || c == '/') continue;
    folded.push_back(c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c);
  }
  for (const AxisWord& known : axis_words) {
    if (known.folded == folded) return std::string(known.kind);
  }
  return std::string(trimmed);
}

}  // namespace morvex
