// measure_bytes of powder CIF documents, a data block opened first.
#include "fuzz_measure.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  return morvex::fuzz::measure_signed_as(data, size, "data_", "input.cif");
}
