// A small cache of recently encoded pieces for one driver call: piece bytes
// to their token ids. Only pieces that needed the backtracking encoder go in.
//
// Performance notes: in long texts most pieces that are not a token by
// themselves come back (about two in three in the benchmark's English, code
// and multilingual corpora: inflected words, identifiers, CJK phrases), and
// encoding one costs hundreds of instructions and several cache misses in the
// pair table, where a hit costs a hash, one probe and a compare. The cache is
// direct-mapped (a miss overwrites), holds pieces of at most kMaxBytes bytes
// and kMaxIds ids, is made only once a call has met kActivation such pieces
// (short texts never pay for it) and is freed with the call. Its size follows
// the text, one slot per 128 bytes between kMinSlots and kMaxSlots (240 KiB),
// since making and clearing a large table would cost a 4 KiB document more
// than the cache saves it. Alternatives left out: a cache shared across calls
// (needs locking or per-thread state), LRU sets (more work per probe for few
// more hits).

#ifndef VELKAN_DRIVER_PIECE_CACHE_H_
#define VELKAN_DRIVER_PIECE_CACHE_H_

#include <cstdint>
#include <cstring>
#include <memory>

namespace velkan {

class PieceCache {
 public:
  static constexpr uint32_t kMinSlots = 64;  // powers of two
  static constexpr uint32_t kMaxSlots = 2048;
  static constexpr uint32_t kMaxBytes = 56;    // longer pieces are not cached
  static constexpr uint32_t kMaxIds = 14;      // nor pieces of more ids
  static constexpr uint32_t kActivation = 32;  // encoder runs before the cache is made

  struct Slot {
    uint32_t length;  // 0: empty
    uint32_t count;
    uint8_t bytes[kMaxBytes];
    uint32_t ids[kMaxIds];
  };
  static_assert(sizeof(Slot) == 120);

  // A cache for a text of the given length, made on demand.
  explicit PieceCache(uint64_t text_length = UINT64_MAX) {
    while (slots_count_ < kMaxSlots && uint64_t{slots_count_} * 128 < text_length)
      slots_count_ *= 2;
  }

  uint32_t slot_count() const { return slots_count_; }

  // Counts an encoder run and makes the table once there were kActivation.
  void note_encoder_run() {
    if (!slots_ && ++runs_ >= kActivation) slots_ = std::make_unique<Slot[]>(slots_count_);
  }

  bool active() const { return slots_ != nullptr; }

  static bool cacheable(uint64_t length) { return length != 0 && length <= kMaxBytes; }

  // The cached ids of the piece, or null. The piece must be cacheable and the
  // cache active.
  const Slot* find(const uint8_t* piece, uint64_t length) const {
    const Slot& slot = slots_[slot_of(piece, length) & (slots_count_ - 1)];
    if (slot.length == length && std::memcmp(slot.bytes, piece, length) == 0) return &slot;
    return nullptr;
  }

  // Stores the piece's ids, replacing whatever held its slot. Pieces too long
  // or of more than kMaxIds ids are left out.
  void put(const uint8_t* piece, uint64_t length, const uint32_t* ids, uint64_t count) {
    if (count > kMaxIds || !cacheable(length)) return;
    Slot& slot = slots_[slot_of(piece, length) & (slots_count_ - 1)];
    slot.length = static_cast<uint32_t>(length);
    slot.count = static_cast<uint32_t>(count);
    std::memcpy(slot.bytes, piece, length);
    std::memcpy(slot.ids, ids, count * sizeof(uint32_t));
  }

  // A hash of the piece (the slot is its low bits): eight bytes at a time,
  // each mixed in with a multiply; the tail read without going past the piece.
  static uint32_t slot_of(const uint8_t* p, uint64_t length) {
    uint64_t h = length * 0x9E3779B97F4A7C15ULL;
    uint64_t left = length;
    for (; left >= 8; left -= 8, p += 8) {
      uint64_t v;
      std::memcpy(&v, p, 8);
      h = (h ^ v) * 0xBF58476D1CE4E5B9ULL;
      h ^= h >> 29;
    }
    if (left != 0) {
      uint64_t v = 0;
      std::memcpy(&v, p, left);
      h = (h ^ v) * 0x94D049BB133111EBULL;
    }
    h ^= h >> 32;
    return static_cast<uint32_t>(h);
  }

 private:
  std::unique_ptr<Slot[]> slots_;
  uint32_t slots_count_ = kMinSlots;
  uint32_t runs_ = 0;
};

}  // namespace velkan

#endif  // VELKAN_DRIVER_PIECE_CACHE_H_
