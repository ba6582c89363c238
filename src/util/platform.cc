#include "util/platform.h"

#if defined(__linux__)
#include <sched.h>
#endif
#if defined(__unix__) || defined(__APPLE__)
#include <pthread.h>
#include <sys/mman.h>
#define VELKAN_HAVE_POSIX 1
#endif

#include <thread>

namespace velkan::platform {

int usable_processors() {
#if defined(__linux__)
  cpu_set_t set;
  if (sched_getaffinity(0, sizeof(set), &set) == 0) {
    const int n = CPU_COUNT(&set);
    if (n > 0) return n;
  }
#endif
  return static_cast<int>(std::thread::hardware_concurrency());
}

void on_fork(void (*prepare)(), void (*parent)(), void (*child)()) {
#if defined(VELKAN_HAVE_POSIX)
  pthread_atfork(prepare, parent, child);
#else
  (void)prepare;
  (void)parent;
  (void)child;
#endif
}

bool address_space_has_room(size_t size) {
#if defined(VELKAN_HAVE_POSIX)
  void* probe = mmap(nullptr, size, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
  if (probe == MAP_FAILED) return false;
  munmap(probe, size);
#else
  (void)size;
#endif
  return true;
}

}  // namespace velkan::platform
