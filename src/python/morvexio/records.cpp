// Records to Python objects, in one place: metadata tables become dicts, arrays Columns.
#include <string>
#include <variant>

#include "python/morvexio/bindings.hpp"
#include "python/shared/reference.hpp"

namespace morvex::python::morvexio_module {
namespace {

PyObject* text(const std::string& value) {
  // Readers hand over UTF-8; a stray byte must not fail the whole load.
  return PyUnicode_DecodeUTF8(value.data(), static_cast<Py_ssize_t>(value.size()), "replace");
}

PyObject* table_to_dict(MetaTable&& table);

PyObject* value_to_python(MetaTable::Value&& value) {
  if (auto* s = std::get_if<std::string>(&value)) return text(*s);
  if (auto* d = std::get_if<double>(&value)) return PyFloat_FromDouble(*d);
  if (auto* v = std::get_if<std::vector<double>>(&value)) return wrap_column(std::move(*v));
  return table_to_dict(std::move(std::get<MetaTable>(value)));
}

PyObject* table_to_dict(MetaTable&& table) {
  Ref dict(PyDict_New());
  if (!dict) return nullptr;
  for (MetaEntry& entry : table.take_entries()) {
    Ref value(value_to_python(std::move(entry.value)));
    if (!value) return nullptr;
    Ref key(text(entry.key));
    if (!key || PyDict_SetItem(dict.get(), key.get(), value.get()) < 0) return nullptr;
  }
  return dict.release();
}

PyObject* scan_to_python(Scan&& scan) {
  Ref x(wrap_column(std::move(scan.x)));
  Ref y(x ? wrap_column(std::move(scan.y)) : nullptr);
  if (!y) return nullptr;
  Ref e(scan.e ? wrap_column(std::move(*scan.e)) : Py_NewRef(Py_None));
  if (!e) return nullptr;
  Ref meta(table_to_dict(std::move(scan.meta)));
  if (!meta) return nullptr;
  return PyTuple_Pack(4, x.get(), y.get(), e.get(), meta.get());
}

}  // namespace

PyObject* measurement_to_python(Measurement&& measurement) {
  Ref scans(PyList_New(0));
  if (!scans) return nullptr;
  for (Scan& scan : measurement.scans) {
    Ref item(scan_to_python(std::move(scan)));
    if (!item || PyList_Append(scans.get(), item.get()) < 0) return nullptr;
  }
  Ref format(text(measurement.format));
  Ref meta(format ? table_to_dict(std::move(measurement.meta)) : nullptr);
  if (!meta) return nullptr;
  return PyTuple_Pack(3, format.get(), meta.get(), scans.get());
}

}  // namespace morvex::python::morvexio_module
