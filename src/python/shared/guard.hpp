// What both extension modules wrap every entry point in: no C++ exception may cross into the
// interpreter; running out of memory is MemoryError, anything else a RuntimeError naming the
// module.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <exception>
#include <new>

namespace morvex::python {

template <class Body>
PyObject* guarded(const char* module, Body body) {
  try {
    return body();
  } catch (const std::bad_alloc&) {
    return PyErr_NoMemory();
  } catch (const std::exception& e) {
    PyErr_Format(PyExc_RuntimeError, "%s internal error: %s", module, e.what());
  } catch (...) {
    PyErr_Format(PyExc_RuntimeError, "%s internal error", module);
  }
  return nullptr;
}

}  // namespace morvex::python
