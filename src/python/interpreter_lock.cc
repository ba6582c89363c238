#include "python/interpreter_lock.h"

#include <chrono>
#include <thread>

// glibc's pthread_exit unwinds the thread, as abi::__forced_unwind where the
// C++ library is libstdc++ (libc++ has no such type to catch).
#if defined(__GLIBC__) && defined(__GLIBCXX__)
#define VELKAN_FORCED_UNWIND 1
#include <cxxabi.h>
#else
#define VELKAN_FORCED_UNWIND 0
#endif

namespace velkan {
namespace {

[[noreturn]] void park_forever() {
  for (;;) std::this_thread::sleep_for(std::chrono::hours(24));
}

#if !VELKAN_FORCED_UNWIND && PY_VERSION_HEX < 0x030E0000
#if PY_VERSION_HEX >= 0x030D0000
// Still exported, though no longer declared in the public headers.
extern "C" PyAPI_FUNC(int) _PyOS_IsMainThread(void);
#endif
// Where pthread_exit does not unwind (or threads end otherwise) the thread
// is parked before the call instead. The finalizing thread itself (the main
// thread, in all but embedders' programs) must go on.
bool would_be_ended() {
#if PY_VERSION_HEX >= 0x030D0000
  return Py_IsFinalizing() != 0 && _PyOS_IsMainThread() == 0;
#else
  return _Py_IsFinalizing() != 0 && _PyOS_IsMainThread() == 0;
#endif
}
#endif

}  // namespace

void lock_take_back(PyThreadState* saved) {
#if VELKAN_FORCED_UNWIND
  // The unwinding of pthread_exit is stopped here.
  // Left unrethrown the unwinding would abort, so the handler never ends.
  try {
    PyEval_RestoreThread(saved);
  } catch (abi::__forced_unwind&) {
    park_forever();
  }
#else
#if PY_VERSION_HEX < 0x030E0000
  if (would_be_ended()) park_forever();
#endif
  PyEval_RestoreThread(saved);
#endif
}

}  // namespace velkan
