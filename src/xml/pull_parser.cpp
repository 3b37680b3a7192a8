#include "xml/pull_parser.hpp"

#include <cstring>
#include <span>

#include "core/memory.hpp"
#include "xml/markup.hpp"

namespace morvex::xml {
namespace {

constexpr std::string_view cdata_open = "<![CDATA[";

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

// Follows quoted literals: true when `b` belongs to one, its quotes included. `quote` is
// the open quote character, 0 outside.
bool in_literal(int b, int& quote) {
  if (quote != 0) {
    if (b == quote) quote = 0;
    return true;
  }
  if (b != '"' && b != '\'') return false;
  quote = b;
  return true;
}

}  // namespace

std::string Error::description() const {
  return what + " at byte " + std::to_string(offset);
}

// ---------------------------------------------------------------------------------------
// Input

std::string_view PullParser::ahead() {
  if (input_.buffered().empty() && !input_.refill() && input_.failed() && !io_error_) {
    io_error_ = Error{"read failed: " + input_.error()->message(), here()};
  }
  return input_.buffered();
}

int PullParser::get_slow() {
  const std::string_view bytes = ahead();
  if (bytes.empty()) return -1;
  input_.consume(1);
  return static_cast<unsigned char>(bytes.front());
}

Failure<Error> PullParser::end_inside(const char* inside, std::uint64_t offset) {
  if (io_error_) return fail(*io_error_);
  return error_at(std::string("unexpected end of input inside ") + inside, offset);
}

// ---------------------------------------------------------------------------------------
// Events

XmlResult<Event> PullParser::next() {
  opened_ = false;
  if (failure_) return fail(*failure_);
  if (finished_) return Event{EventKind::end_of_input, {}, {}, here()};
  auto event = read_event();
  if (!event) return stop(std::move(event).error());
  if (event->kind == EventKind::end_of_input) finished_ = true;
  opened_ = event->kind == EventKind::start_tag;
  return event;
}

Failure<Error> PullParser::stop(Error error) {
  failure_ = error;
  return fail(std::move(error));
}

XmlResult<Event> PullParser::read_event() {
  for (;;) {
    auto event = read_piece();
    if (!event || event->kind != EventKind::text) return event;
    // Text is trimmed, and a stretch of white space alone is no event: go on to what follows.
    const std::string_view text = trim_xml_space(event->bytes);
    if (!text.empty()) {
      event->offset += static_cast<std::uint64_t>(text.data() - event->bytes.data());
      event->bytes = text;
      return event;
    }
  }
}

// One piece of the document as it stands: text is not trimmed, white space alone included.
XmlResult<Event> PullParser::read_piece() {
  event_.clear();
  const std::string_view bytes = ahead();
  if (bytes.empty()) {
    if (io_error_) return fail(*io_error_);
    return Event{EventKind::end_of_input, {}, {}, here()};
  }
  const std::uint64_t offset = here();
  const char c = bytes.front();
  if (c == '<') {
    input_.consume(1);
    return read_markup(offset);
  }
  if (c == '&') {
    input_.consume(1);
    return read_reference(offset);
  }
  return read_text(offset);
}

XmlResult<bool> PullParser::skip_element() {
  if (!opened_) return false;
  opened_ = false;
  const std::size_t level = open_.size() - 1;
  const std::string name(open_name(level));
  const std::uint64_t offset = open_offset(level);
  std::size_t nested = 0;  // open elements of the same name inside
  for (;;) {
    const std::string_view bytes = ahead();
    if (bytes.empty()) return stop(end_inside("an element skipped", offset).error);
    const void* lt = std::memchr(bytes.data(), '<', bytes.size());
    if (!lt) {
      input_.consume(bytes.size());
      continue;
    }
    input_.consume(static_cast<std::size_t>(static_cast<const char*>(lt) - bytes.data()));
    // "</name>" or "<name" followed by what ends a name, with the tag's end where it opens one.
    const std::string_view tag = input_.peek(name.size() + 3);
    const bool closing = tag.starts_with("</");
    const std::string_view rest = tag.substr(closing ? 2 : 1);
    const bool named = rest.starts_with(name) && rest.size() > name.size() &&
                       (is_xml_space(rest[name.size()]) || rest[name.size()] == '>' ||
                        (!closing && rest[name.size()] == '/'));
    if (!named) {
      input_.consume(1);
      continue;
    }
    const std::string_view through = input_.peek(Input::buffer_size);
    const std::size_t end = through.find('>');
    if (end == std::string_view::npos) return stop(end_inside("an element skipped", offset).error);
    input_.consume(end + 1);
    if (!closing) {
      if (through[end - 1] != '/') ++nested;
    } else if (nested-- == 0) {
      open_names_.resize(open_names_.size() - name.size());
      open_.pop_back();
      return true;
    }
  }
}

// Reads on to the end tag of the element just opened; its own end tag is the first that
// brings the depth below where it began.
XmlResult<std::string_view> PullParser::element_text() {
  text_.clear();
  if (!opened_) return std::string_view(text_);
  opened_ = false;
  const std::size_t level = open_.size() - 1;
  for (;;) {
    auto piece = read_piece();
    if (!piece) return stop(std::move(piece).error());
    switch (piece->kind) {
      case EventKind::text:
      case EventKind::cdata: {
        // A CDATA section's offset is that of its "<![CDATA[", before the text.
        const std::uint64_t at =
            piece->offset + (piece->kind == EventKind::cdata ? cdata_open.size() : 0);
        if (auto invalid = check_utf8(piece->bytes, at)) return stop(*invalid);
        text_.append(piece->bytes);
        break;
      }
      case EventKind::reference:
        if (auto invalid = append_reference(piece->bytes, piece->offset, text_)) {
          return stop(*invalid);
        }
        break;
      case EventKind::end_tag:
        if (open_.size() == level) return std::string_view(text_);
        break;
      case EventKind::end_of_input:
        return stop(Error{enclosed("unexpected end of input inside <", open_name(level), ">"),
                          open_offset(level)});
      default:  // markup inside adds nothing
        break;
    }
  }
}

std::string_view PullParser::around(std::size_t up) const {
  const std::size_t held = open_.size() - (opened_ ? 1 : 0);
  return up < held ? open_name(held - 1 - up) : std::string_view();
}

std::string_view PullParser::open_name(std::size_t level) const {
  const std::size_t begin = level > 0 ? open_[level - 1].name_end : 0;
  return std::string_view(open_names_).substr(begin, open_[level].name_end - begin);
}

// Character data up to the next "<" or "&" or the end of input.
XmlResult<Event> PullParser::read_text(std::uint64_t offset) {
  for (;;) {
    const std::string_view bytes = input_.buffered();
    const char* p = bytes.data();
    const void* lt = std::memchr(p, '<', bytes.size());
    const char* stop = lt ? static_cast<const char*>(lt) : p + bytes.size();
    if (const void* amp = std::memchr(p, '&', static_cast<std::size_t>(stop - p))) {
      stop = static_cast<const char*>(amp);
    }
    const auto length = static_cast<std::size_t>(stop - p);
    if (length == bytes.size()) reserve_for_long_text();
    event_.append(p, length);
    input_.consume(length);
    if (length < bytes.size() || ahead().empty()) break;
  }
  // A read error cuts the text short, so it must not pass for the end of the document.
  if (io_error_) return fail(*io_error_);
  return Event{EventKind::text, event_, {}, offset};
}

// Text that runs on past the buffer may be most of the input, as a scan's intensities are:
// room for all the rest of it where its size is known, instead of growing by doubling, which
// copies the text and touches twice its memory. Room never used is never touched.
void PullParser::reserve_for_long_text() {
  const auto rest = input_.remaining_size();
  if (rest && *rest < event_.max_size() - event_.size()) {
    reserve_room(event_, event_.size() + static_cast<std::size_t>(*rest));
  }
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
  char quote = 0;
  if (event_.back() == '"' || event_.back() == '\'') quote = event_.back();
  // A buffer's worth at a time: the bytes up to the ">" that ends the tag, or all of them.
  for (;;) {
    const std::string_view bytes = ahead();
    if (bytes.empty()) return end_inside("a start tag", offset);
    std::size_t n = 0;
    bool ended = false;
    for (; n < bytes.size(); ++n) {
      const char c = bytes[n];
      if (quote != 0) {
        if (c == quote) quote = 0;
      } else if (c == '"' || c == '\'') {
        quote = c;
      } else if (c == '>') {
        ended = true;
        break;
      }
    }
    event_.append(bytes.data(), n);
    input_.consume(ended ? n + 1 : n);
    if (ended) break;
  }
  std::string_view content = event_;
  const bool empty = content.ends_with('/');
  if (empty) content.remove_suffix(1);
  const std::string_view name = first_word(content);
  if (name.empty()) return error_at("missing element name", offset);
  if (!empty) {
    const std::uint32_t marks = open_.empty() ? 0 : open_.back().marks;
    open_names_.append(name);
    open_.push_back({open_names_.size(), offset, marks});
  }
  return Event{empty ? EventKind::empty_tag : EventKind::start_tag, content, name, offset};
}

XmlResult<Event> PullParser::read_end_tag(std::uint64_t offset) {
  for (;;) {
    const std::string_view bytes = ahead();
    if (bytes.empty()) return end_inside("an end tag", offset);
    const void* close = std::memchr(bytes.data(), '>', bytes.size());
    const std::size_t n =
        close ? static_cast<std::size_t>(static_cast<const char*>(close) - bytes.data())
              : bytes.size();
    event_.append(bytes.data(), n);
    input_.consume(close ? n + 1 : n);
    if (close) break;
  }
  // White space may follow the name; everything else belongs to it and must match.
  std::string_view name = event_;
  while (!name.empty() && is_xml_space(name.back())) name.remove_suffix(1);
  if (name.empty()) return error_at("missing element name in an end tag", offset);
  const auto shown = [name] { return enclosed("end tag </", name, ">"); };
  if (open_.empty()) return error_at(shown() + " without an open element", offset);
  const std::string_view open = open_name(open_.size() - 1);
  if (name != open) {
    return error_at(shown() + enclosed(" does not match the open element <", open, ">"), offset);
  }
  open_names_.resize(static_cast<std::size_t>(open.data() - open_names_.data()));
  open_.pop_back();
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
    const std::string_view bytes = ahead();
    if (bytes.empty()) return end_inside(inside, offset);
    // Copy up to and including the next possible final byte of the delimiter at once.
    const char* p = bytes.data();
    const void* hit = std::memchr(p, last, bytes.size());
    const std::size_t length =
        hit ? static_cast<std::size_t>(static_cast<const char*>(hit) - p) + 1 : bytes.size();
    event_.append(p, length);
    input_.consume(length);
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
    if (in_literal(b, quote)) {
      // nothing inside a literal counts
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

}  // namespace morvex::xml
