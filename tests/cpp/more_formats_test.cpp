// BRML, Philips RD/UDF, powder CIF and STOE RAW: the errors each reader gives, through
// measure_bytes and the BRML range reader. The real files are tested from Python.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <variant>
#include <vector>

#include "core/byte_source.hpp"
#include "core/input.hpp"
#include "dispatch/dispatch.hpp"
#include "formats/brml_document.hpp"

namespace morvex {
namespace {

std::string rd_file(double start, double end, std::size_t points) {
  std::string bytes(250, '\0');
  bytes.replace(0, 4, "V3RD");
  const double fields[] = {0.02, start, end};
  std::memcpy(bytes.data() + 0xD6, fields, sizeof fields);
  // Kα1 and Kα2 as a converter writes them: float32 values widened to doubles.
  const double wavelengths[] = {1.5406f, 1.54443f};
  std::memcpy(bytes.data() + 0x5E, wavelengths, sizeof wavelengths);
  return bytes + std::string(2 * points, '\x0A');
}

std::string stoe_file(std::int16_t ranges, std::int16_t points, std::size_t counts) {
  std::string bytes(1024 + 4 * counts, '\0');
  bytes.replace(0, 8, "RAW_1.06");
  const auto put16 = [&](std::size_t at, std::int16_t v) { std::memcpy(&bytes[at], &v, 2); };
  const auto put32 = [&](std::size_t at, float v) { std::memcpy(&bytes[at], &v, 4); };
  put16(0x17A, ranges);
  put16(0x1E0, 2);
  put16(0x1F0, 1);
  put16(512 + 0x22, points);
  put32(512 + 0x2C, 10.0f);
  put32(512 + 0x34, 10.0f + 0.5f * static_cast<float>(points - 1));
  put32(512 + 0x3C, 0.5f);
  return bytes;
}

TEST(MoreFormatsErrors, RefusalsNameWhatIsWrong) {
  const std::string udf_head = "SampleIdent,S,/\nDataAngleRange, 1, 2,/\nScanStepSize, 0.5,/\n";
  const std::string cif_range =
      "data_x\n_pd_meas_2theta_range_min 1\n_pd_meas_2theta_range_max 2\n"
      "_pd_meas_2theta_range_inc 0.5\nloop_\n_pd_meas_counts_total\n";
  const struct {
    std::string bytes;
    const char* name;
    const char* message;
  } cases[] = {
      {rd_file(1, 2, 49), "a.rd",
       "Philips RD: the header states 50 points, the data holds 49 (a cut file)"},
      {rd_file(1, 2, 53), "a.rd",
       "Philips RD: the header states 50 points, the data holds 106 bytes"},
      {rd_file(1, 2, 51).substr(0, 200), "a.rd", "Philips RD: header truncated"},
      {"V3", "a.rd",
       "the content is none of the formats morvexio reads (a .rd name expects a Philips RD/SD "
       "scan)"},
      {rd_file(1, 1.011, 3), "a.rd", "Philips RD: start, end and step do not make an even axis"},
      {udf_head + "RawScan\n1, 2, 3", "a.udf", "Philips UDF: the counts do not end with \"/\""},
      {udf_head + "RawScan\n1/", "a.udf", "Philips UDF: RawScan holds 1 counts, the angle range 3"},
      {udf_head + "RawScan\n1, 2, 3/ 4", "a.udf",
       "Philips UDF: text after the closing \"/\" of the counts"},
      {udf_head + "Anode Cu\nRawScan\n1/", "a.udf", "Philips UDF: line 4 is not \"Key,value,/\""},
      {"SampleIdent,S,/\nDataAngleRange, 1,/\nRawScan\n1/", "a.udf",
       "Philips UDF: cannot read the numbers of DataAngleRange"},
      {"data_x\n_cell_length_a 3\n", "a.cif",
       "pdCIF: no data block holds a powder pattern (a loop of _pd_meas_counts_total, "
       "_pd_meas_intensity_total or _pd_proc_intensity_total)"},
      {cif_range + "1 2\n", "a.cif", "pdCIF: block x: the 2theta range does not fit its 2 points"},
      {cif_range + "1 ? 3\n", "a.cif",
       "pdCIF: block x: \"?\" in _pd_meas_counts_total is no number"},
      {"data_x\nloop_\n_pd_meas_counts_total\n1 2\n", "a.cif",
       "pdCIF: block x states neither a 2theta column nor a 2theta range"},
      {"data_x\nloop_\n_pd_meas_2theta_scan\n_pd_meas_counts_total\n1 2 3\n", "a.cif",
       "pdCIF: the loop of _pd_meas_2theta_scan holds 3 values for 2 tags"},
      {"data_x\n_title 'open\n", "a.cif", "CIF quoted value on line 2 never closed"},
      {"data_x\n_title\n;open\n", "a.cif", "CIF text field from line 3 never closed"},
      {stoe_file(0, 3, 3), "a.raw", "STOE RAW: the file announces no measured range"},
      {stoe_file(1, 3, 2), "a.raw", "STOE RAW: range data truncated"},
      {stoe_file(1, 0, 0), "a.raw", "STOE RAW: a range holds no points"},
      {stoe_file(1, 3, 3).substr(0, 540), "a.raw", "STOE RAW: range header truncated"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.message);
    const auto result = measure_bytes(c.bytes, c.name);
    ASSERT_FALSE(result);
    EXPECT_EQ(result.error().message(), c.message);
  }
}

// The stated end is exclusive; the words a converter leaves after the points are no points.
TEST(MoreFormatsErrors, PhilipsPointsFillTheStatedRange) {
  for (const std::size_t words : {50u, 51u, 52u}) {
    auto rd = measure_bytes(rd_file(1, 2, words), "a.rd");
    ASSERT_TRUE(rd) << rd.error().message();
    EXPECT_EQ(rd->scans.front().y.size(), 50u);
    EXPECT_EQ(rd->scans.front().x.back(), 1.98);
    EXPECT_EQ(rd->scans.front().y.front(), 66049.0);  // 0x0A0A squared over 100
    EXPECT_EQ(std::get<double>(*rd->meta.find("wavelength_kalpha2")), 1.54443);
    EXPECT_EQ(std::get<std::string>(*rd->scans.front().meta.find("x_axis")), "2Theta");
  }
  auto udf = measure_bytes(
      "SampleIdent,S,/\nDataAngleRange, 1,0, 2,0,/\n"
      "ScanStepSize, 0,5,/\nRawScan\n7, 8/\n",
      "a.udf");
  ASSERT_TRUE(udf) << udf.error().message();
  EXPECT_EQ(udf->scans.front().x, (std::vector<double>{1.0, 1.5}));
}

Result<Scan, LoadError> brml_range(const std::string& rows, const std::string& views,
                                   bool closed = true) {
  const std::string document =
      "<RawData><DataRoutes><DataRoute><ScanInformation><ScanAxes><ScanAxisInfo "
      "AxisId=\"TwoTheta\"/></ScanAxes></ScanInformation>" +
      rows + "<DataViews>" + views + "</DataViews></DataRoute></DataRoutes>" +
      (closed ? "</RawData>" : "");
  SliceSource source(document);
  Input input(source);
  MetaTable measurement;
  return read_brml_range(input, "RawData0.xml", measurement);
}

TEST(MoreFormatsErrors, BrmlColumnsComeFromTheDataViews) {
  const std::string axes =
      "<RawDataView xsi:type=\"VaryingRawDataView\" Start=\"1\" Length=\"1\"><Varying "
      "LogicName=\"ScanAxes\"><FieldDefinitions FieldName=\"TwoTheta\"/></Varying></RawDataView>";
  const std::string counts =
      "<RawDataView xsi:type=\"RecordedRawDataView\" Start=\"0\" Length=\"1\" "
      "MeasuredDataIndex=\"0\"/>";
  const std::string rows = "<Datum>5,10</Datum><Datum>6,10.5</Datum>";
  auto scan = brml_range(rows, axes + counts);
  ASSERT_TRUE(scan) << scan.error().message();
  EXPECT_EQ(scan->x, (std::vector<double>{10, 10.5}));
  EXPECT_EQ(scan->y, (std::vector<double>{5, 6}));
  // x_axis is the kind of axis; the FieldName that spells it otherwise stays under the header.
  EXPECT_EQ(std::get<std::string>(*scan->meta.find("x_axis")), "2Theta");
  const auto& header = std::get<MetaTable>(*scan->meta.find("header"));
  EXPECT_EQ(std::get<std::string>(*header.find("FieldName")), "TwoTheta");
  const struct {
    Result<Scan, LoadError> result;
    const char* message;
  } cases[] = {
      {brml_range(rows, axes + counts, false), "the document ends before </RawData>"},
      {brml_range(rows, axes), "no data view describes the counts"},
      {brml_range(rows, counts), "no data view describes the scan axis"},
      {brml_range("<Datum>5,10</Datum><Datum>6</Datum>", axes + counts),
       "<Datum> 2 holds 1 values, the first 2"},
      {brml_range("<Datum>5</Datum>", axes + counts), "a data view lies outside the rows"},
      {brml_range("<Datum>5,x</Datum>", axes + counts), "invalid number \"x\" in a <Datum>"},
  };
  for (const auto& c : cases) {
    ASSERT_FALSE(c.result);
    EXPECT_EQ(c.result.error().message(), std::string("BRML RawData0.xml: ") + c.message);
  }
}

}  // namespace
}  // namespace morvex
