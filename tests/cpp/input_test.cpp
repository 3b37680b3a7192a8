// Input: the peek that the raw sniff uses, reading everything after it, and sticky errors.
#include "core/input.hpp"

#include <gtest/gtest.h>

#include <string>

#include "test_sources.hpp"

namespace morvex {
namespace {

TEST(InputPeek, GathersShortReadsAndConsumesNothing) {
  const std::string data(3000, 'a');
  ChunkedSource source(data, 7);
  Input input(source);
  EXPECT_EQ(input.peek(1024).size(), 1024u);
  EXPECT_EQ(input.offset(), 0u);
  EXPECT_EQ(input.peek(Input::buffer_size + 1).size(), data.size());  // the input ends first
  ByteBuffer storage;
  const auto all = input.read_all(storage);
  ASSERT_TRUE(all.ok());
  EXPECT_EQ(all.value(), data);  // the peeked bytes come first
  EXPECT_EQ(input.offset(), data.size());
}

TEST(InputPeek, SliceIsReadInPlace) {
  SliceSource source("RAW1.01 and more");
  source.seek(3);
  Input input(source);
  EXPECT_EQ(input.peek(4), "1.01");
  ByteBuffer storage;
  const auto all = input.read_all(storage);
  ASSERT_TRUE(all.ok());
  EXPECT_EQ(all.value(), "1.01 and more");
  EXPECT_TRUE(storage.empty());
}

TEST(InputByteOrderMark, OnlyAtTheStart) {
  ChunkedSource trickle("\xEF\xBB\xBFx", 1);
  Input input(trickle);
  EXPECT_TRUE(input.skip_byte_order_mark());
  EXPECT_EQ(input.offset(), 3u);
  EXPECT_FALSE(input.skip_byte_order_mark());
  SliceSource later("x\xEF\xBB\xBF");
  Input other(later);
  other.consume(other.peek(1).size());
  EXPECT_FALSE(other.skip_byte_order_mark());
}

TEST(InputErrors, ReadErrorIsStickyAndEndsReadAll) {
  auto source = failing_source("12345");
  Input input(source);
  EXPECT_EQ(input.peek(100), "12345");
  EXPECT_TRUE(input.failed());
  EXPECT_FALSE(input.refill());
  EXPECT_EQ(source.failures, 1);
  ByteBuffer peeked;
  EXPECT_FALSE(input.read_all(peeked).ok());  // not the five bytes as if they were all
  auto again = failing_source("12345");
  Input whole(again);
  ByteBuffer storage;
  const auto all = whole.read_all(storage);
  ASSERT_FALSE(all.ok());
  EXPECT_EQ(all.error().message(), "Input/output error (os error 5)");
}

}  // namespace
}  // namespace morvex
