// A small streaming XML pull parser: one event per request, raw names, attributes and
// reference expansion only on request, and a forgiving end of input.
//
// It deliberately checks less than a conforming parser: references in character data are
// handed over as events instead of being expanded, comments may hold "--", and input that
// ends outside markup is simply the end of the document, open elements or not. What it does
// check (markup syntax, end tags against the open elements, a lone "&") it reports as an
// Error naming what was wrong and the byte offset where it was found.
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

  // Number of elements opened and not yet closed.
  std::size_t depth() const { return open_ends_.size(); }

 private:
  XmlResult<Event> read_event();
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

  // Names of the open elements, concatenated, with the end of each; kept on the heap so
  // that any depth of nesting costs memory, not stack.
  std::string open_names_;
  std::vector<std::size_t> open_ends_;
};

}  // namespace morvex::xml
