// What a file is by its first bytes: signatures, XML roots, a BANK line, the shape of rows.
#pragma once

#include <string_view>

namespace morvex {

// How much of the input the content rules look at.
constexpr std::size_t detect_size = 8192;

// The short name of the format `head` (the input's first bytes) shows, or "" where the
// content cannot tell and the name must.
std::string_view detect_format(std::string_view head);

// The short name the extension stands for, or "".
std::string_view format_of_extension(std::string_view extension);

}  // namespace morvex
