#include "core/metadata.hpp"

#include <algorithm>

#include "core/encodings.hpp"

namespace morvex {

void MetaTable::set(std::string_view key, Value value) {
  const auto found =
      std::ranges::find_if(entries_, [key](const MetaEntry& e) { return e.key == key; });
  if (found != entries_.end()) {
    found->value = std::move(value);
  } else {
    entries_.push_back(MetaEntry{std::string(key), std::move(value)});
  }
}

const MetaTable::Value* MetaTable::find(std::string_view key) const {
  const auto found =
      std::ranges::find_if(entries_, [key](const MetaEntry& e) { return e.key == key; });
  return found == entries_.end() ? nullptr : &found->value;
}

MetaTable& MetaTable::table(std::string_view key) {
  const Value* value = find(key);
  if (!value || !std::holds_alternative<MetaTable>(*value)) set(key, MetaTable{});
  auto found = std::ranges::find_if(entries_, [key](const MetaEntry& e) { return e.key == key; });
  return std::get<MetaTable>(found->value);
}

void set_header_text(MetaTable& meta, std::string_view key, std::string_view bytes) {
  const auto blank = [](char c) { return static_cast<unsigned char>(c) <= ' '; };
  while (!bytes.empty() && blank(bytes.front())) bytes.remove_prefix(1);
  while (!bytes.empty() && blank(bytes.back())) bytes.remove_suffix(1);
  if (!bytes.empty()) meta.set(key, utf8_or_latin1(bytes));
}

}  // namespace morvex
