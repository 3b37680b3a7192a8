// read and read_bytes: their arguments, and the call into the dispatcher.
#include <array>
#include <string_view>

#include "dispatch/dispatch.hpp"
#include "python/morvex/bindings.hpp"
#include "python/shared/arguments.hpp"
#include "python/shared/errors.hpp"
#include "python/shared/guard.hpp"
#include "python/shared/interpreter.hpp"

namespace morvex::python::morvex_module {
namespace {

PyObject* finish_load(LoadResult&& result) {
  if (!result) {
    raise_message_error(result.error());
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
    // The str object, held by the caller, keeps its UTF-8 form while the lock is released.
    return finish_load(without_lock([path] { return load_path(path); }));
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
    // Read in place: the bytes object is immutable, and held by the caller and here.
    CallerBytes data;
    if (!data.hold(bound[0])) return nullptr;
    return finish_load(
        without_lock([&data, filename] { return load_bytes(data.bytes(), filename); }));
  });
}

}  // namespace

PyMethodDef read_method = {
    "read", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(read)),
    METH_FASTCALL | METH_KEYWORDS, "read(path)\n--\n\nLoad a pattern from a file path."};

PyMethodDef read_bytes_method = {
    "read_bytes", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(read_bytes)),
    METH_FASTCALL | METH_KEYWORDS,
    "read_bytes(data, filename)\n--\n\nLoad a pattern from raw bytes with a filename hint."};

}  // namespace morvex::python::morvex_module
