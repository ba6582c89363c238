// The process-wide cache of encoded pieces for one vocabulary: piece bytes to
// their token ids, shared by every call and every pool worker that uses the
// vocabulary's handle. Only pieces that needed the backtracking encoder go in.
//
// Performance notes: in real text most pieces that are not a token by
// themselves come back (about two in three in the benchmark's English, code
// and multilingual corpora: inflected words, identifiers, CJK phrases), also
// across documents, and encoding one costs hundreds of instructions and
// several cache misses in the pair table, where a hit costs a hash, one probe
// and a compare. A cache per call (tried first) never knew the pieces of the
// previous document, and making it cost short texts more than it saved them.
//
// The table is direct-mapped (a new piece replaces whatever held its slot)
// with kSlots slots of 128 bytes: 2 MiB per vocabulary, made with the
// vocabulary's handle and resident from its first use (one huge page where
// the system gives one). Readers take no
// lock: each slot has a version word that a writer makes odd while it writes
// and even again after (a seqlock); a reader copies the slot and keeps the
// copy only if the version was even and unchanged. A writer that finds its
// slot being written by another thread leaves the piece out. So a hit returns
// exactly the ids one encoder run stored for exactly those bytes. After fork
// the child inherits the table; a slot caught mid-write is odd for good and
// just never hits again.

#ifndef VELKAN_DRIVER_PIECE_CACHE_H_
#define VELKAN_DRIVER_PIECE_CACHE_H_

#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>

#if defined(__linux__)
#include <sys/mman.h>
#endif

namespace velkan {

class PieceCache {
 public:
  static constexpr uint32_t kSlots = 16384;  // a power of two
  static constexpr uint32_t kWords = 6;
  static constexpr uint32_t kMaxBytes = kWords * 8;  // longer pieces are not cached
  static constexpr uint32_t kMaxIds = 18;            // nor pieces of more ids

  struct alignas(64) Slot {
    uint32_t version;  // odd while a writer is at it
    uint32_t shape;    // length | count << 8; 0: empty
    uint64_t words[kWords];
    uint32_t ids[kMaxIds];
  };
  static_assert(sizeof(Slot) == 128);

  PieceCache() : slots_(allocate()) {}
  // A copy of a handle starts with an empty cache of its own.
  PieceCache(const PieceCache&) : PieceCache() {}
  PieceCache& operator=(const PieceCache&) = delete;

  static bool cacheable(uint64_t length) { return length != 0 && length <= kMaxBytes; }

  // A piece as the table compares it: its bytes in zero-padded words.
  struct Key {
    uint64_t words[kWords];
    uint32_t length;
    uint32_t slot;
  };

  // The piece must be cacheable.
  static Key key_of(const uint8_t* piece, uint64_t length) {
    Key key{};
    std::memcpy(key.words, piece, length);
    key.length = static_cast<uint32_t>(length);
    uint64_t h = length * 0x9E3779B97F4A7C15ULL;
    for (uint32_t i = 0; i < (length + 7) / 8; i++) {
      h = (h ^ key.words[i]) * 0xBF58476D1CE4E5B9ULL;
      h ^= h >> 29;
    }
    h ^= h >> 32;
    key.slot = static_cast<uint32_t>(h) & (kSlots - 1);
    return key;
  }

  // Copies the piece's ids into out (room for kMaxIds) and returns their
  // number, or 0 when the piece is not in the table.
  uint32_t find(const Key& key, uint32_t* out) const {
    Slot& slot = slots_[key.slot];
    const uint32_t before = std::atomic_ref<uint32_t>(slot.version).load(std::memory_order_acquire);
    if (before & 1) return 0;
    const uint32_t shape = std::atomic_ref<uint32_t>(slot.shape).load(std::memory_order_relaxed);
    if ((shape & 0xFF) != key.length) return 0;
    const uint32_t words = (key.length + 7) / 8;
    for (uint32_t i = 0; i < words; i++) {
      if (std::atomic_ref<uint64_t>(slot.words[i]).load(std::memory_order_relaxed) != key.words[i])
        return 0;
    }
    const uint32_t count = shape >> 8;
    for (uint32_t i = 0; i < count && i < kMaxIds; i++)
      out[i] = std::atomic_ref<uint32_t>(slot.ids[i]).load(std::memory_order_relaxed);
    std::atomic_thread_fence(std::memory_order_acquire);
    if (std::atomic_ref<uint32_t>(slot.version).load(std::memory_order_relaxed) != before) return 0;
    return count;
  }

  // Stores the piece's ids in its slot. Pieces of no or more than kMaxIds
  // ids are left out, and so is the piece when another thread is writing
  // the slot.
  void put(const Key& key, const uint32_t* ids, uint64_t count) {
    if (count == 0 || count > kMaxIds) return;
    Slot& slot = slots_[key.slot];
    std::atomic_ref<uint32_t> version(slot.version);
    uint32_t v = version.load(std::memory_order_relaxed);
    if ((v & 1) || !version.compare_exchange_strong(v, v + 1, std::memory_order_acquire)) return;
    std::atomic_thread_fence(std::memory_order_release);
    std::atomic_ref<uint32_t>(slot.shape)
        .store(key.length | static_cast<uint32_t>(count) << 8, std::memory_order_relaxed);
    for (uint32_t i = 0; i < kWords; i++)
      std::atomic_ref<uint64_t>(slot.words[i]).store(key.words[i], std::memory_order_relaxed);
    for (uint32_t i = 0; i < count; i++)
      std::atomic_ref<uint32_t>(slot.ids[i]).store(ids[i], std::memory_order_relaxed);
    version.store(v + 2, std::memory_order_release);
  }

 private:
  static constexpr size_t kBytes = size_t{kSlots} * sizeof(Slot);

  // Zeroed memory for the table. On Linux one huge page where the system
  // has them: its first use is one page fault rather than 512 (a tenth of a
  // first 100 KB text's time), and the slots' random probes miss the TLB
  // less.
  struct Release {
    void operator()(Slot* p) const {
#if defined(__linux__)
      munmap(p, kBytes);
#else
      std::free(p);
#endif
    }
  };
  using Table = std::unique_ptr<Slot[], Release>;

  static Table allocate() {
#if defined(__linux__)
    // Twice the size, then the unaligned ends given back.
    void* raw =
        mmap(nullptr, 2 * kBytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (raw == MAP_FAILED) throw std::bad_alloc();
    const uintptr_t start = reinterpret_cast<uintptr_t>(raw);
    const uintptr_t aligned = (start + kBytes - 1) & ~uintptr_t{kBytes - 1};
    if (aligned > start) munmap(raw, aligned - start);
    if (aligned + kBytes < start + 2 * kBytes)
      munmap(reinterpret_cast<void*>(aligned + kBytes), start + 2 * kBytes - aligned - kBytes);
    void* table = reinterpret_cast<void*>(aligned);
#if defined(MADV_HUGEPAGE)
    madvise(table, kBytes, MADV_HUGEPAGE);  // only a hint: fine if refused
#endif
    return Table(static_cast<Slot*>(table));
#else
    void* table = std::calloc(kSlots, sizeof(Slot));
    if (table == nullptr) throw std::bad_alloc();
    return Table(static_cast<Slot*>(table));
#endif
  }

  Table slots_;
};

}  // namespace velkan

#endif  // VELKAN_DRIVER_PIECE_CACHE_H_
