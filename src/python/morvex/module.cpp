// The morvex extension module: its type and functions, exported in __all__.
#include "python/morvex/bindings.hpp"
#include "python/shared/interpreter.hpp"

namespace morvex::python::morvex_module {
namespace {

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

ModuleHome home{"morvex"};

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

PyObject* create() {
  PyObject* module = PyModule_Create2(&module_def, 1013);
  if (!module) return nullptr;
  PyTypeObject* type = pattern_type();
  PyObject* type_name = type ? PyUnicode_FromString("Pattern") : nullptr;
  const bool added = type_name &&
                     add_exported(module, type_name, reinterpret_cast<PyObject*>(type)) &&
                     add_function(module, &read_method) && add_function(module, &read_bytes_method);
  Py_XDECREF(type_name);
  if (added) return module;
  Py_DECREF(module);
  return nullptr;
}

}  // namespace
}  // namespace morvex::python::morvex_module

PyMODINIT_FUNC PyInit_morvex(void) {
  using namespace morvex::python;
  return import_once(morvex_module::home, morvex_module::create);
}
