// load_bytes under the extension raw, with a zero byte forced into the sniffed prefix so
// that the binary (Bruker) reader is always chosen.
#include <algorithm>
#include <vector>

#include "fuzz_load.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::vector<char> bytes(data, data + size);
  if (bytes.empty()) bytes.push_back('\0');
  const std::size_t window = std::min<std::size_t>(bytes.size(), 1024);
  if (std::find(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(window), '\0') ==
      bytes.begin() + static_cast<std::ptrdiff_t>(window)) {
    bytes[window - 1] = '\0';
  }
  return morvex::fuzz::load_as(std::string_view(bytes.data(), bytes.size()), "input.raw");
}
