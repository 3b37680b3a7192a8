// measure_bytes of BRML archives (a ZIP named .brml is read as one).
#include "fuzz_measure.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  return morvex::fuzz::measure_as(data, size, "input.brml");
}
