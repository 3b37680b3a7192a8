#include "python/shared/arguments.hpp"

namespace morvex::python {

void raise_wrong_type(const char* param, const char* expected, PyObject* given) {
  PyObject* type_name =
      PyObject_GetAttrString(reinterpret_cast<PyObject*>(Py_TYPE(given)), "__name__");
  if (!type_name) return;
  PyErr_Format(PyExc_TypeError, "argument '%s': expected %s, got '%U'", param, expected, type_name);
  Py_DECREF(type_name);
}

bool utf8_argument(const char* param, PyObject* value, std::string_view& text) {
  if (!PyUnicode_Check(value)) {
    raise_wrong_type(param, "str", value);
    return false;
  }
  Py_ssize_t size = 0;
  const char* data = PyUnicode_AsUTF8AndSize(value, &size);
  if (!data) return false;  // unpaired surrogates: the interpreter's own encoding error
  text = std::string_view(data, static_cast<std::size_t>(size));
  return true;
}

std::string_view bytes_view(PyObject* bytes) {
  return std::string_view(PyBytes_AsString(bytes), static_cast<std::size_t>(PyBytes_Size(bytes)));
}

bool bind_arguments(const char* function, const char* const* params, std::size_t count,
                    PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames, PyObject** bound) {
  for (std::size_t p = 0; p < count; ++p) bound[p] = nullptr;
  if (nargs > static_cast<Py_ssize_t>(count)) {
    PyErr_Format(PyExc_TypeError, "%s() takes %d positional argument%s but %zd %s given", function,
                 static_cast<int>(count), count == 1 ? "" : "s", nargs,
                 nargs == 1 ? "was" : "were");
    return false;
  }
  for (Py_ssize_t i = 0; i < nargs; ++i) bound[i] = args[i];

  const Py_ssize_t nkw = kwnames ? PyTuple_Size(kwnames) : 0;
  for (Py_ssize_t k = 0; k < nkw; ++k) {
    PyObject* key = PyTuple_GetItem(kwnames, k);
    if (!key) return false;
    std::size_t index = count;
    for (std::size_t p = 0; p < count; ++p) {
      if (PyUnicode_CompareWithASCIIString(key, params[p]) == 0) index = p;
    }
    if (index == count) {
      PyErr_Format(PyExc_TypeError, "%s() got an unexpected keyword argument '%U'", function, key);
      return false;
    }
    if (bound[index]) {
      PyErr_Format(PyExc_TypeError, "argument for %s() given by name ('%s') and position (%d)",
                   function, params[index], static_cast<int>(index) + 1);
      return false;
    }
    bound[index] = args[nargs + k];
  }
  for (std::size_t p = 0; p < count; ++p) {
    if (!bound[p]) {
      PyErr_Format(PyExc_TypeError, "%s() missing required argument '%s' (pos %d)", function,
                   params[p], static_cast<int>(p) + 1);
      return false;
    }
  }
  return true;
}

}  // namespace morvex::python
