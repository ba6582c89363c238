// Every token of at most eight bytes in a hash table keyed by its bytes, so
// that the driver tells whether a short piece is a token with one probe.
//
// Performance notes: most pieces of real text are short and a token by
// themselves (" the", "ing", "\n\n"). The automaton walk that answers this
// reads two arrays per byte and the state array at the end, each read
// depending on the one before. Here a piece is one 8-byte word and a probe
// reads one 16-byte slot; the table also says "not a token" at once. Counts
// of cached documents ran 1.07x to 1.13x faster on English, code and short
// texts (0.94x to 0.98x on multilingual text, whose pieces are mostly
// longer); encodes of cached documents 1.01x to 1.17x (piece_ids.h).
// Size: 16 bytes per slot, a power of two at least 1.5 times the short
// tokens: cl100k_base 2 MiB, o200k_base 4 MiB, built with the handle in a
// few milliseconds.

#ifndef VELKAN_DRIVER_SHORT_TOKENS_H_
#define VELKAN_DRIVER_SHORT_TOKENS_H_

#include <bit>
#include <cstdint>
#include <cstring>
#include <vector>

#include "core/encoding.h"

namespace velkan {

class ShortTokens {
 public:
  static constexpr uint64_t kMaxBytes = 8;

  // Fills the table with every token of at most kMaxBytes bytes. A table
  // never built is empty: find() then answers kUnknown for every piece.
  void build(const BytePairEncoding& bpe) {
    uint32_t count = 0;
    for (uint32_t id = 0; id < bpe.num_tokens; id++) count += bpe.token_length(id) <= kMaxBytes;
    const uint32_t bits = static_cast<uint32_t>(std::bit_width(uint64_t{count} * 3 / 2 | 1));
    std::vector<Slot> slots(size_t{1} << bits);
    for (uint32_t id = 0; id < bpe.num_tokens; id++) {
      const uint32_t len = bpe.token_length(id);
      if (len == 0 || len > kMaxBytes) continue;
      uint64_t word = 0;
      std::memcpy(&word, bpe.token_data(id), len);
      uint64_t i = slot_of(word, len, bits);
      while (slots[i].length != 0) i = (i + 1) & (slots.size() - 1);
      slots[i] = Slot{word, id, len};
    }
    slots_ = std::move(slots);
    shift_ = 64 - bits;
  }

  bool empty() const { return slots_.empty(); }

  static constexpr int32_t kNotToken = -1;  // no token has exactly these bytes
  static constexpr int32_t kUnknown = -2;   // the table cannot tell: ask the automaton

  // The id of the token whose bytes are exactly piece[0, len), kNotToken, or
  // kUnknown for a piece longer than kMaxBytes (or an empty table). readable
  // is how many bytes may be read from piece on (at least len): with eight or
  // more the piece is read as one word and masked.
  int32_t find(const uint8_t* piece, uint64_t len, uint64_t readable) const {
    if (len > kMaxBytes || len == 0 || slots_.empty()) return kUnknown;
    uint64_t word = 0;
    if (std::endian::native == std::endian::little && readable >= 8) {
      std::memcpy(&word, piece, 8);
      if (len < 8) word &= (uint64_t{1} << (8 * len)) - 1;
    } else {
      std::memcpy(&word, piece, len);
    }
    const uint64_t mask = slots_.size() - 1;
    for (uint64_t i = slot_of(word, len, 64 - shift_);; i = (i + 1) & mask) {
      const Slot& slot = slots_[i];
      if (slot.word == word && slot.length == len) return static_cast<int32_t>(slot.id);
      if (slot.length == 0) return kNotToken;
    }
  }

 private:
  // Little-endian bytes zero-padded: a piece's word and length are its key
  // (the length tells "a" from "a\0").
  struct Slot {
    uint64_t word = 0;
    uint32_t id = 0;
    uint32_t length = 0;  // 0: empty
  };

  static uint64_t slot_of(uint64_t word, uint64_t len, uint32_t bits) {
    // Multiplying carries every byte into the top bits, which pick the slot.
    const uint64_t h = (word ^ (len << 59)) * 0x9E3779B97F4A7C15ULL;
    return h >> (64 - bits);
  }

  std::vector<Slot> slots_;
  uint32_t shift_ = 64;
};

}  // namespace velkan

#endif  // VELKAN_DRIVER_SHORT_TOKENS_H_
