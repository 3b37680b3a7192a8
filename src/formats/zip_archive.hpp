// ZIP archives through libzip for the readers of archive formats (RASX, BRML): owning
// handles, libzip's errors as load errors, and an open entry as a byte source.
#pragma once

#include <zip.h>

#include <memory>
#include <span>
#include <string_view>

#include "core/byte_source.hpp"
#include "core/input.hpp"
#include "core/load_error.hpp"
#include "formats/inflate.hpp"

namespace morvex {

struct ArchiveCloser {
  // Read-only: nothing to write back, so the archive is discarded rather than closed.
  void operator()(zip_t* archive) const { zip_discard(archive); }
};
struct EntryCloser {
  void operator()(zip_file_t* entry) const { zip_fclose(entry); }
};
using ArchiveHandle = std::unique_ptr<zip_t, ArchiveCloser>;
using EntryHandle = std::unique_ptr<zip_file_t, EntryCloser>;

// libzip's error record keeps its rendered text in a buffer of its own.
class LibzipError {
 public:
  LibzipError() { zip_error_init(&error_); }
  explicit LibzipError(int code) { zip_error_init_with_code(&error_, code); }
  LibzipError(const LibzipError&) = delete;
  LibzipError& operator=(const LibzipError&) = delete;
  ~LibzipError() { zip_error_fini(&error_); }
  zip_error_t* get() { return &error_; }

 private:
  zip_error_t error_;
};

ZipError to_zip_error(zip_error_t* error);
ZipError zip_error_of(int code);

// A failure while an entry's data is decompressed and checked (a damaged DEFLATE stream, a
// CRC-32 mismatch at the end, a read error of the archive) ends the load as an I/O error.
IoError read_error(zip_error_t* error);
IoError entry_read_error(zip_file_t* entry);

// The texts libzip gives the same failures of its own inflater.
InflateErrors inflate_errors();

// The archive over `bytes`, which the caller keeps alive while it is open. Zero bytes are no
// archive at all, as for any other input without an end-of-central-directory record.
Result<ArchiveHandle, ZipError> open_archive(std::string_view bytes);

// The archive of the whole input, whose bytes `storage` keeps. A read failure while the input
// is taken in is the archive's I/O failure; an interrupt stays one.
Result<ArchiveHandle, LoadError> open_input_archive(Input& input, ByteBuffer& storage);

// The open entry as a byte source: its data as libzip hands it out, decompressed or not.
class EntrySource final : public ByteSource {
 public:
  explicit EntrySource(zip_file_t* entry) : entry_(entry) {}

  IoResult<std::size_t> read(std::span<char> buffer) override {
    const zip_int64_t got = zip_fread(entry_, buffer.data(), buffer.size());
    if (got < 0) return fail(entry_read_error(entry_));
    return static_cast<std::size_t>(got);
  }

 private:
  zip_file_t* entry_;
};

}  // namespace morvex
