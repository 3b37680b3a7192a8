#include "python/shared/errors.hpp"

#include <cstring>
#include <string>

namespace morvex::python {
namespace {

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

void raise_format_error(const LoadError& error, PyObject* filename, PyObject* format_error) {
  const std::string message = describe(error, shown_name(filename));
  PyObject* instance = PyObject_CallFunction(format_error, "s", message.c_str());
  if (!instance) return;
  const auto offset = error.offset();
  PyObject* at = offset ? PyLong_FromUnsignedLongLong(*offset) : Py_NewRef(Py_None);
  if (at && PyObject_SetAttrString(instance, "filename", filename) == 0 &&
      PyObject_SetAttrString(instance, "offset", at) == 0) {
    PyErr_SetObject(format_error, instance);
  }
  Py_XDECREF(at);
  Py_DECREF(instance);
}

}  // namespace

void raise_message_error(const LoadError& error) {
  if (PyErr_Occurred()) return;
  const std::string message = error.message();
  PyObject* text =
      PyUnicode_DecodeUTF8(message.data(), static_cast<Py_ssize_t>(message.size()), "replace");
  if (!text) return;
  PyObject* type = error.is_io() ? PyExc_OSError : PyExc_ValueError;
  PyErr_SetObject(type, text);
  Py_DECREF(text);
}

void raise_file_error(const LoadError& error, PyObject* filename, PyObject* format_error) {
  if (PyErr_Occurred()) return;
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
  raise_format_error(error, filename, format_error);
}

}  // namespace morvex::python
