#include "core/load_error.hpp"

#include <cstring>

namespace morvex {
namespace {

template <class... F>
struct Overloaded : F... {
  using F::operator()...;
};
template <class... F>
Overloaded(F...) -> Overloaded<F...>;

std::string describe_errno(int code) {
  // strerror_r in its GNU form may return a static string rather than fill the buffer.
  char buffer[256];
  const char* text = strerror_r(code, buffer, sizeof buffer);
  std::string message(text);
  message += " (os error ";
  message += std::to_string(code);
  message += ')';
  return message;
}

}  // namespace

std::string IoError::message() const {
  return os_code_ != 0 ? describe_errno(os_code_) : text_;
}

std::string ZipError::message() const {
  // Built by appending: GCC 12 warns falsely (-Wrestrict) on "literal" + std::string.
  const auto prefixed = [this](std::string prefix) { return prefix.append(detail); };
  switch (error_class) {
    case Class::io:
      return prefixed("i/o error: ");
    case Class::invalid_archive:
      return prefixed("invalid Zip archive: ");
    case Class::unsupported_archive:
      return prefixed("unsupported Zip archive: ");
  }
  return detail;
}

std::optional<std::uint64_t> LoadError::offset() const {
  const auto* parse = std::get_if<ParseError>(&value_);
  return parse ? parse->offset : std::nullopt;
}

std::string LoadError::message() const {
  return std::visit(Overloaded{
                        [](const IoError& e) { return e.message(); },
                        [](const ZipError& e) { return e.message(); },
                        [](const ParseError& e) { return e.text; },
                        [](const UnknownFormat&) { return std::string("Unknown format"); },
                        [](const EntryNotFound& e) {
                          return std::string("File not found in archive: ") + e.name;
                        },
                    },
                    value_);
}

}  // namespace morvex
