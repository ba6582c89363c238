// The process-wide cache of encoded pieces for one vocabulary: piece bytes to
// their token ids, shared by every call and every pool worker that uses the
// vocabulary's handle. Only pieces that needed the backtracking encoder go in.
//
// Performance notes: in real text most pieces that are not a token by
// themselves come back (inflected words, identifiers, CJK phrases), also
// across documents, and encoding one costs hundreds of instructions and
// several cache misses in the pair table, where a hit costs a hash, one or
// two probes and a compare. A cache per call (tried first) never knew the
// pieces of the previous document, and making it cost short texts more than
// it saved them. The first shared table (16,384 direct-mapped slots of 128
// bytes) forgot too much: over the benchmark's six corpora in one process
// (about 30,000 distinct pieces reach it) a second pass found 57% to 80% of
// its pieces; this layout finds 94% to 99%. On documents never seen it
// finds what an unbounded cache would (benchmarks/cache_hits.py).
//
// Layout: two tables by piece length, since most such pieces are short.
// Pieces of up to 16 bytes and 10 ids take 64-byte slots (131,072 of them,
// 8 MiB); longer ones, up to 48 bytes and 18 ids, 128-byte slots (32,768,
// 4 MiB): 12 MiB per vocabulary, the whole bound, made with the vocabulary's
// handle and resident from then on (util/huge_pages.h). Half as many slots
// kept the pieces of 8 KB documents as well, but not those of a text of a
// few MB in many languages, whose second pass still ran the encoder on
// pieces evicted since the first: against that, its second encode runs
// 1.04x to 1.06x faster and its second count 1.18x to 1.20x (medians of six
// fresh processes, the segment cache at its present size in both). Every piece may
// live in either slot of a pair of neighbours chosen by its hash; a new
// piece takes an empty one, else evicts one of the two at random (the
// writer's own generator): over direct mapping that keeps far more of a
// working set that fills the table. Two slots anywhere in the table kept a
// little more (97% to 99% in the test above, against 94% to 99%) but cost
// a second cache miss on every piece not in the table, where neighbours
// sit side by side (two short slots fill one aligned 128-byte block); counts
// of documents never seen ran 0.99x to 1.12x faster with neighbours
// (cl100k_base), encodes alike.
//
// Readers take no lock: the slots are seqlocks (core/seqlock_slot.h), so a
// hit returns exactly the ids one encoder run stored for exactly those bytes.

#ifndef VELKAN_CORE_PIECE_CACHE_H_
#define VELKAN_CORE_PIECE_CACHE_H_

#include <atomic>
#include <bit>
#include <cstdint>
#include <cstring>

#include "core/seqlock_slot.h"
#include "util/atomic_ref.h"
#include "util/huge_pages.h"

namespace velkan {

class PieceCache {
 public:
  static constexpr uint32_t kShortBytes = 16;      // up to here the small slots
  static constexpr uint32_t kMaxBytes = 48;        // longer pieces are not cached
  static constexpr uint32_t kMaxIds = 18;          // nor pieces of more ids
  static constexpr uint32_t kShortSlots = 131072;  // powers of two
  static constexpr uint32_t kLongSlots = 32768;

  static bool cacheable(uint64_t length) { return length != 0 && length <= kMaxBytes; }

  // A piece as the tables compare it: its bytes in zero-padded words, and
  // the two slots it may live in (neighbours: slots[1] == slots[0] ^ 1).
  struct Key {
    uint64_t words[kMaxBytes / 8];
    uint32_t length;
    uint32_t slots[2];
  };

