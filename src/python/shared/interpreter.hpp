// One policy for both modules on interpreters and interrupts. Each keeps process-wide state
// (its types; morvexio's FormatError), so it lives in the first interpreter that imports it:
// a later import there gets the same module object, an import in any other interpreter is an
// ImportError. Signal handlers run between reads while a load goes on.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <atomic>
#include <cstdint>

namespace morvex::python {

struct ModuleHome {
  const char* name;  // as users import it, for the message
  std::atomic<std::int64_t> owner{-1};
  PyObject* module = nullptr;  // kept for the life of the process
};

// The module `create` makes on the first import, the same object after; nullptr with
// ImportError set in any other interpreter, or with create's error.
PyObject* import_once(ModuleHome& home, PyObject* (*create)());

}  // namespace morvex::python
