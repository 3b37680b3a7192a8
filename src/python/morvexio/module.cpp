// The _morvexio extension: read and read_bytes over the dispatcher, the one place where a
// failed load becomes a Python exception, and the check that lets signal handlers end a load.
#include <cstring>
#include <exception>
#include <new>
#include <string>
#include <string_view>

#include "core/interrupt.hpp"
#include "dispatch/dispatch.hpp"
#include "dispatch/format_table.hpp"
#include "python/guarded.hpp"
#include "python/morvexio/binding.hpp"

namespace morvex::io {
namespace {

PyObject* the_format_error = nullptr;

// Runs the interpreter's signal handlers; a handler that raised ends the load, and its
// exception stays set for the caller.
bool check_signals() {
  return PyErr_CheckSignals() != 0;
}

PyObject* finish(MeasurementResult&& result, PyObject* filename) {
  if (!result) {
    raise_load_error(result.error(), filename);
    return nullptr;
  }
  return measurement_to_python(std::move(result).value());
}

std::string_view bytes_view(PyObject* bytes) {
  return std::string_view(PyBytes_AsString(bytes), static_cast<std::size_t>(PyBytes_Size(bytes)));
}

// read(path: bytes, shown: object): `path` as the file system takes it, `shown` the caller's
// object for errors.
PyObject* read(PyObject*, PyObject* const* args, Py_ssize_t nargs) {
  return python::guarded("morvexio", [&]() -> PyObject* {
    if (nargs != 2 || !PyBytes_Check(args[0])) {
      PyErr_SetString(PyExc_TypeError, "read(path: bytes, shown)");
      return nullptr;
    }
    // The interpreter lock stays held: signal handlers run between reads.
    return finish(measure_path(bytes_view(args[0])), args[1]);
  });
}

// read_bytes(data: bytes-like, name: bytes, shown: object)
PyObject* read_bytes(PyObject*, PyObject* const* args, Py_ssize_t nargs) {
  return python::guarded("morvexio", [&]() -> PyObject* {
    if (nargs != 3 || !PyBytes_Check(args[1])) {
      PyErr_SetString(PyExc_TypeError, "read_bytes(data, name: bytes, shown)");
      return nullptr;
    }
    Py_buffer view;
    if (PyObject_GetBuffer(args[0], &view, PyBUF_SIMPLE) < 0) return nullptr;
    // The caller's memory is read in place while the buffer is held.
    const std::string_view data(static_cast<const char*>(view.buf),
                                static_cast<std::size_t>(view.len));
    auto result = measure_bytes(data, bytes_view(args[1]));
    PyObject* out = finish(std::move(result), args[2]);
    PyBuffer_Release(&view);
    return out;
  });
}

PyObject* text_of(std::string_view text) {
  return PyUnicode_FromStringAndSize(text.data(), static_cast<Py_ssize_t>(text.size()));
}

// formats() -> ((name, title, (extension, ...)), ...): the table the loads decide from.
PyObject* formats(PyObject*, PyObject*) {
  return python::guarded("morvexio", [&]() -> PyObject* {
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

// "name: message (at byte N)", the offset only where the message does not give it already.
std::string describe(const LoadError& error, const std::string& name) {
  std::string text = name;
  text.append(": ").append(error.message());
  const auto offset = error.offset();
  if (offset && text.find(" at byte ") == std::string::npos) {
    text.append(" (at byte ").append(std::to_string(*offset)).append(")");
  }
  return text;
}

// The name for messages: bytes as the file system decodes them, and bytes of a name that are
// not UTF-8 escaped ("\\xff"), so that every name shows.
std::string shown_name(PyObject* filename) {
  PyObject* text = PyBytes_Check(filename) ? PyUnicode_DecodeFSDefaultAndSize(
                                                 PyBytes_AsString(filename), PyBytes_Size(filename))
                                           : PyObject_Str(filename);
  PyObject* raw = text ? PyUnicode_AsEncodedString(text, "utf-8", "surrogateescape") : nullptr;
  PyObject* escaped =
      raw ? PyUnicode_Decode(PyBytes_AsString(raw), PyBytes_Size(raw), "utf-8", "backslashreplace")
          : nullptr;
  Py_ssize_t size = 0;
  const char* data = escaped ? PyUnicode_AsUTF8AndSize(escaped, &size) : nullptr;
  std::string name = data ? std::string(data, static_cast<std::size_t>(size)) : "<input>";
  if (!data) PyErr_Clear();
  Py_XDECREF(escaped);
  Py_XDECREF(raw);
  Py_XDECREF(text);
  return name;
}

void raise_os_error(int code, PyObject* filename) {
  PyObject* args = Py_BuildValue("(isO)", code, std::strerror(code), filename);
  if (!args) return;
  PyErr_SetObject(PyExc_OSError, args);  // OSError(errno, strerror, filename): the subclass
  Py_DECREF(args);
}

void raise_format_error(const LoadError& error, PyObject* filename) {
  const std::string message = describe(error, shown_name(filename));
  PyObject* instance = PyObject_CallFunction(the_format_error, "s", message.c_str());
  if (!instance) return;
  const auto offset = error.offset();
  PyObject* at = offset ? PyLong_FromUnsignedLongLong(*offset) : Py_NewRef(Py_None);
  if (at && PyObject_SetAttrString(instance, "filename", filename) == 0 &&
      PyObject_SetAttrString(instance, "offset", at) == 0) {
    PyErr_SetObject(the_format_error, instance);
  }
  Py_XDECREF(at);
  Py_DECREF(instance);
}

}  // namespace

PyObject* format_error_type() {
  return the_format_error;
}

void raise_load_error(const LoadError& error, PyObject* filename) {
  if (PyErr_Occurred()) return;  // a signal handler's exception ended the load
  if (const IoError* io = error.io()) {
    if (io->os_code() != 0) return raise_os_error(io->os_code(), filename);
    if (io->message() == IoError::out_of_memory().message()) {
      PyErr_NoMemory();
      return;
    }
  }
  // An archive's bytes that could not be read are a read failure too, whatever the format.
  if (const ZipError* zip = error.zip(); zip && zip->error_class == ZipError::Class::io) {
    if (zip->os_code != 0) return raise_os_error(zip->os_code, filename);
    if (zip->out_of_memory) {
      PyErr_NoMemory();
      return;
    }
  }
  raise_format_error(error, filename);
}

}  // namespace morvex::io

PyMODINIT_FUNC PyInit__morvexio(void) {
  using namespace morvex::io;
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
  morvex::set_interrupt_check(check_signals);
  return module;
}
