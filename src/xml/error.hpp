// The error the XML layer reports: what was wrong and where.
#pragma once

#include <cstdint>
#include <string>

#include "core/result.hpp"

namespace morvex::xml {

struct Error {
  std::string what;      // e.g. "end tag </b> does not match the open element <a>"
  std::uint64_t offset;  // byte offset in the input, counted from its first byte

  // "<what> at byte <offset>"
  std::string description() const;
};

template <class T>
using XmlResult = Result<T, Error>;

}  // namespace morvex::xml
