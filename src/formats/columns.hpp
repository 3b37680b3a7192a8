// The row rule of the column formats (xy, xye, csv and the RASX profile): two leading numbers
// make a point, a third an uncertainty.
#pragma once

#include <cstddef>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

#include "core/input.hpp"
#include "core/load_error.hpp"
#include "core/scan.hpp"

namespace morvex {

using ScanResult = Result<Scan, LoadError>;

// push_row reads no further than this: position, intensity, uncertainty.
constexpr std::size_t row_columns = 3;

// The growing columns of a column reader.
struct ColumnTarget {
  std::vector<double> x;
  std::vector<double> y;
  std::vector<double> e;
};

// Two leading numbers make a point; a third number, when there is one, an uncertainty.
void push_row(std::span<const std::string_view> tokens, ColumnTarget& target);

// The uncertainties survive only when every point has one.
std::optional<std::vector<double>> finish_error_column(const std::vector<double>& x,
                                                       std::vector<double>&& e);

// What separates the tokens of a line besides white space.
enum class Separators { white_space, white_space_and_comma };

// Every line of the input through the row rule, reading no more than `columns` tokens of it
// (2 leaves out the uncertainty). Blank lines and lines that start with "#" or "!" are skipped.
ScanResult read_columns(Input& input, Separators separators, std::size_t columns);

}  // namespace morvex
