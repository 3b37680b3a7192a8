#include "formats/bruker_raw.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

namespace {

using morvex::find_data_block;
using morvex::find_start_step;
using morvex::is_valid_start_step;
using morvex::StartStep;

// Builds a file byte by byte, little-endian.
class Bytes {
 public:
  Bytes& text(std::string_view s) {
    data_.append(s);
    return *this;
  }
  Bytes& filler(std::size_t n) {  // 0x01 bytes: never an in-range count, never a valid pair
    data_.append(n, '\x01');
    return *this;
  }
  Bytes& u32(std::uint32_t v) { return put(v); }
  Bytes& f64(double v) { return put(v); }
  Bytes& f32(float v) { return put(v); }
  Bytes& singles(const std::vector<float>& values) {
    for (float v : values) f32(v);
    return *this;
  }
  std::size_t size() const { return data_.size(); }
  const std::string& str() const { return data_; }

 private:
  template <class T>
  Bytes& put(T v) {
    unsigned char bytes[sizeof(T)];
    std::memcpy(bytes, &v, sizeof(T));
    for (unsigned char b : bytes) data_.push_back(static_cast<char>(b));
    return *this;
  }
  std::string data_;
};

// Values whose bytes hold no run of zeros, so that no stray in-range count appears between them.
std::vector<float> ramp(std::size_t n) {
  std::vector<float> v(n);
  for (std::size_t k = 0; k < n; ++k) v[k] = 100.3f + static_cast<float>(k);
  return v;
}

// "RAW0", filler, start, step, count, a gap, then the block.
Bytes simple_file(const std::vector<float>& values, double start = 10.0, double step = 0.02) {
  Bytes b;
  b.text("RAW0").filler(12).f64(start).f64(step).u32(static_cast<std::uint32_t>(values.size()));
  b.filler(4).singles(values);
  return b;
}

TEST(BrukerRawBlock, CountBounds) {
  for (std::uint32_t count : {9u, 10u}) {
    const auto block = find_data_block(simple_file(ramp(count)).str());
    EXPECT_EQ(block.has_value(), count == 10u) << count;
  }
  // Zero intensities pass the sampling, so only the count decides. (The bytes where the
  // filler meets the zeros read as smaller counts that qualify too, and lose to the largest.)
  for (std::uint32_t count : {5'000'000u, 5'000'001u}) {
    Bytes b;
    b.text("RAW0").filler(12).f64(0.0).f64(0.00001).u32(count).filler(4);
    std::string input = b.str();
    input.append(std::size_t{4} * count, '\0');
    const auto block = find_data_block(input);
    ASSERT_TRUE(block);
    if (count == 5'000'000u) {
      EXPECT_EQ(block->count, count);
      EXPECT_EQ(block->count_offset, 32u);
      EXPECT_EQ(block->data_offset, 40u);
    } else {
      EXPECT_LT(block->count, count);
    }
  }
}

TEST(BrukerRawBlock, CountAtOffsetFound) {
  const Bytes b = simple_file(ramp(20));
  const auto block = find_data_block(b.str());
  ASSERT_TRUE(block);
  EXPECT_EQ(block->count_offset, 32u);
  EXPECT_EQ(block->count, 20u);
  EXPECT_EQ(block->data_offset, 40u);
}

TEST(BrukerRawBlock, CountFoundAtEveryOffsetAroundScanBlocks) {
  // The scan passes over blocks of offsets at once; a count in any position of one is seen.
  for (std::size_t count_offset = 56; count_offset <= 136; ++count_offset) {
    Bytes b;
    b.text("RAW0").filler(count_offset - 20).f64(10.0).f64(0.02).u32(300).filler(4);
    b.singles(ramp(300));
    const auto block = find_data_block(b.str());
    ASSERT_TRUE(block) << count_offset;
    EXPECT_EQ(block->count_offset, count_offset);
  }
}

TEST(BrukerRawBlock, NoCandidate) {
  EXPECT_FALSE(find_data_block(""));
  EXPECT_FALSE(find_data_block("RAW"));
  EXPECT_FALSE(find_data_block(Bytes().text("RAW0").filler(100).str()));
  // The count field must lie before its block: a count of 10 needs 40 bytes after it.
  EXPECT_FALSE(find_data_block(Bytes().text("RAW0").u32(10).filler(35).str()));
}

TEST(BrukerRawBlock, EverySampledIndexOfHundredIsChecked) {
  const std::vector<std::size_t> sampled = {0,  6,  13, 19, 26, 33, 39, 46,
                                            52, 59, 66, 72, 79, 85, 92, 99};
  for (std::size_t k = 0; k < 100; ++k) {
    auto values = ramp(100);
    values[k] = -1.0f;
    const bool is_sampled = std::find(sampled.begin(), sampled.end(), k) != sampled.end();
    EXPECT_EQ(find_data_block(simple_file(values).str()).has_value(), !is_sampled) << k;
  }
}

TEST(BrukerRawBlock, SampleLimits) {
  const float above = std::nextafter(1e9f, std::numeric_limits<float>::infinity());
  const float inf = std::numeric_limits<float>::infinity();
  const float nan = std::numeric_limits<float>::quiet_NaN();
  const struct {
    float value;
    bool passes;
  } cases[] = {{1e9f, true},     {-0.0f, true}, {0.0f, true}, {above, false},
               {-1e-30f, false}, {nan, false},  {inf, false}, {-inf, false}};
  for (const auto& c : cases) {
    for (std::size_t index : {0u, 99u}) {  // the first and the last value are always sampled
      auto values = ramp(100);
      values[index] = c.value;
      EXPECT_EQ(find_data_block(simple_file(values).str()).has_value(), c.passes)
          << c.value << " at " << index;
    }
  }
}

TEST(BrukerRawBlock, LargestCountWinsWherever) {
  // A count of 500 first, then one of 1000; both blocks end the file and both sample well.
  Bytes b;
  b.text("RAW0").filler(12).f64(5.0).f64(0.01).u32(500).filler(4);
  b.f64(10.0).f64(0.02).u32(1000).filler(4).singles(ramp(1000));
  const auto block = find_data_block(b.str());
  ASSERT_TRUE(block);
  EXPECT_EQ(block->count, 1000u);
  EXPECT_EQ(block->count_offset, 56u);
  EXPECT_EQ(block->data_offset, b.size() - 4000);
}

TEST(BrukerRawBlock, EqualCountsLowestOffsetWithValidPair) {
  // Both copies have a valid pair before them: the lower one wins.
  Bytes both;
  both.text("RAW0").filler(12).f64(5.0).f64(0.01).u32(50).filler(4);
  both.f64(10.0).f64(0.02).u32(50).filler(4).singles(ramp(50));
  auto block = find_data_block(both.str());
  ASSERT_TRUE(block);
  EXPECT_EQ(block->count_offset, 32u);
  auto pair = find_start_step(both.str(), block->count_offset, block->count);
  ASSERT_TRUE(pair);
  EXPECT_EQ(pair->start, 5.0);

  // The first copy is not preceded by a valid pair, the second is: the second wins.
  Bytes second;
  second.text("RAW0").filler(28).u32(50).filler(4);
  second.f64(10.0).f64(0.02).u32(50).filler(4).singles(ramp(50));
  block = find_data_block(second.str());
  ASSERT_TRUE(block);
  EXPECT_EQ(block->count_offset, 56u);

  // Neither is: the lowest offset, whose pair is then sought in the window before it.
  Bytes neither;
  neither.text("RAW0").f64(2.0).f64(0.5).filler(12).u32(50).filler(4);
  neither.filler(16).u32(50).filler(4).singles(ramp(50));
  block = find_data_block(neither.str());
  ASSERT_TRUE(block);
  EXPECT_EQ(block->count_offset, 32u);
  pair = find_start_step(neither.str(), block->count_offset, block->count);
  ASSERT_TRUE(pair);
  EXPECT_EQ(pair->start, 2.0);
  EXPECT_EQ(pair->step, 0.5);
}

TEST(BrukerRawStartStep, CountBeforeSixteenHasNoPair) {
  // A valid pair at offset 0, but a count at 12 leaves no room for a pair before it.
  Bytes b;
  b.f64(10.0).f64(0.02).filler(48);
  EXPECT_FALSE(find_start_step(b.str(), 12, 20));
  EXPECT_TRUE(find_start_step(b.str(), 16, 20));
}

TEST(BrukerRawStartStep, FallbackTakesLowestValidOffset) {
  // Primary pair invalid (step 0); two valid pairs in the window, at 8 and 40.
  Bytes b;
  b.filler(8).f64(1.0).f64(0.1).filler(16).f64(2.0).f64(0.2).f64(3.0).f64(0.0);
  const std::size_t count_offset = b.size();
  b.u32(20);
  const auto pair = find_start_step(b.str(), count_offset, 20);
  ASSERT_TRUE(pair);
  EXPECT_EQ(pair->start, 1.0);
  EXPECT_EQ(pair->step, 0.1);
}

TEST(BrukerRawStartStep, FallbackWindowIsSixtyFourBytes) {
  // A valid pair 65 bytes before the count is out of reach; one 64 bytes before is not.
  for (std::size_t distance : {64u, 65u}) {
    Bytes b;
    b.filler(8).f64(1.0).f64(0.1).filler(distance - 16);
    const std::size_t count_offset = b.size();
    b.u32(20);
    EXPECT_EQ(find_start_step(b.str(), count_offset, 20).has_value(), distance == 64u) << distance;
  }
}

TEST(BrukerRawStartStep, ValidityLimits) {
  const double subnormal = std::numeric_limits<double>::denorm_min();
  const double inf = std::numeric_limits<double>::infinity();
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const struct {
    double start, step;
    std::uint32_t count;
    bool valid;
  } cases[] = {
      {10.0, 0.02, 100, true},       {0.0, 0.02, 100, true},
      {-180.0, 0.5, 100, true},      {-180.0000001, 0.5, 100, false},
      {0.0, 10.0, 10, true},         {0.0, 10.000001, 10, false},
      {350.0, 1.0, 11, true},        {350.0001, 1.0, 11, false},  // end 360 and 360.0001
      {10.0, 0.0, 100, false},       {10.0, -0.01, 100, false},
      {10.0, 1e-6, 100, true},       {10.0, 9.9e-7, 100, false},
      {subnormal, 0.02, 100, false}, {-subnormal, 0.02, 100, false},
      {nan, 0.02, 100, false},       {inf, 0.02, 100, false},
      {10.0, nan, 100, false},       {10.0, inf, 100, false},
      {359.0, 5.0, 1, true},         {359.0, 5.0, 2, false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(is_valid_start_step(StartStep{c.start, c.step}, c.count), c.valid)
        << c.start << " " << c.step << " " << c.count;
  }
}

}  // namespace

namespace {

using morvex::read_known_header;

// Pads the file with zeros up to `offset`, so fields land where each version puts them.
void pad_to(Bytes& b, std::size_t offset) {
  if (b.size() < offset) b.text(std::string(offset - b.size(), '\0'));
}

Bytes version1_file(std::uint32_t steps, float step, float start) {
  Bytes b;
  b.text("RAW ").u32(steps).u32(0).f32(step);
  pad_to(b, 4 + 20);
  b.f32(start);
  pad_to(b, 4 + 152);
  return b.singles(ramp(steps));
}

Bytes version2_file(std::uint16_t ranges, std::uint16_t header_length, std::uint16_t steps) {
  Bytes b;
  b.text("RAW2");
  b.text(std::string(1, static_cast<char>(ranges & 0xFF))).text(std::string(1, '\0'));
  pad_to(b, 256);
  b.text(std::string(1, static_cast<char>(header_length))).text(std::string(1, '\0'));
  b.text(std::string(1, static_cast<char>(steps))).text(std::string(1, '\0'));
  pad_to(b, 256 + 12);
  b.f32(0.25f).f32(4.0f);
  pad_to(b, 256 + header_length);
  return b.singles(ramp(steps));
}

Bytes version3_file(std::uint32_t ranges, std::uint32_t header_length, std::uint32_t steps,
                    double start, double step, std::uint32_t supplementary) {
  Bytes b;
  b.text("RAW1.01");
  pad_to(b, 12);
  b.u32(ranges);
  pad_to(b, 712);
  b.u32(header_length).u32(steps);
  pad_to(b, 712 + 16);
  b.f64(start);
  pad_to(b, 712 + 176);
  b.f64(step);
  pad_to(b, 712 + 256);
  b.u32(supplementary);
  pad_to(b, 712 + 304 + supplementary);
  return b.singles(ramp(steps));
}

struct Version4 {
  std::uint32_t range_type = 0;
  std::uint32_t segment_length = 36;
  std::uint32_t steps = 30;
  std::uint32_t bytes_per_point = 4;
  std::uint32_t extra = 0;
  double start = 5.0, step = 0.1;