  // The piece must be cacheable. readable: the bytes that may be read from
  // piece on (at least length); with enough, the words are whole loads,
  // the last one masked. Only the key's own (length + 7) / 8 words are set:
  // nothing reads the others.
  //
  // Performance notes: against a zeroed copy of the bytes (a memcpy of a
  // length known only at run time) and a chain of multiplies, one a word,
  // this made hot counts 1.02x to 1.07x faster, hot encodes 0.99x to 1.04x,
  // warm encodes about 1.02x and a long text's second encode 1.03x to 1.07x
  // (benchmarks/ab.py, coldwarm.py's long row).
  [[gnu::always_inline]] static Key key_of(const uint8_t* piece, uint64_t length,
                                           uint64_t readable = 0) {
    Key key;
    const uint32_t words = static_cast<uint32_t>(length + 7) / 8;
    if (std::endian::native == std::endian::little && readable >= uint64_t{words} * 8) {
      for (uint32_t i = 0; i < words; i++) std::memcpy(&key.words[i], piece + 8 * i, 8);
      if (const uint64_t tail = length % 8) key.words[words - 1] &= (uint64_t{1} << (8 * tail)) - 1;
    } else {
      for (uint32_t i = 0; i < words; i++) key.words[i] = 0;
      std::memcpy(key.words, piece, length < kMaxBytes ? length : kMaxBytes);
    }
    key.length = static_cast<uint32_t>(length);
    constexpr uint64_t kMul[kMaxBytes / 8] = {0x9E3779B97F4A7C15ULL, 0xBF58476D1CE4E5B9ULL,
                                              0x94D049BB133111EBULL, 0xD6E8FEB86659FD93ULL,
                                              0xA0761D6478BD642FULL, 0xE7037ED1A0B428DBULL};
    uint64_t h = length * 0x2545F4914F6CDD1DULL;
    for (uint32_t i = 0; i < words; i++) h += (key.words[i] ^ (key.words[i] >> 29)) * kMul[i];
    h ^= h >> 32;
    h *= 0x94D049BB133111EBULL;
    const uint32_t mask = (length <= kShortBytes ? kShortSlots : kLongSlots) - 1;
    key.slots[0] = static_cast<uint32_t>(h >> 40) & mask;
    key.slots[1] = key.slots[0] ^ 1;
    return key;
  }

  // The tables are faulted in here, with the vocabulary: on huge pages a
  // first touch may make the kernel compact memory to find one, which
  // stalled the first encodes of a process by milliseconds.
  PieceCache() : memory_(kBytes) {
    for (size_t at = 0; at < kBytes; at += HugePageBuffer::kHugePage) {
      AtomicRef<uint8_t>(memory_.data()[at]).store(0, std::memory_order_relaxed);
    }
  }
  PieceCache(const PieceCache&) = delete;
  PieceCache& operator=(const PieceCache&) = delete;

  // Copies the piece's ids into out (room for kMaxIds) and returns their
  // number, or 0 when the piece is not in the cache.
  [[gnu::always_inline]] uint32_t find(const Key& key, uint32_t* out) const {
    if (key.length <= kShortBytes) {
      ShortSlot* table = short_slots();
      if (const uint32_t n = read(table[key.slots[0]], key, out)) return n;
      return read(table[key.slots[1]], key, out);
    }
    LongSlot* table = long_slots();
    if (const uint32_t n = read(table[key.slots[0]], key, out)) return n;
    return read(table[key.slots[1]], key, out);
  }

  // Stores the piece's ids in one of its slots. Pieces of no ids or of more
  // than their table's slots hold are left out, and so is the piece when
  // another thread is writing the slot. choice picks the slot to evict when
  // both are taken (any bits; callers pass a cheap random number).
  void put(const Key& key, const uint32_t* ids, uint64_t count, uint64_t choice) {
    if (key.length <= kShortBytes) {
      write(short_slots(), key, ids, count, choice);
    } else {
      write(long_slots(), key, ids, count, choice);
    }
  }

 private:
  using ShortSlot = SeqlockSlot<2, 10>;
  using LongSlot = SeqlockSlot<6, kMaxIds>;
  static_assert(sizeof(ShortSlot) == 64 && sizeof(LongSlot) == 128);

  static constexpr size_t kShortBytesTotal = size_t{kShortSlots} * sizeof(ShortSlot);
  static constexpr size_t kBytes = kShortBytesTotal + size_t{kLongSlots} * sizeof(LongSlot);

  ShortSlot* short_slots() const { return memory_.as<ShortSlot>(); }
  LongSlot* long_slots() const {
    return reinterpret_cast<LongSlot*>(memory_.data() + kShortBytesTotal);
  }

  template <typename S>
  static uint32_t read(S& slot, const Key& key, uint32_t* out) {
    return seqlock_read(slot, key.words, key.length, out);
  }

  template <typename S>
  static void write(S* table, const Key& key, const uint32_t* ids, uint64_t count,
                    uint64_t choice) {
    seqlock_write(table, key.slots[0], choice, key.words, key.length, ids, count);
  }

  // Both tables in one buffer, on huge pages where the system has them:
  // a first use is a few page faults rather than hundreds (a tenth of a
  // first 100 KB text's time), and the slots' random probes miss the TLB
  // less.
  static_assert(kBytes % HugePageBuffer::kHugePage == 0);

  HugePageBuffer memory_;
};

}  // namespace velkan

#endif  // VELKAN_CORE_PIECE_CACHE_H_
