// The XML pull parser on its own: every event of the document, every attribute of every
// tag walked and unescaped, and the promises of the interface checked on the way.
#include "fuzz_load.hpp"
#include "xml/attributes.hpp"
#include "xml/pull_parser.hpp"

namespace {

using morvex::fuzz::die;
using morvex::xml::EventKind;

void walk_attributes(const morvex::xml::Event& tag) {
  morvex::xml::AttributeReader attributes(tag);
  for (;;) {
    auto attribute = attributes.next();
    if (!attribute) {
      if (attribute.error().description().empty()) die("attribute error without a text");
      return;
    }
    if (!attribute.value()) return;
    auto value = morvex::xml::unescape_value(*attribute.value());
    if (!value && value.error().description().empty()) die("decode error without a text");
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  morvex::SliceSource source(morvex::fuzz::as_view(data, size));
  morvex::Input input(source);
  morvex::xml::PullParser parser(input);
  std::uint64_t last_offset = 0;
  for (;;) {
    const std::size_t depth_before = parser.depth();
    auto event = parser.next();
    if (!event) {
      const std::string first = event.error().description();
      if (first.empty()) die("parse error without a text");
      auto again = parser.next();
      if (again || again.error().description() != first) die("an error did not stick");
      return 0;
    }
    const morvex::xml::Event& e = event.value();
    if (e.offset < last_offset || e.offset > size) die("event offsets went backwards or out");
    last_offset = e.offset;
    switch (e.kind) {
      case EventKind::end_of_input: {
        auto again = parser.next();
        if (!again || again.value().kind != EventKind::end_of_input) die("end did not stick");
        return 0;
      }
      case EventKind::start_tag:
        if (parser.depth() != depth_before + 1) die("a start tag did not open an element");
        if (parser.open_name(depth_before) != e.name) die("the path lost the element's name");
        if (parser.marks() != depth_before) die("marks not inherited from the parent");
        parser.set_marks(static_cast<std::uint32_t>(parser.depth()));
        walk_attributes(e);
        // Every other element's text is taken whole: the element must be closed after it.
        if (e.offset % 2 == 1) {
          auto text = parser.element_text();
          if (text && parser.depth() != depth_before) die("element text left it open");
          if (!text && text.error().description().empty()) die("text error without a text");
        }
        break;
      case EventKind::empty_tag:
        if (parser.depth() != depth_before) die("an empty tag changed the depth");
        walk_attributes(e);
        break;
      case EventKind::end_tag:
        if (parser.depth() + 1 != depth_before) die("an end tag did not close an element");
        break;
      case EventKind::text:
        if (e.bytes.empty()) die("an empty text event");
        if (parser.depth() > 0 && parser.around(0) != parser.open_name(parser.depth() - 1)) {
          die("text not held by the innermost open element");
        }
        (void)morvex::xml::check_utf8(e.bytes, e.offset);
        break;
      default:
        break;
    }
  }
}
