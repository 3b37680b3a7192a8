// The entry points above the readers: which reader a file needs, and what it gives.
#pragma once

#include <string>
#include <string_view>

#include "core/load_error.hpp"
#include "core/pattern.hpp"
#include "core/scan.hpp"

namespace morvex {

using LoadResult = Result<Pattern, LoadError>;
using MeasurementResult = Result<Measurement, LoadError>;

// The lower-cased extension of the name's final component ("/" and "\" both separate),
// or "" when it has none (no dot, a lone leading dot, "..", an empty name).
std::string format_extension(std::string_view name);

// True when a zero byte occurs in `bytes`: the sniff that tells binary from text raw files.
bool looks_binary(std::string_view bytes);

// The first pattern, by the reader for the name's extension. The file is opened read-only.
LoadResult load_path(std::string_view path);
// Reads the caller's bytes in place; `filename` is only a hint for the format.
LoadResult load_bytes(std::string_view data, std::string_view filename);

// Every scan and the metadata, by the reader the content asks for; the name's extension
// decides only where the content cannot.
MeasurementResult measure_path(std::string_view path);
MeasurementResult measure_bytes(std::string_view data, std::string_view filename);

}  // namespace morvex
