// A small streaming XML pull parser: one event per request, raw names, attributes and
// reference expansion only on request, and a forgiving end of input.
//
// It deliberately checks less than a conforming parser: references in character data are
// handed over as events instead of being expanded, comments may hold "--", and input that
// ends outside markup is simply the end of the document, open elements or not. What it does
// check (markup syntax, end tags against the open elements, a lone "&") it reports as an
// Error naming what was wrong and the byte offset where it was found.
//
// Readers need not track elements themselves: the parser keeps the path of open elements,
// each with marks a reader may set on it that its children inherit, and on request gathers
// an element's whole text with its references expanded.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

#include "core/input.hpp"
#include "core/result.hpp"
#include "xml/error.hpp"

namespace morvex::xml {

enum class EventKind {
  start_tag,
  end_tag,
  empty_tag,  // <name .../>, one event, never a start and an end
  text,
  cdata,
  comment,
  declaration,  // <?xml ...?>
  processing_instruction,
  doctype,
  reference,  // &name; or &#...; in character data, never expanded
  end_of_input,
};

// One event; the views stay valid until the next call of PullParser::next().
struct Event {
  EventKind kind = EventKind::end_of_input;
  // Tags: everything between "<" (or "</") and ">" (without the "/" of an empty tag).
  // Text: the character data with XML white space trimmed off both ends. CDATA, comments,
  // declarations, processing instructions and the document type: what lies between their
  // opening and closing delimiters. Reference: the part between "&" and ";".
  std::string_view bytes;
  // Tags only: the qualified name as written, prefix included.
  std::string_view name;
  // Where the event starts in the input: its "<", its "&" or its first byte of text.
  std::uint64_t offset = 0;
};

class PullParser {
 public:
  static constexpr std::size_t buffer_size = Input::buffer_size;

  // Reads the input from its current position, strictly forward; a byte-order mark at the
  // very start is skipped.
  explicit PullParser(Input& input) : input_(input) { input_.skip_byte_order_mark(); }
  PullParser(const PullParser&) = delete;
  PullParser& operator=(const PullParser&) = delete;

  // The next event, or the error that stopped the document. After the end of input or an
  // error every further call returns the same again.
  XmlResult<Event> next();

  // Number of elements opened and not yet closed; a start tag's element is open already.
  std::size_t depth() const { return open_.size(); }

  // The name, as written, of the `up`-th element around the last event: 0 the one that
  // holds it, 1 that one's parent, and so on; empty beyond the root. A start tag is held by
  // its parent, as an empty tag or an end tag is.
  std::string_view around(std::size_t up) const;

  // The qualified name and the start tag's offset of the open element at `level`, 0 the
  // outermost; level < depth().
  std::string_view open_name(std::size_t level) const;
  std::uint64_t open_offset(std::size_t level) const { return open_[level].offset; }

  // Bits a reader gives an element, such as "inside the 2θ positions": each element starts
  // with its parent's, so a mark holds for everything inside, and ends with the element.
  std::uint32_t marks() const { return open_.empty() ? 0 : open_.back().marks; }
  // Replaces the marks of the element the last event opened; after any other event it does
  // nothing, so that no enclosing element is marked by mistake.
  void set_marks(std::uint32_t marks) {
    if (opened_) open_.back().marks = marks;
  }

  // Right after a start tag: the element's text up to and including its end tag, which is
  // then closed. Text and CDATA sections of the element and of any element inside it are
  // joined, references expanded and white space kept; markup, comments and processing
  // instructions add nothing. The text must be UTF-8 (an encoding error otherwise), and the
  // input must not end before the end tag. After any other event: empty, nothing read. The
  // view stays valid until the next call of next() or element_text().
  XmlResult<std::string_view> element_text();

  // Reads past the element just opened, to its end tag, without events: what it holds is
  // neither parsed nor checked, only its end found (elements of its name inside it are
  // counted). For large sections a reader has no use for. True when it skipped, false where
  // the last event was no start tag.
  XmlResult<bool> skip_element();

 private:
  XmlResult<Event> read_event();
  XmlResult<Event> read_piece();
  Failure<Error> stop(Error error);
  XmlResult<Event> read_text(std::uint64_t offset);
  void reserve_for_long_text();
  XmlResult<Event> read_reference(std::uint64_t offset);
  XmlResult<Event> read_markup(std::uint64_t offset);
  XmlResult<Event> read_tag(std::uint64_t offset);
  XmlResult<Event> read_end_tag(std::uint64_t offset);
  XmlResult<Event> read_bang(std::uint64_t offset);
  XmlResult<Event> read_question(std::uint64_t offset);
  XmlResult<Event> read_doctype(std::uint64_t offset);
  XmlResult<Event> read_delimited(EventKind kind, std::string_view close, std::uint64_t offset,
                                  const char* inside);

  // The next input byte, or -1 at the end of input or on a read error (then io_error_ is set).
  int get() {
    const std::string_view ahead = input_.buffered();
    if (ahead.empty()) return get_slow();
    input_.consume(1);
    return static_cast<unsigned char>(ahead.front());
  }
  int get_slow();
  // The buffered bytes, refilled when none are left; empty at the end of input or on error.
  std::string_view ahead();
  std::uint64_t here() const { return input_.offset(); }
  Failure<Error> end_inside(const char* inside, std::uint64_t offset);

  Input& input_;
  std::optional<Error> io_error_;
  std::optional<Error> failure_;  // sticky: the error returned once is returned again
  bool finished_ = false;

  std::string event_;  // the one reused event buffer
  std::string text_;   // the gathered text of an element

  // Names of the open elements, concatenated, and for each the end of its name, its offset
  // and its marks; kept on the heap so that any depth of nesting costs memory, not stack.
  struct OpenElement {
    std::size_t name_end;
    std::uint64_t offset;
    std::uint32_t marks;
  };
  std::string open_names_;
  std::vector<OpenElement> open_;
  bool opened_ = false;  // the last event was a start tag
};

}  // namespace morvex::xml
