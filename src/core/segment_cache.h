// The process-wide cache of segments for one vocabulary: runs of whole
// pieces between two word cuts (presplit/word_cuts.h), 24 to 64 bytes long,
// mapped to their ids, shared by every call and pool worker of the handle.
// A text met again (a chat history re-encoded every turn, a prompt sent many
// times, a document counted and then encoded) costs a hash and a probe per
// segment instead of a split, a probe and often an encoder run per piece.
//
// Exact by construction: the key is the segment's bytes, compared in full,
// and a segment between two word cuts has the same pieces in every text.
//
// Layout: 32,768 slots of 128 bytes (4 MiB per vocabulary, the whole bound,
// made with the handle), a segment in either of two neighbouring slots as in
// piece_cache.h, random eviction by the writer. A slot holds up to 64 bytes
// and 14 ids; segments of more ids are left out. Readers take no lock: the
// slots are seqlocks (core/seqlock_slot.h).

#ifndef VELKAN_CORE_SEGMENT_CACHE_H_
#define VELKAN_CORE_SEGMENT_CACHE_H_

#include <atomic>
#include <cstdint>
#include <cstring>

#include "core/seqlock_slot.h"
#include "util/huge_pages.h"

namespace velkan {

class SegmentCache {
 public:
  static constexpr uint64_t kMinBytes = 24;  // shorter runs are left to the piece path
  static constexpr uint64_t kMaxBytes = 64;
  static constexpr uint32_t kMaxIds = 14;
  static constexpr uint32_t kSlots = 32768;  // a power of two

  struct Key {
    uint64_t words[kMaxBytes / 8];
    uint32_t length;
    uint32_t slot;  // the pair's first slot; the other is slot ^ 1
  };

  // segment[0, length), 0 < length <= kMaxBytes.
  static Key key_of(const uint8_t* segment, uint64_t length) {
    Key key{};
    std::memcpy(key.words, segment, length);
    key.length = static_cast<uint32_t>(length);
    // Independent products, summed: eight words cost about what one does in
    // a chain of multiplies.
    constexpr uint64_t kMul[8] = {
        0x9E3779B97F4A7C15ULL, 0xBF58476D1CE4E5B9ULL, 0x94D049BB133111EBULL, 0xD6E8FEB86659FD93ULL,
        0xA0761D6478BD642FULL, 0xE7037ED1A0B428DBULL, 0x8EBC6AF09C88C6E3ULL, 0x589965CC75374CC3ULL};
    uint64_t h = length * 0x2545F4914F6CDD1DULL;
    for (uint32_t i = 0; i < (length + 7) / 8; i++) {
      h += (key.words[i] ^ (key.words[i] >> 29)) * kMul[i];
    }
    h ^= h >> 32;
    h *= 0xD6E8FEB86659FD93ULL;
    h ^= h >> 32;
    key.slot = static_cast<uint32_t>(h) & (kSlots - 1);
    return key;
  }

  SegmentCache() : memory_(kBytes) {
    // Faulted in with the vocabulary, as piece_cache.h explains.
    for (size_t at = 0; at < kBytes; at += HugePageBuffer::kHugePage) {
      std::atomic_ref<uint8_t>(memory_.data()[at]).store(0, std::memory_order_relaxed);
    }
  }
  SegmentCache(const SegmentCache&) : SegmentCache() {}
  SegmentCache& operator=(const SegmentCache&) = delete;

  // Copies the segment's ids into out (room for kMaxIds) and returns their
  // number, or 0 when it is not in the cache.
  uint32_t find(const Key& key, uint32_t* out) const {
    Slot* table = slots();
    if (const uint32_t n = read(table[key.slot], key, out)) return n;
    return read(table[key.slot ^ 1], key, out);
  }

  // Starts loading the segment's two slots, so that a find() a few segments
  // later does not wait for memory: a table of 4 MiB is mostly not in cache,
  // and a lone probe costs a trip to memory (about 100 ns here).
  // Always inlined: g++ 12 takes a call of it for one without effect (it
  // only reads) and drops it.
  [[gnu::always_inline]] void prefetch(const Key& key) const {
    const uint8_t* pair = memory_.data() + sizeof(Slot) * (key.slot & ~1u);
    __builtin_prefetch(pair);
    __builtin_prefetch(pair + 64);
    __builtin_prefetch(pair + 128);
    __builtin_prefetch(pair + 192);
  }

  // Stores the segment's ids (1 to kMaxIds of them; others are left out).
  void put(const Key& key, const uint32_t* ids, uint64_t count, uint64_t choice) {
    seqlock_write(slots(), key.slot, choice, key.words, key.length, ids, count);
  }

 private:
  using Slot = SeqlockSlot<kMaxBytes / 8, kMaxIds>;
  static_assert(sizeof(Slot) == 128);
  static constexpr size_t kBytes = size_t{kSlots} * sizeof(Slot);
  static_assert(kBytes % HugePageBuffer::kHugePage == 0);

  Slot* slots() const { return memory_.as<Slot>(); }

  static uint32_t read(Slot& slot, const Key& key, uint32_t* out) {
    return seqlock_read(slot, key.words, key.length, out);
  }

  HugePageBuffer memory_;
};

}  // namespace velkan

#endif  // VELKAN_CORE_SEGMENT_CACHE_H_
