// Small pieces of XML syntax shared by the event lexer and the attribute reader.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "core/result.hpp"
#include "xml/error.hpp"

namespace morvex::xml {

inline bool is_xml_space(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

// Built by appending: GCC 12 warns wrongly (-Wrestrict) about "literal" + std::string.
inline std::string enclosed(std::string_view open, std::string_view text, std::string_view close) {
  std::string result;
  result.reserve(open.size() + text.size() + close.size());
  result.append(open).append(text).append(close);
  return result;
}

inline Failure<Error> error_at(std::string what, std::uint64_t offset) {
  return fail(Error{std::move(what), offset});
}

}  // namespace morvex::xml
