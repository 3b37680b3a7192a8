// The dispatcher: the extension rule, the sniff test, both entry points and their errors,
// and the xy reader behind them.
#include "dispatch/dispatch.hpp"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>

#include "formats/readers.hpp"
#include "test_sources.hpp"

namespace morvex {
namespace {

namespace fs = std::filesystem;

TEST(DispatchExtension, FormatExtensionTable) {
  const struct {
    const char* name;
    const char* extension;
  } cases[] = {
      {"Sample.XY", "xy"},
      {"sample.Xye", "xye"},
      {"SCAN.CSV", "csv"},
      {"a.RAW", "raw"},
      {"a.XrDmL", "xrdml"},
      {"a.RASX", "rasx"},
      {"archive.tar.xy", "xy"},  // only the last extension counts
      {"dir/file.xy", "xy"},
      {"dir\\file.XY", "xy"},
      {"C:\\data\\scan.xye", "xye"},
      {"/abs/dir.d/file.csv", "csv"},
      {"mixed/dir\\file.xy", "xy"},
      {"file.xy/", "xy"},  // trailing separators are ignored
      {"file.xy//", "xy"},
      {"file.xy\\\\", "xy"},
      {"file.xy/.", "xy"},  // "." components are skipped
      {"file.xy/./.", "xy"},
      {"./file.xy", "xy"},
      {"a.b/./c.xy/.\\", "xy"},
      {"..xy", "xy"},  // the last dot is not the first character
      {"...xy", "xy"},
      {"file.", ""},  // a trailing dot: an empty extension
      {"file.xy.", ""},
      {".xy", ""},  // a lone leading dot is no extension
      {"dir/.xy", ""},
      {".", ""},
      {"..", ""},
      {"file.xy/..", ""},
      {"file.xy\\..\\", ""},
      {"", ""},
      {"/", ""},
      {"\\", ""},
      {"//\\", ""},
      {"noextension", ""},
      {"xy", ""},
      {"dir.xy/file", ""},
      {"file.xy ", "xy "},  // no trimming of blanks
      {"file. xy", " xy"},
      {" file.xy", "xy"},
      {"file.x y", "x y"},
  };
  for (const auto& c : cases) EXPECT_EQ(format_extension(c.name), c.extension) << c.name;
}

TEST(DispatchExtension, OnlyTheSixTextsSelectAReader) {
  for (const char* name : {"a.xy ", "a. xy", "a.xyz", "a.x", "a.", ".xy", "a", "a.txt", "a.dat",
                           "a.xy\xC2\xA0", "a.\xD1\x85y", "a.tsv", "a.asc", "a.XY.bak"}) {
    const auto result = load_bytes("1 2\n", name);
    ASSERT_FALSE(result.ok()) << name;
    EXPECT_EQ(result.error().message(), "Unknown format") << name;
    EXPECT_EQ(result.error().message(), "Unknown format") << name;
  }
  for (const char* name : {"a.xy", "a.XYE", "dir\\a.Xy", "a.csv", "a.CsV"}) {
    const auto result = load_bytes("1 2\n", name);
    ASSERT_TRUE(result.ok()) << name;
    EXPECT_EQ(result.value().x, std::vector<double>{1}) << name;
  }
}

TEST(DispatchExtension, LooksBinary) {
  EXPECT_FALSE(looks_binary(""));
  EXPECT_FALSE(looks_binary("text \x01\xFF"));
  EXPECT_TRUE(looks_binary(std::string_view("\0", 1)));
  EXPECT_TRUE(looks_binary(std::string_view("abc\0", 4)));
  const std::string late = std::string(1023, 'a') + '\0';
  EXPECT_TRUE(looks_binary(late));
}

class DispatchFiles : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/morvex_dispatch_XXXXXX";
    ASSERT_NE(::mkdtemp(pattern), nullptr);
    dir_ = pattern;
  }
  void TearDown() override { fs::remove_all(dir_); }

  std::string write(const std::string& name, const std::string& bytes) {
    const fs::path path = dir_ / name;
    std::ofstream(path, std::ios::binary) << bytes;
    return path.string();
  }

  static std::size_t open_descriptors() {
    return static_cast<std::size_t>(
        std::distance(fs::directory_iterator("/proc/self/fd"), fs::directory_iterator()));
  }

  fs::path dir_;
};

TEST_F(DispatchFiles, FileAndBytesGiveTheSamePattern) {
  const std::string bytes = "# title\n1 10 0.1\n2 20 0.2\r\n3 30 0.3";
  const auto from_file = load_path(write("scan.XYE", bytes));
  const auto from_bytes = load_bytes(bytes, "elsewhere/scan.xye");
  ASSERT_TRUE(from_file.ok());
  ASSERT_TRUE(from_bytes.ok());
  EXPECT_EQ(from_file.value().x, (std::vector<double>{1, 2, 3}));
  EXPECT_EQ(from_file.value().x, from_bytes.value().x);
  EXPECT_EQ(from_file.value().y, from_bytes.value().y);
  EXPECT_EQ(from_file.value().e, from_bytes.value().e);
  ASSERT_TRUE(from_file.value().e.has_value());
}