  Bytes file() const {
    Bytes b;
    b.text("RAW4.00");
    pad_to(b, 61);
    b.u32(10).u32(segment_length);  // one metadata segment
    pad_to(b, 61 + segment_length);
    const std::size_t range = b.size();
    b.u32(range_type);
    pad_to(b, range + 72);
    b.f64(start).f64(step).u32(steps);
    pad_to(b, range + 136);
    b.u32(bytes_per_point).u32(extra);
    pad_to(b, range + 160 + extra);
    for (float v : ramp(steps)) {
      b.f32(v);
      b.text(std::string(std::max(bytes_per_point, 4u) - 4, '\x7f'));  // rest of the point
    }
    return b;
  }
};

TEST(BrukerRawHeader, Version1) {
  const Bytes b = version1_file(20, 0.04f, 4.98f);
  const auto range = read_known_header(b.str());
  ASSERT_TRUE(range);
  EXPECT_EQ(range->count, 20u);
  EXPECT_EQ(range->start, static_cast<double>(4.98f));
  EXPECT_EQ(range->step, static_cast<double>(0.04f));
  EXPECT_EQ(range->data_offset, 156u);
  EXPECT_EQ(range->stride, 4u);
  EXPECT_FALSE(read_known_header(version1_file(0, 0.04f, 4.98f).str()));
  EXPECT_FALSE(read_known_header(version1_file(20, 0.0f, 4.98f).str()));
  EXPECT_FALSE(read_known_header(version1_file(20, 0.04f, std::nanf("")).str()));
}

TEST(BrukerRawHeader, Version2) {
  const auto range = read_known_header(version2_file(1, 64, 12).str());
  ASSERT_TRUE(range);
  EXPECT_EQ(range->count, 12u);
  EXPECT_EQ(range->start, 4.0);
  EXPECT_EQ(range->step, 0.25);
  EXPECT_EQ(range->data_offset, 256u + 64u);
  EXPECT_TRUE(read_known_header(version2_file(1, 49, 12).str()));
  EXPECT_FALSE(read_known_header(version2_file(1, 48, 12).str()));  // too short for its fields
  EXPECT_FALSE(read_known_header(version2_file(0, 64, 12).str()));  // no range
}

TEST(BrukerRawHeader, Version3) {
  const auto range = read_known_header(version3_file(3, 304, 25, 10.0, 0.1, 40).str());
  ASSERT_TRUE(range);
  EXPECT_EQ(range->count, 25u);
  EXPECT_EQ(range->start, 10.0);
  EXPECT_EQ(range->step, 0.1);
  EXPECT_EQ(range->data_offset, 712u + 304u + 40u);
  EXPECT_FALSE(read_known_header(version3_file(3, 303, 25, 10.0, 0.1, 0).str()));
  EXPECT_FALSE(read_known_header(version3_file(0, 304, 25, 10.0, 0.1, 0).str()));
  EXPECT_FALSE(read_known_header(version3_file(1, 304, 25, 10.0, -0.0, 0).str()));
  EXPECT_FALSE(read_known_header(version3_file(1, 304, 25, INFINITY, 0.1, 0).str()));
  // The intensities would run past the end of the input.
  std::string cut = version3_file(1, 304, 25, 10.0, 0.1, 0).str();
  cut.pop_back();
  EXPECT_FALSE(read_known_header(cut));
}

TEST(BrukerRawHeader, Version4) {
  Version4 v;
  auto range = read_known_header(v.file().str());
  ASSERT_TRUE(range);
  EXPECT_EQ(range->count, 30u);
  EXPECT_EQ(range->start, 5.0);
  EXPECT_EQ(range->step, 0.1);
  EXPECT_EQ(range->data_offset, 61u + 36u + 160u);
  EXPECT_EQ(range->stride, 4u);

  v.range_type = 160;
  v.bytes_per_point = 8;
  v.extra = 24;
  range = read_known_header(v.file().str());
  ASSERT_TRUE(range);
  EXPECT_EQ(range->data_offset, 61u + 36u + 160u + 24u);
  EXPECT_EQ(range->stride, 8u);
}

TEST(BrukerRawHeader, Version4Untrusted) {
  const auto untrusted = [](auto change) {
    Version4 v;
    change(v);
    return !read_known_header(v.file().str());
  };
  EXPECT_TRUE(untrusted([](Version4& v) { v.range_type = 7; }));      // segments run out
  EXPECT_TRUE(untrusted([](Version4& v) { v.segment_length = 7; }));  // would not advance
  EXPECT_TRUE(untrusted([](Version4& v) { v.bytes_per_point = 3; }));
  EXPECT_TRUE(untrusted([](Version4& v) { v.steps = 0; }));
  EXPECT_TRUE(untrusted([](Version4& v) { v.step = 0.0; }));
  EXPECT_FALSE(untrusted([](Version4& v) { v.segment_length = 8; }));
}

TEST(BrukerRawHeader, PlausibleScanLimits) {
  using morvex::RangeLayout;
  const auto plausible = [](auto change) {
    RangeLayout range{10.0, 0.02, 100, 1000, 4};
    change(range);
    return morvex::is_plausible_scan(range);
  };
  EXPECT_TRUE(plausible([](RangeLayout&) {}));
  EXPECT_TRUE(plausible([](RangeLayout& r) { r.count = 1; }));
  EXPECT_TRUE(plausible([](RangeLayout& r) { r.count = 5'000'000; }));
  EXPECT_TRUE(plausible([](RangeLayout& r) { r.start = -180.0; }));
  EXPECT_TRUE(plausible([](RangeLayout& r) { r.start = 360.0; }));
  EXPECT_TRUE(plausible([](RangeLayout& r) { r.step = -10.0; }));
  EXPECT_TRUE(plausible([](RangeLayout& r) { r.stride = 64; }));
  EXPECT_FALSE(plausible([](RangeLayout& r) { r.count = 0; }));
  EXPECT_FALSE(plausible([](RangeLayout& r) { r.count = 5'000'001; }));
  EXPECT_FALSE(plausible([](RangeLayout& r) { r.start = -180.001; }));
  EXPECT_FALSE(plausible([](RangeLayout& r) { r.start = 360.001; }));
  EXPECT_FALSE(plausible([](RangeLayout& r) { r.start = NAN; }));
  EXPECT_FALSE(plausible([](RangeLayout& r) { r.step = 0.0; }));
  EXPECT_FALSE(plausible([](RangeLayout& r) { r.step = 10.001; }));
  EXPECT_FALSE(plausible([](RangeLayout& r) { r.step = INFINITY; }));
  EXPECT_FALSE(plausible([](RangeLayout& r) { r.stride = 68; }));
  EXPECT_FALSE(plausible([](RangeLayout& r) { r.stride = 6; }));
}

TEST(BrukerRawHeader, CutFileStillStatesItsRange) {
  const std::string whole = version3_file(1, 304, 25, 10.0, 0.1, 40).str();
  // Inside the block, at its first byte, and inside the supplementary header before it.
  for (std::size_t cut :
       {whole.size() - 1, whole.size() - 100, whole.size() - 101, std::size_t{712 + 300}}) {
    const std::string_view input(whole.data(), cut);
    const auto range = morvex::read_range_header(input);
    ASSERT_TRUE(range) << cut;
    EXPECT_FALSE(morvex::is_trusted_range(input, *range)) << cut;
    EXPECT_FALSE(morvex::range_fits(input, *range)) << cut;
  }
  // Before the last field it reads, the header no longer states a range.
  EXPECT_FALSE(morvex::read_range_header(std::string_view(whole.data(), 712 + 259)));
}

TEST(BrukerRawHeader, OtherVersionsAreNotRead) {
  for (const char* signature : {"RAW0", "RAW3", "RAW1", "RAW4.01", "RAW\x00"}) {
    Bytes b;
    b.text(std::string_view(signature, 4)).filler(2000);
    EXPECT_FALSE(read_known_header(b.str())) << signature;
  }
}

}  // namespace
