// load_bytes under the extension raw, with the zero bytes of the sniffed prefix replaced so
// that the text (GSAS) reader is always chosen.
#include <vector>

#include "fuzz_load.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  // Exactly sized, so that a read past the end still meets AddressSanitizer's red zone.
  std::vector<char> bytes(data, data + size);
  for (std::size_t i = 0; i < bytes.size() && i < 1024; ++i) {
    if (bytes[i] == '\0') bytes[i] = ' ';
  }
  const std::string_view view(bytes.data(), bytes.size());
  if (morvex::looks_binary(view.substr(0, 1024))) morvex::fuzz::die("sniff still sees binary");
  return morvex::fuzz::load_as(view, "input.raw");
}
