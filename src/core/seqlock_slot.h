// The slot of a process-wide cache that readers copy without a lock (the
// piece cache, core/piece_cache.h, and the segment cache, segment_cache.h):
// a key of whole zero-padded words, its length, and the ids it maps to.
//
// Each slot has a version word that a writer makes odd while it writes and
// even again after (a seqlock); a reader copies the slot and keeps the copy
// only if the version was even and unchanged. A writer that finds its slot
// being written by another thread leaves its entry out. So a hit returns
// exactly the ids one writer stored for exactly those bytes. After fork the
// child inherits the tables; a slot caught mid-write is odd for good and
// just never hits again.

#ifndef VELKAN_CORE_SEQLOCK_SLOT_H_
#define VELKAN_CORE_SEQLOCK_SLOT_H_

#include <atomic>
#include <cstdint>

#include "util/atomic_ref.h"

namespace velkan {

template <uint32_t kWords, uint32_t kIds>
struct alignas(64) SeqlockSlot {
  static constexpr uint32_t max_words = kWords;
  static constexpr uint32_t max_ids = kIds;
  uint32_t version;  // odd while a writer is at it
  uint32_t shape;    // length | count << 8; 0: empty
  uint64_t key[kWords];
  uint32_t ids[kIds];
};

// Copies the slot's ids into out (room for max_ids) and returns their number
// when the slot holds exactly the key words[0, (length + 7) / 8) of length
// bytes; 0 otherwise. words: an array of the zero-padded words, or anything
// that gives word i as words[i]. Without kIds the ids are not copied (out
// is unused): the number alone, for a count.
template <bool kIds = true, typename Slot, typename Words>
inline uint32_t seqlock_read(Slot& slot, const Words& words, uint32_t length, uint32_t* out) {
  const uint32_t before = AtomicRef<uint32_t>(slot.version).load(std::memory_order_acquire);
  if (before & 1) return 0;
  const uint32_t shape = AtomicRef<uint32_t>(slot.shape).load(std::memory_order_relaxed);
  if ((shape & 0xFF) != length) return 0;
  // Words past the length may be stale from a longer key: only the key's
  // own are compared (the last one's padding is zero on both sides, since
  // writers store whole zero-padded words).
  for (uint32_t i = 0; i < (length + 7) / 8; i++) {
    if (AtomicRef<uint64_t>(slot.key[i]).load(std::memory_order_relaxed) != words[i]) return 0;
  }
  const uint32_t count = shape >> 8;
  if constexpr (kIds) {
    for (uint32_t i = 0; i < count && i < Slot::max_ids; i++)
      out[i] = AtomicRef<uint32_t>(slot.ids[i]).load(std::memory_order_relaxed);
  }
  std::atomic_thread_fence(std::memory_order_acquire);
  if (AtomicRef<uint32_t>(slot.version).load(std::memory_order_relaxed) != before) return 0;
  return count;
}

// Stores the key and its ids (1 to max_ids of them; others are left out) in
// table[first] or table[first ^ 1]: an empty one, else the one choice's low
// bit picks.
template <typename Slot, typename Words>
inline void seqlock_write(Slot* table, uint32_t first, uint64_t choice, const Words& words,
                          uint32_t length, const uint32_t* ids, uint64_t count) {
  if (count == 0 || count > Slot::max_ids) return;
  const auto empty = [](Slot& slot) {
    return AtomicRef<uint32_t>(slot.shape).load(std::memory_order_relaxed) == 0;
  };
  uint32_t index = first ^ static_cast<uint32_t>(choice & 1);
  if (empty(table[first])) {
    index = first;
  } else if (empty(table[first ^ 1])) {
    index = first ^ 1;
  }
  Slot& slot = table[index];
  AtomicRef<uint32_t> version(slot.version);
  uint32_t v = version.load(std::memory_order_relaxed);
  if ((v & 1) || !version.compare_exchange_strong(v, v + 1, std::memory_order_acquire)) return;
  std::atomic_thread_fence(std::memory_order_release);
  AtomicRef<uint32_t>(slot.shape)
      .store(length | static_cast<uint32_t>(count) << 8, std::memory_order_relaxed);
  for (uint32_t i = 0; i < (length + 7) / 8; i++)
    AtomicRef<uint64_t>(slot.key[i]).store(words[i], std::memory_order_relaxed);
  for (uint32_t i = 0; i < count; i++)
    AtomicRef<uint32_t>(slot.ids[i]).store(ids[i], std::memory_order_relaxed);
  version.store(v + 2, std::memory_order_release);
}

}  // namespace velkan

#endif  // VELKAN_CORE_SEQLOCK_SLOT_H_
