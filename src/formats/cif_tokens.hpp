// The tokens of a CIF 1.1 document: block headers, loop_, tags and values, with comments,
// quotes and semicolon text fields taken apart.
#pragma once

#include <cstdint>
#include <string_view>

#include "core/load_error.hpp"

namespace morvex {

enum class CifTokenKind { data_block, loop, tag, value, save_frame, end };

struct CifToken {
  CifTokenKind kind = CifTokenKind::end;
  // The block name (after "data_"), the tag, or the value without its quotes or semicolons.
  std::string_view text;
  // Quoted values and text fields are never "?" or "." placeholders.
  bool quoted = false;
};

class CifTokenizer {
 public:
  explicit CifTokenizer(std::string_view text) : text_(text) {}

  Result<CifToken, ParseError> next();
  std::uint64_t line() const { return line_; }
  // GSAS2CIF writes values with blanks unquoted outside loops (`_audit_creation_date  Oct 23
  // 13:47:26`); CIF readers in the field take the rest of such a line. Extends `value`, just
  // taken, over the rest of its line where what follows is neither a tag nor a quote.
  void extend_to_line_end(CifToken& value);

 private:
  void skip_blanks_and_comments();
  bool at_line_start() const {
    return at_ == 0 || text_[at_ - 1] == '\n' || text_[at_ - 1] == '\r';
  }

  std::string_view text_;
  std::size_t at_ = 0;
  std::uint64_t line_ = 1;
};

}  // namespace morvex
