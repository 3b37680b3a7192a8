#include "core/byte_source.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <new>
#include <string>

#include "core/interrupt.hpp"

namespace morvex {

IoResult<FileSource> FileSource::open(std::string_view path) {
  if (path.find('\0') != std::string_view::npos) {
    return fail(IoError::with_text("strings passed to WinAPI cannot contain NULs"));
  }
  const std::string owned(path);
  int fd;
  for (;;) {
    fd = ::open(owned.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd >= 0 || errno != EINTR) break;
    // Opening a FIFO blocks until a writer comes.
    if (interrupt_requested()) return fail(IoError::interrupted());
  }
  if (fd < 0) return fail(IoError::from_errno(errno));
  return FileSource(fd);
}

FileSource::FileSource(FileSource&& other) noexcept : fd_(other.fd_) {
  other.fd_ = -1;
}

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
    // A signal broke a blocking read (a FIFO with no writer, say): the caller's handlers
    // decide whether the load goes on.
    if (interrupt_requested()) return fail(IoError::interrupted());
  }
}

std::optional<std::size_t> FileSource::remaining_size() const {
  struct stat info {};
  if (::fstat(fd_, &info) != 0 || !S_ISREG(info.st_mode)) return std::nullopt;
  const off_t here = ::lseek(fd_, 0, SEEK_CUR);
  if (here < 0) return std::nullopt;
  return info.st_size > here ? static_cast<std::size_t>(info.st_size - here) : 0;
}

IoResult<std::size_t> SliceSource::read(std::span<char> buffer) {
  if (position_ >= data_.size()) return std::size_t{0};
  const std::size_t n = std::min(buffer.size(), data_.size() - position_);
  std::memcpy(buffer.data(), data_.data() + position_, n);
  position_ += n;
  return n;
}

std::string_view SliceSource::take_rest() {
  const std::size_t from = std::min(position_, data_.size());
  position_ = data_.size();
  return data_.substr(from);
}

}  // namespace morvex
