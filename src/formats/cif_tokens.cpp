#include "formats/cif_tokens.hpp"

#include <string>

namespace morvex {
namespace {

bool is_blank(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

// Reserved words are case-insensitive.
bool starts_with_word(std::string_view token, std::string_view lower) {
  if (token.size() < lower.size()) return false;
  for (std::size_t i = 0; i < lower.size(); ++i) {
    const char c = token[i];
    if ((c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c) != lower[i]) return false;
  }
  return true;
}

}  // namespace

void CifTokenizer::skip_blanks_and_comments() {
  while (at_ < text_.size()) {
    const char c = text_[at_];
    if (c == '\n') {
      ++line_;
      ++at_;
    } else if (is_blank(c)) {
      ++at_;
    } else if (c == '#') {
      while (at_ < text_.size() && text_[at_] != '\n' && text_[at_] != '\r') ++at_;
    } else {
      return;
    }
  }
}

void CifTokenizer::extend_to_line_end(CifToken& value) {
  if (value.quoted || value.kind != CifTokenKind::value) return;
  std::size_t end = at_;
  while (end < text_.size() && text_[end] != '\n' && text_[end] != '\r') {
    if (text_[end] == '#' && is_blank(text_[end - 1])) break;  // a comment
    ++end;
  }
  while (end > at_ && is_blank(text_[end - 1])) --end;
  std::size_t first = at_;
  while (first < end && is_blank(text_[first])) ++first;
  if (first == end) return;
  const std::string_view rest = text_.substr(first, end - first);
  if (rest.front() == '_' || rest.front() == '\'' || rest.front() == '"' ||
      starts_with_word(rest, "loop_") || starts_with_word(rest, "data_") ||
      starts_with_word(rest, "save_")) {
    return;
  }
  const auto begin = static_cast<std::size_t>(value.text.data() - text_.data());
  value.text = text_.substr(begin, end - begin);
  at_ = end;
}

Result<CifToken, ParseError> CifTokenizer::next() {
  skip_blanks_and_comments();
  if (at_ == text_.size()) return CifToken{};
  const std::uint64_t first_line = line_;
  const char c = text_[at_];
  if (c == ';' && at_line_start()) {
    // A text field runs to the next line that starts with ";".
    const std::size_t begin = at_ + 1;
    for (std::size_t p = begin; p < text_.size(); ++p) {
      if (text_[p] != '\n') continue;
      ++line_;
      if (p + 1 < text_.size() && text_[p + 1] == ';') {
        at_ = p + 2;
        return CifToken{CifTokenKind::value, text_.substr(begin, p - begin), true};
      }
    }
    return parse_failure("CIF text field from line " + std::to_string(first_line) +
                         " never closed");
  }
  if (c == '\'' || c == '"') {
    // A quote closes only where white space (or the end) follows it.
    for (std::size_t p = at_ + 1; p < text_.size(); ++p) {
      if (text_[p] == '\n' || text_[p] == '\r') break;
      if (text_[p] == c && (p + 1 == text_.size() || is_blank(text_[p + 1]))) {
        const std::string_view value = text_.substr(at_ + 1, p - at_ - 1);
        at_ = p + 1;
        return CifToken{CifTokenKind::value, value, true};
      }
    }
    return parse_failure("CIF quoted value on line " + std::to_string(first_line) +
                         " never closed");
  }
  const std::size_t begin = at_;
  while (at_ < text_.size() && !is_blank(text_[at_])) ++at_;
  const std::string_view token = text_.substr(begin, at_ - begin);
  if (token.front() == '_') return CifToken{CifTokenKind::tag, token, false};
  if (starts_with_word(token, "data_"))
    return CifToken{CifTokenKind::data_block, token.substr(5), false};
  if (starts_with_word(token, "loop_") && token.size() == 5)
    return CifToken{CifTokenKind::loop, {}, false};
  if (starts_with_word(token, "save_"))
    return CifToken{CifTokenKind::save_frame, token.substr(5), false};
  if (starts_with_word(token, "global_") || starts_with_word(token, "stop_")) {
    return parse_failure("CIF reserved word \"" + std::string(token) + "\" on line " +
                         std::to_string(first_line));
  }
  return CifToken{CifTokenKind::value, token, false};
}

}  // namespace morvex
