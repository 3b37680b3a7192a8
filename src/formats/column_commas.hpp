// The commas of the column rows read for every scan: decimal marks or separators, as the
// rows show, and the refusal of rows whose commas could be read either way.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "core/load_error.hpp"
#include "formats/columns.hpp"

namespace morvex {

// The commas of a file read for every scan: decimal marks or separators, as its rows show.
// A row's fields are cut at white space and semicolons. Its commas are decimal marks where it
// has two fields or more, no dot, and each comma sits between digits in a field of its own
// ("5,00\t1234"). They separate, in the csv reader only, where its one field holds them
// ("10.5,100"), or each sits at the end of a field or in one with a dot ("10.5, 100"). Both
// readings in one file, or a row with neither, would split a number somewhere: those are
// refused. So is a row whose commas could be either ("5,00,1234"), unless others show them
// to be separators.
class CommaRules {
 public:
  CommaRules(bool comma_separates, std::size_t columns)
      : comma_separates_(comma_separates), columns_(columns) {}

  // Whether the rows so far have shown their commas to be decimal marks, or separators.
  bool decimal() const { return use_ == Use::decimal; }
  bool separators() const { return use_ == Use::separators; }
  // Rows read elsewhere may have held a number with a dot, which no decimal-comma file has.
  void saw_rows(std::string_view rows) {
    if (!dots_ && use_ != Use::decimal) dots_ = rows.find('.') != std::string_view::npos;
  }

  // The row's point, if it has one.
  Status<ParseError> row(std::string_view trimmed, ColumnTarget& target);
  // Refuses a file whose commas nothing settled.
  Status<ParseError> finish() const {
    if (unsettled_.empty() || use_ == Use::separators) return succeeded;
    return unclear(unsettled_);
  }

 private:
  enum class Use { unknown, decimal, separators };
  enum class Kind { plain, decimal, separated, unclear, mixed };

  void cut_fields(std::string_view trimmed);
  Kind kind() const;
  void push_decimal(ColumnTarget& target);
  void push_separated(ColumnTarget& target);
  static Failure<ParseError> mixed(std::string_view row);
  static Failure<ParseError> unclear(std::string_view row);

  bool comma_separates_;
  std::size_t columns_;
  Use use_ = Use::unknown;
  bool dots_ = false;
  std::string unsettled_;  // the first row read with comma separators before any row showed them
  std::vector<std::string_view> words_, fields_, tokens_;
  std::string decimals_[row_columns];
};

}  // namespace morvex
