// The text formats of every scan (RAS, UXD, CPI, chi) and the header lines of column files:
// what each refuses, the encodings of their headers, how they are found, and that the
// first pattern of a column file stays the rows alone.
#include <gtest/gtest.h>

#include <string>
#include <variant>

#include "dispatch/detect.hpp"
#include "dispatch/dispatch.hpp"

namespace morvex {
namespace {

using namespace std::string_view_literals;

const std::string* text_of(const MetaTable& meta, std::string_view key) {
  const auto* value = meta.find(key);
  return value ? std::get_if<std::string>(value) : nullptr;
}

const double* number_of(const MetaTable& meta, std::string_view key) {
  const auto* value = meta.find(key);
  return value ? std::get_if<double>(value) : nullptr;
}

constexpr std::string_view ras_head =
    "*RAS_DATA_START\n*RAS_HEADER_START\n*FILE_SAMPLE \"\x8E\x8E\x97\xBF\"\n"
    "*HW_XG_TARGET_NAME \"Cu\"\n*MEAS_DATA_COUNT \"2\"\n*RAS_HEADER_END\n*RAS_INT_START\n";

TEST(TextFormats, RefusesWhatDepartsFromTheLayout) {
  const struct {
    std::string data;
    const char* name;
    const char* message;
  } cases[] = {
      {std::string(ras_head) + "1 2 1\n", "a.ras", "RAS file ends inside a scan (cut file?)"},
      {std::string(ras_head) + "1 2 1\n*RAS_INT_END\n*RAS_DATA_END\n", "a.ras",
       "RAS scan has fewer points than its header states (cut file?)"},
      {std::string(ras_head) + "1 2 1\n1 x 1\n", "a.ras", "Invalid RAS data row"},
      {"*RAS_DATA_START\n*RAS_DATA_END\n", "a.ras", "No RAS scan found"},
      {"*RAS_DATA_START\n*RAS_INT_START\n", "a.ras", "RAS data without a header"},
      {"_SAMPLE='a'\n_COUNTS\n1 2\n", "a.uxd", "UXD counts without _START and _STEPSIZE"},
      {"_START=1\n_STEPSIZE=1\n_STEPCOUNT=3\n_COUNTS\n1 2\n", "a.uxd",
       "UXD range has fewer points than its header states (cut file?)"},
      {"_START=1\n_COUNTS\n1 2\n_XYZ\n", "a.uxd", "Unknown UXD data marker"},
      {"_START=1\n_2THETACOUNTS\n1 2 3\n", "a.uxd", "Invalid UXD data row"},
      {"SIETRONICS XRD SCAN\n1\n1,2\n0,1\nCu\n1,54\nday\n1\ns\nSCANDATA\n5\n6\n", "a.cpi",
       "CPI scan has fewer points than its start, end and step state (cut file?)"},
      {"SIETRONICS XRD SCAN\n1\n2\n0\nCu\n1,54\nday\nSCANDATA\n5\n", "a.cpi",
       "Invalid CPI start, end or step"},
      {"SIETRONICS XRD SCAN\n1\n2\n1\n", "a.cpi", "CPI header ends before SCANDATA"},
      {"t\nx\ny\n3\n1 2\n2 3\n", "a.chi",
       "chi file has fewer points than its header states (cut file?)"},
      {"t\nx\ny\n1\n1 2\n2 3\n", "a.chi", "chi file has more points than its header states"},
      {"t\nx\ny\n2\n1 2\n2 z\n", "a.chi", "Invalid chi data row"},
      {"[Measurement conditions]\nNo. of points, 3\n[Scan points]\n1,2\n2,3\n", "a.csv",
       "Column file has fewer points than its header states (cut file?)"},
  };
  for (const auto& c : cases) {
    const auto result = measure_bytes(c.data, c.name);
    ASSERT_FALSE(result.ok()) << c.data;
    EXPECT_EQ(result.error().message(), c.message) << c.data;
  }
}

TEST(TextFormats, RasScansKeepTheirOwnValuesAndLeaveShiftJisTextOut) {
  const std::string data = std::string(ras_head) +
                           "1 2 1\n2 3 0.5\n*RAS_INT_END\n*RAS_HEADER_START\n"
                           "*HW_XG_TARGET_NAME \"Co\"\n"
                           "*MEAS_SCAN_START_TIME \"11/21/2017 08:32:31\"\n"
                           "*RAS_HEADER_END\n*RAS_INT_START\n3 4 1\n*RAS_INT_END\n*RAS_DATA_END\n";
  const auto result = measure_bytes(data, "noname");
  ASSERT_TRUE(result.ok()) << result.error().message();
  const Measurement& m = result.value();
  EXPECT_EQ(m.format, "ras");
  ASSERT_EQ(m.scans.size(), 2u);
  EXPECT_EQ(m.meta.find("sample_name"), nullptr);  // Shift-JIS: not reported
  EXPECT_EQ(*text_of(m.meta, "anode"), "Cu");
  EXPECT_EQ(*text_of(m.scans[1].meta, "anode"), "Co");
  EXPECT_EQ(m.scans[0].meta.find("anode"), nullptr);
  EXPECT_EQ(*text_of(m.scans[1].meta, "started"), "2017-11-21T08:32:31");
  const auto* attenuation = m.scans[0].meta.find("attenuation");
  ASSERT_NE(attenuation, nullptr);
  EXPECT_EQ(std::get<std::vector<double>>(*attenuation), (std::vector<double>{1, 0.5}));
}

TEST(TextFormats, UxdLatin1TextIsReportedAsUtf8) {
  const auto result = measure_bytes(
      "; Schmei\xDF"
      "er\r\n_SAMPLE='M\xFCller'\r\n_DATEMEASURED='04-Mar-2010 20:59:14'\r\n"
      "; (Data for Range number 1)\r\n_START=10\r\n_STEPSIZE=0.5\r\n_COUNTS\r\n 1 2\r\n 3\r\n"
      "; (Data for Range number 2)\r\n_2THETACOUNTS\r\n20 5\r\n",
      "x.uxd");
  ASSERT_TRUE(result.ok()) << result.error().message();
  const Measurement& m = result.value();
  EXPECT_EQ(*text_of(m.meta, "sample_name"), "M\xC3\xBCller");
  EXPECT_EQ(*text_of(m.meta, "started"), "2010-03-04T20:59:14");
  ASSERT_EQ(m.scans.size(), 2u);
  EXPECT_EQ(m.scans[0].x, (std::vector<double>{10, 10.5, 11}));
  EXPECT_EQ(m.scans[1].x, std::vector<double>{20});
}

TEST(TextFormats, ColumnHeadersGiveMetadataButNotToTheFirstPattern) {
  const std::string pyfai = "# Wavelength: 1e-10\n# 2th_deg I\n1 2\n3 4\n";
  const auto measured = measure_bytes(pyfai, "a.xy");
  ASSERT_TRUE(measured.ok());
  EXPECT_DOUBLE_EQ(*number_of(measured.value().meta, "wavelength"), 1.0);
  EXPECT_EQ(*text_of(measured.value().scans[0].meta, "x_unit"), "deg");
  // A wavelength in a unit it cannot tell stays a header field.
  const auto other = measure_bytes("# Wavelength: 1.54 nm\n1 2\n", "a.xy");
  EXPECT_EQ(other.value().meta.find("wavelength"), nullptr);
  // morvex reads the rows alone, a cut PANalytical export included.
  const std::string cut = "[Measurement conditions]\nNo. of points, 3\n[Scan points]\n1,2\n";
  const auto loaded = load_bytes(cut, "a.csv");
  ASSERT_TRUE(loaded.ok());
  EXPECT_EQ(loaded.value().x, std::vector<double>{1});
}

TEST(TextFormats, FoundByContent) {
  const struct {
    std::string head;
    const char* format;
  } cases[] = {
      {"*RAS_DATA_START\r\n*RAS_HEADER_START\r\n", "ras"},
      {"; converted\r\n_FILEVERSION=1\r\n", "uxd"},
      {"SIETRONICS XRD SCAN\n", "cpi"},
      {std::string("title\n2-Theta Angle (Degrees)\n\0\0\n  12\n 1.0 2.0\n"sv), "chi"},
      {"# chi_2theta chi_I\n1 2\n", "xy"},  // a GSAS-II chi is plain columns
      {"title\n1 2\ny\n3\n1 2\n", ""},      // rows broken by a word are no column layout
      {"_not a field\n", ""},
  };
  for (const auto& c : cases) {
    const FormatRow* format = format_by_content(c.head);
    EXPECT_EQ(format ? format->name : "", c.format) << c.head;
  }
  // A chi header in a file named as columns: the rows, as morvex reads them.
  const auto columns = measure_bytes("t\nx\ny\n3\n1 2\n", "a.csv");
  ASSERT_TRUE(columns.ok());
  EXPECT_EQ(columns.value().format, "csv");
}

}  // namespace
}  // namespace morvex
