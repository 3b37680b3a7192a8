#include "xml/pull_parser.hpp"

#include <cstring>
#include <span>

#include "core/utf8.hpp"

namespace morvex::xml {
namespace {

constexpr std::string_view byte_order_mark = "\xEF\xBB\xBF";

bool is_xml_space(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

std::string_view trim_xml_space(std::string_view text) {
  std::size_t first = 0;
  while (first < text.size() && is_xml_space(text[first])) ++first;
  std::size_t last = text.size();
  while (last > first && is_xml_space(text[last - 1])) --last;
  return text.substr(first, last - first);
}

std::string_view first_word(std::string_view text) {
  std::size_t n = 0;
  while (n < text.size() && !is_xml_space(text[n])) ++n;
  return text.substr(0, n);
}

// Built by appending: GCC 12 warns wrongly (-Wrestrict) about "literal" + std::string.
std::string enclosed(std::string_view open, std::string_view text, std::string_view close) {
  std::string result;
  result.reserve(open.size() + text.size() + close.size());
  result.append(open).append(text).append(close);
  return result;
}

Failure<Error> error_at(std::string what, std::uint64_t offset) {
  return fail(Error{std::move(what), offset});
}

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

std::string Error::description() const {
  return what + " at byte " + std::to_string(offset);
}

// ---------------------------------------------------------------------------------------
// Input

bool PullParser::refill() {
  if (input_done_) return false;
  consumed_ += end_;
  position_ = 0;
  end_ = 0;
  auto got = source_.read(std::span<char>(buffer_.data(), buffer_.size()));
  if (!got) {
    io_error_ = Error{"read failed: " + got.error().message(), consumed_};
    input_done_ = true;
    return false;
  }
  end_ = got.value();
  if (end_ == 0) input_done_ = true;
  return end_ > 0;
}

int PullParser::get_slow() {
  if (!refill()) return -1;
  return static_cast<unsigned char>(buffer_[position_++]);
}

// The mark may arrive over several short reads, so the first three bytes are gathered
// before they are compared.
void PullParser::skip_byte_order_mark() {
  at_start_ = false;
  while (end_ < byte_order_mark.size() && !input_done_) {
    auto got = source_.read(std::span<char>(buffer_.data() + end_, buffer_.size() - end_));
    if (!got) {
      io_error_ = Error{"read failed: " + got.error().message(), end_};
      input_done_ = true;
    } else if (got.value() == 0) {
      input_done_ = true;
    } else {
      end_ += got.value();
    }
  }
  if (std::string_view(buffer_.data(), end_).starts_with(byte_order_mark)) {
    position_ = byte_order_mark.size();
  }
}

Failure<Error> PullParser::end_inside(const char* inside, std::uint64_t offset) {
  if (io_error_) return fail(*io_error_);
  return error_at(std::string("unexpected end of input inside ") + inside, offset);
}

// ---------------------------------------------------------------------------------------
// Events

XmlResult<Event> PullParser::next() {
  if (failure_) return fail(*failure_);
  if (finished_) return Event{EventKind::end_of_input, {}, {}, here()};
  auto event = read_event();
  if (!event) {
    failure_ = event.error();
  } else if (event->kind == EventKind::end_of_input) {
    finished_ = true;
  }
  return event;
}

XmlResult<Event> PullParser::read_event() {
  if (at_start_) skip_byte_order_mark();
  for (;;) {
    event_.clear();
    if (position_ == end_ && !refill()) {
      if (io_error_) return fail(*io_error_);
      return Event{EventKind::end_of_input, {}, {}, here()};
    }
    const std::uint64_t offset = here();
    const char c = buffer_[position_];
    if (c == '<') {
      ++position_;
      return read_markup(offset);
    }
    if (c == '&') {
      ++position_;
      return read_reference(offset);
    }
    auto text = read_text(offset);
    // A stretch of white space alone is no event; go on to what follows it.
    if (!text || !text->bytes.empty()) return text;
  }
}

// Character data up to the next "<" or "&" or the end of input.
XmlResult<Event> PullParser::read_text(std::uint64_t offset) {
  for (;;) {
    const char* p = buffer_.data() + position_;
    const std::size_t available = end_ - position_;
    const void* lt = std::memchr(p, '<', available);
    const char* stop = lt ? static_cast<const char*>(lt) : p + available;
    if (const void* amp = std::memchr(p, '&', static_cast<std::size_t>(stop - p))) {
      stop = static_cast<const char*>(amp);
    }
    const auto length = static_cast<std::size_t>(stop - p);
    event_.append(p, length);
    position_ += length;
    if (position_ < end_ || !refill()) break;
  }
  // A read error cuts the text short, so it must not pass for the end of the document.
  if (io_error_) return fail(*io_error_);
  const std::string_view text = trim_xml_space(event_);
  const auto leading = static_cast<std::uint64_t>(text.data() - event_.data());
  return Event{EventKind::text, text, {}, offset + leading};
}

XmlResult<Event> PullParser::read_reference(std::uint64_t offset) {
  for (;;) {
    const int b = get();
    if (b == ';') break;
    if (b < 0 && io_error_) return fail(*io_error_);
    if (b < 0 || b == '&' || b == '<') return error_at("'&' without a closing ';'", offset);
    event_.push_back(static_cast<char>(b));
  }
  if (event_.empty()) return error_at("empty reference '&;'", offset);
  return Event{EventKind::reference, event_, {}, offset};
}

XmlResult<Event> PullParser::read_markup(std::uint64_t offset) {
  const int b = get();
  if (b < 0) return end_inside("markup", offset);
  if (b == '/') return read_end_tag(offset);
  if (b == '!') return read_bang(offset);
  if (b == '?') return read_question(offset);
  if (b == '>') return error_at("missing element name", offset);
  event_.push_back(static_cast<char>(b));
  return read_tag(offset);
}

// A start or empty-element tag. A ">" inside a quoted attribute value does not end it.
XmlResult<Event> PullParser::read_tag(std::uint64_t offset) {
  int quote = 0;
  if (event_.back() == '"' || event_.back() == '\'') quote = event_.back();
  for (;;) {
    const int b = get();
    if (b < 0) return end_inside("a start tag", offset);
    if (quote != 0) {
      if (b == quote) quote = 0;
    } else if (b == '"' || b == '\'') {
      quote = b;
    } else if (b == '>') {
      break;
    }
    event_.push_back(static_cast<char>(b));
  }
  std::string_view content = event_;
  const bool empty = content.ends_with('/');
  if (empty) content.remove_suffix(1);
  const std::string_view name = first_word(content);
  if (name.empty()) return error_at("missing element name", offset);
  if (!empty) {
    open_names_.append(name);
    open_ends_.push_back(open_names_.size());
  }
  return Event{empty ? EventKind::empty_tag : EventKind::start_tag, content, name, offset};
}

XmlResult<Event> PullParser::read_end_tag(std::uint64_t offset) {
  for (;;) {
    const int b = get();
    if (b < 0) return end_inside("an end tag", offset);
    if (b == '>') break;
    event_.push_back(static_cast<char>(b));
  }
  // White space may follow the name; everything else belongs to it and must match.
  std::string_view name = event_;
  while (!name.empty() && is_xml_space(name.back())) name.remove_suffix(1);
  if (name.empty()) return error_at("missing element name in an end tag", offset);
  const auto shown = [name] { return enclosed("end tag </", name, ">"); };
  if (open_ends_.empty()) return error_at(shown() + " without an open element", offset);
  const std::size_t last_end = open_ends_.back();
  const std::size_t last_begin = open_ends_.size() > 1 ? open_ends_[open_ends_.size() - 2] : 0;
  const std::string_view open(open_names_.data() + last_begin, last_end - last_begin);
  if (name != open) {
    return error_at(shown() + enclosed(" does not match the open element <", open, ">"), offset);
  }
  open_ends_.pop_back();
  open_names_.resize(last_begin);
  return Event{EventKind::end_tag, event_, name, offset};
}

// "<!": a comment, a CDATA section or the document type declaration.
XmlResult<Event> PullParser::read_bang(std::uint64_t offset) {
  // Reads the bytes of `expected` one by one: 1 when they all match, 0 at the first
  // mismatch, -1 at the end of input.
  const auto expect = [this](std::string_view expected) {
    for (const char c : expected) {
      const int b = get();
      if (b < 0) return -1;
      if (b != static_cast<unsigned char>(c)) return 0;
    }
    return 1;
  };
  const int b = get();
  if (b < 0) return end_inside("markup", offset);
  int matched;
  if (b == '-') {
    matched = expect("-");
    if (matched > 0) return read_delimited(EventKind::comment, "-->", offset, "a comment");
  } else if (b == '[') {
    matched = expect("CDATA[");
    if (matched > 0) return read_delimited(EventKind::cdata, "]]>", offset, "a CDATA section");
  } else if (b == 'D') {
    matched = expect("OCTYPE");
    if (matched > 0) return read_doctype(offset);
  } else {
    matched = 0;
  }
  if (matched < 0) return end_inside("markup", offset);
  return error_at("unknown markup after '<!'", offset);
}

XmlResult<Event> PullParser::read_question(std::uint64_t offset) {
  auto event =
      read_delimited(EventKind::processing_instruction, "?>", offset, "a processing instruction");
  if (!event) return event;
  const std::string_view target = first_word(event->bytes);
  if (target.empty()) return error_at("missing processing instruction target", offset);
  if (target == "xml") event->kind = EventKind::declaration;
  return event;
}

// Everything up to the first occurrence of `close`, which is consumed but not delivered.
XmlResult<Event> PullParser::read_delimited(EventKind kind, std::string_view close,
                                            std::uint64_t offset, const char* inside) {
  const char last = close.back();
  for (;;) {
    if (position_ == end_ && !refill()) return end_inside(inside, offset);
    // Copy up to and including the next possible final byte of the delimiter at once.
    const char* p = buffer_.data() + position_;
    const std::size_t available = end_ - position_;
    const void* hit = std::memchr(p, last, available);
    const std::size_t length =
        hit ? static_cast<std::size_t>(static_cast<const char*>(hit) - p) + 1 : available;
    event_.append(p, length);
    position_ += length;
    if (hit && event_.ends_with(close)) break;
  }
  const std::string_view content(event_.data(), event_.size() - close.size());
  return Event{kind, content, {}, offset};
}

// The internal subset in brackets may hold declarations with ">" and quoted literals, so
// the declaration ends at the first ">" outside both.
XmlResult<Event> PullParser::read_doctype(std::uint64_t offset) {
  int quote = 0;
  std::size_t brackets = 0;
  for (;;) {
    const int b = get();
    if (b < 0) return end_inside("the document type declaration", offset);
    if (quote != 0) {
      if (b == quote) quote = 0;
    } else if (b == '"' || b == '\'') {
      quote = b;
    } else if (b == '[') {
      ++brackets;
    } else if (b == ']') {
      if (brackets > 0) --brackets;
    } else if (b == '>' && brackets == 0) {
      break;
    }
    event_.push_back(static_cast<char>(b));
  }
  return Event{EventKind::doctype, event_, {}, offset};
}

// ---------------------------------------------------------------------------------------
// Attributes

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
  const std::string quoted = enclosed("'", name, "'");
  advance(n);

  skip_space();
  if (rest_.empty() || rest_.front() != '=') {
    return error_at("attribute " + quoted + " without '='", name_offset);
  }
  advance(1);
  skip_space();
  if (rest_.empty()) return error_at("attribute " + quoted + " without a value", name_offset);
  const char quote = rest_.front();
  if (quote != '"' && quote != '\'') {
    return error_at("value of attribute " + quoted + " is not quoted", offset_);
  }
  const std::size_t close = rest_.find(quote, 1);
  if (close == std::string_view::npos) {
    return error_at("value of attribute " + quoted + " has no closing quote", offset_);
  }
  const Attribute attribute{name, rest_.substr(1, close - 1), offset_ + 1};
  advance(close + 1);

  // A set, not a list: a tag with very many attributes must not cost a comparison per pair.
  if (!seen_.insert(name).second) {
    return error_at("attribute " + quoted + " repeated", name_offset);
  }
  return std::optional<Attribute>(attribute);
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
    const std::string shown = enclosed("&", name, ";");
    if (name.starts_with('#')) {
      const auto code = character_reference(name);
      if (!code) return error_at("invalid character reference " + shown, offset);
      if (!is_xml_char(*code)) {
        return error_at("character reference " + shown + " is not an XML character", offset);
      }
      append_utf8(value, *code);
    } else if (const auto c = predefined_entity(name)) {
      value.push_back(*c);
    } else {
      return error_at("unknown entity " + shown, offset);
    }
    i = semicolon + 1;
  }
  return value;
}

std::optional<Error> check_utf8(std::string_view bytes, std::uint64_t offset) {
  const std::size_t bad = first_invalid_utf8(bytes);
  if (bad == std::string_view::npos) return std::nullopt;
  return Error{"invalid UTF-8", offset + bad};
}

}  // namespace morvex::xml