TEST_F(DispatchFiles, OpenFailuresComeBeforeTheExtension) {
  for (const char* name : {"missing.xy", "missing.abc", "missing"}) {
    const auto result = load_path((dir_ / name).string());
    ASSERT_FALSE(result.ok()) << name;
    EXPECT_TRUE(result.error().is_io()) << name;
    EXPECT_EQ(result.error().message(),
              std::string(std::strerror(ENOENT)) + " (os error " + std::to_string(ENOENT) + ")");
  }
}

TEST_F(DispatchFiles, NulInPathIsRefusedBeforeOpening) {
  const std::string existing = write("real.xy", "1 2\n");
  for (const std::string& path :
       {existing + std::string(1, '\0'), std::string("a\0b.xy", 6), std::string("x.abc\0", 6)}) {
    const auto result = load_path(path);
    ASSERT_FALSE(result.ok());
    EXPECT_TRUE(result.error().is_io());
    EXPECT_EQ(result.error().message(), "strings passed to WinAPI cannot contain NULs");
  }
}

TEST_F(DispatchFiles, DirectoriesOpenButCannotBeRead) {
  fs::create_directory(dir_ / "folder.xy");
  const auto as_xy = load_path((dir_ / "folder.xy").string());
  ASSERT_FALSE(as_xy.ok());
  EXPECT_TRUE(as_xy.error().is_io());
  EXPECT_EQ(as_xy.error().message(), std::string(std::strerror(EISDIR)) + " (os error 21)");
  // Without a known extension the directory is closed again and the format is refused.
  const auto plain = load_path(dir_.string());
  ASSERT_FALSE(plain.ok());
  EXPECT_EQ(plain.error().message(), "Unknown format");
}

TEST_F(DispatchFiles, UnreadableFileIsAnOsError) {
  if (::geteuid() == 0) GTEST_SKIP() << "root reads every file";
  const std::string path = write("locked.xy", "1 2\n");
  fs::permissions(path, fs::perms::none);
  const auto result = load_path(path);
  ASSERT_FALSE(result.ok());
  EXPECT_EQ(result.error().message(), std::string(std::strerror(EACCES)) + " (os error 13)");
}

TEST_F(DispatchFiles, FilesAreClosedOnEveryPath) {
  const std::string good = write("good.xy", "1 2\n");
  const std::string bad = write("bad.xy", "1 2\n\xB0\n");
  const std::string other = write("other.abc", "1 2\n");
  fs::create_directory(dir_ / "dir.xye");
  const std::size_t before = open_descriptors();
  for (int i = 0; i < 50; ++i) {
    EXPECT_TRUE(load_path(good).ok());
    EXPECT_FALSE(load_path(bad).ok());
    EXPECT_FALSE(load_path(other).ok());
    EXPECT_FALSE(load_path((dir_ / "dir.xye").string()).ok());
  }
  EXPECT_EQ(open_descriptors(), before);
}

TEST_F(DispatchFiles, LoadBytesNeverOpensTheName) {
  const auto result = load_bytes("1 2\n", (dir_ / "does" / "not" / "exist.xy").string());
  ASSERT_TRUE(result.ok());
  EXPECT_EQ(result.value().y, std::vector<double>{2});
}

TEST(DispatchXyReader, ReadErrorFailsTheWholeLoad) {
  auto source = failing_source("1 2\n3 4\n");
  Input input(source);
  FirstScanSink sink;
  const auto result = read_xy(input, sink);
  ASSERT_FALSE(result.ok());
  EXPECT_TRUE(result.error().is_io());
  EXPECT_EQ(result.error().message(), "Input/output error (os error 5)");
}

TEST(DispatchXyReader, InvalidUtf8AnywhereFailsTheLoad) {
  for (const char* input :
       {"1 2\n# caf\xE9\n3 4\n", "\xB0\n1 2\n", "1 2\n3 4 \xFF", "1 2\n3 4\n\x80"}) {
    const auto result = load_bytes(input, "a.xy");
    ASSERT_FALSE(result.ok()) << input;
    EXPECT_TRUE(result.error().is_io());
    EXPECT_EQ(result.error().message(), "stream did not contain valid UTF-8");
  }
}

TEST(DispatchXyReader, ReadsFromTheSourcesPosition) {
  SliceSource source("1 2\n3 4\n");
  source.seek(4);
  Input input(source);
  FirstScanSink sink;
  ASSERT_TRUE(read_xy(input, sink).ok());
  EXPECT_EQ(sink.scan()->x, std::vector<double>{3});
}

TEST(DispatchXyReader, ByteOrderMarkKeepsTheFirstPoint) {
  const auto result = load_bytes(
      "\xEF\xBB\xBF"
      "1 2 3\r\n4 5 6\r\n",
      "a.xye");
  ASSERT_TRUE(result.ok());
  EXPECT_EQ(result.value().x, (std::vector<double>{1, 4}));
  EXPECT_EQ(result.value().e, (std::vector<double>{3, 6}));
  // A mark at the start of a later line is text, and that line's first token fails.
  const auto later = load_bytes(
      "1 2\n\xEF\xBB\xBF"
      "4 5\n",
      "a.xy");
  ASSERT_TRUE(later.ok());
  EXPECT_EQ(later.value().x, std::vector<double>{1});
}

}  // namespace
}  // namespace morvex
