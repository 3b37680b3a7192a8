// The body of the load_bytes targets: one reader, chosen by the name's extension.
#pragma once

#include <cstdint>
#include <string_view>

#include "dispatch/dispatch.hpp"
#include "fuzz_common.hpp"

namespace morvex::fuzz {

inline int load_as(std::string_view bytes, std::string_view filename) {
  const LoadResult result = load_bytes(bytes, filename);
  check_pattern_shape(result);
  return 0;
}

inline std::string_view as_view(const std::uint8_t* data, std::size_t size) {
  return std::string_view(reinterpret_cast<const char*>(data), size);
}

}  // namespace morvex::fuzz
