// A second thread for work that can also run on the calling thread (building
// or checking one automaton while the caller does the rest).
//
// A new thread's first allocations can kill the process instead of failing:
// glibc allocates the thread-local data of dynamically loaded libraries (the
// C++ runtime's exception globals among them) and, for the thread's first
// malloc, a new arena; when the address space is short (RLIMIT_AS, `ulimit
// -v`) that allocation aborts the process ("cannot allocate memory for
// thread-local data", status 127) where the caller would have raised
// MemoryError. So a thread is started only when the address space has room
// for its stack and arena, and it readies its exception globals first thing.

#ifndef VELKAN_UTIL_HELPER_THREAD_H_
#define VELKAN_UTIL_HELPER_THREAD_H_

#include <cstddef>
#include <system_error>
#include <utility>

#include "util/joining_thread.h"
#include "util/platform.h"
#include "util/thread_ready.h"

namespace velkan {

// A thread's stack (8 MiB by default) and the reservation glibc makes for a
// new arena (twice its 64 MiB heap size, trimmed after the mapping), with
// room to spare.
inline constexpr size_t kHelperThreadHeadroom = size_t{160} << 20;

// fn started on a new thread, or an empty (not joinable) JoiningThread when no
// thread could be had: then the caller runs fn itself. fn must not let an
// exception escape. Throws std::bad_alloc like any allocation.
template <typename Fn>
JoiningThread try_start_helper_thread(Fn& fn) {
  if (!platform::address_space_has_room(kHelperThreadHeadroom)) return {};
  try {
    return JoiningThread([&fn] {
      ready_thread_for_exceptions();
      fn();
    });
  } catch (const std::system_error&) {
    return {};  // no thread to be had (EAGAIN and the like)
  }
}

}  // namespace velkan

#endif  // VELKAN_UTIL_HELPER_THREAD_H_
