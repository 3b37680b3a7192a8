// measure_bytes of STOE RAW files, the signature forced.
#include "fuzz_measure.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  return morvex::fuzz::measure_signed_as(data, size, "RAW_1.0", "input.raw");
}
