// Raw DEFLATE streams inflated with ISA-L, whose decoder runs about three times as fast as
// zlib's on profile text.
#pragma once

#include <cstdint>
#include <memory>
#include <span>

#include "core/byte_source.hpp"
#include "core/load_error.hpp"

struct inflate_state;

namespace morvex {

// What the inflater reports for data it cannot decode and for output whose CRC-32 differs
// from the expected one. The caller words them, so that they read as its archive library's.
struct InflateErrors {
  IoError damaged_data;
  IoError crc_mismatch;
};

// The decompressed bytes of the raw DEFLATE stream read from `compressed`, streamed through
// fixed buffers whatever the output's size. The data ends where the stream's final block
// ends (anything after it is ignored) or, for a cut stream, where the compressed bytes run
// out; the CRC-32 of the output is checked there, by the read that would report the end.
// Damage is reported as soon as the decoder meets it; what it decoded ahead and did not hand
// out yet is dropped, much as libzip's zlib path drops the rest of a read that fails.
class InflatingSource final : public ByteSource {
 public:
  InflatingSource(ByteSource& compressed, std::uint32_t expected_crc, InflateErrors errors);
  InflatingSource(const InflatingSource&) = delete;
  InflatingSource& operator=(const InflatingSource&) = delete;
  ~InflatingSource() override;

  IoResult<std::size_t> read(std::span<char> buffer) override;

 private:
  IoResult<std::size_t> finish();

  ByteSource& compressed_;
  std::uint32_t expected_crc_;
  std::uint32_t crc_ = 0;
  InflateErrors errors_;
  std::unique_ptr<inflate_state> state_;  // about 90 KiB: kept off the stack
  ByteBuffer input_;
  bool damaged_ = false;
  bool ended_ = false;
};

}  // namespace morvex
