#include "xml/attributes.hpp"

#include <algorithm>
#include <span>

#include "core/utf8.hpp"
#include "xml/markup.hpp"

namespace morvex::xml {
namespace {

// The characters XML 1.0 allows in a document.
bool is_xml_char(std::uint32_t c) {
  return c == 0x9 || c == 0xA || c == 0xD || (c >= 0x20 && c <= 0xD7FF) ||
         (c >= 0xE000 && c <= 0xFFFD) || (c >= 0x10000 && c <= 0x10FFFF);
}

void append_utf8(std::string& out, std::uint32_t c) {
  if (c < 0x80) {
    out.push_back(static_cast<char>(c));
  } else if (c < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (c >> 6)));
    out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
  } else if (c < 0x10000) {
    out.push_back(static_cast<char>(0xE0 | (c >> 12)));
    out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xF0 | (c >> 18)));
    out.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
  }
}

// The code point of "#65" or "#x41"; nullopt for anything else (no digits, a sign, a
// non-digit, an uppercase "X", a value beyond Unicode).
std::optional<std::uint32_t> character_reference(std::string_view name) {
  const bool hex = name.size() > 1 && name[1] == 'x';
  const std::string_view digits = name.substr(hex ? 2 : 1);
  if (digits.empty()) return std::nullopt;
  std::uint32_t value = 0;
  for (const char c : digits) {
    std::uint32_t digit;
    if (c >= '0' && c <= '9') {
      digit = static_cast<std::uint32_t>(c - '0');
    } else if (hex && c >= 'a' && c <= 'f') {
      digit = static_cast<std::uint32_t>(c - 'a' + 10);
    } else if (hex && c >= 'A' && c <= 'F') {
      digit = static_cast<std::uint32_t>(c - 'A' + 10);
    } else {
      return std::nullopt;
    }
    value = value * (hex ? 16u : 10u) + digit;
    if (value > 0x10FFFF) return std::nullopt;  // stop before the value can wrap
  }
  return value;
}

std::optional<char> predefined_entity(std::string_view name) {
  if (name == "lt") return '<';
  if (name == "gt") return '>';
  if (name == "amp") return '&';
  if (name == "apos") return '\'';
  if (name == "quot") return '"';
  return std::nullopt;
}

}  // namespace

AttributeReader::AttributeReader(const Event& tag)
    : rest_(tag.bytes.substr(tag.name.size())), offset_(tag.offset + 1 + tag.name.size()) {}

XmlResult<std::optional<Attribute>> AttributeReader::next() {
  const auto advance = [this](std::size_t n) {
    rest_.remove_prefix(n);
    offset_ += n;
  };
  const auto skip_space = [&] {
    std::size_t n = 0;
    while (n < rest_.size() && is_xml_space(rest_[n])) ++n;
    advance(n);
  };

  skip_space();
  if (rest_.empty()) return std::optional<Attribute>{};
  const std::uint64_t name_offset = offset_;
  std::size_t n = 0;
  while (n < rest_.size() && !is_xml_space(rest_[n]) && rest_[n] != '=' && rest_[n] != '"' &&
         rest_[n] != '\'') {
    ++n;
  }
  if (n == 0) return error_at("attribute without a name", name_offset);
  const std::string_view name = rest_.substr(0, n);
  const auto quoted = [name] { return enclosed("'", name, "'"); };
  advance(n);

  skip_space();
  if (rest_.empty() || rest_.front() != '=') {
    return error_at("attribute " + quoted() + " without '='", name_offset);
  }
  advance(1);
  skip_space();
  if (rest_.empty()) return error_at("attribute " + quoted() + " without a value", name_offset);
  const char quote = rest_.front();
  if (quote != '"' && quote != '\'') {
    return error_at("value of attribute " + quoted() + " is not quoted", offset_);
  }
  const std::size_t close = rest_.find(quote, 1);
  if (close == std::string_view::npos) {
    return error_at("value of attribute " + quoted() + " has no closing quote", offset_);
  }
  const Attribute attribute{name, rest_.substr(1, close - 1), offset_ + 1};
  advance(close + 1);

  if (!first_time(name)) {
    return error_at("attribute " + quoted() + " repeated", name_offset);
  }
  return std::optional<Attribute>(attribute);
}

bool AttributeReader::first_time(std::string_view name) {
  const auto known = std::span(first_).first(std::min(count_, few));
  if (std::ranges::find(known, name) != known.end()) return false;
  if (count_ < few) {
    first_[count_++] = name;
    return true;
  }
  if (count_ == few) {
    more_.insert(first_.begin(), first_.end());
    ++count_;
  }
  return more_.insert(name).second;
}

XmlResult<std::string> unescape_value(const Attribute& attribute) {
  const std::string_view raw = attribute.value;
  if (auto invalid = check_utf8(raw, attribute.value_offset)) return fail(std::move(*invalid));
  std::string value;
  value.reserve(raw.size());
  std::size_t i = 0;
  while (i < raw.size()) {
    const std::size_t amp = raw.find('&', i);
    if (amp == std::string_view::npos) {
      value.append(raw.substr(i));
      break;
    }
    value.append(raw.substr(i, amp - i));
    const std::uint64_t offset = attribute.value_offset + amp;
    const std::size_t semicolon = raw.find(';', amp + 1);
    const std::size_t next_amp = raw.find('&', amp + 1);
    if (semicolon == std::string_view::npos || next_amp < semicolon) {
      return error_at("reference without ';' in attribute value", offset);
    }
    const std::string_view name = raw.substr(amp + 1, semicolon - amp - 1);
    if (auto invalid = append_reference(name, offset, value)) return fail(std::move(*invalid));
    i = semicolon + 1;
  }
  return value;
}

std::optional<Error> append_reference(std::string_view name, std::uint64_t offset,
                                      std::string& out) {
  const std::string shown = enclosed("&", name, ";");
  if (name.starts_with('#')) {
    const auto code = character_reference(name);
    if (!code) return Error{"invalid character reference " + shown, offset};
    if (!is_xml_char(*code)) {
      return Error{"character reference " + shown + " is not an XML character", offset};
    }
    append_utf8(out, *code);
  } else if (const auto c = predefined_entity(name)) {
    out.push_back(*c);
  } else {
    return Error{"unknown entity " + shown, offset};
  }
  return std::nullopt;
}

std::optional<Error> check_utf8(std::string_view bytes, std::uint64_t offset) {
  const std::size_t bad = first_invalid_utf8(bytes);
  if (bad == std::string_view::npos) return std::nullopt;
  return Error{"invalid UTF-8", offset + bad, ErrorKind::encoding};
}

}  // namespace morvex::xml
