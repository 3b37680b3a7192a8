// Arguments of the modules' functions: bound by position or keyword in the wording CPython
// uses for built-in functions, and the caller's memory read in place.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <array>
#include <cstddef>
#include <string_view>

namespace morvex::python {

// Raises "argument 'NAME': expected TYPE, got 'GIVEN'".
void raise_wrong_type(const char* param, const char* expected, PyObject* given);

// The UTF-8 form of a str argument, or false with the Python error set.
bool utf8_argument(const char* param, PyObject* value, std::string_view& text);

// The bytes of a bytes object, which must be one.
std::string_view bytes_view(PyObject* bytes);

// Binds fastcall arguments to `params` by position or keyword. Fills `bound` with borrowed
// references; false with TypeError set where the call does not fit.
bool bind_arguments(const char* function, const char* const* params, std::size_t count,
                    PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames, PyObject** bound);

template <std::size_t N>
bool bind_arguments(const char* function, const std::array<const char*, N>& params,
                    PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames,
                    std::array<PyObject*, N>& bound) {
  return bind_arguments(function, params.data(), N, args, nargs, kwnames, bound.data());
}

// The memory of a bytes-like object, held for as long as this lives: readers read it in
// place, and the object cannot be resized meanwhile.
class CallerBytes {
 public:
  CallerBytes() = default;
  CallerBytes(const CallerBytes&) = delete;
  CallerBytes& operator=(const CallerBytes&) = delete;
  ~CallerBytes() {
    if (held_) PyBuffer_Release(&view_);
  }

  // False with the Python error set where `object` exports no buffer.
  bool hold(PyObject* object) {
    held_ = PyObject_GetBuffer(object, &view_, PyBUF_SIMPLE) == 0;
    return held_;
  }

  // Whether no one can change the bytes while they are read (bytes, a read-only view): only
  // then is the interpreter lock released around the read.
  bool immutable() const { return view_.readonly != 0; }

  std::string_view bytes() const {
    return {static_cast<const char*>(view_.buf), static_cast<std::size_t>(view_.len)};
  }

 private:
  Py_buffer view_{};
  bool held_ = false;
};

}  // namespace morvex::python
