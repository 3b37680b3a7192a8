// The Column type: the memory of a vector a reader filled, exported through the buffer
// protocol as one read-only row of doubles, so that numpy arrays share it without a copy.
#include <new>

#include "python/morvexio/bindings.hpp"

namespace morvex::python::morvexio_module {
namespace {

struct ColumnObject {
  PyObject_HEAD std::vector<double> values;
  Py_ssize_t length;  // what `shape` points at
};

// One double after the next: the stride of every export.
Py_ssize_t item_stride = sizeof(double);
char double_format[] = "d";

int column_getbuffer(PyObject* self, Py_buffer* view, int flags) {
  if ((flags & PyBUF_WRITABLE) == PyBUF_WRITABLE) {
    PyErr_SetString(PyExc_BufferError, "morvexio arrays are read-only");
    view->obj = nullptr;
    return -1;
  }
  auto* column = reinterpret_cast<ColumnObject*>(self);
  // Filled by hand: PyBuffer_FillInfo describes bytes, and its shape would count them.
  view->buf = column->values.data();
  view->obj = Py_NewRef(self);
  view->len = column->length * item_stride;
  view->readonly = 1;
  view->itemsize = item_stride;
  view->format = (flags & PyBUF_FORMAT) == PyBUF_FORMAT ? double_format : nullptr;
  view->ndim = 1;
  view->shape = (flags & PyBUF_ND) == PyBUF_ND ? &column->length : nullptr;
  view->strides = (flags & PyBUF_STRIDES) == PyBUF_STRIDES ? &item_stride : nullptr;
  view->suboffsets = nullptr;
  view->internal = nullptr;
  return 0;
}

void column_releasebuffer(PyObject*, Py_buffer*) {}

Py_ssize_t column_length(PyObject* self) {
  return reinterpret_cast<ColumnObject*>(self)->length;
}

void column_dealloc(PyObject* self) {
  PyTypeObject* type = Py_TYPE(self);
  reinterpret_cast<ColumnObject*>(self)->values.~vector();
  auto free_object = reinterpret_cast<freefunc>(PyType_GetSlot(type, Py_tp_free));
  free_object(self);
  Py_DECREF(type);  // instances of heap types hold a reference to their type
}

PyType_Slot column_slots[] = {
    {Py_tp_doc, const_cast<char*>("Read-only doubles a reader produced, shared with numpy.")},
    {Py_tp_dealloc, reinterpret_cast<void*>(column_dealloc)},
    {Py_bf_getbuffer, reinterpret_cast<void*>(column_getbuffer)},
    {Py_bf_releasebuffer, reinterpret_cast<void*>(column_releasebuffer)},
    {Py_sq_length, reinterpret_cast<void*>(column_length)},
    {0, nullptr},
};

PyType_Spec column_spec = {
    .name = "morvexio._morvexio.Column",
    .basicsize = static_cast<int>(sizeof(ColumnObject)),
    .itemsize = 0,
    .flags = Py_TPFLAGS_DEFAULT | Py_TPFLAGS_DISALLOW_INSTANTIATION,
    .slots = column_slots,
};

PyTypeObject* the_type = nullptr;

}  // namespace

PyTypeObject* column_type() {
  if (!the_type) the_type = reinterpret_cast<PyTypeObject*>(PyType_FromSpec(&column_spec));
  return the_type;
}

PyObject* wrap_column(std::vector<double>&& values) {
  PyTypeObject* type = column_type();
  if (!type) return nullptr;
  auto alloc = reinterpret_cast<allocfunc>(PyType_GetSlot(type, Py_tp_alloc));
  PyObject* self = (alloc ? alloc : PyType_GenericAlloc)(type, 0);
  if (!self) return nullptr;
  auto* column = reinterpret_cast<ColumnObject*>(self);
  new (&column->values) std::vector<double>(std::move(values));
  column->length = static_cast<Py_ssize_t>(column->values.size());
  return self;
}

}  // namespace morvex::python::morvexio_module
