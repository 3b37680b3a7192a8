// The inflater over extreme splits of its input and output.
#include "archive/inflate.hpp"

#include <gtest/gtest.h>
#include <isa-l/crc.h>
#include <isa-l/igzip_lib.h>

#include <string>

#include "test_sources.hpp"

namespace morvex {
namespace {

TEST(Inflate, AnySplitOfInputAndOutputGivesTheText) {
  // Well beyond the 32 KiB window, so that matches reach back across compressed reads.
  std::string text;
  for (int k = 0; k < 12000; ++k)
    text += std::to_string(k) + "\t" + std::to_string(k % 97) + "\r\n";
  auto* const text_bytes = reinterpret_cast<std::uint8_t*>(text.data());
  std::string stream(text.size() + 1024, '\0');
  isal_zstream deflate;
  isal_deflate_stateless_init(&deflate);
  deflate.next_in = text_bytes;
  deflate.avail_in = static_cast<std::uint32_t>(text.size());
  deflate.next_out = reinterpret_cast<std::uint8_t*>(stream.data());
  deflate.avail_out = static_cast<std::uint32_t>(stream.size());
  deflate.end_of_stream = 1;
  ASSERT_EQ(isal_deflate_stateless(&deflate), COMP_OK);
  stream.resize(deflate.total_out);

  for (const std::size_t chunk : {std::size_t{1}, std::size_t{5}, stream.size()}) {
    for (const std::size_t span : {std::size_t{1}, std::size_t{8192}}) {
      ChunkedSource compressed(stream, chunk);
      InflatingSource source(compressed, crc32_gzip_refl(0, text_bytes, text.size()),
                             {IoError::with_text("damaged"), IoError::with_text("crc")});
      std::string out(span, '\0'), got;
      for (auto n = source.read(out); n.ok() && n.value() > 0; n = source.read(out)) {
        got.append(out, 0, n.value());
      }
      EXPECT_EQ(got, text) << "chunk " << chunk << ", span " << span;
    }
  }
}

}  // namespace
}  // namespace morvex
