// ZIP archives for the readers of archive formats (RASX, BRML): the archive over the input's
// bytes, its entry names, and an entry opened as a checked byte source. libzip stays behind
// this header, so that no reader depends on it.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

#include "core/byte_source.hpp"
#include "core/input.hpp"
#include "core/load_error.hpp"

namespace morvex {

// One entry's data, read once from its start while its archive is open. Its last read fails when
// the data differs from the CRC-32 the archive states; a DEFLATE stream that cannot be decoded
// fails where the damage is met. Both are I/O errors, worded as libzip words them.
class ZipEntry final : public ByteSource {
 public:
  struct State;
  explicit ZipEntry(std::unique_ptr<State> state);
  ZipEntry(ZipEntry&& other) noexcept;
  ZipEntry& operator=(ZipEntry&& other) noexcept;
  ~ZipEntry() override;

  IoResult<std::size_t> read(std::span<char> buffer) override;

  // The uncompressed size the archive states, where the compressed size could hold it: a hint
  // for sizing what is read, never trusted as the end.
  std::optional<std::uint64_t> stated_size() const;

 private:
  std::unique_ptr<State> state_;
};

class ZipArchive {
 public:
  struct Entry {
    std::uint64_t index;    // the place in the central directory
    std::string_view name;  // valid while the archive is open
  };

  // The archive over the whole input's bytes, which it keeps (a slice's stay where they are).
  // A read failure while the input is taken in is the archive's I/O failure; an interrupt
  // stays one. Zero bytes are no archive at all, as for any other input without an
  // end-of-central-directory record.
  static Result<ZipArchive, LoadError> read(Input& input);

  // Another archive over the same bytes, for another thread: entries of one archive may be
  // read only by one thread at a time. This archive must outlive it.
  Result<ZipArchive, ZipError> another_view() const;

  ZipArchive(ZipArchive&& other) noexcept;
  ZipArchive& operator=(ZipArchive&& other) noexcept;
  ~ZipArchive();

  // Every entry that has a name, in directory order.
  std::vector<Entry> entries() const;
  // The index of the entry with exactly this name.
  std::optional<std::uint64_t> find(std::string_view name) const;

  // The entry's data, decompressed. Only stored and DEFLATE entries open, never an encrypted
  // one, though libzip could read others: the archive formats name no other method. DEFLATE
  // is inflated by ISA-L, about three times as fast as libzip's zlib.
  Result<ZipEntry, ZipError> open_entry(std::uint64_t index);

 private:
  struct State;
  explicit ZipArchive(std::unique_ptr<State> state);

  std::unique_ptr<State> state_;
};

}  // namespace morvex
