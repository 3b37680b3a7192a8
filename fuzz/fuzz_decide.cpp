// The decision of morvexio's loads: which format a head is, under every name the table knows.
// The first byte picks the name's extension. A chosen format's content rule holds (or the name
// settles a look-alike); content no rule takes is refused with a reason; and a load that
// succeeds gives the decided format with whole scans only.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "core/head.hpp"
#include "dispatch/detect.hpp"
#include "dispatch/dispatch.hpp"

namespace {

std::vector<std::string_view> every_extension() {
  std::vector<std::string_view> extensions = {"", "bin"};
  for (const morvex::FormatRow& format : morvex::format_table()) {
    extensions.insert(extensions.end(), format.extensions.begin(), format.extensions.end());
  }
  return extensions;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const std::vector<std::string_view> extensions = every_extension();
  if (size == 0) return 0;
  const std::string_view extension = extensions[data[0] % extensions.size()];
  const std::string_view bytes(reinterpret_cast<const char*>(data + 1), size - 1);
  const std::string_view head = bytes.substr(0, morvex::head_size);

  const morvex::Decision decision = morvex::decide_format(head, extension);
  const morvex::FormatRow* by_content = morvex::format_by_content(head);
  if (!decision.format) {
    if (by_content || decision.refusal.empty()) std::abort();
  } else if (decision.format != by_content && !morvex::shows_format(*decision.format, head)) {
    // Only a look-alike named otherwise: chi content named as columns, any ZIP named .brml.
    const std::string_view from = by_content ? by_content->name : "";
    if (from != "chi" && from != "rasx") std::abort();
  }

  const std::string name = "input." + std::string(extension);
  const morvex::MeasurementResult result = morvex::measure_bytes(bytes, name);
  if (!result) return 0;
  if (!decision.format || result.value().scans.empty()) std::abort();
  const std::string_view format = result.value().format;
  if (format != decision.format->name && !(format == "xye" && decision.format->name == "xy")) {
    std::abort();
  }
  for (const morvex::Scan& scan : result.value().scans) {
    if (scan.x.empty() || scan.x.size() != scan.y.size()) std::abort();
    if (scan.e && scan.e->size() != scan.x.size()) std::abort();
  }
  return 0;
}
