// rows_text: columns of doubles as text rows, every number the shortest that reads back as
// it, for writers that would otherwise format each value in Python.
#include <cstring>
#include <memory>
#include <vector>

#include "core/number_text.hpp"
#include "python/morvexio/bindings.hpp"
#include "python/shared/guard.hpp"

namespace morvex::python::morvexio_module {
namespace {

// One-dimensional, contiguous native doubles: numpy's float64 arrays and morvexio's columns.
bool is_double_column(const Py_buffer& view) {
  const char* format = view.format ? view.format : "B";
  if (*format == '@' || *format == '=' || *format == '<') ++format;
  return view.ndim == 1 && view.itemsize == sizeof(double) && std::strcmp(format, "d") == 0;
}

// Holds the buffers of the columns while the rows are written.
class Columns {
 public:
  ~Columns() {
    for (Py_buffer& view : views_) PyBuffer_Release(&view);
  }
  bool add(PyObject* object) {
    Py_buffer view;
    if (PyObject_GetBuffer(object, &view, PyBUF_C_CONTIGUOUS | PyBUF_FORMAT) < 0) return false;
    views_.push_back(view);
    if (!is_double_column(view)) {
      PyErr_SetString(PyExc_TypeError, "rows_text: each column must be 1-D float64");
      return false;
    }
    if (views_.size() > 1 && view.len != views_.front().len) {
      PyErr_SetString(PyExc_ValueError, "rows_text: the columns differ in length");
      return false;
    }
    return true;
  }
  std::size_t rows() const {
    return views_.empty() ? 0 : static_cast<std::size_t>(views_.front().len) / sizeof(double);
  }
  double at(std::size_t column, std::size_t row) const {
    double value;
    std::memcpy(&value, static_cast<const char*>(views_[column].buf) + row * sizeof(double),
                sizeof value);
    return value;
  }
  std::size_t size() const { return views_.size(); }

 private:
  std::vector<Py_buffer> views_;
};

}  // namespace

PyObject* rows_text(PyObject*, PyObject* const* args, Py_ssize_t nargs) {
  return guarded("morvexio", [&]() -> PyObject* {
    if (nargs != 2 || !PyTuple_Check(args[0]) || !PyUnicode_Check(args[1])) {
      PyErr_SetString(PyExc_TypeError, "rows_text(columns: tuple, separator: str)");
      return nullptr;
    }
    Py_ssize_t separator_size = 0;
    const char* separator = PyUnicode_AsUTF8AndSize(args[1], &separator_size);
    if (!separator) return nullptr;
    Columns columns;
    for (Py_ssize_t k = 0; k < PyTuple_Size(args[0]); ++k) {
      if (!columns.add(PyTuple_GetItem(args[0], k))) return nullptr;
    }
    const auto gap = static_cast<std::size_t>(separator_size);
    // Room for the longest rows, written in place and cut to size.
    // Not zero-filled first: only the written part is ever read.
    const auto text = std::make_unique_for_overwrite<char[]>(
        columns.rows() * columns.size() * (max_number_text + gap) + 1);
    char* out = text.get();
    for (std::size_t row = 0; row < columns.rows(); ++row) {
      for (std::size_t column = 0; column < columns.size(); ++column) {
        if (column != 0) {
          std::memcpy(out, separator, gap);
          out += gap;
        }
        out += write_number(columns.at(column, row), out);
      }
      *out++ = '\n';
    }
    return PyBytes_FromStringAndSize(text.get(), static_cast<Py_ssize_t>(out - text.get()));
  });
}

}  // namespace morvex::python::morvexio_module
