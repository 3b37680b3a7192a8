#include "python/shared/interpreter.hpp"

#include "core/interrupt.hpp"

namespace morvex::python {
namespace {

// Runs the interpreter's signal handlers between reads; a handler that raised ends the load,
// and its exception stays set for the caller.
bool check_signals() {
  return PyErr_CheckSignals() != 0;
}

}  // namespace

PyObject* import_once(ModuleHome& home, PyObject* (*create)()) {
  PyInterpreterState* interpreter = PyInterpreterState_Get();
  const std::int64_t id = PyInterpreterState_GetID(interpreter);
  if (id == -1) return nullptr;
  std::int64_t expected = -1;
  if (!home.owner.compare_exchange_strong(expected, id) && expected != id) {
    PyErr_Format(PyExc_ImportError,
                 "%s does not support subinterpreters: it can only be imported once per process",
                 home.name);
    return nullptr;
  }
  if (!home.module) {
    home.module = create();
    if (!home.module) return nullptr;
    set_interrupt_check(check_signals);
  }
  return Py_NewRef(home.module);
}

}  // namespace morvex::python
