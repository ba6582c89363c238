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
// Layout: two tables by segment length, as in piece_cache.h. Segments of up
// to 64 bytes and 14 ids take 128-byte slots (65,536 of them, 8 MiB); longer
// ones, up to 128 bytes and 30 ids, 256-byte slots (16,384, 4 MiB): 12 MiB
// per vocabulary, the whole bound, made with the handle. A segment lives in
// either of two neighbouring slots, random eviction by the writer; segments
// of more ids are left out. Readers take no lock: the slots are seqlocks
// (core/seqlock_slot.h).
//
// Performance notes: the long table is for text without ASCII spaces. In the
// benchmark's CJK corpus 44% of the bytes lie in segments longer than 64
// bytes or of more than 14 ids (Chinese and Japanese clauses between two
// punctuation marks); up to 128 bytes and 30 ids, 97% of them are covered.
// Size: a text of a few MB has more segments than the tables hold, and a
// second pass over it finds only those random eviction kept. Half as many
// slots (6 MiB) kept about a third of a 4 MB text's; with these its second
// encode runs 1.14x to 1.17x faster, its second count 1.06x (medians of six
// fresh processes), while 8 KB documents, seen or not, run the same (0.98x
// to 1.03x seen, 0.91x to 1.14x never seen; benchmarks/ab.py).

#ifndef VELKAN_CORE_SEGMENT_CACHE_H_
#define VELKAN_CORE_SEGMENT_CACHE_H_

#include <atomic>
#include <bit>
#include <cstdint>
#include <cstring>

#include "core/seqlock_slot.h"
#include "util/atomic_ref.h"
#include "util/huge_pages.h"

namespace velkan {

class SegmentCache {
 public:
  static constexpr uint64_t kMinBytes = 24;       // shorter runs are left to the piece path
  static constexpr uint64_t kShortBytes = 64;     // up to here the small slots
  static constexpr uint64_t kMaxBytes = 128;      // longer runs are not cached
  static constexpr uint32_t kMaxIds = 30;         // nor runs of more ids
  static constexpr uint32_t kShortSlots = 65536;  // powers of two
  static constexpr uint32_t kLongSlots = 16384;

  // A segment as the tables compare it: its bytes where they lie in the
  // text, read as zero-padded little-endian words, its length and its pair's
  // first slot. The text must outlive the key. Performance notes: keys that
  // held a zeroed copy of the bytes (136 bytes, copied twice more by the
  // walk) made text seen before 1.05x to 1.37x slower to encode and count,
  // text never seen up to 1.08x (benchmarks/ab.py).
  struct Key {
    const uint8_t* bytes;
    uint32_t length;
    uint32_t slot;  // the pair's first slot in its table; the other is slot ^ 1

    // Word i of the key; the last one holds the tail's bytes and zeros,
    // read as the text's last eight bytes shifted down (length >= 8).
    uint64_t operator[](uint32_t i) const {
      const uint32_t at = 8 * i;
      if (at + 8 <= length) return load_le64(bytes + at);
      return load_le64(bytes + length - 8) >> (8 * (8 - (length - at)));
    }
  };

  // segment[0, length), 8 <= length <= kMaxBytes (the walk's are at least
  // kMinBytes).
  static Key key_of(const uint8_t* segment, uint64_t length) {
    Key key{segment, static_cast<uint32_t>(length), 0};
    // Independent products, summed: eight words cost about what one does in
    // a chain of multiplies.
    constexpr uint64_t kMul[8] = {
        0x9E3779B97F4A7C15ULL, 0xBF58476D1CE4E5B9ULL, 0x94D049BB133111EBULL, 0xD6E8FEB86659FD93ULL,
        0xA0761D6478BD642FULL, 0xE7037ED1A0B428DBULL, 0x8EBC6AF09C88C6E3ULL, 0x589965CC75374CC3ULL};
    uint64_t h = length * 0x2545F4914F6CDD1DULL;
    for (uint32_t i = 0; i < (length + 7) / 8; i++) {
      // Words past the eighth rotated first, so that two words at i and
      // i + 8 do not cancel.
      const uint64_t w = i < 8 ? key[i] : std::rotl(key[i], 23);
      h += (w ^ (w >> 29)) * kMul[i & 7];
    }
    h ^= h >> 32;
    h *= 0xD6E8FEB86659FD93ULL;
    h ^= h >> 32;
    key.slot = static_cast<uint32_t>(h) & ((length <= kShortBytes ? kShortSlots : kLongSlots) - 1);
    return key;
  }

