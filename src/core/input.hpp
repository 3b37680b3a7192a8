// One buffered, forward-only input over a byte source: the layer every reader reads through.
// The line reader and the XML pull parser are thin layers on it, and the raw sniff is a peek.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string_view>

#include "core/byte_source.hpp"
#include "core/load_error.hpp"

namespace morvex {

class Input {
 public:
  // Large enough that the read calls cost little beside the parsing, and on the heap, as a
  // load may run on a thread with a small stack.
  static constexpr std::size_t buffer_size = 256 * 1024;

  // Streams the source through a buffer of its own.
  // `size`, when given, is the source's length in bytes as stated beforehand (a ZIP entry's,
  // say): a hint for remaining_size() only, never trusted as the end.
  explicit Input(ByteSource& source, std::optional<std::uint64_t> size = std::nullopt)
      : source_(source),
        stated_size_(size),
        buffer_(std::make_unique_for_overwrite<char[]>(buffer_size)) {}
  // The same, and the file's size sizes what read_all takes at once.
  explicit Input(FileSource& file)
      : source_(file), file_(&file), buffer_(std::make_unique_for_overwrite<char[]>(buffer_size)) {}
  // A slice is read in place: its bytes from the read position are the buffer.
  explicit Input(SliceSource& slice);
  Input(const Input&) = delete;
  Input& operator=(const Input&) = delete;

  // The bytes read ahead and not consumed yet; valid until the next refill.
  std::string_view buffered() const {
    return std::string_view(data_ + position_, end_ - position_);
  }
  void consume(std::size_t n) { position_ += n; }

  // Reads more input behind the unconsumed bytes. False at the end of the input, on a read
  // error (then error() holds it, from then on) or when the buffer holds nothing consumed.
  bool refill();

  // Up to `n` (at most buffer_size) bytes from the read position, fewer only where the input
  // ends or fails first; nothing is consumed.
  std::string_view peek(std::size_t n);

  // Consumes a UTF-8 byte-order mark at the very start of the input: an encoding signature,
  // not text. True when there was one.
  bool skip_byte_order_mark();

  // The whole-bytes mode, for formats read by random access (ZIP archives, binary headers):
  // everything from the read position to the end. A slice hands out its own bytes in place;
  // anything else is read into `storage`, which must outlive the returned view.
  IoResult<std::string_view> read_all(ByteBuffer& storage);

  // Offset of the next unconsumed byte, counted from the source's position at the start.
  std::uint64_t offset() const { return base_ + position_; }

  // Bytes from the read position to the end where known beforehand: a slice's, a regular
  // file's or the stated size. A hint for reserving memory, not a promise: a file may change
  // while it is read, and a stated size may lie.
  std::optional<std::uint64_t> remaining_size() const;

  bool failed() const { return error_.has_value(); }
  const std::optional<IoError>& error() const { return error_; }
  IoError take_error() { return std::move(*error_); }

 private:
  ByteSource& source_;
  FileSource* file_ = nullptr;
  std::optional<std::uint64_t> stated_size_;
  bool in_place_ = false;           // data_ is the caller's slice, not buffer_
  std::unique_ptr<char[]> buffer_;  // none for a slice
  const char* data_ = buffer_.get();
  std::size_t position_ = 0;  // unconsumed bytes are data_[position_, end_)
  std::size_t end_ = 0;
  std::uint64_t base_ = 0;  // input offset of data_[0]
  bool at_end_ = false;
  std::optional<IoError> error_;
};

}  // namespace morvex
