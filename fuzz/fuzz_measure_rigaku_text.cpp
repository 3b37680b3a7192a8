// measure_bytes of Rigaku text exports, named .asc.
#include "fuzz_measure.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  return morvex::fuzz::measure_as(data, size, "input.asc");
}
