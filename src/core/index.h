// ix(): an id, slot or record number as a container index.

#ifndef VELKAN_CORE_INDEX_H_
#define VELKAN_CORE_INDEX_H_

#include <cstddef>

namespace velkan {

// An id, slot or record number as a container index. They are i32 where the
// image format stores them so; wherever one is used as an index it has been
// checked (or built) non-negative.
template <typename T>
constexpr size_t ix(T i) {
  return static_cast<size_t>(i);
}

}  // namespace velkan

#endif  // VELKAN_CORE_INDEX_H_
