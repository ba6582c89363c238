// What velkan asks of the operating system beyond standard C++, in one place.
// Each call has its Linux or POSIX form and a fallback for systems without it
// (macOS has no affinity masks, Windows no fork and no mmap), so the rest of
// the code builds anywhere and stays free of system headers.

#ifndef VELKAN_UTIL_PLATFORM_H_
#define VELKAN_UTIL_PLATFORM_H_

#include <cstddef>

namespace velkan::platform {

// The processors this process may run on: its affinity mask on Linux (a
// container or `taskset` may allow fewer than the machine has), else what
// the standard library reports. 0 when unknown.
int usable_processors();

// Handlers run around fork() (pthread_atfork): prepare in the parent before
// the fork, parent and child in each after it; any may be null. Where there
// is no fork, nothing to do.
void on_fork(void (*prepare)(), void (*parent)(), void (*child)());

// Whether size bytes of address space can be mapped now. The probe takes no
// memory (no access, no reserve) and is given back at once. Without mmap it
// answers true: the allocation that follows fails in the ordinary way.
bool address_space_has_room(size_t size);

}  // namespace velkan::platform

#endif  // VELKAN_UTIL_PLATFORM_H_
