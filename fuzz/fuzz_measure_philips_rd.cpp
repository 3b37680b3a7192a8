// measure_bytes of Philips RD scans, the V3 signature forced.
#include "fuzz_measure.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  return morvex::fuzz::measure_signed_as(data, size, "V3RD", "input.rd");
}
