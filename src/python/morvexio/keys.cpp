// keys(): the declared metadata keys, for morvexio.keys() and the converter's columns.
#include "core/metadata_keys.hpp"
#include "python/morvexio/bindings.hpp"
#include "python/shared/guard.hpp"

namespace morvex::python::morvexio_module {
namespace {

// An empty view may hold no pointer, which "s#" would make None.
const char* chars(std::string_view text) {
  return text.empty() ? "" : text.data();
}

Py_ssize_t length(std::string_view text) {
  return static_cast<Py_ssize_t>(text.size());
}

PyObject* key_row(const MetaKey& key) {
  const std::string_view level = level_word(key.level);
  const std::string_view type = type_word(key.type);
  return Py_BuildValue("(s#s#s#s#s#s#)", chars(key.name), length(key.name), chars(level),
                       length(level), chars(type), length(type), chars(key.unit), length(key.unit),
                       chars(key.meaning), length(key.meaning), chars(key.formats),
                       length(key.formats));
}

}  // namespace

PyObject* keys(PyObject*, PyObject*) {
  return guarded("morvexio", [&]() -> PyObject* {
    PyObject* rows = PyTuple_New(static_cast<Py_ssize_t>(metadata_keys.size()));
    for (std::size_t i = 0; rows && i < metadata_keys.size(); ++i) {
      PyObject* row = key_row(metadata_keys[i]);
      if (!row) Py_CLEAR(rows);
      if (rows) PyTuple_SetItem(rows, static_cast<Py_ssize_t>(i), row);
    }
    return rows;
  });
}

}  // namespace morvex::python::morvexio_module
