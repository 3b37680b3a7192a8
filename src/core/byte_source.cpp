#include "core/byte_source.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <new>
#include <string>

namespace morvex {

IoResult<std::string_view> ByteSource::read_all(ByteBuffer& storage) {
  constexpr std::size_t chunk = 64 * 1024;
  std::size_t used = 0;
  try {
    for (;;) {
      if (used == storage.size()) storage.resize(std::max(chunk, storage.size() * 2));
      auto got = read(std::span<char>(storage.data() + used, storage.size() - used));
      if (!got) return fail(std::move(got).error());
      if (got.value() == 0) break;
      used += got.value();
    }
  } catch (const std::bad_alloc&) {
    return fail(IoError::out_of_memory());
  }
  return std::string_view(storage.data(), used);
}

IoResult<FileSource> FileSource::open(std::string_view path) {
  if (path.find('\0') != std::string_view::npos) {
    return fail(IoError::with_text("strings passed to WinAPI cannot contain NULs"));
  }
  const std::string owned(path);
  int fd;
  do {
    fd = ::open(owned.c_str(), O_RDONLY | O_CLOEXEC);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) return fail(IoError::from_errno(errno));
  return FileSource(fd);
}

FileSource::FileSource(FileSource&& other) noexcept : fd_(other.fd_) { other.fd_ = -1; }

FileSource& FileSource::operator=(FileSource&& other) noexcept {
  if (this != &other) {
    if (fd_ >= 0) ::close(fd_);
    fd_ = other.fd_;
    other.fd_ = -1;
  }
  return *this;
}

FileSource::~FileSource() {
  // A failed close cannot lose data on a descriptor that was only read.
  if (fd_ >= 0) ::close(fd_);
}

IoResult<std::size_t> FileSource::read(std::span<char> buffer) {
  for (;;) {
    const ssize_t got = ::read(fd_, buffer.data(), buffer.size());
    if (got >= 0) return static_cast<std::size_t>(got);
    if (errno != EINTR) return fail(IoError::from_errno(errno));
  }
}

IoResult<std::string_view> FileSource::read_all(ByteBuffer& storage) {
  // Size the buffer from the file's length when it is known, so that a large file is read
  // without repeated growth; the generic loop still copes with files that change size.
  struct stat info {};
  if (::fstat(fd_, &info) == 0 && S_ISREG(info.st_mode)) {
    const off_t here = ::lseek(fd_, 0, SEEK_CUR);
    if (here >= 0 && info.st_size > here) {
      try {
        storage.resize(static_cast<std::size_t>(info.st_size - here) + 1);
      } catch (const std::bad_alloc&) {
        return fail(IoError::out_of_memory());
      }
    }
  }
  return ByteSource::read_all(storage);
}

IoResult<bool> FileSource::rewind() {
  if (::lseek(fd_, 0, SEEK_SET) < 0) return fail(IoError::from_errno(errno));
  return true;
}

int FileSource::release() {
  const int fd = fd_;
  fd_ = -1;
  return fd;
}

IoResult<std::size_t> SliceSource::read(std::span<char> buffer) {
  if (position_ >= data_.size()) return std::size_t{0};
  const std::size_t n = std::min(buffer.size(), data_.size() - position_);
  std::memcpy(buffer.data(), data_.data() + position_, n);
  position_ += n;
  return n;
}

IoResult<std::string_view> SliceSource::read_all(ByteBuffer&) {
  const std::size_t from = std::min(position_, data_.size());
  position_ = data_.size();
  return data_.substr(from);
}

}  // namespace morvex
