// Pair table: maps two adjacent tokens (left, right) to the token they merge
// into. With the split tables it decides whether two tokens may stand side by
// side in a rank-ordered byte-pair result.

#ifndef VELKAN_CORE_PAIR_TABLE_H_
#define VELKAN_CORE_PAIR_TABLE_H_

#include <cstdint>
#include <vector>

namespace velkan {

// One open-addressing slot; stored in images as u32, u32, i32.
struct PairEntry {
  uint32_t left;
  uint32_t right;
  int32_t merged;  // -1 marks an empty slot
};
static_assert(sizeof(PairEntry) == 12, "image layout");

struct PairTable {
  std::vector<PairEntry> entries;  // capacity slots
  uint32_t capacity = 0;           // a power of two
  uint32_t count = 0;              // occupied slots
};

}  // namespace velkan

#endif  // VELKAN_CORE_PAIR_TABLE_H_
