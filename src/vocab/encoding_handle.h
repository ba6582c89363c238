// An EncodingHandle pairs a vocabulary's encoding with its pre-split rule
// set (and the encoding's pair filter, which only speeds the driver up). The
// process-wide cache makes one per embedded vocabulary; tokenizers, driver
// calls and pool jobs point at it and never own it. A vocabulary of one's
// own gets a handle of its own that also owns its encoding, freed with the
// tokenizer that holds it. A finished handle is read-only and read by many
// threads at once.

#ifndef VELKAN_VOCAB_ENCODING_HANDLE_H_
#define VELKAN_VOCAB_ENCODING_HANDLE_H_

#include <memory>
#include <vector>

#include "core/encoding.h"
#include "core/pair_table.h"
#include "core/piece_cache.h"
#include "core/segment_cache.h"
#include "core/short_tokens.h"
#include "presplit/rule_set.h"

namespace velkan {

struct EncodingHandle {
  EncodingHandle() : piece_cache(std::make_unique<PieceCache>()) {}
  // A handle over lender's encoding that pre-splits with another rule set
  // and reads lender's derived tables and piece cache (a piece's ids do not
  // depend on the rule set that cut it), so that it makes and faults in none
  // of its own. lender must outlive it: the cache's handles live as long as
  // the process.
  EncodingHandle(const EncodingHandle& lender, RuleSet rules)
      : encoding(lender.encoding), rule_set(rules), owned(lender.owned), tables(&lender) {}

  const BytePairEncoding* encoding = nullptr;
  RuleSet rule_set = RuleSet::kWhole;             // kWhole: texts are encoded as one piece
  PairFilter pair_filter;                         // of encoding->pair_table; empty: none
  std::shared_ptr<const BytePairEncoding> owned;  // the encoding, when not the cache's
  // Pieces already encoded; thread-safe. Null when tables lends its own.
  std::unique_ptr<PieceCache> piece_cache;
  mutable SegmentCache segment_cache;  // runs of pieces between word cuts; thread-safe
  ShortTokens short_tokens;            // of encoding; empty: the automaton answers
  // Pieces of up to this many bytes that are no token and not in the piece
  // cache go to the small merge (core/small_merge.h) instead of the
  // backtracking encoder; 0 when the encoding cannot take it (merge_by_rank,
  // or a single byte that is no token).
  uint64_t small_merge_max = 0;
  std::vector<uint32_t> byte_pairs;  // small_merge_byte_pairs, when small_merge_max
  // Another handle of the same encoding, living as long as the process (the
  // cache's), whose derived tables (the pair filter, short tokens, small
  // merge) and piece cache this one reads instead of its own; null: its own.
  // A rule set other than the vocabulary's own needs no second copy of them.
  const EncodingHandle* tables = nullptr;
};

// The handle whose derived tables and piece cache serve handle's encodes.
inline const EncodingHandle& handle_tables(const EncodingHandle& handle) {
  return handle.tables != nullptr ? *handle.tables : handle;
}

// Derives what a handle adds to its encoding (the pair filter, the short-
// token tables, the small merge's length and byte pairs) and asks for huge
// pages under the encoding's most read arrays. handle.encoding must be set;
// call once, before the handle is shared.
void handle_finish(EncodingHandle& handle);

}  // namespace velkan

#endif  // VELKAN_VOCAB_ENCODING_HANDLE_H_
