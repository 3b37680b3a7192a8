// What a file states beside its data, as an ordered table of typed values under the
// documented keys (or the file's own spelling, in a nested table).
#pragma once

#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace morvex {

struct MetaEntry;

// Keys keep the order in which a reader first set them.
class MetaTable {
 public:
  using Value = std::variant<std::string, double, std::vector<double>, MetaTable>;

  // Replaces the value of an existing key.
  void set(std::string_view key, Value value);
  const Value* find(std::string_view key) const;
  // The nested table under `key`, made empty where it is missing or holds something else.
  MetaTable& table(std::string_view key);

  const std::vector<MetaEntry>& entries() const { return entries_; }
  // The entries, moved out; the table is left empty.
  std::vector<MetaEntry> take_entries();
  bool empty() const { return entries_.empty(); }

 private:
  std::vector<MetaEntry> entries_;
};

struct MetaEntry {
  std::string key;
  MetaTable::Value value;
};

inline std::vector<MetaEntry> MetaTable::take_entries() {
  return std::move(entries_);
}

// Sets header text: trimmed of blanks and control characters, as UTF-8 (Latin-1 where it is
// not), and only when something is left.
void set_header_text(MetaTable& meta, std::string_view key, std::string_view bytes);

}  // namespace morvex
