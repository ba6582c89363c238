// Letting the interpreter lock go around native work, taking it back, and the
// Ctrl-C checks made meanwhile: the binding takes the lock back nowhere else.
//
// Why not Py_BEGIN/END_ALLOW_THREADS: a thread that takes the lock back
// while the interpreter finalizes (a daemon thread at exit) is ended by
// CPython before 3.14 with pthread_exit, which unwinds through our frames.
// That unwinding frees arrays the worker pool is still writing and drops
// owned references without the lock, and the process dies at exit. Such a
// thread is parked for good instead, as CPython 3.14 does itself: the
// process is exiting, and whatever the thread owns stays valid until then.

#ifndef VELKAN_PYTHON_INTERPRETER_LOCK_H_
#define VELKAN_PYTHON_INTERPRETER_LOCK_H_

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include "driver/piecewise.h"

namespace velkan {

// PyEval_RestoreThread(saved), except that a thread that would be ended for
// finalization never returns (see above).
void lock_take_back(PyThreadState* saved);

// The lock let go for a scope, taken back (as lock_take_back does) when the
// scope ends, however it ends.
class LockReleased {
 public:
  LockReleased() : saved_(PyEval_SaveThread()) {}
  ~LockReleased() { lock_take_back(saved_); }
  LockReleased(const LockReleased&) = delete;
  LockReleased& operator=(const LockReleased&) = delete;

 private:
  PyThreadState* saved_;
};

// The driver's interrupt hook: runs pending signal handlers, so Ctrl-C
// stops a long call with KeyboardInterrupt. While saved is set (the caller
// let the lock go) the hook takes the lock back for the handlers and lets
// it go again. raised tells the caller that an exception is set.
struct SignalCheck {
  PyThreadState* saved = nullptr;
  bool raised = false;
  Interrupt hook{[](void* self) {
                   auto* check = static_cast<SignalCheck*>(self);
                   if (check->saved != nullptr) lock_take_back(check->saved);
                   check->raised = PyErr_CheckSignals() != 0;
                   if (check->saved != nullptr) check->saved = PyEval_SaveThread();
                   return check->raised;
                 },
                 this};
  SignalCheck() = default;
  SignalCheck(const SignalCheck&) = delete;
  SignalCheck& operator=(const SignalCheck&) = delete;

  // Lets the lock go; the hook then takes it back for each check.
  void release() { saved = PyEval_SaveThread(); }
  // Takes it back for good.
  void take_back() {
    lock_take_back(saved);
    saved = nullptr;
  }
};

}  // namespace velkan

#endif  // VELKAN_PYTHON_INTERPRETER_LOCK_H_
