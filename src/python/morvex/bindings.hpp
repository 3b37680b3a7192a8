// What the morvex module's files share: its Pattern type and its two functions.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include "core/pattern.hpp"

namespace morvex::python::morvex_module {

// The Pattern type, created from its PyType_Spec on first use and kept for the process.
PyTypeObject* pattern_type();

// A new Pattern object owning `pattern`, or nullptr with the Python error set (the record
// is released then).
PyObject* wrap_pattern(Pattern&& pattern);

// read(path) and read_bytes(data, filename).
extern PyMethodDef read_method;
extern PyMethodDef read_bytes_method;

}  // namespace morvex::python::morvex_module
