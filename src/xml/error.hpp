// The error the XML layer reports: what was wrong and where.
#pragma once

#include <cstdint>
#include <string>

#include "core/result.hpp"

namespace morvex::xml {

// Markup that breaks the rules, or text that is not UTF-8: readers name the two apart.
enum class ErrorKind { markup, encoding };

struct Error {
  std::string what;      // e.g. "end tag </b> does not match the open element <a>"
  std::uint64_t offset;  // byte offset in the input, counted from its first byte
  ErrorKind kind = ErrorKind::markup;

  // "<what> at byte <offset>"
  std::string description() const;
};

template <class T>
using XmlResult = Result<T, Error>;

}  // namespace morvex::xml
