// The body of the measure_bytes targets: every scan a reader gives must be well formed.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "dispatch/dispatch.hpp"

namespace morvex::fuzz {

inline int measure_as(const std::uint8_t* data, std::size_t size, std::string_view filename) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  const MeasurementResult result = measure_bytes(bytes, filename);
  if (!result) return 0;
  for (const Scan& scan : result.value().scans) {
    if (scan.x.size() != scan.y.size()) std::abort();
    if (scan.e && scan.e->size() != scan.x.size()) std::abort();
  }
  return 0;
}

}  // namespace morvex::fuzz
