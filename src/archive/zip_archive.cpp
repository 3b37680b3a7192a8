#include "archive/zip_archive.hpp"

#include <zip.h>
#include <zlib.h>

#include <string>
#include <utility>

#include "archive/inflate.hpp"

namespace morvex {
namespace {

struct ArchiveCloser {
  // Read-only: nothing to write back, so the archive is discarded rather than closed.
  void operator()(zip_t* archive) const { zip_discard(archive); }
};
struct FileCloser {
  void operator()(zip_file_t* file) const { zip_fclose(file); }
};
struct ZipSourceFreer {
  void operator()(zip_source_t* source) const { zip_source_free(source); }
};
using ArchiveHandle = std::unique_ptr<zip_t, ArchiveCloser>;
using FileHandle = std::unique_ptr<zip_file_t, FileCloser>;
using ZipSourceHandle = std::unique_ptr<zip_source_t, ZipSourceFreer>;

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

// A failure while an entry's data is decompressed and checked (a damaged DEFLATE stream, a
// CRC-32 mismatch at the end, a read error of the archive) ends the load as an I/O error.
IoError read_error(zip_error_t* error) {
  if (const auto code = system_code(error)) return IoError::from_errno(*code);
  if (zip_error_code_zip(error) == ZIP_ER_MEMORY) return IoError::out_of_memory();
  return IoError::with_text(zip_error_strerror(error));
}

// The texts libzip gives the same failures of its own inflater.
InflateErrors inflate_errors() {
  LibzipError damaged;
  zip_error_set(damaged.get(), ZIP_ER_ZLIB, Z_DATA_ERROR);
  LibzipError crc_mismatch(ZIP_ER_CRC);
  return {read_error(damaged.get()), read_error(crc_mismatch.get())};
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

Result<ArchiveHandle, ZipError> open_handle(std::string_view bytes) {
  LibzipError error;
  auto zsource = make_zip_source(bytes, error.get());
  if (!zsource) return fail(std::move(zsource).error());
  if (is_empty(zsource->get())) return fail(zip_error_of(ZIP_ER_NOZIP));
  zip_t* archive = zip_open_from_source(zsource->get(), ZIP_RDONLY, error.get());
  if (!archive) return fail(to_zip_error(error.get()));
  zsource->release();  // the archive owns it now
  return ArchiveHandle(archive);
}

// The entry's bytes as libzip hands them out: decompressed and checked by libzip, or, for an
// entry opened compressed, as stored.
class LibzipSource final : public ByteSource {
 public:
  explicit LibzipSource(FileHandle file) : file_(std::move(file)) {}

  IoResult<std::size_t> read(std::span<char> buffer) override {
    const zip_int64_t got = zip_fread(file_.get(), buffer.data(), buffer.size());
    if (got < 0) return fail(read_error(zip_file_get_error(file_.get())));
    return static_cast<std::size_t>(got);
  }

 private:
  FileHandle file_;
};

// What an entry's directory record says about reading it, or why it may not be read.
struct EntryPlan {
  std::optional<std::uint32_t> inflate_with_crc;  // else libzip reads and checks it
  std::optional<std::uint64_t> size;
};

Result<EntryPlan, ZipError> plan_entry(zip_t* archive, zip_uint64_t index) {
  zip_stat_t info;
  zip_stat_init(&info);
  if (zip_stat_index(archive, index, 0, &info) != 0) {
    return fail(to_zip_error(zip_get_error(archive)));
  }
  if ((info.valid & ZIP_STAT_ENCRYPTION_METHOD) != 0 && info.encryption_method != ZIP_EM_NONE) {
    return fail(zip_error_of(ZIP_ER_ENCRNOTSUPP));
  }
  if ((info.valid & ZIP_STAT_COMP_METHOD) == 0 ||
      (info.comp_method != ZIP_CM_STORE && info.comp_method != ZIP_CM_DEFLATE)) {
    return fail(zip_error_of(ZIP_ER_COMPNOTSUPP));
  }
  EntryPlan plan;
  if (info.comp_method == ZIP_CM_DEFLATE && (info.valid & ZIP_STAT_CRC) != 0) {
    plan.inflate_with_crc = info.crc;
  }
  // The stated size may size a reader's arrays in advance, so it is held to what the stored
  // bytes can give: DEFLATE makes at most 1032 bytes of one.
  constexpr std::uint64_t deflate_limit = 1032;
  if ((info.valid & ZIP_STAT_SIZE) != 0 && (info.valid & ZIP_STAT_COMP_SIZE) != 0 &&
      info.size / deflate_limit <= info.comp_size) {
    plan.size = info.size;
  }
  return plan;
}

}  // namespace

// The raw source stays where the inflater that reads it can refer to it.
struct ZipEntry::State {
  State(FileHandle file, const EntryPlan& plan) : raw(std::move(file)), size(plan.size) {
    if (plan.inflate_with_crc) inflated.emplace(raw, *plan.inflate_with_crc, inflate_errors());
  }

