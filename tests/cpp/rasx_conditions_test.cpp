// RASX measurement conditions: the entry that holds them, and what is taken from them.
#include "formats/rasx_conditions.hpp"

#include <gtest/gtest.h>

#include <variant>

#include "core/byte_source.hpp"
#include "dispatch/dispatch.hpp"
#include "realdata.hpp"

namespace {

using morvex::MetaTable;

TEST(RasxConditions, EntryOfTheDataSet) {
  using morvex::conditions_entry_name;
  EXPECT_EQ(conditions_entry_name("Data0/Profile0.txt"), "Data0/MesurementConditions0.xml");
  EXPECT_EQ(conditions_entry_name("Data12/Profile3.txt"), "Data12/MesurementConditions12.xml");
  EXPECT_EQ(conditions_entry_name("Profile0.txt"), std::nullopt);
  EXPECT_EQ(conditions_entry_name("DataX/Profile0.txt"), std::nullopt);
  EXPECT_EQ(conditions_entry_name("Data1/Other/Profile0.txt"), std::nullopt);
}

morvex::Result<morvex::RasxConditions, morvex::LoadError> parse(std::string_view xml) {
  morvex::SliceSource source(xml);
  morvex::Input input(source);
  return morvex::read_rasx_conditions(input);
}

TEST(RasxConditions, KeysUnitsAndFixedAxes) {
  const auto result = parse(R"(<MeasurementConditions>
    <GeneralInformation><SampleName> Si &amp; Ge&#x394; </SampleName><Operator>me</Operator>
    </GeneralInformation>
    <HWConfigurations><XrayGenerator><TargetName>Cu</TargetName><Voltage>40</Voltage>
      <VoltageUnit>kV</VoltageUnit><Current>30</Current><CurrentUnit>uA</CurrentUnit>
      <WavelengthKalpha1>1.540593</WavelengthKalpha1></XrayGenerator></HWConfigurations>
    <Axes><Axis Name="Omega" Unit="deg" Position="10.5" State="Fixed" />
      <Axis Name="TwoTheta" Unit="deg" Position="20" State="Scan" />
      <Axis Name="IS" Unit="" Position="1.000mm" State="Fixed" /></Axes>
    <ScanInformation><AxisName>TwoTheta</AxisName><Start>3.0000</Start><Step>0.02</Step>
      <PositionUnit>deg</PositionUnit><Speed>12</Speed><SpeedUnit>sec</SpeedUnit>
    </ScanInformation>
  </MeasurementConditions>)");
  ASSERT_TRUE(result.ok()) << result.error().message();
  const MetaTable& measurement = result.value().measurement;
  EXPECT_EQ(std::get<std::string>(*measurement.find("sample_name")), "Si & Ge\xCE\x94");
  EXPECT_EQ(std::get<double>(*measurement.find("voltage_kv")), 40.0);
  EXPECT_EQ(measurement.find("current_ma"), nullptr);  // stated in µA: left to the header
  const auto& header = std::get<MetaTable>(*measurement.find("header"));
  EXPECT_EQ(std::get<std::string>(*header.find("CurrentUnit")), "uA");
  const MetaTable& scan = result.value().scan;
  EXPECT_EQ(std::get<double>(*scan.find("start")), 3.0);
  EXPECT_EQ(std::get<std::string>(*scan.find("x_unit")), "deg");
  EXPECT_EQ(std::get<double>(*scan.find("time_per_step_s")), 12.0);  // a step scan's time
  // The kind of axis, and the file's own word for it under the header.
  EXPECT_EQ(std::get<std::string>(*scan.find("x_axis")), "2Theta");
  const auto& scan_header = std::get<MetaTable>(*scan.find("header"));
  EXPECT_EQ(std::get<std::string>(*scan_header.find("AxisName")), "TwoTheta");
  const auto& axes = std::get<MetaTable>(*scan.find("axes"));
  EXPECT_EQ(axes.entries().size(), 1u);
  EXPECT_EQ(std::get<double>(*axes.find("Omega")), 10.5);
}

TEST(RasxConditions, BrokenDocumentIsAnError) {
  const std::pair<const char*, const char*> cases[] = {
      {"<MeasurementConditions><Axes></Oops>", "parse error: end tag </Oops>"},
      {"<ScanInformation><Mode>&nbsp;</Mode>", "parse error: unknown entity &nbsp;"},
      {"<ScanInformation><Mode>\xB0</Mode>", "text decode error: invalid UTF-8 at byte 23"},
      {"<ScanInformation><Mode>1", "parse error: unexpected end of input inside <Mode>"},
  };
  for (const auto& [document, message] : cases) {
    const auto result = parse(document);
    ASSERT_FALSE(result.ok());
    EXPECT_TRUE(
        result.error().message().starts_with(std::string("RASX measurement conditions ") + message))
        << result.error().message();
  }
}

// Every profile keeps its third column as attenuation; the one pattern stays two columns.
TEST(RasxConditions, RealArchives) {
  MORVEX_SKIP_WITHOUT_REALDATA();
  const std::string file = MORVEX_REALDATA_DIR "/rasx/TwoTheta_scan_powder.rasx";
  const auto measured = morvex::measure_path(file);
  ASSERT_TRUE(measured.ok());
  const auto& scan = measured.value().scans.at(0);
  EXPECT_EQ(std::get<std::vector<double>>(*scan.meta.find("attenuation")).size(), scan.x.size());
  EXPECT_FALSE(scan.e.has_value());
  EXPECT_EQ(std::get<double>(*measured.value().meta.find("current_ma")), 200.0);
  EXPECT_FALSE(morvex::load_path(file).value().e.has_value());
}

}  // namespace

TEST(RasxConditionsName, EachProfileOfAMapHasItsOwn) {
  using morvex::own_conditions_entry_name;
  EXPECT_EQ(own_conditions_entry_name("Data0/Profile7.txt"), "Data0/MesurementConditions7.xml");
  EXPECT_EQ(own_conditions_entry_name("Data2/Profile400.txt"), "Data2/MesurementConditions400.xml");
  EXPECT_EQ(own_conditions_entry_name("Data0/ProfileX.txt"), std::nullopt);
  EXPECT_EQ(own_conditions_entry_name("Profile0.txt"), std::nullopt);
}
