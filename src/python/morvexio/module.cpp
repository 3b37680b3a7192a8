// The _morvexio extension: read and read_bytes over the dispatcher, and the table of formats.
#include <string_view>

#include "dispatch/dispatch.hpp"
#include "dispatch/format_table.hpp"
#include "python/morvexio/bindings.hpp"
#include "python/shared/arguments.hpp"
#include "python/shared/errors.hpp"
#include "python/shared/guard.hpp"
#include "python/shared/interpreter.hpp"

namespace morvex::python::morvexio_module {
namespace {

PyObject* the_format_error = nullptr;
ModuleHome home{"morvexio"};

PyObject* finish(MeasurementResult&& result, PyObject* filename) {
  if (!result) {
    raise_file_error(result.error(), filename, the_format_error);
    return nullptr;
  }
  return measurement_to_python(std::move(result).value());
}

// read(path: bytes, shown: object): `path` as the file system takes it, `shown` the caller's
// object for errors.
PyObject* read(PyObject*, PyObject* const* args, Py_ssize_t nargs) {
  return guarded("morvexio", [&]() -> PyObject* {
    if (nargs != 2 || !PyBytes_Check(args[0])) {
      PyErr_SetString(PyExc_TypeError, "read(path: bytes, shown)");
      return nullptr;
    }
    const std::string_view path = bytes_view(args[0]);  // the caller holds the bytes object
    return finish(without_lock([path] { return measure_path(path); }), args[1]);
  });
}

// read_bytes(data: bytes-like, name: bytes, shown: object)
PyObject* read_bytes(PyObject*, PyObject* const* args, Py_ssize_t nargs) {
  return guarded("morvexio", [&]() -> PyObject* {
    if (nargs != 3 || !PyBytes_Check(args[1])) {
      PyErr_SetString(PyExc_TypeError, "read_bytes(data, name: bytes, shown)");
      return nullptr;
    }
    CallerBytes data;
    if (!data.hold(args[0])) return nullptr;
    const std::string_view name = bytes_view(args[1]);
    auto load = [&data, name] { return measure_bytes(data.bytes(), name); };
    return finish(without_lock_if(data.immutable(), load), args[2]);
  });
}

PyObject* text_of(std::string_view text) {
  return PyUnicode_FromStringAndSize(text.data(), static_cast<Py_ssize_t>(text.size()));
}

// formats() -> ((name, title, (extension, ...)), ...): the table the loads decide from.
PyObject* formats(PyObject*, PyObject*) {
  return guarded("morvexio", [&]() -> PyObject* {
    const auto table = format_table();
    PyObject* rows = PyTuple_New(static_cast<Py_ssize_t>(table.size()));
    if (!rows) return nullptr;
    for (std::size_t i = 0; i < table.size(); ++i) {
      const FormatRow& format = table[i];
      PyObject* extensions = PyTuple_New(static_cast<Py_ssize_t>(format.extensions.size()));
      for (std::size_t k = 0; extensions && k < format.extensions.size(); ++k) {
        PyObject* extension = text_of(format.extensions[k]);
        if (!extension) Py_CLEAR(extensions);
        if (extensions) PyTuple_SetItem(extensions, static_cast<Py_ssize_t>(k), extension);
      }
      PyObject* row =
          extensions
              ? Py_BuildValue("(s#s#N)", format.name.data(),
                              static_cast<Py_ssize_t>(format.name.size()), format.title.data(),
                              static_cast<Py_ssize_t>(format.title.size()), extensions)
              : nullptr;
      if (!row) {
        Py_DECREF(rows);
        return nullptr;
      }
      PyTuple_SetItem(rows, static_cast<Py_ssize_t>(i), row);
    }
    return rows;
  });
}

PyMethodDef methods[] = {
    {"formats", formats, METH_NOARGS,
     "formats()\n--\n\nThe formats morvexio reads: (name, title, extensions) each."},
    {"keys", keys, METH_NOARGS,
     "keys()\n--\n\nThe declared metadata keys: (name, level, type, unit, meaning, formats)."},
    {"read", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(read)), METH_FASTCALL,
     "read(path, shown)\n--\n\nEvery scan of the file at `path` (bytes)."},
    {"read_bytes", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(read_bytes)),
     METH_FASTCALL, "read_bytes(data, name, shown)\n--\n\nEvery scan of `data`."},
    {"rows_text", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(rows_text)),
     METH_FASTCALL, "rows_text(columns, separator)\n--\n\nThe columns as text rows."},
    {nullptr, nullptr, 0, nullptr},
};

PyModuleDef module_def = {
    PyModuleDef_HEAD_INIT,
    "_morvexio",
    "The native part of morvexio.",
    0,
    methods,
    nullptr,
    nullptr,
    nullptr,
    nullptr,
};

PyObject* create() {
  PyObject* module = PyModule_Create2(&module_def, 1013);
  if (!module) return nullptr;
  if (!the_format_error) {
    the_format_error = PyErr_NewExceptionWithDoc(
        "morvexio.FormatError", "A file that is not what its format says, or cut short.",
        PyExc_ValueError, nullptr);
  }
  PyTypeObject* column = column_type();
  if (!the_format_error || !column ||
      PyModule_AddObjectRef(module, "FormatError", the_format_error) < 0 ||
      PyModule_AddObjectRef(module, "Column", reinterpret_cast<PyObject*>(column)) < 0) {
    Py_DECREF(module);
    return nullptr;
  }
  return module;
}

}  // namespace

}  // namespace morvex::python::morvexio_module

PyMODINIT_FUNC PyInit__morvexio(void) {
  using namespace morvex::python;
  return import_once(morvexio_module::home, morvexio_module::create);
}
