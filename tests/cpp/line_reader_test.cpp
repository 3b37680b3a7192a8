// LineReader: line ends, the buffer's boundaries, strict UTF-8, the byte-order mark
// and read errors of the source.
#include "core/line_reader.hpp"

#include <gtest/gtest.h>
#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "core/byte_source.hpp"
#include "core/utf8.hpp"
#include "test_sources.hpp"

namespace morvex {
namespace {

constexpr const char* invalid_utf8 = "stream did not contain valid UTF-8";
constexpr std::size_t buffer = LineReader::buffer_size;

struct Lines {
  std::vector<std::string> lines;
  std::optional<std::string> error;
};

Lines read_lines(Input& input) {
  LineReader reader(input);
  Lines result;
  while (const auto line = reader.next_line()) result.lines.emplace_back(*line);
  if (reader.failed()) result.error = reader.error()->message();
  // The end, or the error, is sticky.
  EXPECT_FALSE(reader.next_line().has_value());
  EXPECT_EQ(reader.failed(), result.error.has_value());
  return result;
}

Lines read_lines(ByteSource& source) {
  Input input(source);
  return read_lines(input);
}

// A slice is read in place, not through the buffer: both must give the same lines.
Lines read_lines(std::string_view bytes) {
  SliceSource in_place(bytes);
  Input input(in_place);
  Lines got = read_lines(input);
  SliceSource streamed(bytes);
  const Lines again = read_lines(static_cast<ByteSource&>(streamed));
  EXPECT_EQ(got.lines, again.lines);
  EXPECT_EQ(got.error, again.error);
  return got;
}

using Texts = std::vector<std::string>;

TEST(LineReaderEnds, LineFeedAndCarriageReturn) {
  const struct {
    std::string input;
    Texts lines;
  } cases[] = {
      {"", {}},
      {"\n", {""}},
      {"\n\n", {"", ""}},
      {"a", {"a"}},
      {"a\n", {"a"}},
      {"a\nb", {"a", "b"}},
      {"a\nb\n", {"a", "b"}},
      {"a\n\nb\n", {"a", "", "b"}},
      {"a\r\nb\r\n", {"a", "b"}},
      {"\r\n", {""}},
      {"a\r\r\n", {"a\r"}},          // only the "\r" before the "\n" is part of the end
      {"a\rb\rc\r", {"a\rb\rc\r"}},  // lone CR ends nothing; a last line keeps its "\r"
      {"a\rb\n", {"a\rb"}},
      {"a\r", {"a\r"}},
      {"\r", {"\r"}},
      {"a\n\r", {"a", "\r"}},
      {"a\r\nb", {"a", "b"}},
      {"a\n\rb\n", {"a", "\rb"}},
      {std::string("a\0b\n", 4), {std::string("a\0b", 3)}},  // NUL is valid UTF-8
  };
  for (const auto& c : cases) {
    const Lines got = read_lines(c.input);
    EXPECT_FALSE(got.error) << c.input;
    EXPECT_EQ(got.lines, c.lines) << c.input;
  }
}

TEST(LineReaderBuffer, LinesAcrossEveryPositionAroundTheBoundary) {
  // A first line whose end falls at each position around the first two buffer ends, with
  // both line-end styles, so that "\n" or "\r\n" straddles the boundary at some offset.
  for (const std::size_t boundary : {buffer, 2 * buffer}) {
    for (std::size_t length = boundary - 12; length <= boundary + 12; ++length) {
      for (const char* end : {"\n", "\r\n"}) {
        std::string first(length, 'x');
        first[0] = '<';
        first[length - 1] = '>';
        const std::string input = first + end + "second line" + end + "third";
        const Lines got = read_lines(input);
        ASSERT_FALSE(got.error);
        ASSERT_EQ(got.lines, (Texts{first, "second line", "third"}))
            << "length " << length << " end " << (end[0] == '\r' ? "CRLF" : "LF");
      }
    }
  }
}

TEST(LineReaderBuffer, ShortLinesAcrossTheBoundary) {
  // Many short lines: each boundary position falls inside some line of the series.
  std::string input;
  Texts expected;
  for (int i = 0; i < 5000; ++i) {
    expected.push_back(std::to_string(i * 7919) + " " + std::to_string(i));
    input += expected.back() + (i % 2 ? "\r\n" : "\n");
  }
  EXPECT_EQ(read_lines(input).lines, expected);
  for (const std::size_t chunk : {1u, 3u, 8191u, 8193u}) {
    ChunkedSource source(input, chunk);
    EXPECT_EQ(read_lines(source).lines, expected) << "chunk " << chunk;
  }
}

TEST(LineReaderBuffer, VeryLongLines) {
  std::string megabyte(1 << 20, 'a');
  for (std::size_t i = 0; i < megabyte.size(); i += 1000) megabyte[i] = ' ';
  const Lines got = read_lines("short\n" + megabyte + "\r\n" + megabyte + "\nend");
  ASSERT_FALSE(got.error);
  EXPECT_EQ(got.lines, (Texts{"short", megabyte, megabyte, "end"}));
  // An unterminated long last line, and one of exactly twice the buffer.
  EXPECT_EQ(read_lines(megabyte).lines, Texts{megabyte});
  const std::string two_buffers(2 * buffer, 'b');
  EXPECT_EQ(read_lines(two_buffers + "\n").lines, Texts{two_buffers});
}

TEST(LineReaderBuffer, MultiByteCharacterSplitByTheBoundary) {
  for (std::size_t prefix = buffer - 4; prefix <= buffer + 1; ++prefix) {
    const std::string line = std::string(prefix, 'x') + "\xF0\x9F\x98\x80\xC3\xA9";
    const Lines got = read_lines(line + "\n2\n");
    ASSERT_FALSE(got.error) << prefix;
    EXPECT_EQ(got.lines, (Texts{line, "2"}));
  }
}

TEST(LineReaderUtf8, AcceptsTheLimitsOfEachLength) {
  const char* const valid[] = {
      "\x7F",         "\xC2\x80",     "\xDF\xBF",         "\xE0\xA0\x80",     "\xED\x9F\xBF",
      "\xEE\x80\x80", "\xEF\xBF\xBF", "\xF0\x90\x80\x80", "\xF4\x8F\xBF\xBF", "\xF3\xBF\xBF\xBF",
      "\xC2\xB0\x43",  // "°C"
      "\xE2\x80\xA8",
  };
  for (const char* text : valid) {
    EXPECT_TRUE(is_valid_utf8(text)) << text;
    const Lines got = read_lines(std::string("a ") + text + "\nb\n");
    EXPECT_FALSE(got.error) << text;
    EXPECT_EQ(got.lines, (Texts{std::string("a ") + text, "b"}));
  }
}

TEST(LineReaderUtf8, RefusesEachClassOfInvalidSequence) {
  const struct {
    const char* what;
    std::string bytes;
  } cases[] = {
      {"overlong 2-byte C0", "\xC0\x80"},
      {"overlong 2-byte C1", "\xC1\xBF"},
      {"overlong 3-byte", "\xE0\x80\xAF"},
      {"overlong 3-byte top", "\xE0\x9F\xBF"},
      {"overlong 4-byte", "\xF0\x80\x80\xAF"},
      {"overlong 4-byte top", "\xF0\x8F\xBF\xBF"},
      {"surrogate low end", "\xED\xA0\x80"},
      {"surrogate high end", "\xED\xBF\xBF"},
      {"above U+10FFFF", "\xF4\x90\x80\x80"},
      {"lead F5", "\xF5\x80\x80\x80"},
      {"lead F8", "\xF8\x88\x80\x80\x80"},
      {"lead FE", "\xFE"},
      {"lead FF", "\xFF"},
      {"lone continuation 80", "\x80"},
      {"lone continuation BF", "\xBF"},
      {"code page degree sign", "\xB0"},
      {"missing continuation",
       "\xC3"
       "A"},
      {"bad second of three", "\xE2\x28\xA1"},
      {"bad third of three", "\xE2\x82\x28"},
      {"bad fourth of four", "\xF0\x90\x80\x28"},
      {"continuation after complete pair", "\xC3\xA9\xA9"},
  };
  for (const auto& c : cases) {
    EXPECT_FALSE(is_valid_utf8(c.bytes)) << c.what;
    // Inside a line in the middle of the input: earlier lines come out, then the error.
    const Lines middle = read_lines("1 2\nx" + c.bytes + "y\n3 4\n");
    EXPECT_EQ(middle.lines, Texts{"1 2"}) << c.what;
    EXPECT_EQ(middle.error, invalid_utf8) << c.what;
  }
}

TEST(LineReaderUtf8, TruncatedSequences) {
  for (const std::string partial : {"\xC3", "\xE2\x82", "\xE2", "\xF0\x9F\x98", "\xF0"}) {
    // Cut by the end of the line ...
    EXPECT_EQ(read_lines("a" + partial + "\nb\n").error, invalid_utf8);
    EXPECT_EQ(read_lines("a" + partial + "\r\nb\n").error, invalid_utf8);
    // ... and by the end of the input.
    const Lines at_end = read_lines("1 2\na" + partial);
    EXPECT_EQ(at_end.lines, Texts{"1 2"});
    EXPECT_EQ(at_end.error, invalid_utf8);
  }
}

TEST(LineReaderUtf8, ErrorInAVeryLongLineAndAfterTheBuffer) {
  std::string long_line(3 * buffer, 'z');
  long_line[2 * buffer + 5] = '\xFF';
  EXPECT_EQ(read_lines("ok\n" + long_line + "\n").error, invalid_utf8);
  const Lines late = read_lines(std::string(5 * buffer, '\n') + "\xB0");
  EXPECT_EQ(late.lines.size(), 5 * buffer);
  EXPECT_EQ(late.error, invalid_utf8);
}

TEST(LineReaderByteOrderMark, SkippedOnlyAtTheVeryStart) {
  const std::string bom = "\xEF\xBB\xBF";
  EXPECT_EQ(read_lines(bom + "1 2\n3 4\n").lines, (Texts{"1 2", "3 4"}));
  EXPECT_EQ(read_lines(bom + "\r\n1 2").lines, (Texts{"", "1 2"}));
  EXPECT_EQ(read_lines(bom).lines, Texts{""});
  // Only one mark is an encoding signature; a second one is text.
  EXPECT_EQ(read_lines(bom + bom + "1\n").lines, Texts{bom + "1"});
  // Elsewhere it stays an ordinary character.
  EXPECT_EQ(read_lines("1 2\n" + bom + "3 4\n").lines, (Texts{"1 2", bom + "3 4"}));
  EXPECT_EQ(read_lines(" " + bom + "1\n").lines, Texts{" " + bom + "1"});
  // The start of a first line longer than the buffer, and a mark delivered byte by byte.
  const std::string long_line(3 * buffer, 'q');
  EXPECT_EQ(read_lines(bom + long_line + "\nx").lines, (Texts{long_line, "x"}));
  ChunkedSource trickle(bom + "5 6\n", 1);
  EXPECT_EQ(read_lines(trickle).lines, Texts{"5 6"});
  // A cut mark is not a mark but invalid UTF-8.
  EXPECT_EQ(read_lines("\xEF\xBB"
                       "1 2\n")
                .error,
            invalid_utf8);
}

TEST(LineReaderErrors, ReadErrorEndsTheInput) {
  auto source = failing_source("1 2\n3 4\npartial");
  const Lines got = read_lines(source);
  EXPECT_EQ(got.lines, (Texts{"1 2", "3 4"}));  // the unfinished line is not handed out
  EXPECT_EQ(got.error, "Input/output error (os error 5)");
  EXPECT_EQ(source.failures, 1);  // no retry of a real error, and none after it
}

TEST(LineReaderErrors, ReadErrorInsideALongLineAndAtOnce) {
  auto long_source = failing_source("a\n" + std::string(3 * buffer, 'w'));
  const Lines got = read_lines(long_source);
  EXPECT_EQ(got.lines, Texts{"a"});
  EXPECT_EQ(got.error, "Input/output error (os error 5)");

  auto empty = failing_source("");
  const Lines none = read_lines(empty);
  EXPECT_TRUE(none.lines.empty());
  EXPECT_EQ(none.error, "Input/output error (os error 5)");
}

TEST(LineReaderErrors, StartsAtTheSourcesPosition) {
  SliceSource source("skipped\nkept\n");
  source.seek(8);
  EXPECT_EQ(read_lines(source).lines, Texts{"kept"});
}

// A signal that interrupts a blocking read of the file source must not end the input.
extern "C" void count_signal(int) {}

TEST(LineReaderFileSource, ReadsInterruptedBySignalsAreRetried) {
  int pipe_fds[2];
  ASSERT_EQ(::pipe(pipe_fds), 0);
  // Opening the pipe through /proc gives a FileSource over it without a file on disk.
  auto opened = FileSource::open("/proc/self/fd/" + std::to_string(pipe_fds[0]));
  ASSERT_TRUE(opened.ok());
  ::close(pipe_fds[0]);

  struct sigaction action {};
  struct sigaction previous {};
  action.sa_handler = count_signal;
  action.sa_flags = 0;  // no SA_RESTART: a blocked read fails with EINTR
  sigemptyset(&action.sa_mask);
  ASSERT_EQ(::sigaction(SIGUSR1, &action, &previous), 0);

  const pthread_t reader_thread = ::pthread_self();
  std::thread writer([&] {
    using namespace std::chrono_literals;
    for (int i = 0; i < 3; ++i) {
      std::this_thread::sleep_for(30ms);
      ::pthread_kill(reader_thread, SIGUSR1);
    }
    const std::string text = "1 2\n3 4";
    EXPECT_EQ(::write(pipe_fds[1], text.data(), text.size()), static_cast<ssize_t>(text.size()));
    std::this_thread::sleep_for(30ms);
    ::pthread_kill(reader_thread, SIGUSR1);
    std::this_thread::sleep_for(30ms);
    ::close(pipe_fds[1]);
  });
  const Lines got = read_lines(opened.value());
  writer.join();
  ::sigaction(SIGUSR1, &previous, nullptr);
  EXPECT_FALSE(got.error);
  EXPECT_EQ(got.lines, (Texts{"1 2", "3 4"}));
}

TEST(LineReaderFileSource, RegularFileMatchesTheSlice) {
  char path[] = "/tmp/morvex_line_reader_XXXXXX";
  const int fd = ::mkstemp(path);
  ASSERT_GE(fd, 0);
  std::string input;
  for (int i = 0; i < 3000; ++i) input += std::to_string(i) + "\t" + std::to_string(i * i) + "\r\n";
  ASSERT_EQ(::write(fd, input.data(), input.size()), static_cast<ssize_t>(input.size()));
  ::close(fd);
  auto file = FileSource::open(path);
  ASSERT_TRUE(file.ok());
  const Lines from_file = read_lines(file.value());
  ::unlink(path);
  EXPECT_FALSE(from_file.error);
  EXPECT_EQ(from_file.lines, read_lines(input).lines);
  EXPECT_EQ(from_file.lines.size(), 3000u);
}

}  // namespace
}  // namespace morvex
