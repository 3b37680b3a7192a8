// The morvex extension module: single-phase initialisation, one interpreter per process.
#include <atomic>
#include <cstdint>

#include "core/interrupt.hpp"
#include "python/binding.hpp"

namespace morvex::python {
namespace {

// Runs the interpreter's signal handlers between reads; a handler that raised ends the load.
bool check_signals() {
  return PyErr_CheckSignals() != 0;
}

PyModuleDef module_def = {
    PyModuleDef_HEAD_INIT,
    "morvex",
    "Python module definition for the `morvex` extension.",
    0,
    nullptr,
    nullptr,
    nullptr,
    nullptr,
    nullptr,
};

std::atomic<std::int64_t> owner_interpreter{-1};
PyObject* the_module = nullptr;

// Appends `name` to the module's __all__ (creating it when missing) and sets the attribute.
bool add_exported(PyObject* module, PyObject* name, PyObject* value) {
  PyObject* all = PyObject_GetAttrString(module, "__all__");
  if (!all) {
    if (!PyErr_ExceptionMatches(PyExc_AttributeError)) return false;
    PyErr_Clear();
    all = PyList_New(0);
    if (!all || PyObject_SetAttrString(module, "__all__", all) < 0) {
      Py_XDECREF(all);
      return false;
    }
  }
  const int appended = PyList_Append(all, name);
  Py_DECREF(all);
  if (appended < 0) {
    PyErr_SetString(PyExc_SystemError, "could not append __name__ to __all__");
    return false;
  }
  return PyObject_SetAttr(module, name, value) == 0;
}

bool add_function(PyObject* module, PyMethodDef* def) {
  PyObject* module_name = PyModule_GetNameObject(module);
  if (!module_name) return false;
  PyObject* function = PyCMethod_New(def, module, module_name, nullptr);
  Py_DECREF(module_name);
  if (!function) return false;
  PyObject* name = PyObject_GetAttrString(function, "__name__");
  const bool added = name && add_exported(module, name, function);
  Py_XDECREF(name);
  Py_DECREF(function);
  return added;
}

bool initialise(PyObject* module) {
  PyTypeObject* type = pattern_type();
  if (!type) return false;
  PyObject* type_name = PyUnicode_FromString("Pattern");
  const bool added =
      type_name && add_exported(module, type_name, reinterpret_cast<PyObject*>(type));
  Py_XDECREF(type_name);
  return added && add_function(module, &read_method) && add_function(module, &read_bytes_method);
}

}  // namespace
}  // namespace morvex::python

PyMODINIT_FUNC PyInit_morvex(void) {
  using namespace morvex::python;
  PyInterpreterState* interpreter = PyInterpreterState_Get();
  const std::int64_t id = PyInterpreterState_GetID(interpreter);
  if (id == -1) return nullptr;
  std::int64_t expected = -1;
  if (!owner_interpreter.compare_exchange_strong(expected, id) && expected != id) {
    PyErr_SetString(PyExc_ImportError,
                    "morvex does not support subinterpreters: it can only be imported once "
                    "per process");
    return nullptr;
  }
  if (the_module) {
    Py_INCREF(the_module);
    return the_module;
  }
  PyObject* module = PyModule_Create2(&module_def, 1013);
  if (!module) return nullptr;
  if (!initialise(module)) {
    Py_DECREF(module);
    return nullptr;
  }
  morvex::set_interrupt_check(check_signals);
  the_module = module;  // kept for the life of the process
  Py_INCREF(the_module);
  return the_module;
}
