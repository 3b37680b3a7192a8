// What the _morvexio extension's files share.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <string_view>
#include <vector>

#include "core/scan.hpp"

namespace morvex::python::morvexio_module {

// The Column type: a read-only buffer of doubles over a vector it owns, made on first use and
// kept for the process.
PyTypeObject* column_type();

// A new Column owning `values`, or nullptr with the Python error set.
PyObject* wrap_column(std::vector<double>&& values);

// (format, meta, [(x, y, e, meta), ...]) with every array a Column; the measurement's vectors
// are moved, never copied.
PyObject* measurement_to_python(Measurement&& measurement);

// rows_text(columns: tuple of 1-D float64 arrays of one length, separator: str) -> bytes: the
// rows as text, each number the shortest that reads back as it, laid out as repr lays out a
// float. The converter's writers call it instead of formatting each value in Python.
PyObject* rows_text(PyObject*, PyObject* const* args, Py_ssize_t nargs);

// keys() -> ((name, level, type, unit, meaning, formats), ...): the declared metadata keys
// (core/metadata_keys.hpp), formats as one blank-separated string.
PyObject* keys(PyObject*, PyObject*);

}  // namespace morvex::python::morvexio_module
