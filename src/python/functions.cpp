// read and read_bytes: argument binding, the call into the dispatcher, and the one place
// where a failed load becomes a Python exception.
#include <array>
#include <exception>
#include <new>
#include <string>
#include <string_view>

#include "dispatch/dispatch.hpp"
#include "python/binding.hpp"
#include "python/guarded.hpp"

namespace morvex::python {
namespace {

// Binds fastcall arguments to `params` by position or keyword, in the wording CPython uses
// for built-in functions. Fills `bound` with borrowed references.
template <std::size_t N>
bool bind_arguments(const char* function, const std::array<const char*, N>& params,
                    PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames,
                    std::array<PyObject*, N>& bound) {
  bound.fill(nullptr);
  if (nargs > static_cast<Py_ssize_t>(N)) {
    PyErr_Format(PyExc_TypeError, "%s() takes %d positional argument%s but %zd %s given", function,
                 static_cast<int>(N), N == 1 ? "" : "s", nargs, nargs == 1 ? "was" : "were");
    return false;
  }
  for (Py_ssize_t i = 0; i < nargs; ++i) bound[static_cast<std::size_t>(i)] = args[i];

  const Py_ssize_t nkw = kwnames ? PyTuple_Size(kwnames) : 0;
  for (Py_ssize_t k = 0; k < nkw; ++k) {
    PyObject* key = PyTuple_GetItem(kwnames, k);
    if (!key) return false;
    std::size_t index = N;
    for (std::size_t p = 0; p < N; ++p) {
      if (PyUnicode_CompareWithASCIIString(key, params[p]) == 0) index = p;
    }
    if (index == N) {
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
  for (std::size_t p = 0; p < N; ++p) {
    if (!bound[p]) {
      PyErr_Format(PyExc_TypeError, "%s() missing required argument '%s' (pos %d)", function,
                   params[p], static_cast<int>(p) + 1);
      return false;
    }
  }
  return true;
}

void raise_wrong_type(const char* param, const char* expected, PyObject* given) {
  PyObject* type_name =
      PyObject_GetAttrString(reinterpret_cast<PyObject*>(Py_TYPE(given)), "__name__");
  if (!type_name) return;
  PyErr_Format(PyExc_TypeError, "argument '%s': expected %s, got '%U'", param, expected, type_name);
  Py_DECREF(type_name);
}

// The UTF-8 form of a str argument, or false with the Python error set.
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

PyObject* finish_load(LoadResult&& result) {
  if (!result) {
    raise_load_error(result.error());
    return nullptr;
  }
  return wrap_pattern(std::move(result).value());
}

PyObject* read(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return guarded("morvex", [&]() -> PyObject* {
    static constexpr std::array<const char*, 1> params = {"path"};
    std::array<PyObject*, 1> bound;
    if (!bind_arguments("read", params, args, nargs, kwnames, bound)) return nullptr;
    std::string_view path;
    if (!utf8_argument("path", bound[0], path)) return nullptr;
    // The interpreter lock stays held: loads from several threads run one after another.
    return finish_load(load_path(path));
  });
}

PyObject* read_bytes(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return guarded("morvex", [&]() -> PyObject* {
    static constexpr std::array<const char*, 2> params = {"data", "filename"};
    std::array<PyObject*, 2> bound;
    if (!bind_arguments("read_bytes", params, args, nargs, kwnames, bound)) return nullptr;
    if (!PyBytes_Check(bound[0])) {
      raise_wrong_type("data", "bytes", bound[0]);
      return nullptr;
    }
    std::string_view filename;
    if (!utf8_argument("filename", bound[1], filename)) return nullptr;
    // The bytes object is immutable and referenced by the caller: read it in place.
    const char* data = PyBytes_AsString(bound[0]);
    if (!data) return nullptr;
    const auto size = static_cast<std::size_t>(PyBytes_Size(bound[0]));
    return finish_load(load_bytes(std::string_view(data, size), filename));
  });
}

}  // namespace

void raise_load_error(const LoadError& error) {
  if (PyErr_Occurred()) return;  // a signal handler's exception ended the load
  const std::string message = error.message();
  PyObject* text =
      PyUnicode_DecodeUTF8(message.data(), static_cast<Py_ssize_t>(message.size()), "replace");
  if (!text) return;
  PyObject* type = error.is_io() ? PyExc_OSError : PyExc_ValueError;
  PyErr_SetObject(type, text);
  Py_DECREF(text);
}

PyMethodDef read_method = {
    "read", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(read)),
    METH_FASTCALL | METH_KEYWORDS, "read(path)\n--\n\nLoad a pattern from a file path."};

PyMethodDef read_bytes_method = {
    "read_bytes", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(read_bytes)),
    METH_FASTCALL | METH_KEYWORDS,
    "read_bytes(data, filename)\n--\n\nLoad a pattern from raw bytes with a filename hint."};

}  // namespace morvex::python
