// One policy for both modules on interpreters, the interpreter lock and interrupts. Each
// module keeps process-wide state (its types; morvexio's FormatError), so it lives in the
// first interpreter that imports it: a later import there gets the same module object, an
// import in any other interpreter is an ImportError. Loads run with the lock released; a
// signal that breaks a blocking read takes it back just long enough to run the handlers.
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

// Releases the interpreter lock for its lifetime, which no Python object may be touched in;
// the lock is taken back on every way out, an exception's too.
class LockReleased {
 public:
  LockReleased();
  LockReleased(const LockReleased&) = delete;
  LockReleased& operator=(const LockReleased&) = delete;
  ~LockReleased();

  // Runs the signal handlers, with the lock taken back for that long where this thread
  // released it; true when one raised (its exception stays set).
  static bool check_signals();

 private:
  PyThreadState* state_;
  LockReleased* outer_;
};

// `work()` with the lock released.
template <class Work>
auto without_lock(Work work) {
  LockReleased released;
  return work();
}

// `work()` with the lock released where `release`: a reader of memory that Python code could
// change meanwhile keeps the lock, so that the bytes stay as they were checked.
template <class Work>
auto without_lock_if(bool release, Work work) {
  return release ? without_lock(work) : work();
}

}  // namespace morvex::python
