// Text of formats older than UTF-8, in legacy encodings (Latin-1 UXD headers, Shift-JIS RAS
// headers): lines cut from raw bytes, and the header text that can be reported as UTF-8.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace morvex {

// Cuts the next line off the front of `rest`, without its "\n" and a "\r" before it;
// nullopt once `rest` is empty.
std::optional<std::string_view> cut_line(std::string_view& rest);

// The text itself where it is valid UTF-8, else its bytes read as Latin-1: every byte is a
// Latin-1 character, so this never fails.
std::string utf8_or_latin1(std::string_view text);

// True when every byte is ASCII, as every data row of these formats is: the white-space
// tokenizers need valid UTF-8.
bool is_ascii(std::string_view text);

}  // namespace morvex
