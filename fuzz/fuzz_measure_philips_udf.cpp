// measure_bytes of Philips UDF scans, the first key forced.
#include "fuzz_measure.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  return morvex::fuzz::measure_signed_as(data, size, "SampleIdent,", "input.udf");
}
