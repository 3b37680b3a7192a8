// measure_bytes of Bruker/Siemens UXD text, named .uxd.
#include "fuzz_measure.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  return morvex::fuzz::measure_as(data, size, "input.uxd");
}
