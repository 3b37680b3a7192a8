// Small pieces of XML shared by the event lexer, the attribute reader and the readers.
#pragma once

#include <cstdint>
#include <optional>
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

// Names compared without their namespace prefix, which documents spell as they like.
inline std::string_view local_name(std::string_view qualified) {
  const std::size_t colon = qualified.rfind(':');
  return colon == std::string_view::npos ? qualified : qualified.substr(colon + 1);
}

// Appends what the reference "&name;" stands for: one of the five predefined entities, or a
// decimal or hexadecimal character reference to an XML character as UTF-8. Anything else is
// an error at `offset`, where its "&" stands.
std::optional<Error> append_reference(std::string_view name, std::uint64_t offset,
                                      std::string& out);

// Checks strict UTF-8 (no overlong forms, surrogates or code points above U+10FFFF); the
// error, of kind encoding, names the offset of the first byte that is wrong. `offset` is
// where `bytes` start in the input.
std::optional<Error> check_utf8(std::string_view bytes, std::uint64_t offset);

inline Failure<Error> error_at(std::string what, std::uint64_t offset) {
  return fail(Error{std::move(what), offset});
}

}  // namespace morvex::xml
