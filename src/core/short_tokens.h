// Every token of at most eight bytes, and every ASCII token of nine to
// sixteen, in hash tables keyed by their bytes, so that the driver tells
// whether a short piece is a token with one probe.
//
// Performance notes: most pieces of real text are short and a token by
// themselves (" the", "ing", "\n\n", " different"). The automaton walk that
// answers this reads two arrays per byte and the state array at the end,
// each read depending on the one before. Here a piece is one or two 8-byte
// words and a probe reads one slot; the table also says "not a token" at
// once. Tokens of up to eight bytes alone: hot counts 1.07x to 1.13x on
// English, code and short texts (0.94x to 0.98x on multilingual text), hot
// encodes 1.01x to 1.17x (piece_ids.h). The ASCII tokens of nine to sixteen
// bytes added, against that: hot encodes and counts 1.08x to 1.26x on
// English, code, scripts, typographic and short texts, 1.01x to 1.09x on
// docs, 0.99x to 1.03x on multilingual text (cl100k_base and o200k_base,
// both orders). With the non-ASCII ones of nine to sixteen bytes too,
// cl100k_base's multilingual counts ran 0.96x: its longer CJK and accented
// pieces are mostly not tokens, and the walk gives up on them within a few
// bytes, sooner than a probe that misses.
// Size: a power of two of slots at least 1.5 times the tokens, 16 bytes a
// slot up to eight bytes, 32 beyond: cl100k_base 2 + 1 MiB, o200k_base
// 4 + 2 MiB, built with the handle in a few milliseconds.

#ifndef VELKAN_CORE_SHORT_TOKENS_H_
#define VELKAN_CORE_SHORT_TOKENS_H_

#include <bit>
#include <cstdint>
#include <cstring>

#include "core/encoding.h"
#include "util/huge_pages.h"

namespace velkan {

class ShortTokens {
 public:
  static constexpr uint64_t kMaxBytes = 16;
  static constexpr uint64_t kWordBytes = 8;  // up to here one word, then two

  // Fills the tables with every token of at most kMaxBytes bytes. A table
  // never built is empty: find() then answers kUnknown for every piece.
  void build(const BytePairEncoding& bpe) {
    uint32_t counts[2] = {0, 0};
    for (uint32_t id = 0; id < bpe.num_tokens; id++) {
      if (listed(bpe, id)) counts[bpe.token_length(id) > kWordBytes]++;
    }
    const auto bits_for = [](uint32_t count) {
      return static_cast<uint32_t>(std::bit_width(uint64_t{count} * 3 / 2 | 1));
    };
    const uint32_t bits = bits_for(counts[0]);
    const uint32_t long_bits = bits_for(counts[1]);
    const uint64_t size = uint64_t{1} << bits, long_size = uint64_t{1} << long_bits;
    HugePageBuffer memory(size * sizeof(Slot)), long_memory(long_size * sizeof(LongSlot));
    Slot* slots = memory.as<Slot>();
    LongSlot* long_slots = long_memory.as<LongSlot>();
    // The home slot of a token, in its table. Performance notes: the slots are
    // written at random in megabytes just mapped; with each home slot fetched
    // kAhead tokens early the inserts stop waiting on memory (the build of
    // the tables took about half the time).
    const auto home = [&](uint32_t id, uint64_t(&words)[2]) {
      const uint32_t len = bpe.token_length(id);
      std::memcpy(words, bpe.token_data(id), len);
      return len <= kWordBytes ? slot_of(words[0], len, bits)
                               : slot_of(words[0] ^ rotate(words[1]), len, long_bits);
    };
    constexpr uint32_t kAhead = 16;
    for (uint32_t id = 0; id < bpe.num_tokens; id++) {
      if (const uint32_t later = id + kAhead; later < bpe.num_tokens && listed(bpe, later)) {
        uint64_t ahead[2] = {0, 0};
        const uint64_t i = home(later, ahead);
        if (bpe.token_length(later) <= kWordBytes) {
          __builtin_prefetch(&slots[i], 1);
        } else {
          __builtin_prefetch(&long_slots[i], 1);
        }
      }
      if (!listed(bpe, id)) continue;
      const uint32_t len = bpe.token_length(id);
      uint64_t words[2] = {0, 0};
      const uint64_t start = home(id, words);
      if (len <= kWordBytes) {
        uint64_t i = start;
        while (slots[i].length != 0) i = (i + 1) & (size - 1);
        slots[i] = Slot{words[0], id, len};
      } else {
        uint64_t i = start;
        while (long_slots[i].length != 0) i = (i + 1) & (long_size - 1);
        long_slots[i] = LongSlot{{words[0], words[1]}, id, len, 0};
      }
    }
    memory_ = std::move(memory);
    long_memory_ = std::move(long_memory);
    slots_ = slots;
    long_slots_ = long_slots;
    mask_ = size - 1;
    long_mask_ = long_size - 1;
    shift_ = 64 - bits;
    long_shift_ = 64 - long_bits;
  }

