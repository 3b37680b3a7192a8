#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

#include "test_sources.hpp"
#include "xml/attributes.hpp"
#include "xml/pull_parser.hpp"

namespace morvex::xml {
namespace {

using morvex::ChunkedSource;

// Appends instead of `"literal" + std::string`, about which GCC 12 warns wrongly (-Wrestrict).
std::string labelled(std::string_view label, std::string_view text) {
  std::string result(label);
  result.append(text);
  return result;
}

const char* kind_name(EventKind kind) {
  switch (kind) {
    case EventKind::start_tag:
      return "start";
    case EventKind::end_tag:
      return "end";
    case EventKind::empty_tag:
      return "empty";
    case EventKind::text:
      return "text";
    case EventKind::cdata:
      return "cdata";
    case EventKind::comment:
      return "comment";
    case EventKind::declaration:
      return "decl";
    case EventKind::processing_instruction:
      return "pi";
    case EventKind::doctype:
      return "doctype";
    case EventKind::reference:
      return "ref";
    case EventKind::end_of_input:
      return "eof";
  }
  return "?";
}

// Every event as "kind:bytes" (tags as "kind:name"), ending with "eof" or "error:<description>".
std::vector<std::string> events_of(ByteSource& source) {
  Input input(source);
  PullParser parser(input);
  std::vector<std::string> events;
  for (;;) {
    auto event = parser.next();
    if (!event) {
      events.push_back(labelled("error:", event.error().description()));
      return events;
    }
    const bool tag = event->kind == EventKind::start_tag || event->kind == EventKind::end_tag ||
                     event->kind == EventKind::empty_tag;
    std::string shown = kind_name(event->kind);
    if (event->kind != EventKind::end_of_input) {
      shown += ':';
      shown += tag ? event->name : event->bytes;
    }
    events.push_back(shown);
    if (event->kind == EventKind::end_of_input) return events;
  }
}

std::vector<std::string> events_of(std::string_view document, std::size_t chunk = 1 << 20) {
  ChunkedSource source(std::string(document), chunk);
  return events_of(source);
}

std::string error_of(std::string_view document) {
  const auto events = events_of(document);
  return events.back().starts_with("error:") ? events.back().substr(6) : "no error";
}

using Events = std::vector<std::string>;

TEST(XmlPullParserEvents, EachKindOnce) {
  EXPECT_EQ(events_of("<?xml version=\"1.0\"?><!DOCTYPE r><!-- c --><?pi data?>"
                      "<r><e/>t<![CDATA[<raw>]]>&amp;</r>"),
            (Events{"decl:xml version=\"1.0\"", "doctype: r", "comment: c ", "pi:pi data",
                    "start:r", "empty:e", "text:t", "cdata:<raw>", "ref:amp", "end:r", "eof"}));
}

TEST(XmlPullParserEvents, TagBytesAndOffsets) {
  ChunkedSource source("  <a k='v'>x</a><b />", 1 << 20);
  Input input(source);
  PullParser parser(input);
  auto start = parser.next();
  ASSERT_TRUE(start.ok());
  EXPECT_EQ(start->bytes, "a k='v'");
  EXPECT_EQ(start->offset, 2u);
  EXPECT_EQ(parser.depth(), 1u);
  auto text = parser.next();
  ASSERT_TRUE(text.ok());
  EXPECT_EQ(text->offset, 11u);
  auto end = parser.next();
  ASSERT_TRUE(end.ok());
  EXPECT_EQ(end->offset, 12u);
  EXPECT_EQ(parser.depth(), 0u);
  auto empty = parser.next();
  ASSERT_TRUE(empty.ok());
  EXPECT_EQ(empty->kind, EventKind::empty_tag);
  EXPECT_EQ(empty->bytes, "b ");
  EXPECT_EQ(parser.depth(), 0u);
}

TEST(XmlPullParserEvents, EmptyElementIsOneEventAndQuotesProtectMarkup) {
  EXPECT_EQ(events_of("<a/><b k=\"/\"></b><c k='x>y'/>"),
            (Events{"empty:a", "start:b", "end:b", "empty:c", "eof"}));
}

TEST(XmlPullParserEvents, DeclarationOnlyForTheXmlTarget) {
  EXPECT_EQ(events_of("<?xml-stylesheet href='s'?><?xml?>"),
            (Events{"pi:xml-stylesheet href='s'", "decl:xml", "eof"}));
  EXPECT_EQ(error_of("<?"
                     "?>"),
            "missing processing instruction target at byte 0");
}

TEST(XmlPullParserEvents, DoctypeWithInternalSubset) {
  EXPECT_EQ(events_of("<!DOCTYPE r [<!ENTITY e \"x>y\">]><r/>"),
            (Events{"doctype: r [<!ENTITY e \"x>y\">]", "empty:r", "eof"}));
}

TEST(XmlPullParserEvents, CommentsMayHoldDoubleHyphens) {
  EXPECT_EQ(events_of("<!-- a -- b --><!----><!-->-->"),
            (Events{"comment: a -- b ", "comment:", "comment:>", "eof"}));
}

TEST(XmlPullParserEvents, AfterTheEndEveryCallIsTheEnd) {
  ChunkedSource source("<a/>", 1 << 20);
  Input input(source);
  PullParser parser(input);
  ASSERT_TRUE(parser.next().ok());
  for (int i = 0; i < 3; ++i) {
    auto event = parser.next();
    ASSERT_TRUE(event.ok());
    EXPECT_EQ(event->kind, EventKind::end_of_input);
  }
}

TEST(XmlPullParserText, TrimmedAtBothEndsOfEachStretch) {
  EXPECT_EQ(events_of("<a>\r\n\t x  y \n</a>"), (Events{"start:a", "text:x  y", "end:a", "eof"}));
  EXPECT_EQ(events_of("<a> \n\t\r </a>  "), (Events{"start:a", "end:a", "eof"}));
  // Only XML white space is trimmed: a no-break space stays.
  EXPECT_EQ(events_of("<a>\xC2\xA0x</a>"), (Events{"start:a", "text:\xC2\xA0x", "end:a", "eof"}));
}

TEST(XmlPullParserText, ReferencesAreEventsOfTheirOwn) {
  EXPECT_EQ(events_of("<a>10&#46;5</a>"),
            (Events{"start:a", "text:10", "ref:#46", "text:5", "end:a", "eof"}));
  EXPECT_EQ(events_of("<a> x &lt; y </a>"),
            (Events{"start:a", "text:x", "ref:lt", "text:y", "end:a", "eof"}));
  EXPECT_EQ(events_of("&a;&b;"), (Events{"ref:a", "ref:b", "eof"}));
}

TEST(XmlPullParserText, CommentsAndCdataSplitText) {
  EXPECT_EQ(events_of("1 <!--c--> 2<![CDATA[ 3 ]]>4"),
            (Events{"text:1", "comment:c", "text:2", "cdata: 3 ", "text:4", "eof"}));
}

TEST(XmlPullParserText, LoneAmpersandIsAnError) {
  EXPECT_EQ(error_of("<a>x & y</a>"), "'&' without a closing ';' at byte 5");
  EXPECT_EQ(error_of("x &a&b;"), "'&' without a closing ';' at byte 2");
  EXPECT_EQ(error_of("x &amp"), "'&' without a closing ';' at byte 2");
  EXPECT_EQ(error_of("&;"), "empty reference '&;' at byte 0");
}

TEST(XmlPullParserNames, RawQualifiedNames) {
  EXPECT_EQ(events_of("<x:a xmlns:x='u'><x:b/></x:a>"),
            (Events{"start:x:a", "empty:x:b", "end:x:a", "eof"}));
}

TEST(XmlPullParserNames, EndTagMayEndInWhiteSpace) {
  EXPECT_EQ(events_of("<a></a \r\n\t>"), (Events{"start:a", "end:a", "eof"}));
}

TEST(XmlPullParserNames, EndTagMustMatchTheInnermostOpenElement) {
  EXPECT_EQ(error_of("<a><b></a></b>"),
            "end tag </a> does not match the open element <b> at byte 6");
  EXPECT_EQ(error_of("<x:a></a>"), "end tag </a> does not match the open element <x:a> at byte 5");
  EXPECT_EQ(error_of("<a></A>"), "end tag </A> does not match the open element <a> at byte 3");
  EXPECT_EQ(error_of("<a></ a>"), "end tag </ a> does not match the open element <a> at byte 3");
  EXPECT_EQ(error_of("<a></a>\n</a>"), "end tag </a> without an open element at byte 8");
}

TEST(XmlPullParserNames, MissingNames) {
  EXPECT_EQ(error_of("<>"), "missing element name at byte 0");
  EXPECT_EQ(error_of("< a>"), "missing element name at byte 0");
  EXPECT_EQ(error_of("<a></>"), "missing element name in an end tag at byte 3");
  EXPECT_EQ(error_of("<!FOO>"), "unknown markup after '<!' at byte 0");
  EXPECT_EQ(error_of("<!-x-->"), "unknown markup after '<!' at byte 0");
  EXPECT_EQ(error_of("<![CDATX[x]]>"), "unknown markup after '<!' at byte 0");
}

TEST(XmlPullParserNames, DeepNestingNeedsNoStack) {
  constexpr std::size_t depth = 1'000'000;
  std::string document;
  for (std::size_t i = 0; i < depth; ++i) document += "<a>";
  for (std::size_t i = 0; i < depth; ++i) document += "</a>";
  ChunkedSource source(document, 1 << 20);
  Input input(source);
  PullParser parser(input);
  std::size_t deepest = 0, events = 0;
  for (;;) {
    auto event = parser.next();
    ASSERT_TRUE(event.ok()) << event.error().description();
    if (event->kind == EventKind::end_of_input) break;
    deepest = std::max(deepest, parser.depth());
    ++events;
  }
  EXPECT_EQ(deepest, depth);
  EXPECT_EQ(events, 2 * depth);
  EXPECT_EQ(parser.depth(), 0u);
}

// The path around each event (innermost first) and the marks each element inherits.
TEST(XmlPullParserPath, AroundEachEventAndMarksThatEndWithTheElement) {
  ChunkedSource source("<r><a><b/>t</a><c>u</c></r>", 1 << 20);
  Input input(source);
  PullParser parser(input);
  std::vector<std::string> seen;
  for (auto event = parser.next(); event && event->kind != EventKind::end_of_input;
       event = parser.next()) {
    if (event->kind == EventKind::start_tag && event->name == "a") parser.set_marks(1);
    if (event->kind == EventKind::empty_tag) parser.set_marks(2);  // marks no parent
    const std::string name(event->kind == EventKind::text ? event->bytes : event->name);
    seen.push_back(labelled(name + " in ", parser.around(0)) + "," + std::string(parser.around(1)) +
                   " marks " + std::to_string(parser.marks()));
  }
  EXPECT_EQ(seen, (Events{"r in , marks 0", "a in r, marks 1", "b in a,r marks 1",
                          "t in a,r marks 1", "a in r, marks 0", "c in r, marks 0",
                          "u in c,r marks 0", "c in r, marks 0", "r in , marks 0"}));
}

std::string text_of(std::string_view document, std::size_t chunk = 1 << 20) {
  ChunkedSource source(std::string(document), chunk);
  Input input(source);
  PullParser parser(input);
  if (!parser.next().ok()) return "no start";
  auto text = parser.element_text();
  if (!text)
    return labelled(text.error().kind == ErrorKind::encoding ? "encoding:" : "error:",
                    text.error().description());
  auto after = parser.next();
  return std::string(*text) + "|" + (after ? std::string(after->name) : "?") + "|" +
         std::to_string(parser.depth());
}

TEST(XmlPullParserElementText, JoinedExpandedAndClosed) {
  EXPECT_EQ(text_of("<a> Si &amp; Ge </a><z/>"), " Si & Ge |z|0");
  EXPECT_EQ(text_of("<a> Si &amp; &#x394; Ge <!-- c --><?p?><![CDATA[<1>]]><b k='v'>2</b> </a>"
                    "<z/>",
                    3),
            " Si & \xCE\x94 Ge <1>2 |z|0");
  EXPECT_EQ(text_of("<a></a><z/>"), "|z|0");
  EXPECT_EQ(text_of("<a>x &nbsp;</a>"), "error:unknown entity &nbsp; at byte 5");
  EXPECT_EQ(text_of("<a>x<![CDATA[\xB0]]></a>"), "encoding:invalid UTF-8 at byte 13");
  EXPECT_EQ(text_of("<a>1<b>2"), "error:unexpected end of input inside <a> at byte 0");
  EXPECT_EQ(text_of("<a>1</b>"),
            "error:end tag </b> does not match the open element <a> at byte 4");
  EXPECT_EQ(text_of("<a/>"), "||0");  // after no start tag: nothing read
}

TEST(XmlPullParserEndOfInput, OutsideMarkupEndsTheDocument) {
  EXPECT_EQ(events_of("<a><b>12 3"), (Events{"start:a", "start:b", "text:12 3", "eof"}));
  EXPECT_EQ(events_of(""), (Events{"eof"}));
  EXPECT_EQ(events_of("just text"), (Events{"text:just text", "eof"}));
}

TEST(XmlPullParserEndOfInput, InsideMarkupIsAnError) {
  EXPECT_EQ(error_of("<a>x<"), "unexpected end of input inside markup at byte 4");
  EXPECT_EQ(error_of("<a>x<!-"), "unexpected end of input inside markup at byte 4");
  EXPECT_EQ(error_of("<a>x<![CDA"), "unexpected end of input inside markup at byte 4");
  EXPECT_EQ(error_of("<a>x<b k='>'"), "unexpected end of input inside a start tag at byte 4");
  EXPECT_EQ(error_of("<a>x</a"), "unexpected end of input inside an end tag at byte 4");
  EXPECT_EQ(error_of("<!-- x --"), "unexpected end of input inside a comment at byte 0");
  EXPECT_EQ(error_of("<![CDATA[ x ]]"), "unexpected end of input inside a CDATA section at byte 0");
  EXPECT_EQ(error_of("<?pi x ?"),
            "unexpected end of input inside a processing instruction at byte 0");
  EXPECT_EQ(error_of("<!DOCTYPE r [>"),
            "unexpected end of input inside the document type declaration at byte 0");
}

TEST(XmlPullParserInput, ByteOrderMarkIsSkipped) {
  EXPECT_EQ(events_of("\xEF\xBB\xBF<a/>"), (Events{"empty:a", "eof"}));
  EXPECT_EQ(events_of("\xEF\xBB\xBF<a/>", 1), (Events{"empty:a", "eof"}));
  EXPECT_EQ(events_of("\xEF\xBB\xBF"), (Events{"eof"}));
  // Only at the very start, and only all three bytes.
  EXPECT_EQ(events_of("x\xEF\xBB\xBF"), (Events{"text:x\xEF\xBB\xBF", "eof"}));
  EXPECT_EQ(events_of("\xEF\xBB"), (Events{"text:\xEF\xBB", "eof"}));
  ChunkedSource source("\xEF\xBB\xBF<a/>", 2);
  Input input(source);
  PullParser parser(input);
  auto event = parser.next();
  ASSERT_TRUE(event.ok());
  EXPECT_EQ(event->offset, 3u);  // offsets count the mark
}

// Over three buffers of every kind of event, read whole and in awkward pieces, so that names,
// delimiters, references and the mark straddle buffer boundaries.
TEST(XmlPullParserInput, LargeDocumentAcrossBufferBoundaries) {
  std::string document = "\xEF\xBB\xBF<?xml version='1.0'?><root>";
  Events expected = {"decl:xml version='1.0'", "start:root"};
  for (int i = 0; document.size() < 3 * PullParser::buffer_size; ++i) {
    const std::string n = std::to_string(i);
    document +=
        "<v i='" + n + "'> " + n + "&#32;x </v><!-- -- " + n + " --><![CDATA[" + n + "]]><e/>\n";
    expected.insert(expected.end(), {"start:v", "text:" + n, "ref:#32", "text:x", "end:v",
                                     "comment: -- " + n + " ", "cdata:" + n, "empty:e"});
  }
  document += "<long>" + std::string(20000, 'z') + "</long></root>";
  expected.insert(expected.end(),
                  {"start:long", "text:" + std::string(20000, 'z'), "end:long", "end:root", "eof"});
  ASSERT_GT(document.size(), 3 * PullParser::buffer_size);
  for (const std::size_t chunk :
       {std::size_t{1} << 20, std::size_t{1}, std::size_t{7}, PullParser::buffer_size - 1}) {
    EXPECT_EQ(events_of(document, chunk), expected) << "chunk " << chunk;
  }
}

// A text over several buffers takes room for the rest of the input where its size is stated;
// a stated size is a hint only, and none that misleads may change the text.
TEST(XmlPullParserInput, LongTextUnderMisleadingStatedSizes) {
  const std::string text(3 * PullParser::buffer_size + 5, '7');
  const std::string document = "<a>" + text + "</a>";
  for (const std::optional<std::uint64_t> size :
       {std::optional<std::uint64_t>{}, std::optional<std::uint64_t>{1},
        std::optional{document.size()}, std::optional{~std::uint64_t{0}}}) {
    ChunkedSource source(document, 1 << 20);
    Input input(source, size);
    PullParser parser(input);
    ASSERT_TRUE(parser.next().ok());
    auto event = parser.next();
    ASSERT_TRUE(event.ok());
    EXPECT_EQ(event->bytes, text);
  }
}

TEST(XmlPullParserInput, ReadsInPiecesOfTheBufferAndNeverAhead) {
  const std::string document = "<a/>" + std::string(3 * PullParser::buffer_size, ' ') + "<b/>";
  ChunkedSource source(document, 1 << 20);
  Input input(source);
  PullParser parser(input);
  ASSERT_TRUE(parser.next().ok());
  EXPECT_EQ(source.position(), PullParser::buffer_size);
}

TEST(XmlPullParserInput, ReadFailureMidStream) {
  const std::string document = "<a>" + std::string(10000, '1') + "</a>";
  ChunkedSource source(document, 1 << 20, 9000);
  Input input(source);
  PullParser parser(input);
  ASSERT_TRUE(parser.next().ok());
  auto text = parser.next();  // the text is cut by the failure: no partial text event
  ASSERT_FALSE(text.ok());
  const std::string expected = "read failed: " + std::string(std::strerror(EIO)) + " (os error " +
                               std::to_string(EIO) + ") at byte 9000";
  EXPECT_EQ(text.error().description(), expected);
  auto again = parser.next();
  ASSERT_FALSE(again.ok());
  EXPECT_EQ(again.error().description(), expected);
}

TEST(XmlPullParserInput, ReadFailureInsideMarkupAndAtTheStart) {
  ChunkedSource in_tag("<abcdef>", 1 << 20, 4);
  EXPECT_EQ(events_of(in_tag).back(), "error:read failed: " + std::string(std::strerror(EIO)) +
                                          " (os error " + std::to_string(EIO) + ") at byte 4");
  ChunkedSource at_start("<a/>", 1 << 20, 0);
  EXPECT_TRUE(events_of(at_start).back().ends_with(") at byte 0"));
}

// ---------------------------------------------------------------------------------------

Event tag(std::string_view bytes) {
  Event event;
  event.kind = EventKind::start_tag;
  event.bytes = bytes;
  event.name = bytes.substr(0, bytes.find(' '));
  event.offset = 0;
  return event;
}

// "name=value" per attribute, or "error:<description>" at the first error.
std::vector<std::string> attributes_of(std::string_view tag_bytes) {
  const Event event = tag(tag_bytes);
  AttributeReader reader(event);
  std::vector<std::string> shown;
  for (;;) {
    auto attribute = reader.next();
    if (!attribute) {
      shown.push_back(labelled("error:", attribute.error().description()));
      return shown;
    }
    if (!attribute.value()) return shown;
    shown.push_back(std::string((*attribute)->name) + "=" + std::string((*attribute)->value));
  }
}

TEST(XmlAttributes, NamesAndRawValues) {
  EXPECT_EQ(attributes_of("a"), (Events{}));
  EXPECT_EQ(attributes_of("a x=\"1\" y='2' z \n= \t\"3\" w=\"\" v='a\"&amp;' x:u=\"5\""),
            (Events{"x=1", "y=2", "z=3", "w=", "v=a\"&amp;", "x:u=5"}));
}

TEST(XmlAttributes, ValueOffsets) {
  const Event event = tag("abc k='xy'");
  AttributeReader reader(event);
  auto attribute = reader.next();
  ASSERT_TRUE(attribute.ok());
  ASSERT_TRUE(attribute.value().has_value());
  EXPECT_EQ((*attribute)->value_offset, 8u);  // "<abc k='" precedes it
}

TEST(XmlAttributes, StrictSyntax) {
  EXPECT_EQ(attributes_of("a x").back(), "error:attribute 'x' without '=' at byte 3");
  EXPECT_EQ(attributes_of("a x y='1'").back(), "error:attribute 'x' without '=' at byte 3");
  EXPECT_EQ(attributes_of("a x=").back(), "error:attribute 'x' without a value at byte 3");
  EXPECT_EQ(attributes_of("a x=1").back(), "error:value of attribute 'x' is not quoted at byte 5");
  EXPECT_EQ(attributes_of("a x='1").back(),
            "error:value of attribute 'x' has no closing quote at byte 5");
  EXPECT_EQ(attributes_of("a x='1\"").back(),
            "error:value of attribute 'x' has no closing quote at byte 5");
  EXPECT_EQ(attributes_of("a ='1'").back(), "error:attribute without a name at byte 3");
  EXPECT_EQ(attributes_of("a x='1' y='2' x=\"3\"").back(),
            "error:attribute 'x' repeated at byte 15");
  // A prefix makes a different name.
  EXPECT_EQ(attributes_of("a x='1' p:x='2'"), (Events{"x=1", "p:x=2"}));
}

TEST(XmlAttributes, ReadFromParsedTags) {
  ChunkedSource source("<r><positions axis=\"2Theta\" unit='deg'/></r>", 1 << 20);
  Input input(source);
  PullParser parser(input);
  ASSERT_TRUE(parser.next().ok());
  auto event = parser.next();
  ASSERT_TRUE(event.ok());
  AttributeReader reader(*event);
  auto axis = reader.next();
  ASSERT_TRUE(axis.ok() && axis.value().has_value());
  EXPECT_EQ((*axis)->name, "axis");
  EXPECT_EQ((*axis)->value, "2Theta");
  EXPECT_EQ((*axis)->value_offset, 20u);
}

std::string unescaped(std::string_view raw) {
  auto value = unescape_value(Attribute{"k", raw, 100});
  return value ? value.value() : labelled("error:", value.error().description());
}

TEST(XmlUnescape, PredefinedEntitiesAndCharacterReferences) {
  EXPECT_EQ(unescaped("&lt;&gt;&amp;&apos;&quot;"), "<>&'\"");
  EXPECT_EQ(unescaped("&#50;&#x54;he&#X74;a"),
            "error:invalid character reference &#X74; at byte 113");
  EXPECT_EQ(unescaped("&#50;&#x54;h&#x65;ta"), "2Theta");
  EXPECT_EQ(unescaped("&#xe9;&#x20AC;&#128512;&#x9;"), "\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80\t");
  EXPECT_EQ(unescaped("&amp;lt;"), "&lt;");      // one pass only
  EXPECT_EQ(unescaped(" a \t b "), " a \t b ");  // no normalisation
  EXPECT_EQ(unescaped(""), "");
}

TEST(XmlUnescape, Errors) {
  EXPECT_EQ(unescaped("x&nbsp;"), "error:unknown entity &nbsp; at byte 101");
  EXPECT_EQ(unescaped("&;"), "error:unknown entity &; at byte 100");
  EXPECT_EQ(unescaped("&amp"), "error:reference without ';' in attribute value at byte 100");
  EXPECT_EQ(unescaped("&amp &lt;"), "error:reference without ';' in attribute value at byte 100");
  EXPECT_EQ(unescaped("&#+65;"), "error:invalid character reference &#+65; at byte 100");
  EXPECT_EQ(unescaped("&#-65;"), "error:invalid character reference &#-65; at byte 100");
  EXPECT_EQ(unescaped("&#x+41;"), "error:invalid character reference &#x+41; at byte 100");
  EXPECT_EQ(unescaped("&#;"), "error:invalid character reference &#; at byte 100");
  EXPECT_EQ(unescaped("&#x;"), "error:invalid character reference &#x; at byte 100");
  EXPECT_EQ(unescaped("&#6a;"), "error:invalid character reference &#6a; at byte 100");
  EXPECT_EQ(unescaped("&#99999999999;"),
            "error:invalid character reference &#99999999999; at byte 100");
  EXPECT_EQ(unescaped("&#x110000;"), "error:invalid character reference &#x110000; at byte 100");
  EXPECT_EQ(unescaped("&#0;"),
            "error:character reference &#0; is not an XML character at byte 100");
  EXPECT_EQ(unescaped("&#x1F;"),
            "error:character reference &#x1F; is not an XML character at byte 100");
  EXPECT_EQ(unescaped("&#xD800;"),
            "error:character reference &#xD800; is not an XML character at byte 100");
  EXPECT_EQ(unescaped("&#xFFFE;"),
            "error:character reference &#xFFFE; is not an XML character at byte 100");
  EXPECT_EQ(unescaped("ab\xB0"), "error:invalid UTF-8 at byte 102");
}

TEST(XmlUtf8, FirstInvalidByte) {
  EXPECT_FALSE(check_utf8("plain ascii, longer than one word", 0));
  EXPECT_FALSE(check_utf8("\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80\xF4\x8F\xBF\xBF", 0));
  const auto at = [](std::string_view bytes) {
    const auto error = check_utf8(bytes, 10);
    return error ? error->description() : "valid";
  };
  EXPECT_EQ(at("0123456789abcdef\xB0"), "invalid UTF-8 at byte 26");
  EXPECT_EQ(at("a\xC0\x80"), "invalid UTF-8 at byte 11");          // overlong
  EXPECT_EQ(at("a\xE0\x9F\xBF"), "invalid UTF-8 at byte 11");      // overlong
  EXPECT_EQ(at("a\xED\xA0\x80"), "invalid UTF-8 at byte 11");      // surrogate
  EXPECT_EQ(at("a\xF4\x90\x80\x80"), "invalid UTF-8 at byte 11");  // above U+10FFFF
  EXPECT_EQ(at("a\xE2\x82"), "invalid UTF-8 at byte 11");          // cut short
  EXPECT_EQ(at("a\xE2\x82x"), "invalid UTF-8 at byte 11");
  EXPECT_EQ(at("a\xFF"), "invalid UTF-8 at byte 11");
}

}  // namespace
}  // namespace morvex::xml
