// The one place where a failed load becomes a Python exception, for either module. Where the
// load ended because a signal handler raised, that exception stays.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include "core/load_error.hpp"

namespace morvex::python {

// morvex's: OSError for I/O failures, ValueError for everything else, with the message as the
// only argument.
void raise_message_error(const LoadError& error);

// morvexio's, for `filename` (the caller's object): OSError with errno, strerror and filename
// for the operating system's errors, MemoryError where memory ran out, else `format_error`
// ("NAME: message (at byte N)") with `filename` and `offset` attributes.
void raise_file_error(const LoadError& error, PyObject* filename, PyObject* format_error);

}  // namespace morvex::python
