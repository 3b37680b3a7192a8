#include "python/shared/interpreter.hpp"

#include "core/interrupt.hpp"

namespace morvex::python {
namespace {

// The innermost release of this thread, if any.
thread_local LockReleased* released_here = nullptr;

}  // namespace

LockReleased::LockReleased() : state_(PyEval_SaveThread()), outer_(released_here) {
  released_here = this;
}

LockReleased::~LockReleased() {
  released_here = outer_;
  PyEval_RestoreThread(state_);
}

bool LockReleased::check_signals() {
  LockReleased* released = released_here;
  if (!released) return PyErr_CheckSignals() != 0;
  PyEval_RestoreThread(released->state_);
  const bool raised = PyErr_CheckSignals() != 0;
  released->state_ = PyEval_SaveThread();
  return raised;
}

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
    set_interrupt_check(LockReleased::check_signals);
  }
  return Py_NewRef(home.module);
}

}  // namespace morvex::python
