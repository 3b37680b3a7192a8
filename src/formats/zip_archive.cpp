#include "formats/zip_archive.hpp"

#include <zlib.h>

#include <optional>

namespace morvex {
namespace {

struct ZipSourceFreer {
  void operator()(zip_source_t* source) const { zip_source_free(source); }
};
using ZipSourceHandle = std::unique_ptr<zip_source_t, ZipSourceFreer>;

ZipError::Class classify(int code) {
  switch (code) {
    case ZIP_ER_SEEK:
    case ZIP_ER_READ:
    case ZIP_ER_OPEN:
    case ZIP_ER_EOF:
    case ZIP_ER_MEMORY:
    case ZIP_ER_TELL:
    case ZIP_ER_CLOSE:
      return ZipError::Class::io;
    case ZIP_ER_MULTIDISK:
    case ZIP_ER_COMPNOTSUPP:
    case ZIP_ER_ENCRNOTSUPP:
    case ZIP_ER_NOPASSWD:
    case ZIP_ER_OPNOTSUPP:
      return ZipError::Class::unsupported_archive;
    default:  // not a zip archive, inconsistent, CRC or zlib trouble in the directory, ...
      return ZipError::Class::invalid_archive;
  }
}

// An operating-system error inside a libzip error is rendered like any other I/O error.
std::optional<int> system_code(zip_error_t* error) {
  if (zip_error_system_type(error) != ZIP_ET_SYS) return std::nullopt;
  const int code = zip_error_code_system(error);
  return code != 0 ? std::optional<int>(code) : std::nullopt;
}

// A libzip source over the archive's bytes, which the caller keeps alive.
Result<ZipSourceHandle, ZipError> make_zip_source(std::string_view bytes, zip_error_t* error) {
  zip_source_t* zsource = zip_source_buffer_create(bytes.data(), bytes.size(), 0, error);
  if (!zsource) return fail(to_zip_error(error));
  return ZipSourceHandle(zsource);
}

bool is_empty(zip_source_t* zsource) {
  zip_stat_t info;
  zip_stat_init(&info);
  if (zip_source_stat(zsource, &info) != 0) return false;
  return (info.valid & ZIP_STAT_SIZE) != 0 && info.size == 0;
}

}  // namespace

ZipError to_zip_error(zip_error_t* error) {
  const ZipError::Class error_class = classify(zip_error_code_zip(error));
  const auto code = system_code(error);
  if (error_class == ZipError::Class::io && code) return ZipError::io(IoError::from_errno(*code));
  if (zip_error_code_zip(error) == ZIP_ER_MEMORY) {
    return {error_class, zip_error_strerror(error), 0, true};
  }
  return {error_class, zip_error_strerror(error)};
}

ZipError zip_error_of(int code) {
  LibzipError error(code);
  return to_zip_error(error.get());
}

IoError read_error(zip_error_t* error) {
  if (const auto code = system_code(error)) return IoError::from_errno(*code);
  if (zip_error_code_zip(error) == ZIP_ER_MEMORY) return IoError::out_of_memory();
  return IoError::with_text(zip_error_strerror(error));
}

IoError entry_read_error(zip_file_t* entry) {
  return read_error(zip_file_get_error(entry));
}

InflateErrors inflate_errors() {
  LibzipError damaged;
  zip_error_set(damaged.get(), ZIP_ER_ZLIB, Z_DATA_ERROR);
  LibzipError crc_mismatch(ZIP_ER_CRC);
  return {read_error(damaged.get()), read_error(crc_mismatch.get())};
}

Result<ArchiveHandle, ZipError> open_archive(std::string_view bytes) {
  LibzipError error;
  auto zsource = make_zip_source(bytes, error.get());
  if (!zsource) return fail(std::move(zsource).error());
  if (is_empty(zsource->get())) return fail(zip_error_of(ZIP_ER_NOZIP));
  zip_t* archive = zip_open_from_source(zsource->get(), ZIP_RDONLY, error.get());
  if (!archive) return fail(to_zip_error(error.get()));
  zsource->release();  // the archive owns it now
  return ArchiveHandle(archive);
}

Result<ArchiveHandle, LoadError> open_input_archive(Input& input, ByteBuffer& storage) {
  auto bytes = input.read_all(storage);
  if (!bytes) {
    if (bytes.error().is_interrupted()) return fail(std::move(bytes).error());
    return fail(ZipError::io(bytes.error()));
  }
  auto archive = open_archive(bytes.value());
  if (!archive) return fail(std::move(archive).error());
  return std::move(archive).value();
}

}  // namespace morvex
