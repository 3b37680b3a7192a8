// The row rule of the column formats (xy, xye, csv and the RASX profile): two leading numbers
// make a point, a third an uncertainty.
#pragma once

#include <cstddef>
#include <cstdint>
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
  std::size_t first_without_e = SIZE_MAX;  // the index of the first point that has none
};

// Two leading numbers make a point; a third number, when there is one, an uncertainty.
void push_row(std::span<const std::string_view> tokens, ColumnTarget& target);

// The uncertainties survive only when every point has one.
std::optional<std::vector<double>> finish_error_column(const std::vector<double>& x,
                                                       std::vector<double>&& e);

// What separates the tokens of a line besides white space.
enum class Separators { white_space, white_space_and_comma };

// How the rows are read: as the first pattern always read them, or, for every scan, refusing
// what could only be misread. `checked` reads decimal commas ("5,00\t1234") where the rows
// leave no doubt and refuses rows whose commas could mark decimals or separate fields, takes
// semicolons as separators, and refuses a file whose last row alone lost its uncertainty.
enum class RowRules { as_always, checked };

// Every line of the input through the row rule, reading no more than `columns` tokens of it
// (2 leaves out the uncertainty). Blank lines and lines that start with "#" or "!" are skipped.
ScanResult read_columns(Input& input, Separators separators, std::size_t columns,
                        RowRules rules = RowRules::as_always);

}  // namespace morvex
