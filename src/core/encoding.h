// Token store: the BytePairEncoding record that holds one vocabulary in
// encoder form, the hash index from byte strings to token ids, and decoding of
// token ids back to bytes. A record is read-only once made and shared freely.

#ifndef VELKAN_CORE_ENCODING_H_
#define VELKAN_CORE_ENCODING_H_

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "core/automaton.h"
#include "core/index.h"
#include "core/pair_table.h"

namespace velkan {

struct PendingForward;  // core/build.cc

// The factor that construction multiplies into every token-index hash.
inline constexpr uint64_t kHashFactor = 0xF7AAECE06A5C4FA3ULL;

// One token-index slot; stored in images as u32 hash, i32 id.
struct TokenIndexEntry {
  uint32_t hash;  // stored hash; not read in an empty slot
  int32_t token;  // -1 marks an empty slot
};
static_assert(sizeof(TokenIndexEntry) == 8, "image layout");

// Open addressing with linear probing, at most a quarter full, never grown.
struct TokenIndex {
  std::vector<TokenIndexEntry> entries;  // capacity slots
  uint32_t capacity = 0;                 // a power of two, at least 16
  uint32_t count = 0;                    // occupied slots
};

// One vocabulary in encoder form. Fields keep the order of the precomputed
// image. A rank with no token (a gap, as p50k_base leaves rank 50256 to a
// special token) is stored as an empty token: it has no index slot, no
// automaton state, no prefix and no split, so encoding never yields it and
// decoding refuses it. The record owns every array; destroying it releases
// them, for built and loaded records alike.
struct BytePairEncoding {
  std::vector<uint8_t> token_bytes;    // all tokens concatenated in id order
  std::vector<uint32_t> token_starts;  // num_tokens + 1 offsets
  uint32_t num_tokens = 0;
  TokenIndex token_index;            // bytes -> id
  uint64_t hash_factor = 0;          // multiplier of every index hash
  std::vector<uint32_t> split_left;  // merge parts; the token itself if none
  std::vector<uint32_t> split_right;
  PairTable pair_table;  // (left, right) -> merged
  // The three automata (AutomatonKind). Only the forward one is queried; the
  // image format keeps all three, and images are checked against all three.
  // Each takes 24 bytes per state and 12 per output: cl100k_base 11.1, 11.1
  // and 9.8 MiB, o200k_base 21.6, 21.6 and 24.7 MiB. A record loaded from a
  // known image holds the forward one alone (alt_shares_forward,
  // reverse_held).
  TokenAutomaton forward_automaton;      // kForwardAutomaton
  TokenAutomaton forward_automaton_alt;  // kForwardAltAutomaton: a copy of the forward one
  TokenAutomaton reverse_automaton;      // kReverseAutomaton: the tokens reversed
  // forward_automaton_alt's arrays are forward_automaton's and are not held
  // (bpe_alt_from_forward, and the image reader when they are equal): its
  // counts and kind stay, and an image written from the record carries the
  // forward arrays in its place.
  bool alt_shares_forward = false;
  // reverse_automaton's arrays are not held by a record loaded from the
  // known image (vocab/image_reader.cc; any other image's are read and
  // checked): its counts and kind stay, and an image written from the
  // record compiles it again (bpe_reverse_automaton).
  bool reverse_held = true;
  std::vector<int32_t> next_prefix;  // longest proper prefix token, -1 if none
  // Every id in the order of token_byte_values (gaps first; core/byte_order.h),
  // made by a build of all three automata and carried by images, so that the
  // first token_byte_values() only reads it (4 bytes a token: cl100k_base
  // 0.4 MB, o200k_base 0.8 MB). Empty in a forward-only build: sorted there
  // when asked.
  std::vector<uint32_t> byte_order;
  // Not part of images: set for a vocabulary of one's own whose tokens the
  // backtracking encoder cannot all reach (core/rank_merge.h); then every
  // piece is encoded by merging ranks instead.
  bool merge_by_rank = false;
  // Not part of images either: a build may leave the forward automaton's
  // compile to its first use (ForwardCompile in core/build.h). Until then
  // forward_ready is false and forward_pending holds the trie it is compiled
  // from (freed by the compile; about the automaton's size, once per record).
  // Read the automaton through bpe_forward_automaton, which compiles it when
  // still pending.
  std::shared_ptr<PendingForward> forward_pending;
  std::atomic<bool> forward_ready{true};
  // While a thread of its own compiles it (bpe_compile_forward_in_background):
  // the mark of the process that thread runs in; 0 when none does.
  mutable std::atomic<uint64_t> forward_background{0};

