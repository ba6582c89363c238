#include "core/small_merge.h"

#include "core/automaton.h"

namespace velkan {
namespace {

// No merge: above every id.
constexpr uint32_t kNoMerge = UINT32_MAX;

template <bool kFiltered>
[[gnu::always_inline]] inline uint32_t merged_of(const BytePairEncoding& bpe,
                                                 const PairFilter* filter, uint32_t left,
                                                 uint32_t right) {
  const uint64_t hash = pair_hash(left, right);
  if constexpr (kFiltered) {
    if (!pair_filter_may_hold(*filter, hash)) return kNoMerge;
  }
  const int32_t m = pair_table_find_hashed(bpe.pair_table, left, right, hash);
  return m < 0 ? kNoMerge : static_cast<uint32_t>(m);
}

// A single byte's token, from the token index: built before the automaton,
// which may still be left to its first use, and it gives the same id (the
// lowest of equal tokens, which the trie keeps too).
uint32_t byte_token(const BytePairEncoding& bpe, uint8_t byte) {
  return static_cast<uint32_t>(token_index_find(
      bpe.token_index, bpe.token_bytes.data(), bpe.token_starts.data(), bpe.hash_factor, &byte, 1));
}

template <bool kFiltered>
uint64_t merge(const BytePairEncoding& bpe, const PairFilter* filter, const uint32_t* byte_pairs,
               const uint8_t* piece, uint64_t len, uint32_t* out) {
  // The single bytes are the root's children in the automaton: its first
  // lines, which every piece's walk keeps in the cache.
  const TokenAutomaton& a = bpe.forward_automaton;
  const int32_t root_base = a.base[0];
  uint32_t n = static_cast<uint32_t>(len);
  for (uint32_t i = 0; i < n; i++) {
    out[i] = static_cast<uint32_t>(a.states[static_cast<size_t>(root_base + piece[i])].value);
  }
  // merged[i]: what out[i] and out[i + 1] merge into, kNoMerge if nothing.
  uint32_t merged[kSmallMergeMaxBytes];
  if (byte_pairs != nullptr) {
    for (uint32_t i = 0; i + 1 < n; i++)
      merged[i] = byte_pairs[static_cast<uint32_t>(piece[i]) << 8 | piece[i + 1]];
  } else {
    for (uint32_t i = 0; i + 1 < n; i++)
      merged[i] = merged_of<kFiltered>(bpe, filter, out[i], out[i + 1]);
  }
  while (n > 1) {
    uint32_t best = 0;
    for (uint32_t i = 1; i + 1 < n; i++) {
      if (merged[i] < merged[best]) best = i;
    }
    if (merged[best] == kNoMerge) break;
    out[best] = merged[best];
    for (uint32_t i = best + 1; i + 1 < n; i++) {
      out[i] = out[i + 1];
      merged[i] = merged[i + 1];
    }
    n--;
    // merged[n - 1] is now past the end; the two pairs around the new token
    // are asked again.
    if (best + 1 < n) merged[best] = merged_of<kFiltered>(bpe, filter, out[best], out[best + 1]);
    if (best > 0) merged[best - 1] = merged_of<kFiltered>(bpe, filter, out[best - 1], out[best]);
  }
  return n;
}

}  // namespace

std::vector<uint32_t> small_merge_byte_pairs(const BytePairEncoding& bpe) {
  std::vector<uint32_t> pairs(65536, kNoMerge);
  // Only a token of two bytes can be the merge of two single bytes.
  for (uint32_t id = 0; id < bpe.num_tokens; id++) {
    if (bpe.token_length(id) != 2) continue;
    const uint8_t* bytes = bpe.token_data(id);
    pairs[static_cast<size_t>(bytes[0]) << 8 | bytes[1]] =
        merged_of<false>(bpe, nullptr, byte_token(bpe, bytes[0]), byte_token(bpe, bytes[1]));
  }
  return pairs;
}

uint64_t small_merge_piece(const BytePairEncoding& bpe, const PairFilter* filter,
                           const uint32_t* byte_pairs, const uint8_t* piece, uint64_t len,
                           uint32_t* out) {
  return filter != nullptr ? merge<true>(bpe, filter, byte_pairs, piece, len, out)
                           : merge<false>(bpe, nullptr, byte_pairs, piece, len, out);
}

}  // namespace velkan
