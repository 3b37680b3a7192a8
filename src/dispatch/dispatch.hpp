// The entry point above the readers: choose a reader by the file name's extension.
#pragma once

#include <string>
#include <string_view>

#include "core/load_error.hpp"

namespace morvex {

// The lower-cased extension of the name's final component ("/" and "\" both separate),
// or "" when it has none (no dot, a lone leading dot, "..", an empty name).
std::string format_extension(std::string_view name);

// True when a zero byte occurs in `bytes`: the sniff that tells binary from text raw files.
bool looks_binary(std::string_view bytes);

// Opens the file read-only and hands it to the reader for its extension.
LoadResult load_path(std::string_view path);

// Reads the caller's bytes in place; `filename` is only a hint for the format.
LoadResult load_bytes(std::string_view data, std::string_view filename);

}  // namespace morvex