  BytePairEncoding() = default;
  // Records are large and shared by pointer; a copy would be a mistake.
  BytePairEncoding(const BytePairEncoding&) = delete;
  BytePairEncoding& operator=(const BytePairEncoding&) = delete;

  uint32_t token_length(uint32_t id) const { return token_starts[id + 1] - token_starts[id]; }
  const uint8_t* token_data(uint32_t id) const { return token_bytes.data() + token_starts[id]; }
};

using BytePairEncodingPtr = std::unique_ptr<BytePairEncoding>;

// Compiles a pending forward automaton (core/build.cc): once, however many
// threads ask at once, the others waiting for it. Throws std::bad_alloc,
// leaving it pending.
void bpe_compile_forward(const BytePairEncoding& bpe);

// Starts compiling a pending forward automaton on a thread of its own and
// returns at once; the thread holds bpe until it is done. False when no
// thread could be had: the first use then compiles it.
bool bpe_compile_forward_in_background(std::shared_ptr<const BytePairEncoding> bpe);

// Whether bpe's forward automaton is still pending while such a thread of
// this process compiles it: a caller that need not wait may encode without
// it meanwhile (driver/piece_ids.h).
bool bpe_forward_compiling(const BytePairEncoding& bpe);

// Makes forward_automaton_alt the copy of forward_automaton that is not held
// (alt_shares_forward): its counts and kind, no arrays. Nothing queries the
// copy, and holding it would cost cl100k_base 11.1 MiB, o200k_base 21.6 MiB.
void bpe_alt_from_forward(BytePairEncoding& bpe);

// A mark of this process, told apart from its forked children's: a compile
// a parent runs in the background is not running in the child.
uint64_t bpe_process_mark();

// The forward automaton, ready: the one way to read it. Every entry that
// reads it asks once per call (PieceIds' constructor, encoder_init, the
// image writer and checks, the small merge's byte pairs); what they call per
// piece (bpe_next_match, the encoder, the small merge) then reads
// bpe.forward_automaton as is, so the check stays out of the pieces.
inline const TokenAutomaton& bpe_forward_automaton(const BytePairEncoding& bpe) {
  if (!bpe.forward_ready.load(std::memory_order_acquire)) [[unlikely]] {
    bpe_compile_forward(bpe);
  }
  return bpe.forward_automaton;
}

// Slot count for a table of at most a quarter load: the smallest power of two
// that is at least 4 * num_tokens, and never less than 16. The product is a
// u32, so a vocabulary may hold at most 2^29 tokens.
uint32_t hash_table_capacity(uint32_t num_tokens);

// FNV-1a 64 of the bytes, times factor, high 32 bits.
uint32_t token_hash(const uint8_t* bytes, size_t length, uint64_t factor);

// Copies n tokens (n + 1 starts and starts[n] bytes) into the record, sets
// num_tokens and hash_factor = kHashFactor, and builds the token index by
// inserting every token in id order. Equal byte strings get a slot each;
// empty tokens (gaps) get none. Returns whether some token equals an
// earlier one.
bool bpe_store_tokens(BytePairEncoding& bpe, const uint8_t* bytes, const uint32_t* starts,
                      uint32_t n);

// Looks up a byte string; returns its token id or -1. A slot whose stored hash
// matches but whose bytes differ is passed over, so a token whose hash
// collides with an earlier token's is still found.
int32_t token_index_find(const TokenIndex& index, const uint8_t* token_bytes,
                         const uint32_t* token_starts, uint64_t hash_factor, const uint8_t* key,
                         size_t key_length);

// Total byte length of the tokens, or nothing when an id is not below
// num_tokens or is a gap.
std::optional<uint64_t> bpe_decoded_length(const BytePairEncoding& bpe, const uint32_t* ids,
                                           uint64_t count);

// Copies the tokens' bytes one after another to out, which must hold
// bpe_decoded_length bytes. Ids must have been checked.
void bpe_decode_into(const BytePairEncoding& bpe, const uint32_t* ids, uint64_t count,
                     uint8_t* out);

// The bytes of the tokens, or nothing when an id is not below num_tokens or
// is a gap. The
// bytes need not be valid UTF-8.
std::optional<std::string> bpe_decode_tokens(const BytePairEncoding& bpe, const uint32_t* ids,
                                             uint64_t count);

}  // namespace velkan

#endif  // VELKAN_CORE_ENCODING_H_