  bool empty() const { return slots_ == nullptr; }

  static constexpr int32_t kNotToken = -1;  // no token has exactly these bytes
  static constexpr int32_t kUnknown = -2;   // the table cannot tell: ask the automaton

  // The id of the token whose bytes are exactly piece[0, len), kNotToken, or
  // kUnknown for a piece longer than kMaxBytes, a piece of more than
  // kWordBytes with a non-ASCII byte, or an empty table. readable
  // is how many bytes may be read from piece on (at least len): with enough
  // the piece is read as whole words and masked. Always inlined, as are the
  // piece cache's key_of and find: g++ kept all three as calls on every
  // path, and inlined they made warm encodes 1.01x to 1.075x faster (hot
  // 0.985x to 1.075x, benchmarks/ab.py).
  [[gnu::always_inline]] int32_t find(const uint8_t* piece, uint64_t len, uint64_t readable) const {
    if (len > kMaxBytes || len == 0 || slots_ == nullptr) return kUnknown;
    if (len > kWordBytes) return find_long(piece, len, readable);
    uint64_t word = 0;
    if (std::endian::native == std::endian::little && readable >= 8) {
      std::memcpy(&word, piece, 8);
      if (len < 8) word &= (uint64_t{1} << (8 * len)) - 1;
    } else {
      std::memcpy(&word, piece, len);
    }
    for (uint64_t i = slot_of(word, len, 64 - shift_);; i = (i + 1) & mask_) {
      const Slot& slot = slots_[i];
      if (slot.word == word && slot.length == len) return static_cast<int32_t>(slot.id);
      if (slot.length == 0) return kNotToken;
    }
  }

 private:
  // Little-endian bytes zero-padded: a piece's words and length are its key
  // (the length tells "a" from "a\0").
  struct Slot {
    uint64_t word = 0;
    uint32_t id = 0;
    uint32_t length = 0;  // 0: empty
  };
  // ASCII tokens of nine to sixteen bytes; 32 bytes so that a slot never straddles
  // two cache lines.
  struct LongSlot {
    uint64_t words[2] = {0, 0};
    uint32_t id = 0;
    uint32_t length = 0;  // 0: empty
    uint64_t unused = 0;
  };
  static_assert(sizeof(LongSlot) == 32);

  int32_t find_long(const uint8_t* piece, uint64_t len, uint64_t readable) const {
    uint64_t words[2] = {0, 0};
    if (std::endian::native == std::endian::little && readable >= 16) {
      std::memcpy(words, piece, 16);
      if (len < 16) words[1] &= (uint64_t{1} << (8 * (len - 8))) - 1;
    } else {
      std::memcpy(words, piece, len);
    }
    if (((words[0] | words[1]) & kHighBits) != 0) return kUnknown;
    for (uint64_t i = slot_of(words[0] ^ rotate(words[1]), len, 64 - long_shift_);;
         i = (i + 1) & long_mask_) {
      const LongSlot& slot = long_slots_[i];
      if (slot.words[0] == words[0] && slot.words[1] == words[1] && slot.length == len)
        return static_cast<int32_t>(slot.id);
      if (slot.length == 0) return kNotToken;
    }
  }

  static constexpr uint64_t kHighBits = 0x8080808080808080ULL;

  // Whether a token is in a table: up to eight bytes any token, nine to
  // sixteen only ASCII ones.
  static bool listed(const BytePairEncoding& bpe, uint32_t id) {
    const uint32_t len = bpe.token_length(id);
    if (len == 0 || len > kMaxBytes) return false;
    if (len <= kWordBytes) return true;
    const uint8_t* bytes = bpe.token_data(id);
    for (uint32_t i = 0; i < len; i++) {
      if (bytes[i] & 0x80) return false;
    }
    return true;
  }

  // Keeps the second word's bytes from cancelling the first's in the xor.
  static uint64_t rotate(uint64_t word) { return std::rotl(word * 0xBF58476D1CE4E5B9ULL, 31); }

  static uint64_t slot_of(uint64_t word, uint64_t len, uint32_t bits) {
    // Multiplying carries every byte into the top bits, which pick the slot.
    const uint64_t h = (word ^ (len << 59)) * 0x9E3779B97F4A7C15ULL;
    return h >> (64 - bits);
  }

  // On huge pages (util/huge_pages.h): a probe is a random read in a table
  // of several MiB.
  HugePageBuffer memory_, long_memory_;
  const Slot* slots_ = nullptr;
  const LongSlot* long_slots_ = nullptr;
  uint64_t mask_ = 0, long_mask_ = 0;
  uint32_t shift_ = 64;
  uint32_t long_shift_ = 64;
};

}  // namespace velkan

#endif  // VELKAN_CORE_SHORT_TOKENS_H_
