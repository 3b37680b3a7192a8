// Shared pieces of the Python binding.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include "core/load_error.hpp"
#include "core/pattern.hpp"

namespace morvex::python {

// The Pattern type, created from its PyType_Spec on first use and kept for the process.
PyTypeObject* pattern_type();

// A new Pattern object owning `pattern`, or nullptr with the Python error set (the record
// is released then).
PyObject* wrap_pattern(Pattern&& pattern);

// Sets the Python exception for a failed load: OSError itself for I/O failures, ValueError
// for everything else, with the message as the only argument.
void raise_load_error(const LoadError& error);

extern PyMethodDef read_method;
extern PyMethodDef read_bytes_method;

}  // namespace morvex::python
