// The records every reader produces: scans with their metadata, handed one at a time to a
// sink that says whether to go on.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "core/metadata.hpp"

namespace morvex {

// x and y have equal length; e, when present, too. Per-point arrays other than x, y and e
// (counting times, attenuation factors) are array values in `meta`.
struct Scan {
  std::vector<double> x;
  std::vector<double> y;
  std::optional<std::vector<double>> e;
  MetaTable meta;
};

struct Measurement {
  std::string format;  // the short name of the reader that read it
  MetaTable meta;      // what holds for every scan
  std::vector<Scan> scans;
};

// Where a reader hands its scans. A reader reads every scan the same way for every caller;
// the caller decides, by what `take` answers, how far it goes.
class ScanSink {
 public:
  virtual ~ScanSink() = default;
  // The measurement's own metadata, filled by the reader as it finds it.
  virtual MetaTable& meta() = 0;
  // Takes a complete scan; false when the reader is to stop there.
  virtual bool take(Scan&& scan) = 0;
};

// Keeps the first scan and stops the reader.
class FirstScanSink final : public ScanSink {
 public:
  MetaTable& meta() override { return meta_; }
  bool take(Scan&& scan) override {
    scan_ = std::move(scan);
    return false;
  }
  std::optional<Scan>& scan() { return scan_; }

 private:
  MetaTable meta_;
  std::optional<Scan> scan_;
};

// Keeps every scan.
class CollectingSink final : public ScanSink {
 public:
  MetaTable& meta() override { return measurement_.meta; }
  bool take(Scan&& scan) override {
    measurement_.scans.push_back(std::move(scan));
    return true;
  }
  Measurement& measurement() { return measurement_; }

 private:
  Measurement measurement_;
};

}  // namespace morvex
