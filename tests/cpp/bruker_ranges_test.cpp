// Every range of a Bruker RAW file and its metadata, through measure_bytes / measure_path.
#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <variant>
#include <vector>

#include "dispatch/dispatch.hpp"
#include "realdata.hpp"

namespace {

using morvex::MetaTable;

const std::string realdata = MORVEX_REALDATA_DIR "/bruker_raw/";

double number(const MetaTable& meta, std::string_view key) {
  const auto* value = meta.find(key);
  return value && std::holds_alternative<double>(*value) ? std::get<double>(*value) : -1.0;
}

std::string text(const MetaTable& meta, std::string_view key) {
  const auto* value = meta.find(key);
  return value && std::holds_alternative<std::string>(*value) ? std::get<std::string>(*value) : "";
}

template <class T>
void put(std::string& bytes, T value) {
  char raw[sizeof(T)];
  std::memcpy(raw, &value, sizeof(T));
  bytes.append(raw, sizeof(T));
}

// A version 1 range: 152 header bytes, then its singles.
std::string version1_range(std::vector<float> values, float start, bool more) {
  std::string range;
  put(range, static_cast<std::uint32_t>(values.size()));
  put(range, 1.5f);  // time per step
  put(range, 0.5f);  // step
  range.append(8, '\0');
  put(range, start);
  put(range, 2.0f);  // theta
  range.append(8, '\0');
  range.append("SAMPLE");
  range.append(26, ' ');
  put(range, 1.5406f);
  range.append(148 - range.size(), '\0');
  put(range, static_cast<std::uint32_t>(more));
  for (float v : values) put(range, v);
  return range;
}

class BrukerRealdata : public testing::TestWithParam<const char*> {};

// Every scan starts with the one pattern morvex gives, point for point.
TEST_P(BrukerRealdata, FirstScanIsTheOnePattern) {
  MORVEX_SKIP_WITHOUT_REALDATA();
  const auto measured = morvex::measure_path(realdata + GetParam());
  const auto loaded = morvex::load_path(realdata + GetParam());
  ASSERT_TRUE(measured.ok() && loaded.ok());
  const auto& first = measured.value().scans.at(0);
  EXPECT_EQ(first.x, loaded.value().x);
  EXPECT_EQ(first.y, loaded.value().y);
  EXPECT_EQ(number(first.meta, "start"), first.x.front());
  EXPECT_EQ(text(first.meta, "x_axis"), "2Theta");
}

INSTANTIATE_TEST_SUITE_P(Files, BrukerRealdata,
                         testing::Values("KGA1-CONT.RAW", "LaB6_Jan2018.raw", "datalab_TiO2.raw",
                                         "pyxrd_brk_raw1.raw", "pyxrd_brk_raw2.raw",
                                         "xylib_BT86.raw", "xylib_format1.raw"));

TEST(BrukerRanges, EveryRangeInFileOrder) {
  MORVEX_SKIP_WITHOUT_REALDATA();
  const auto result = morvex::measure_path(realdata + "xylib_format1.raw");
  ASSERT_TRUE(result.ok());
  const auto& scans = result.value().scans;
  ASSERT_EQ(scans.size(), 3u);
  EXPECT_EQ(scans[1].x.size(), 26u);
  EXPECT_DOUBLE_EQ(scans[1].x.back(), 35.0);
  EXPECT_EQ(scans[2].x.size(), 51u);
  EXPECT_DOUBLE_EQ(scans[2].x.front(), 40.0);
  // 40 kV, 39 kV, 40 kV: no voltage holds for the measurement.
  EXPECT_EQ(number(scans[1].meta, "voltage_kv"), 39.0);
  EXPECT_EQ(result.value().meta.find("voltage_kv"), nullptr);
  EXPECT_EQ(number(result.value().meta, "current_ma"), 40.0);
  EXPECT_EQ(text(result.value().meta, "started"), "2008-06-12T10:27:58");
}

TEST(BrukerRanges, Version4HeaderFields) {
  MORVEX_SKIP_WITHOUT_REALDATA();
  const auto result = morvex::measure_path(realdata + "datalab_TiO2.raw");
  ASSERT_TRUE(result.ok());
  const MetaTable& meta = result.value().meta;
  EXPECT_EQ(text(meta, "sample_name"), "TiO2");
  EXPECT_EQ(text(meta, "anode"), "Cu");
  EXPECT_EQ(number(meta, "wavelength_kalpha2"), 1.54439);
  EXPECT_EQ(text(meta, "started"), "2018-07-11T15:55:31");
  const MetaTable& scan = result.value().scans.at(0).meta;
  EXPECT_EQ(text(scan, "scan_axis"), "Locked Coupled");
  EXPECT_EQ(number(scan, "time_per_step_s"), 77.9);
  EXPECT_EQ(number(std::get<MetaTable>(*scan.find("axes")), "Theta"), 5.0);
}

TEST(BrukerRanges, Version1ChainRepeatsTheSignature) {
  std::string file = "RAW " + version1_range({1, 2, 3}, 10.0f, true);
  file += "RAW " + version1_range({4, 5}, 20.0f, false);
  const auto result = morvex::measure_bytes(file, "two.raw");
  ASSERT_TRUE(result.ok()) << result.error().message();
  const auto& scans = result.value().scans;
  ASSERT_EQ(scans.size(), 2u);
  EXPECT_EQ(scans[1].x, (std::vector<double>{20.0, 20.5}));
  EXPECT_EQ(scans[1].y, (std::vector<double>{4, 5}));
  EXPECT_EQ(number(scans[0].meta, "time_per_step_s"), 1.5);
  EXPECT_EQ(number(result.value().meta, "wavelength_kalpha1"), 1.5406);
  EXPECT_EQ(text(result.value().meta, "sample_name"), "SAMPLE");
  // The one pattern is the first range alone.
  EXPECT_EQ(morvex::load_bytes(file, "two.raw").value().y, (std::vector<double>{1, 2, 3}));
}

TEST(BrukerRanges, CutLaterRangeFailsTheRead) {
  const std::string whole =
      "RAW " + version1_range({1, 2, 3}, 10.0f, true) + version1_range({4, 5}, 20.0f, false);
  for (std::size_t cut : {std::size_t{4}, std::size_t{100}, std::size_t{157}}) {
    const auto result = morvex::measure_bytes(whole.substr(0, whole.size() - cut), "cut.raw");
    ASSERT_FALSE(result.ok()) << cut;
    EXPECT_EQ(result.error().message(), "Bruker RAW intensity data truncated");
  }
  // A file whose last range is cut still gives its whole first range as the one pattern.
  MORVEX_SKIP_WITHOUT_REALDATA();
  std::ifstream stream(realdata + "xylib_format1.raw", std::ios::binary);
  const std::string counted((std::istreambuf_iterator<char>(stream)), {});
  const std::string cut = counted.substr(0, counted.size() - 10);
  EXPECT_FALSE(morvex::measure_bytes(cut, "cut.raw").ok());
  EXPECT_EQ(morvex::load_bytes(cut, "cut.raw").value().x.size(), 101u);
}

}  // namespace
