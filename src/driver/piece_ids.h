// The ids of one piece, as every walk over a text's pieces gets them: a whole
// token straight from the automaton, else the vocabulary's shared cache of
// pieces already encoded (core/piece_cache.h), else the encoder, whose result then
// goes into the cache for every later call and thread.

#ifndef VELKAN_DRIVER_PIECE_IDS_H_
#define VELKAN_DRIVER_PIECE_IDS_H_

#include <cstdint>
#include <vector>

#include "core/automaton.h"
#include "core/encoder.h"
#include "core/piece_cache.h"
#include "core/rank_merge.h"
#include "core/short_tokens.h"
#include "core/small_merge.h"
#include "vocab/encoding_handle.h"

namespace velkan {

// Most pieces of real text are a token by themselves (" the", "ing", "\n\n"):
// a walk from the automaton's root tells (with kShortTokens the handle's table
// of short tokens is asked first), and then the encoder, its scratch and its
// bitfield are not touched at all. Encoding would reach the same answer: its
// first candidate, the longest token that is a prefix, is then the whole
// piece; it has no left neighbour and ends at the piece's end, so it is
// accepted and the run is over. Otherwise the second walk, for that first
// candidate, finds the path's cache lines loaded.
//
// Performance notes: the table of short tokens (core/short_tokens.h) makes hot
// counts 1.07x to 1.13x faster on English, code and short texts and hot
// encodes 1.01x to 1.17x (cl100k_base 1.03x to 1.17x, o200k_base 1.01x to
// 1.08x; multilingual text 0.98x to 1.02x: its pieces are mostly longer than
// eight bytes). An earlier measure of encodes (0.90x to
// 0.97x) did not come back on this code, with push_back or with an insert
// per piece. Starting the next piece's probe before the current piece is
// encoded (a walk one piece behind, with a prefetch) made counts 0.83x to
// 0.93x. The budget functions (1.04x to 1.21x) and streams (1.04x to 1.33x)
// use the table as well.
template <bool kShortTokens>
class PieceIds {
 public:
  explicit PieceIds(const EncodingHandle& handle) : PieceIds(handle, handle_tables(handle)) {}

  // Hands the piece's ids to on_ids(ids, n); they stay valid only during the
  // call. readable: the bytes that may be read from piece on (to the text's
  // end); only the table of short tokens reads past the piece.
  template <typename OnIds>
  void encode(const uint8_t* piece, uint64_t len, uint64_t readable, OnIds on_ids) {
    int32_t whole = ShortTokens::kUnknown;
    if constexpr (kShortTokens) whole = short_tokens_.find(piece, len, readable);
    if (whole == ShortTokens::kUnknown) {
      whole = automaton_whole_token(forward_, piece, len);
    }
    if (whole >= 0) {
      const uint32_t id = static_cast<uint32_t>(whole);
      on_ids(&id, 1);
      return;
    }
    if (!PieceCache::cacheable(len)) {
      const uint64_t n = run_encoder(piece, len);
      on_ids(ids_, n);
      return;
    }
    const PieceCache::Key key = PieceCache::key_of(piece, len, readable);
    if (const uint32_t n = cache_.find(key, hit_)) {
      on_ids(hit_, n);
      return;
    }
    const uint64_t n = run_encoder(piece, len);
    // The slot to evict, when both of the piece's are taken: a cheap random
    // bit, the top one of a linear congruential generator.
    random_ = random_ * 6364136223846793005ULL + 1442695040888963407ULL;
    cache_.put(key, ids_, n, random_ >> 63);
    on_ids(ids_, n);
  }

  // The number of the piece's ids; readable as for encode (by default the
  // piece is not read past).
  uint64_t count(const uint8_t* piece, uint64_t len, uint64_t readable = 0) {
    uint64_t count = 0;
    encode(piece, len, readable < len ? len : readable,
           [&](const uint32_t*, uint64_t n) { count = n; });
    return count;
  }

 private:
  // Encodes a piece that is no token; its ids are then ids_[0, n).
  uint64_t run_encoder(const uint8_t* piece, uint64_t len) {
    if (len <= small_merge_max_) {  // never while merge_ranks_ (0 then)
      ids_ = small_;
      return small_merge_piece(bpe_, filter_, byte_pairs_, piece, len, small_);
    }
    if (merge_ranks_) [[unlikely]] {
      merged_.clear();
      rank_merge_piece(bpe_, piece, len, merged_);
      ids_ = merged_.data();
      return merged_.size();
    }
    const int32_t first = bpe_next_match(bpe_, piece, len);
    const uint64_t n = encoder_encode_piece(bpe_, piece, len, first, scratch_, filter_);
    ids_ = scratch_.tokens.get();  // read after the run, which may reallocate it
    return n;
  }

  PieceIds(const EncodingHandle& handle, const EncodingHandle& tables)
      : bpe_(*handle.encoding),
        merge_ranks_(bpe_forward_compiling(bpe_)),
        forward_(merge_ranks_ ? automaton_none() : bpe_forward_automaton(bpe_)),
        filter_(tables.pair_filter.words.empty() ? nullptr : &tables.pair_filter),
        short_tokens_(tables.short_tokens),
        cache_(*tables.piece_cache),
        small_merge_max_(merge_ranks_ ? 0 : tables.small_merge_max),
        byte_pairs_(tables.byte_pairs.empty() ? nullptr : tables.byte_pairs.data()) {}

  const BytePairEncoding& bpe_;
  // While the automaton compiles in the background (a vocabulary of one's
  // own just built), the walk does not wait for it: the whole-token walk
  // finds nothing in an empty automaton, and every piece the short tokens
  // and the cache do not answer is encoded by merging ranks, which reads
  // only the token index and gives the same ids (a whole token included).
  const bool merge_ranks_;
  // Asked for once per walk: the readiness check stays out of the pieces.
  const TokenAutomaton& forward_;
  const PairFilter* filter_;         // null when the handle has none
  const ShortTokens& short_tokens_;  // asked when kShortTokens
  PieceCache& cache_;
  const uint64_t small_merge_max_;
  const uint32_t* byte_pairs_;  // null when the handle has none
  EncoderScratch scratch_;
  std::vector<uint32_t> merged_;   // the ids of a piece merged by rank
  const uint32_t* ids_ = nullptr;  // the last run's ids: small_ or scratch_.tokens
  uint32_t small_[kSmallMergeMaxBytes];
  uint32_t hit_[PieceCache::kMaxIds];
  uint64_t random_ = reinterpret_cast<uintptr_t>(this);
};

}  // namespace velkan

#endif  // VELKAN_DRIVER_PIECE_IDS_H_
