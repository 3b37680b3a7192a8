// Input: the peek that the raw sniff uses, reading everything after it, sticky errors and the
// size hint.
#include "core/input.hpp"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
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

TEST(InputRemainingSize, KnownForSlicesFilesAndStatedSizes) {
  SliceSource slice("0123456789");
  Input in_place(slice);
  in_place.consume(4);
  EXPECT_EQ(in_place.remaining_size(), 6u);

  ChunkedSource unknown(std::string(100, 'a'), 7);
  EXPECT_EQ(Input(unknown).remaining_size(), std::nullopt);
  ChunkedSource stated(std::string(100, 'a'), 7);
  Input with_size(stated, 100);
  ASSERT_EQ(with_size.peek(10).size(), 10u);
  with_size.consume(30);  // more than was read: the offset counts
  EXPECT_EQ(with_size.remaining_size(), 70u);
  with_size.consume(80);
  EXPECT_EQ(with_size.remaining_size(), 0u);  // a stated size that was too small

  char path[] = "/tmp/morvex_input_XXXXXX";
  const int fd = ::mkstemp(path);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(::write(fd, "0123456789", 10), 10);
  ::close(fd);
  auto file = FileSource::open(path);
  ::unlink(path);
  ASSERT_TRUE(file.ok());
  Input from_file(file.value());
  ASSERT_EQ(from_file.peek(3), "012");  // the whole file is read ahead by now
  from_file.consume(3);
  EXPECT_EQ(from_file.remaining_size(), 7u);
}

}  // namespace
}  // namespace morvex
