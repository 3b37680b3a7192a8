// The Pattern type: an immutable record with three read-only list-valued attributes.
#include <memory>
#include <new>

#include "python/binding.hpp"

namespace morvex::python {
namespace {

struct PatternObject {
  PyObject_HEAD
  Pattern pattern;
};

enum class Column { x, y, e };

// PyBUF_READ: the same value in every CPython 3, though the 3.10 limited headers omit it.
constexpr int buffer_read = 0x100;

// Ends a view of the Pattern's own storage: released, not just dropped, so that a reference
// that escaped while Python code ran during tolist() (a gc callback walking gc.get_objects())
// raises ValueError when used instead of reading memory the Pattern may since have freed.
// An error already pending survives; one from the release itself has nothing to add.
struct ReleaseView {
  void operator()(PyObject* view) const {
    PyObject *type, *value, *traceback;
    PyErr_Fetch(&type, &value, &traceback);
    PyObject* done = PyObject_CallMethod(view, "release", nullptr);
    if (done) {
      Py_DECREF(done);
    } else {
      PyErr_Clear();
    }
    PyErr_Restore(type, value, traceback);
    Py_DECREF(view);
  }
};
using View = std::unique_ptr<PyObject, ReleaseView>;

// A new list of new floats. memoryview.tolist() fills it with CPython's own item macro, where
// PyList_SetItem, all the limited API offers, costs a call and its checks per value.
PyObject* to_list(const std::vector<double>& values) {
  if (values.empty()) return PyList_New(0);
  // Read-only, so the const_cast never lets Python write into the Pattern.
  auto* memory = reinterpret_cast<char*>(const_cast<double*>(values.data()));
  View bytes(PyMemoryView_FromMemory(
      memory, static_cast<Py_ssize_t>(values.size() * sizeof(double)), buffer_read));
  if (!bytes) return nullptr;
  View doubles(PyObject_CallMethod(bytes.get(), "cast", "s", "d"));
  if (!doubles) return nullptr;
  return PyObject_CallMethod(doubles.get(), "tolist", nullptr);
}

PyObject* get_column(PyObject* self, void* closure) {
  const Pattern& pattern = reinterpret_cast<PatternObject*>(self)->pattern;
  switch (static_cast<Column>(reinterpret_cast<std::intptr_t>(closure))) {
    case Column::x:
      return to_list(pattern.x);
    case Column::y:
      return to_list(pattern.y);
    case Column::e:
      if (!pattern.e) Py_RETURN_NONE;
      return to_list(*pattern.e);
  }
  Py_RETURN_NONE;
}

void* column_closure(Column column) {
  return reinterpret_cast<void*>(static_cast<std::intptr_t>(column));
}

void pattern_dealloc(PyObject* self) {
  PyTypeObject* type = Py_TYPE(self);
  reinterpret_cast<PatternObject*>(self)->pattern.~Pattern();
  auto free_object = reinterpret_cast<freefunc>(PyType_GetSlot(type, Py_tp_free));
  free_object(self);
  Py_DECREF(type);  // instances of heap types hold a reference to their type
}

PyGetSetDef pattern_getset[] = {
    {"x", get_column, nullptr, "The x-axis values (e.g., 2-theta or Q).",
     column_closure(Column::x)},
    {"y", get_column, nullptr, "The y-axis values (intensity).", column_closure(Column::y)},
    {"e", get_column, nullptr, "The uncertainty/error values, if available.",
     column_closure(Column::e)},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyType_Slot pattern_slots[] = {
    {Py_tp_doc,
     const_cast<char*>(
         "Represents a diffraction pattern with position, intensity, and optional error.")},
    {Py_tp_dealloc, reinterpret_cast<void*>(pattern_dealloc)},
    {Py_tp_getset, pattern_getset},
    {0, nullptr},
};

PyType_Spec pattern_spec = {
    .name = "builtins.Pattern",
    .basicsize = static_cast<int>(sizeof(PatternObject)),
    .itemsize = 0,
    .flags = Py_TPFLAGS_DEFAULT | Py_TPFLAGS_DISALLOW_INSTANTIATION,
    .slots = pattern_slots,
};

PyTypeObject* the_type = nullptr;

}  // namespace

PyTypeObject* pattern_type() {
  if (!the_type) the_type = reinterpret_cast<PyTypeObject*>(PyType_FromSpec(&pattern_spec));
  return the_type;
}

PyObject* wrap_pattern(Pattern&& pattern) {
  PyTypeObject* type = pattern_type();
  if (!type) return nullptr;
  auto alloc = reinterpret_cast<allocfunc>(PyType_GetSlot(type, Py_tp_alloc));
  PyObject* self = (alloc ? alloc : PyType_GenericAlloc)(type, 0);
  if (!self) return nullptr;
  new (&reinterpret_cast<PatternObject*>(self)->pattern) Pattern(std::move(pattern));
  return self;
}

}  // namespace morvex::python
