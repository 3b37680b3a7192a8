// Why a load failed: five kinds, each rendering one message text for Python.
#pragma once

#include <string>
#include <variant>

#include "core/pattern.hpp"
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

  int os_code() const { return os_code_; }
  // "<system description> (os error N)" for an OS error, the fixed text otherwise.
  std::string message() const;

 private:
  IoError(int code, std::string text) : os_code_(code), text_(std::move(text)) {}
  int os_code_;
  std::string text_;
};

// A failure of the ZIP archive reader, by failure class; the detail is the library's text.
struct ZipError {
  enum class Class { io, invalid_archive, unsupported_archive, file_not_found, invalid_password };
  Class error_class;
  std::string detail;  // for io: the I/O error's text; for the fixed classes: unused

  std::string message() const;
};

struct ParseError {
  std::string text;
};

struct UnknownFormat {};

struct EntryNotFound {
  std::string name;
};

// The variant's alternatives stand in the order of the kinds' tags (0 to 4).
class LoadError {
 public:
  enum class Kind { io = 0, zip = 1, parse = 2, unknown_format = 3, entry_not_found = 4 };

  LoadError(IoError error) : value_(std::move(error)) {}
  LoadError(ZipError error) : value_(std::move(error)) {}
  LoadError(ParseError error) : value_(std::move(error)) {}
  LoadError(UnknownFormat error) : value_(error) {}
  LoadError(EntryNotFound error) : value_(std::move(error)) {}

  Kind kind() const { return static_cast<Kind>(value_.index()); }
  std::string message() const;

 private:
  std::variant<IoError, ZipError, ParseError, UnknownFormat, EntryNotFound> value_;
};

template <class T>
using IoResult = Result<T, IoError>;

using LoadResult = Result<Pattern, LoadError>;

// Shorthand for the readers' fixed messages.
inline Failure<ParseError> parse_failure(std::string text) { return {ParseError{std::move(text)}}; }

}  // namespace morvex
