#include "formats/column_commas.hpp"

#include <algorithm>

#include "core/tokens.hpp"

namespace morvex {
namespace {

// "5,00", "-1,5e3": one comma between digits, no dot.
bool has_decimal_comma(std::string_view field) {
  const std::size_t comma = field.find(',');
  return comma != std::string_view::npos && comma > 0 && comma + 1 < field.size() &&
         is_ascii_digit(field[comma - 1]) && is_ascii_digit(field[comma + 1]) &&
         field.find(',', comma + 1) == std::string_view::npos &&
         field.find('.') == std::string_view::npos;
}

bool commas_only_at_ends(std::string_view field) {
  const std::size_t first = field.find_first_not_of(',');
  if (first == std::string_view::npos) return true;
  const std::size_t last = field.find_last_not_of(',');
  return field.substr(first, last - first + 1).find(',') == std::string_view::npos;
}

std::string quoted_row(std::string_view row) {
  constexpr std::size_t shown = 60;
  std::size_t cut = row.size();
  if (cut > shown) {
    cut = shown;  // not inside a character
    while (cut > 0 && (static_cast<unsigned char>(row[cut]) & 0xC0) == 0x80) --cut;
  }
  std::string text(1, '"');
  text.append(row.substr(0, cut));
  if (cut < row.size()) text.append("...");
  text.push_back('"');
  return text;
}

}  // namespace

Failure<ParseError> CommaRules::mixed(std::string_view row) {
  return parse_failure(
      "Column file mixes decimal commas with decimal points or comma separators, in row " +
      quoted_row(row));
}

Failure<ParseError> CommaRules::unclear(std::string_view row) {
  return parse_failure(
      "Column file has commas that could mark decimals or separate fields, in row " +
      quoted_row(row));
}

void CommaRules::cut_fields(std::string_view trimmed) {
  split_white_space(trimmed, words_, columns_);
  fields_.clear();
  for (std::string_view word : words_) {
    while (fields_.size() < columns_) {
      const std::size_t semicolon = word.find(';');
      if (semicolon != 0) fields_.push_back(word.substr(0, semicolon));
      if (semicolon == std::string_view::npos) break;
      word.remove_prefix(semicolon + 1);
      if (word.empty()) break;
    }
  }
}

CommaRules::Kind CommaRules::kind() const {
  bool commas = false, dots = false, decimal = true, at_ends = true;
  for (const std::string_view field : fields_) {
    dots = dots || field.find('.') != std::string_view::npos;
    if (field.find(',') == std::string_view::npos) continue;
    commas = true;
    decimal = decimal && has_decimal_comma(field);
    // A dot marks the field's decimals, so its commas can only separate.
    at_ends = at_ends && (commas_only_at_ends(field) || field.find('.') != std::string_view::npos);
  }
  if (!commas) return Kind::plain;
  if (fields_.size() >= 2) {
    if (decimal && !dots) return Kind::decimal;
    return at_ends ? Kind::separated : Kind::mixed;
  }
  // One field: the commas separate, unless they could as well be decimal commas between
  // numbers that commas separate ("5,00,1234").
  const std::string_view field = fields_.front();
  bool between_digits = true;
  for (std::size_t at = field.find(','); at != std::string_view::npos;
       at = field.find(',', at + 1)) {
    between_digits = between_digits && at > 0 && at + 1 < field.size() &&
                     is_ascii_digit(field[at - 1]) && is_ascii_digit(field[at + 1]);
  }
  const bool several = field.find(',') != field.rfind(',');
  return !dots && several && between_digits ? Kind::unclear : Kind::separated;
}

void CommaRules::push_decimal(ColumnTarget& target) {
  tokens_.clear();
  for (std::size_t k = 0; k < fields_.size() && k < row_columns; ++k) {
    decimals_[k].assign(fields_[k]);
    std::ranges::replace(decimals_[k], ',', '.');
    tokens_.push_back(decimals_[k]);
  }
  push_row(tokens_, target);
}

void CommaRules::push_separated(ColumnTarget& target) {
  tokens_.clear();
  for (const std::string_view field : fields_) {
    split_fields(field, words_, columns_);
    for (const std::string_view token : words_) {
      if (tokens_.size() < columns_) tokens_.push_back(token);
    }
  }
  push_row(tokens_, target);
}

Status<ParseError> CommaRules::row(std::string_view trimmed, ColumnTarget& target) {
  cut_fields(trimmed);
  const std::size_t points = target.x.size();
  const Kind row_kind = kind();
  switch (row_kind) {
    case Kind::plain:
      push_row(fields_, target);
      if (target.x.size() == points) return succeeded;
      if (use_ == Use::decimal && trimmed.find('.') != std::string_view::npos) {
        return mixed(trimmed);
      }
      saw_rows(trimmed);
      return succeeded;
    case Kind::decimal:
      push_decimal(target);
      if (target.x.size() == points) return succeeded;  // a header line, say
      if (!unsettled_.empty()) return unclear(unsettled_);
      if (use_ == Use::separators || dots_) return mixed(trimmed);
      use_ = Use::decimal;
      return succeeded;
    case Kind::mixed: {
      // Refused only where it reads as a point with its commas as decimal marks, or as
      // separators in the csv reader.
      ColumnTarget scratch;
      push_decimal(scratch);
      if (comma_separates_) push_separated(scratch);
      if (scratch.x.empty()) return succeeded;
      return mixed(trimmed);
    }
    case Kind::separated:
    case Kind::unclear:
      break;
  }
  if (!comma_separates_) {  // commas separate nothing here: the row is read as it is
    push_row(fields_, target);
    return succeeded;
  }
  push_separated(target);
  if (target.x.size() == points) return succeeded;
  if (use_ == Use::decimal) return mixed(trimmed);
  if (row_kind == Kind::separated) {
    use_ = Use::separators;
  } else if (use_ == Use::unknown && unsettled_.empty()) {
    unsettled_.assign(trimmed);
  }
  return succeeded;
}

}  // namespace morvex
