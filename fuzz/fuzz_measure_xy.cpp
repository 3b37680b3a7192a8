// measure_bytes of column files with header lines, named .xy.
#include "fuzz_measure.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  return morvex::fuzz::measure_as(data, size, "input.xy");
}
