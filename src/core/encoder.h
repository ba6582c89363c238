// Backtracking encoder: turns one byte string into token ids without replaying
// merges. It proposes the longest token at each position, falls back to
// shorter prefix tokens, and backs out of positions that lead nowhere.

#ifndef VELKAN_CORE_ENCODER_H_
#define VELKAN_CORE_ENCODER_H_

#include <cstdint>
#include <memory>
#include <vector>

#include "core/encoding.h"
#include "core/pair_table.h"

namespace velkan {

// Token stack and dead-end bitfield that one driver call reuses across its
// pieces, so that it allocates only when a piece needs more room than any
// earlier one. A new scratch holds no buffers. Belongs to one thread.
struct EncoderScratch {
  std::unique_ptr<uint32_t[]> tokens;   // token stack buffer
  uint64_t token_capacity = 0;          // entries allocated
  std::unique_ptr<uint64_t[]> allowed;  // bitfield buffer
  uint64_t allowed_words = 0;           // words allocated
};

// The state of one run over one byte string. A plain value on the caller's
// stack; it owns its buffers (scratch), which a later encoder_init on the same
// encoder reuses when they are large enough.
struct BacktrackEncoder {
  const BytePairEncoding* bpe = nullptr;  // vocabulary, borrowed
  const uint8_t* text = nullptr;          // input, borrowed
  uint64_t text_len = 0;
  // scratch.tokens holds the token stack, bottom first; its first token_count
  // entries are the result once the run is over. Bit p of scratch.allowed
  // (word p / 64, least significant bit first) is 1 while position p may still
  // end an accepted token; it covers positions 0 to text_len.
  EncoderScratch scratch;
  uint64_t token_count = 0;
  int32_t next_token = -1;  // candidate to try at pos; -1 when the run is over
  uint64_t pos = 0;         // where the next token starts: the stack's byte length

  const uint32_t* tokens() const { return scratch.tokens.get(); }
};

// Sets up a run over text. The token stack holds at least capacity_hint
// entries, or text_len / 3 + 16 when the hint is 0; buffers too small for
// this run are replaced, larger ones are kept, and only the bitfield words
// this text needs are reset.
void encoder_init(BacktrackEncoder& encoder, const BytePairEncoding& bpe, const uint8_t* text,
                  uint64_t len, uint64_t capacity_hint);

// The whole run over one piece in one call, on the scratch's buffers: the
// same steps as encoder_init and encoder_run, with the state in locals
// instead of a BacktrackEncoder, which is what the driver runs per piece.
// first must be bpe_next_match(bpe, text, len) (the driver has it from its
// whole-piece test). filter, when not null, is the filter of bpe.pair_table;
// it changes the speed, not the result. Returns the number of ids, which are
// then scratch.tokens[0, n).
uint64_t encoder_encode_piece(const BytePairEncoding& bpe, const uint8_t* text, uint64_t len,
                              int32_t first, EncoderScratch& scratch,
                              const PairFilter* filter = nullptr);

// One step: accepts the current candidate or a shorter prefix of it, or, when
// none fits, marks the position as a dead end and takes back the last token.
// Returns the next candidate, or -1 once the run is over (and from then on).
int32_t encoder_step(BacktrackEncoder& encoder);

// Steps until the run is over.
void encoder_run(BacktrackEncoder& encoder);

// The token ids of the whole text; empty for an empty text. While the
// automaton compiles in the background (bpe_forward_compiling), these three
// merge by rank instead: the same ids, without waiting for the compile (and
// bpe_count_till_limit then counts to the end).
std::vector<uint32_t> bpe_encode(const BytePairEncoding& bpe, const uint8_t* text, uint64_t len);

// The number of tokens bpe_encode would give, without building the result.
uint64_t bpe_count(const BytePairEncoding& bpe, const uint8_t* text, uint64_t len);

// The number of tokens if it is at most limit, else UINT64_MAX. Gives up as
// soon as the stack holds more than limit + 10 tokens, so a long text over a
// small limit costs little. Any limit is fine: the stack starts at
// min(limit, len) + 16 entries.
uint64_t bpe_count_till_limit(const BytePairEncoding& bpe, const uint8_t* text, uint64_t len,
                              uint64_t limit);

}  // namespace velkan

#endif  // VELKAN_CORE_ENCODER_H_
