// measure_bytes of start/step/stop files, named .dat.
#include "fuzz_measure.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  return morvex::fuzz::measure_as(data, size, "input.dat");
}
