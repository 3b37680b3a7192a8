// The body of the measure_bytes targets: a load that succeeds gives at least one scan, and every
// scan has points and well-formed columns.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "dispatch/dispatch.hpp"

namespace morvex::fuzz {

inline int measure_as(const std::uint8_t* data, std::size_t size, std::string_view filename) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  const MeasurementResult result = measure_bytes(bytes, filename);
  if (!result) return 0;
  if (result.value().scans.empty()) std::abort();
  for (const Scan& scan : result.value().scans) {
    if (scan.x.empty() || scan.x.size() != scan.y.size()) std::abort();
    if (scan.e && scan.e->size() != scan.x.size()) std::abort();
  }
  return 0;
}

// The same with the input's first bytes replaced by `signature`, so that detection by content
// always picks the reader under test however the bytes mutate.
inline int measure_signed_as(const std::uint8_t* data, std::size_t size, std::string_view signature,
                             std::string_view filename) {
  std::string bytes(reinterpret_cast<const char*>(data), size);
  bytes.replace(0, std::min(bytes.size(), signature.size()), signature);
  return measure_as(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size(), filename);
}

}  // namespace morvex::fuzz