  LibzipSource raw;
  std::optional<InflatingSource> inflated;
  std::optional<std::uint64_t> size;
};

ZipEntry::ZipEntry(std::unique_ptr<State> state) : state_(std::move(state)) {}
ZipEntry::ZipEntry(ZipEntry&& other) noexcept = default;
ZipEntry& ZipEntry::operator=(ZipEntry&& other) noexcept = default;
ZipEntry::~ZipEntry() = default;

IoResult<std::size_t> ZipEntry::read(std::span<char> buffer) {
  if (state_->inflated) return state_->inflated->read(buffer);
  return state_->raw.read(buffer);
}

std::optional<std::uint64_t> ZipEntry::stated_size() const {
  return state_->size;
}

// The archive is discarded before the bytes under it are freed.
struct ZipArchive::State {
  ByteBuffer storage;
  std::string_view bytes;  // in storage, or where the input's slice keeps them
  ArchiveHandle archive;
};

ZipArchive::ZipArchive(std::unique_ptr<State> state) : state_(std::move(state)) {}
ZipArchive::ZipArchive(ZipArchive&& other) noexcept = default;
ZipArchive& ZipArchive::operator=(ZipArchive&& other) noexcept = default;
ZipArchive::~ZipArchive() = default;

Result<ZipArchive, LoadError> ZipArchive::read(Input& input) {
  auto state = std::make_unique<State>();
  auto bytes = input.read_all(state->storage);
  if (!bytes) {
    if (bytes.error().is_interrupted()) return fail(std::move(bytes).error());
    return fail(ZipError::io(bytes.error()));
  }
  auto archive = open_handle(bytes.value());
  if (!archive) return fail(std::move(archive).error());
  state->bytes = bytes.value();
  state->archive = std::move(archive).value();
  return ZipArchive(std::move(state));
}

Result<ZipArchive, ZipError> ZipArchive::another_view() const {
  auto archive = open_handle(state_->bytes);
  if (!archive) return fail(std::move(archive).error());
  auto state = std::make_unique<State>();
  state->bytes = state_->bytes;
  state->archive = std::move(archive).value();
  return ZipArchive(std::move(state));
}

std::vector<ZipArchive::Entry> ZipArchive::entries() const {
  zip_t* archive = state_->archive.get();
  const zip_int64_t count = zip_get_num_entries(archive, 0);
  std::vector<Entry> entries;
  for (zip_int64_t i = 0; i < count; ++i) {
    const auto index = static_cast<zip_uint64_t>(i);
    if (const char* name = zip_get_name(archive, index, 0)) entries.push_back({index, name});
  }
  return entries;
}

std::optional<std::uint64_t> ZipArchive::find(std::string_view name) const {
  const zip_int64_t index = zip_name_locate(state_->archive.get(), std::string(name).c_str(), 0);
  if (index < 0) return std::nullopt;
  return static_cast<std::uint64_t>(index);
}

// A failure is forgotten by the archive once it is returned, so that a reader may go on to
// another entry.
Result<ZipEntry, ZipError> ZipArchive::open_entry(std::uint64_t index) {
  zip_t* archive = state_->archive.get();
  auto plan = plan_entry(archive, index);
  if (!plan) {
    zip_error_clear(archive);
    return fail(std::move(plan).error());
  }
  const zip_flags_t flags = plan->inflate_with_crc ? ZIP_FL_COMPRESSED : 0;
  FileHandle file(zip_fopen_index(archive, index, flags));
  if (!file) {
    ZipError error = to_zip_error(zip_get_error(archive));
    zip_error_clear(archive);
    return fail(std::move(error));
  }
  return ZipEntry(std::make_unique<ZipEntry::State>(std::move(file), plan.value()));
}

}  // namespace morvex
