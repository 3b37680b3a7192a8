// The measurement-level keys of a file whose scans each state their own (a RAS scan header,
// a UXD range): the first scan's hold for the measurement, and a later scan keeps, as its
// own, those that differ from the first's.
#pragma once

#include <variant>

#include "core/scan.hpp"

namespace morvex {

inline void keep_measurement_keys(const MetaTable& own, bool first, ScanSink& sink, Scan& scan) {
  if (first) {
    for (const MetaEntry& entry : own.entries()) sink.meta().set(entry.key, entry.value);
    return;
  }
  for (const MetaEntry& entry : own.entries()) {
    const MetaTable::Value* held = sink.meta().find(entry.key);
    bool same = held && held->index() == entry.value.index();
    if (same) {
      if (const auto* text = std::get_if<std::string>(held)) {
        same = *text == std::get<std::string>(entry.value);
      } else if (const auto* number = std::get_if<double>(held)) {
        same = *number == std::get<double>(entry.value);
      } else {
        same = false;
      }
    }
    if (!same) scan.meta.set(entry.key, entry.value);
  }
}

}  // namespace morvex
