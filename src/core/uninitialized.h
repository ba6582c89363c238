// make_uninitialized_array<T>(n): an owned array of n default-initialized
// (for trivial types: uninitialized) elements, for buffers that are written
// before they are read. It is std::make_unique_for_overwrite<T[]> where the
// C++ library has it (libstdc++ 11 and newer), and its equivalent on the
// older libraries velkan still builds with (g++ 10's).

#ifndef VELKAN_CORE_UNINITIALIZED_H_
#define VELKAN_CORE_UNINITIALIZED_H_

#include <cstddef>
#include <memory>

namespace velkan {

template <typename T>
std::unique_ptr<T[]> make_uninitialized_array(size_t n) {
#if defined(__cpp_lib_smart_ptr_for_overwrite) && __cpp_lib_smart_ptr_for_overwrite >= 202002L
  return std::make_unique_for_overwrite<T[]>(n);
#else
  // Owned from the first moment, as make_unique_for_overwrite does it.
  return std::unique_ptr<T[]>(new T[n]);
#endif
}

}  // namespace velkan

#endif  // VELKAN_CORE_UNINITIALIZED_H_
