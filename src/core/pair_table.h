// Pair table: maps two adjacent tokens (left, right) to the token they merge
// into. With the split tables it decides whether two tokens may stand side by
// side in a rank-ordered byte-pair result. A small filter in front of it
// answers most lookups of absent pairs without touching the table.

#ifndef VELKAN_CORE_PAIR_TABLE_H_
#define VELKAN_CORE_PAIR_TABLE_H_

#include <cstdint>
#include <vector>

namespace velkan {

struct BytePairEncoding;

// One open-addressing slot; stored in images as u32, u32, i32.
struct PairEntry {
  uint32_t left;
  uint32_t right;
  int32_t merged;  // -1 marks an empty slot
};
static_assert(sizeof(PairEntry) == 12, "image layout");

// Open addressing with linear probing. Construction sizes it like the token
// index (at least four slots per token) and inserts at most one entry per
// token, so it is never more than a quarter full and never grows.
struct PairTable {
  std::vector<PairEntry> entries;  // capacity slots
  uint32_t capacity = 0;           // a power of two
  uint32_t count = 0;              // occupied slots
};

// Mixes the key left * 2^32 + right (the finaliser of splitmix64 without its
// last shift). The home slot is the high half of the result masked to the
// table.
inline uint64_t pair_hash(uint32_t left, uint32_t right) {
  uint64_t x = (static_cast<uint64_t>(left) << 32) | right;
  x ^= x >> 30;
  x *= 0xbf58476d1ce4e5b9ULL;
  x ^= x >> 27;
  x *= 0x94d049bb133111ebULL;
  return x;
}

// An empty table of the given capacity, which must be a power of two.
PairTable pair_table_new(uint32_t capacity);

// Writes (left, right) -> merged into the first empty slot of the key's probe
// sequence. An entry with the same key is not looked for.
void pair_table_insert(PairTable& table, uint32_t left, uint32_t right, uint32_t merged);

// The token that left followed by right merges into, or -1. hash is
// pair_hash(left, right).
inline int32_t pair_table_find_hashed(const PairTable& table, uint32_t left, uint32_t right,
                                      uint64_t hash) {
  const PairEntry* entries = table.entries.data();
  const uint32_t mask = table.capacity - 1;
  for (uint32_t slot = static_cast<uint32_t>(hash >> 32) & mask;; slot = (slot + 1) & mask) {
    const PairEntry& e = entries[slot];
    if (e.merged == -1) return -1;
    if (e.left == left && e.right == right) return e.merged;
  }
}

// The token that left followed by right merges into, or -1.
inline int32_t pair_table_find(const PairTable& table, uint32_t left, uint32_t right) {
  return pair_table_find_hashed(table, left, right, pair_hash(left, right));
}

// A Bloom filter over the keys of a pair table: one 64-bit word per key
// chosen by the low bits of the pair hash, two bits set in it by its top bits.
// It says "absent" for most absent pairs and never for a present one.
// Performance notes: the table (6 or 12 MB) misses the cache on almost every
// lookup, and many lookups of the validity test are for absent pairs (about
// half in English, nine in ten in multilingual text); the filter, about 8
// bits per key (128 KB for cl100k, 256 KB for o200k), stays in the core's
// cache. Derived at load time, never stored in images.
struct PairFilter {
  std::vector<uint64_t> words;  // a power of two of them; empty: no filter
};

// The filter of every occupied slot of the table.
PairFilter pair_filter_build(const PairTable& table);

inline uint64_t pair_filter_bits(uint64_t hash) {
  return (uint64_t{1} << (hash >> 58)) | (uint64_t{1} << ((hash >> 52) & 63));
}

// False only when the pair with this pair_hash is not in the table.
inline bool pair_filter_may_hold(const PairFilter& filter, uint64_t hash) {
  const uint64_t bits = pair_filter_bits(hash);
  return (filter.words[hash & (filter.words.size() - 1)] & bits) == bits;
}

// Whether rank-ordered merging of the bytes of token a followed by those of
// token b ends with exactly a and b side by side: no merge across their
// boundary comes before the merges that made a and b. Reads the split tables
// and the pair table only; allocates nothing.
bool bpe_is_valid_pair(const BytePairEncoding& bpe, uint32_t a, uint32_t b);

// The same test with the table's lookups behind its filter, which must have
// been built from bpe.pair_table (and not be empty).
bool bpe_is_valid_pair(const BytePairEncoding& bpe, const PairFilter& filter, uint32_t a,
                       uint32_t b);

// bpe_is_valid_pair as construction answered it when it made token `bound`:
// merges of id bound or later do not count (they were not in the table yet).
// Only the first lookup can meet one; later ones are bounded lower anyway.
bool bpe_is_valid_pair_before(const BytePairEncoding& bpe, uint32_t a, uint32_t b, uint32_t bound);

// bpe_is_valid_pair_before(bpe, a, b, bound) when no token below bound spells
// a followed by b: the first lookup, which could only find such a token, is
// left out. Construction asks it of vocabularies without equal tokens, where
// a split's pair spells only the token being made (a third of the lookups of
// its splits on Llama 3's ranks).
bool bpe_is_valid_pair_below(const BytePairEncoding& bpe, uint32_t a, uint32_t b);

}  // namespace velkan

#endif  // VELKAN_CORE_PAIR_TABLE_H_
