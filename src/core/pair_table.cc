#include "core/pair_table.h"

#include "core/encoding.h"

namespace velkan {

PairTable pair_table_new(uint32_t capacity) {
  PairTable table;
  table.entries.assign(capacity, PairEntry{0, 0, -1});
  table.capacity = capacity;
  table.count = 0;
  return table;
}

void pair_table_insert(PairTable& table, uint32_t left, uint32_t right, uint32_t merged) {
  const uint32_t mask = table.capacity - 1;
  uint32_t slot = static_cast<uint32_t>(pair_hash(left, right) >> 32) & mask;
  while (table.entries[slot].merged != -1) slot = (slot + 1) & mask;
  table.entries[slot] = PairEntry{left, right, static_cast<int32_t>(merged)};
  table.count++;
}

PairFilter pair_filter_build(const PairTable& table) {
  uint64_t words = 64;
  while (words * 8 < table.count) words *= 2;  // at least 8 bits per key
  PairFilter filter;
  filter.words.assign(words, 0);
  for (const PairEntry& e : table.entries) {
    if (e.merged == -1) continue;
    const uint64_t hash = pair_hash(e.left, e.right);
    filter.words[hash & (words - 1)] |= pair_filter_bits(hash);
  }
  return filter;
}

namespace {

// The validity walk; find(a, b) gives the merged token of the pair or -1.
// Merges of id bound or later do not count at the first lookup, which
// kSkipFirst leaves out.
template <bool kSkipFirst = false, typename Find>
[[gnu::always_inline]] inline bool valid_pair_with(const BytePairEncoding& bpe, uint32_t a,
                                                   uint32_t b, Find find,
                                                   uint32_t bound = 0xFFFFFFFFu) {
  const uint32_t* split_left = bpe.split_left.data();
  const uint32_t* split_right = bpe.split_right.data();
  // A merge across the boundary is harmful only if it comes before the merge
  // that made the token just taken apart: the left token's own id, or the
  // right token's id plus one, since of equal ranks the left pair wins.
  for (bool first = true;; first = false) {
    if (!kSkipFirst || !first) {
      const int32_t m = find(a, b);
      if (m != -1 && static_cast<uint32_t>(m) < bound) return false;
    }
    // Take apart the later token first, b when the ids are equal.
    if (a > b) {
      if (split_right[a] != a) {
        bound = a;
        a = split_right[a];
      } else if (split_left[b] != b) {
        bound = b + 1;
        b = split_left[b];
      } else {
        return true;
      }
    } else {
      if (split_left[b] != b) {
        bound = b + 1;
        b = split_left[b];
      } else if (split_right[a] != a) {
        bound = a;
        a = split_right[a];
      } else {
        return true;
      }
    }
  }
}

auto plain_find(const BytePairEncoding& bpe) {
  return [&bpe](uint32_t left, uint32_t right) {
    return pair_table_find(bpe.pair_table, left, right);
  };
}

}  // namespace

bool bpe_is_valid_pair_before(const BytePairEncoding& bpe, uint32_t a, uint32_t b, uint32_t bound) {
  return valid_pair_with(bpe, a, b, plain_find(bpe), bound);
}

bool bpe_is_valid_pair_below(const BytePairEncoding& bpe, uint32_t a, uint32_t b) {
  return valid_pair_with<true>(bpe, a, b, plain_find(bpe));
}

bool bpe_is_valid_pair(const BytePairEncoding& bpe, uint32_t a, uint32_t b) {
  return valid_pair_with(bpe, a, b, plain_find(bpe));
}

bool bpe_is_valid_pair(const BytePairEncoding& bpe, const PairFilter& filter, uint32_t a,
                       uint32_t b) {
  return valid_pair_with(bpe, a, b, [&bpe, &filter](uint32_t left, uint32_t right) {
    const uint64_t hash = pair_hash(left, right);
    if (!pair_filter_may_hold(filter, hash)) return -1;
    return pair_table_find_hashed(bpe.pair_table, left, right, hash);
  });
}

}  // namespace velkan
