// The input of every reader: an open file or a borrowed byte slice, behind one interface.
#pragma once

#include <cstddef>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "core/load_error.hpp"

namespace morvex {

// Leaves new elements uninitialised: a buffer about to be filled by reads need not be
// zeroed first.
template <class T>
struct UninitializedAllocator : std::allocator<T> {
  template <class U>
  struct rebind {
    using other = UninitializedAllocator<U>;
  };
  template <class U, class... Args>
  void construct(U* p, Args&&... args) {
    if constexpr (sizeof...(Args) == 0) {
      ::new (static_cast<void*>(p)) U;
    } else {
      ::new (static_cast<void*>(p)) U(std::forward<Args>(args)...);
    }
  }
};

using ByteBuffer = std::vector<char, UninitializedAllocator<char>>;

class ByteSource {
 public:
  virtual ~ByteSource() = default;

  // Reads up to buffer.size() bytes from the current position; 0 means end of input.
  // Interrupted reads are retried, so an error here is a real one.
  virtual IoResult<std::size_t> read(std::span<char> buffer) = 0;
};

// Owns a file descriptor opened read-only; closed by the destructor on every path.
class FileSource final : public ByteSource {
 public:
  // Refuses a path holding a NUL with the stream layer's fixed text, before opening.
  static IoResult<FileSource> open(std::string_view path);

  FileSource(FileSource&& other) noexcept;
  FileSource& operator=(FileSource&& other) noexcept;
  FileSource(const FileSource&) = delete;
  FileSource& operator=(const FileSource&) = delete;
  ~FileSource() override;

  IoResult<std::size_t> read(std::span<char> buffer) override;

  int descriptor() const { return fd_; }
  // Bytes from the current position to the end of a regular file; none for other files.
  std::optional<std::size_t> remaining_size() const;

 private:
  explicit FileSource(int fd) : fd_(fd) {}
  int fd_;
};

// A read position over bytes that the caller keeps alive and unchanged for the whole load.
class SliceSource final : public ByteSource {
 public:
  explicit SliceSource(std::string_view data) : data_(data) {}

  IoResult<std::size_t> read(std::span<char> buffer) override;
  // The bytes from the read position on, all at once; the position moves to the end.
  std::string_view take_rest();

  std::size_t position() const { return position_; }
  void seek(std::size_t position) { position_ = position; }

 private:
  std::string_view data_;
  std::size_t position_ = 0;
};

}  // namespace morvex
