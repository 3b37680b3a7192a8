// Attributes of a start or empty-element tag, and the expansion of references in their values.
#pragma once

#include <array>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_set>

#include "xml/markup.hpp"
#include "xml/pull_parser.hpp"

namespace morvex::xml {

struct Attribute {
  std::string_view name;   // raw, prefix included
  std::string_view value;  // raw, between the quotes, nothing expanded
  std::uint64_t value_offset = 0;
};

// Walks the attributes of a start or empty-element tag event, strictly: each needs a
// name, "=" and a value in matching quotes, and no name may occur twice. The views point
// into the event, so the walk must end before the parser's next() is called.
class AttributeReader {
 public:
  explicit AttributeReader(const Event& tag);

  // The next attribute, nullopt after the last one.
  XmlResult<std::optional<Attribute>> next();

 private:
  // True the first time `name` is met. The first names are compared one by one, without
  // allocating; a tag with very many attributes goes on in a set, so that it does not cost a
  // comparison per pair.
  bool first_time(std::string_view name);

  static constexpr std::size_t few = 16;
  std::string_view rest_;
  std::uint64_t offset_;  // input offset of rest_[0]
  std::array<std::string_view, few> first_{};
  std::size_t count_ = 0;
  std::unordered_set<std::string_view> more_;
};

// The value with the five predefined entities and decimal or hexadecimal character
// references replaced; the raw value must be UTF-8. Nothing else is normalised.
XmlResult<std::string> unescape_value(const Attribute& attribute);

}  // namespace morvex::xml
