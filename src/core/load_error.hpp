// Why a load failed: five kinds, each rendering one message text for Python.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <variant>

#include "core/result.hpp"

namespace morvex {

// An input/output failure: either an operating-system error code or a fixed text of the
// stream layer (invalid UTF-8, a NUL in a path, out of memory, a decompression failure).
class IoError {
 public:
  static IoError from_errno(int code) { return IoError(code, {}); }
  static IoError with_text(std::string text) { return IoError(0, std::move(text)); }
  static IoError invalid_utf8() { return with_text("stream did not contain valid UTF-8"); }
  static IoError out_of_memory() { return with_text("out of memory"); }
  // A signal handler of the caller asked to stop the load; the caller knows why.
  static IoError interrupted() {
    IoError error = with_text("interrupted");
    error.interrupted_ = true;
    return error;
  }

  int os_code() const { return os_code_; }
  bool is_interrupted() const { return interrupted_; }

  // "<system description> (os error N)" for an OS error, the fixed text otherwise.
  std::string message() const;

 private:
  IoError(int code, std::string text) : os_code_(code), text_(std::move(text)) {}
  int os_code_;
  std::string text_;
  bool interrupted_ = false;
};

// A failure of the ZIP archive reader, by failure class; the detail is the library's text.
struct ZipError {
  enum class Class { io, invalid_archive, unsupported_archive };
  Class error_class;
  std::string detail;  // for io: the I/O error's text; otherwise libzip's
  // For io: the operating system's error, or memory that ran out, behind the text.
  int os_code = 0;
  bool out_of_memory = false;

  static ZipError io(const IoError& cause) {
    return {Class::io, cause.message(), cause.os_code(),
            cause.message() == IoError::out_of_memory().message()};
  }

  std::string message() const;
};

struct ParseError {
  std::string text;
  std::optional<std::uint64_t> offset = std::nullopt;  // where in the input, when known
};

struct UnknownFormat {};

struct EntryNotFound {
  std::string name;
};

class LoadError {
 public:
  LoadError(IoError error) : value_(std::move(error)) {}
  LoadError(ZipError error) : value_(std::move(error)) {}
  LoadError(ParseError error) : value_(std::move(error)) {}
  LoadError(UnknownFormat error) : value_(error) {}
  LoadError(EntryNotFound error) : value_(std::move(error)) {}

  // An input/output failure, raised as OSError; every other kind is a ValueError.
  bool is_io() const { return std::holds_alternative<IoError>(value_); }
  const IoError* io() const { return std::get_if<IoError>(&value_); }
  const ZipError* zip() const { return std::get_if<ZipError>(&value_); }
  std::optional<std::uint64_t> offset() const;
  std::string message() const;

 private:
  std::variant<IoError, ZipError, ParseError, UnknownFormat, EntryNotFound> value_;
};

template <class T>
using IoResult = Result<T, IoError>;

// Shorthand for the readers' fixed messages.
inline Failure<ParseError> parse_failure(std::string text,
                                         std::optional<std::uint64_t> offset = std::nullopt) {
  return {ParseError{std::move(text), offset}};
}

}  // namespace morvex
