// load_bytes under the extension rasx.
#include "fuzz_load.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  return morvex::fuzz::load_as(morvex::fuzz::as_view(data, size), "input.rasx");
}
