#include "archive/inflate.hpp"

#include <isa-l/crc.h>
#include <isa-l/igzip_lib.h>

#include <algorithm>
#include <limits>
#include <utility>

namespace morvex {
namespace {

// Large enough that the archive library's per-read cost disappears, small beside the
// inflater's own state.
constexpr std::size_t input_chunk = 64 * 1024;

std::uint8_t* bytes(char* data) {
  return reinterpret_cast<std::uint8_t*>(data);
}

#if defined(__x86_64__)
[[gnu::target("avx")]] void vzeroupper() {
  __builtin_ia32_vzeroupper();
}
#endif

// ISA-L's AVX2 and AVX-512 code returns with the upper halves of the vector registers in use,
// and until they are cleared every SSE instruction after it may run slower: the column reader
// that parses the inflated text took 1.7 times as long here. Cleared where the CPU has them.
void clear_upper_vector_state() {
#if defined(__x86_64__)
  static const bool has_avx = __builtin_cpu_supports("avx");
  if (has_avx) vzeroupper();
#endif
}

}  // namespace

InflatingSource::InflatingSource(ByteSource& compressed, std::uint32_t expected_crc,
                                 InflateErrors errors)
    : compressed_(compressed),
      expected_crc_(expected_crc),
      errors_(std::move(errors)),
      state_(std::make_unique_for_overwrite<inflate_state>()),
      input_(input_chunk) {
  isal_inflate_init(state_.get());  // raw DEFLATE, no wrapper, no checksum of its own
}

InflatingSource::~InflatingSource() = default;

IoResult<std::size_t> InflatingSource::read(std::span<char> buffer) {
  if (damaged_) return fail(errors_.damaged_data);
  if (ended_ || buffer.empty()) return 0;
  constexpr std::size_t most = std::numeric_limits<std::uint32_t>::max();
  buffer = buffer.first(std::min(buffer.size(), most));
  for (;;) {
    state_->next_out = bytes(buffer.data());
    state_->avail_out = static_cast<std::uint32_t>(buffer.size());
    const std::uint32_t unread = state_->avail_in;
    const int status = isal_inflate(state_.get());
    const std::size_t produced = buffer.size() - state_->avail_out;
    crc_ = crc32_gzip_refl(crc_, bytes(buffer.data()), produced);
    clear_upper_vector_state();
    if (status < 0) {  // an invalid block header, code or distance
      damaged_ = true;
      return fail(errors_.damaged_data);
    }
    if (produced > 0) return produced;
    if (state_->block_state == ISAL_BLOCK_FINISH) return finish();
    if (state_->avail_in == 0) {
      auto got = compressed_.read(std::span<char>(input_.data(), input_.size()));
      if (!got) return fail(std::move(got).error());
      // A stream cut short ends with its compressed bytes; the CRC-32 tells what is missing.
      if (got.value() == 0) return finish();
      state_->next_in = bytes(input_.data());
      state_->avail_in = static_cast<std::uint32_t>(got.value());
    } else if (state_->avail_in == unread) {
      // Input and room for output, and still no progress: nothing valid can follow.
      damaged_ = true;
      return fail(errors_.damaged_data);
    }
  }
}

IoResult<std::size_t> InflatingSource::finish() {
  ended_ = true;
  if (crc_ != expected_crc_) return fail(errors_.crc_mismatch);
  return 0;
}

}  // namespace morvex