  SegmentCache() : memory_(kBytes) {
    // Faulted in with the vocabulary, as piece_cache.h explains.
    for (size_t at = 0; at < kBytes; at += HugePageBuffer::kHugePage) {
      AtomicRef<uint8_t>(memory_.data()[at]).store(0, std::memory_order_relaxed);
    }
  }
  SegmentCache(const SegmentCache&) : SegmentCache() {}
  SegmentCache& operator=(const SegmentCache&) = delete;

  // Copies the segment's ids into out (room for kMaxIds) and returns their
  // number, or 0 when it is not in the cache. Without kIds only the number
  // (a count's walk; out is unused).
  template <bool kIds = true>
  uint32_t find(const Key& key, uint32_t* out) const {
    if (key.length <= kShortBytes) return find_in<kIds>(short_slots(), key, out);
    return find_in<kIds>(long_slots(), key, out);
  }

  // Starts loading the segment's two slots, so that a find() a few segments
  // later does not wait for memory: a table of 4 MiB is mostly not in cache,
  // and a lone probe costs a trip to memory (about 100 ns here).
  // Always inlined: g++ 12 takes a call of it for one without effect (it
  // only reads) and drops it.
  [[gnu::always_inline]] void prefetch(const Key& key) const {
    const uint8_t* pair;
    size_t bytes;
    if (key.length <= kShortBytes) {
      pair = reinterpret_cast<const uint8_t*>(short_slots() + (key.slot & ~1u));
      bytes = 2 * sizeof(ShortSlot);
    } else {
      pair = reinterpret_cast<const uint8_t*>(long_slots() + (key.slot & ~1u));
      bytes = 2 * sizeof(LongSlot);
    }
    for (size_t at = 0; at < bytes; at += 64) __builtin_prefetch(pair + at);
  }

  // Stores the segment's ids (1 to its table's most; others are left out).
  void put(const Key& key, const uint32_t* ids, uint64_t count, uint64_t choice) {
    if (key.length <= kShortBytes) {
      seqlock_write(short_slots(), key.slot, choice, key, key.length, ids, count);
    } else {
      seqlock_write(long_slots(), key.slot, choice, key, key.length, ids, count);
    }
  }

 private:
  using ShortSlot = SeqlockSlot<kShortBytes / 8, 14>;
  using LongSlot = SeqlockSlot<kMaxBytes / 8, kMaxIds>;
  static_assert(sizeof(ShortSlot) == 128 && sizeof(LongSlot) == 256);
  static constexpr size_t kShortTotal = size_t{kShortSlots} * sizeof(ShortSlot);
  static constexpr size_t kBytes = kShortTotal + size_t{kLongSlots} * sizeof(LongSlot);
  static_assert(kBytes % HugePageBuffer::kHugePage == 0);

  ShortSlot* short_slots() const { return memory_.as<ShortSlot>(); }
  LongSlot* long_slots() const { return reinterpret_cast<LongSlot*>(memory_.data() + kShortTotal); }

  template <bool kIds, typename Slot>
  static uint32_t find_in(Slot* table, const Key& key, uint32_t* out) {
    if (const uint32_t n = seqlock_read<kIds>(table[key.slot], key, key.length, out)) return n;
    return seqlock_read<kIds>(table[key.slot ^ 1], key, key.length, out);
  }

  static uint64_t load_le64(const uint8_t* at) {
    uint64_t w;
    std::memcpy(&w, at, 8);
    if constexpr (std::endian::native == std::endian::big) w = __builtin_bswap64(w);
    return w;
  }

  HugePageBuffer memory_;
};

}  // namespace velkan

#endif  // VELKAN_CORE_SEGMENT_CACHE_H_
