// Readies a new thread to throw. The first exception a thread throws makes the
// C++ runtime allocate that thread's exception globals (thread-local storage of
// the dynamically loaded libstdc++); if memory is short at that moment, glibc
// kills the process instead of letting std::bad_alloc propagate. Every thread
// the library starts calls this first, while memory is not yet short.

#ifndef VELKAN_UTIL_THREAD_READY_H_
#define VELKAN_UTIL_THREAD_READY_H_

#include <exception>

namespace velkan {

inline void ready_thread_for_exceptions() {
  // Touches the thread's exception globals, which allocates them.
  [[maybe_unused]] volatile int uncaught = std::uncaught_exceptions();
}

}  // namespace velkan

#endif  // VELKAN_UTIL_THREAD_READY_H_
