// What one <scan> element of an XRDML document states, gathered while it is read, and the
// scan record made of it.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/load_error.hpp"
#include "core/result.hpp"
#include "core/scan.hpp"

namespace morvex {

// The positions of one axis: a start and an end, one common position, or a list.
struct AxisPositions {
  std::string axis;
  std::string unit;
  std::optional<double> start;
  std::optional<double> end;
  std::optional<double> common;
  std::optional<std::vector<double>> listed;
};

struct XrdmlScanParts {
  MetaTable meta;  // from the scan's attributes
  std::vector<AxisPositions> axes;
  std::optional<double> common_counting_time;
  std::optional<std::vector<double>> counting_times;
  std::optional<std::vector<double>> attenuation;
};

// Evenly spaced from start to end, one position per intensity. The step divides by
// n + (-1.0) and each position is i * step + start, so that the values match those of
// other programs bit for bit; the last one is not forced to `end`.
std::vector<double> xrdml_even_axis(std::size_t count, double start, double end);

// The scan of `parts` with `y`: x is 2θ where 2θ moves, else the axis that moves; the other
// axes' positions go into the metadata.
Result<Scan, LoadError> build_xrdml_scan(XrdmlScanParts&& parts, std::vector<double>&& y);

}  // namespace morvex
