#include "core/encoder.h"

#include <algorithm>
#include <cstring>

#include "core/automaton.h"
#include "core/pair_table.h"
#include "core/rank_merge.h"
#include "core/uninitialized.h"

namespace velkan {
namespace {

uint64_t default_stack_size(uint64_t len) { return len / 3 + 16; }

// One bit per position 0 to len.
uint64_t bitfield_words(uint64_t len) { return (len + 64) / 64; }

// Makes a buffer hold at least needed entries. The old contents are never
// read, so a buffer that is too small is replaced rather than grown, and freed
// first to keep the peak low; should the new one fail, it is left empty
// rather than inconsistent.
template <typename T>
void fit_buffer(std::unique_ptr<T[]>& buffer, uint64_t& capacity, uint64_t needed) {
  if (capacity >= needed) return;
  buffer.reset();
  capacity = 0;
  buffer = make_uninitialized_array<T>(needed);
  capacity = needed;
}

// One step of a run: accepts candidate t at pos or a shorter prefix of it,
// or, when none fits, marks pos as a dead end and takes back the last token.
// Returns the next candidate, -1 once the run is over. The one copy of the
// algorithm: encoder_step and encoder_encode_piece both inline it.
template <bool kFiltered>
[[gnu::always_inline]] inline int32_t run_step(const BytePairEncoding& bpe,
                                               const PairFilter* filter, const uint8_t* text,
                                               uint64_t len, EncoderScratch& scratch,
                                               uint64_t& count, uint64_t& pos, int32_t t) {
  const uint32_t* starts = bpe.token_starts.data();
  const int32_t* next_prefix = bpe.next_prefix.data();
  uint64_t* allowed = scratch.allowed.get();
  const bool has_left = count != 0;
  const uint32_t left = has_left ? scratch.tokens[count - 1] : 0;

  // Candidates at pos, longest first.
  do {
    const uint64_t end = pos + (starts[t + 1] - starts[t]);
    if (((allowed[end >> 6] >> (end & 63)) & 1) != 0 &&
        (!has_left || (kFiltered ? bpe_is_valid_pair(bpe, *filter, left, static_cast<uint32_t>(t))
                                 : bpe_is_valid_pair(bpe, left, static_cast<uint32_t>(t))))) {
      if (count == scratch.token_capacity) {
        const uint64_t capacity = scratch.token_capacity != 0 ? scratch.token_capacity * 2 : 16;
        auto grown = make_uninitialized_array<uint32_t>(capacity);
        std::copy(scratch.tokens.get(), scratch.tokens.get() + count, grown.get());
        scratch.tokens = std::move(grown);
        scratch.token_capacity = capacity;
      }
      scratch.tokens[count++] = static_cast<uint32_t>(t);
      pos = end;
      return end == len ? -1 : bpe_next_match(bpe, text + end, len - end);
    }
    t = next_prefix[t];
  } while (t != -1);

  // Nothing fits at pos: no accepted token may end here any more. Take the
  // last token back; proposed again, it fails the bit test at once and its
  // shorter prefixes get their turn.
  allowed[pos >> 6] &= ~(uint64_t{1} << (pos & 63));
  if (!has_left) return -1;
  count--;
  pos -= starts[left + 1] - starts[left];
  return static_cast<int32_t>(left);
}

// Fits the scratch to a text of len bytes (a stack of at least capacity
// entries) and resets the bitfield words the text needs.
void start_run(EncoderScratch& scratch, uint64_t len, uint64_t capacity) {
  fit_buffer(scratch.tokens, scratch.token_capacity, capacity);
  const uint64_t words = bitfield_words(len);
  fit_buffer(scratch.allowed, scratch.allowed_words, words);
  uint64_t* allowed = scratch.allowed.get();
  // Pieces are short: most need one or two words, set without a call.
  for (uint64_t w = 0; w < words; w++) allowed[w] = ~uint64_t{0};  // words past these: unread
}

// Rank merging gives the backtracking encoder's ids from the token index
// alone: for a vocabulary made to merge so, and while its automaton compiles
// in the background (a vocabulary just built), where the encoder would wait
// for the compile and hold its caller (a Python caller's interpreter lock
// with it) for as long.
bool merges_by_rank(const BytePairEncoding& bpe) {
  return bpe.merge_by_rank || bpe_forward_compiling(bpe);
}

}  // namespace

void encoder_init(BacktrackEncoder& e, const BytePairEncoding& bpe, const uint8_t* text,
                  uint64_t len, uint64_t capacity_hint) {
  (void)bpe_forward_automaton(bpe);  // compiled if the build left it; the steps read it as is
  start_run(e.scratch, len, capacity_hint != 0 ? capacity_hint : default_stack_size(len));
  e.bpe = &bpe;
  e.text = text;
  e.text_len = len;
  e.token_count = 0;
  e.pos = 0;
  e.next_token = len == 0 ? -1 : bpe_next_match(bpe, text, len);
}

int32_t encoder_step(BacktrackEncoder& e) {
  if (e.next_token == -1) return -1;
  e.next_token = run_step<false>(*e.bpe, nullptr, e.text, e.text_len, e.scratch, e.token_count,
                                 e.pos, e.next_token);
  return e.next_token;
}

uint64_t encoder_encode_piece(const BytePairEncoding& bpe, const uint8_t* text, uint64_t len,
                              int32_t first, EncoderScratch& scratch, const PairFilter* filter) {
  if (bpe.merge_by_rank) {
    std::vector<uint32_t> ids;
    rank_merge_piece(bpe, text, len, ids);
    fit_buffer(scratch.tokens, scratch.token_capacity, std::max<uint64_t>(ids.size(), 1));
    std::copy(ids.begin(), ids.end(), scratch.tokens.get());
    return ids.size();
  }
  start_run(scratch, len, default_stack_size(len));
  uint64_t count = 0, pos = 0;
  int32_t t = len == 0 ? -1 : first;
  if (filter != nullptr) {
    while (t != -1) t = run_step<true>(bpe, filter, text, len, scratch, count, pos, t);
  } else {
    while (t != -1) t = run_step<false>(bpe, nullptr, text, len, scratch, count, pos, t);
  }
  return count;
}

void encoder_run(BacktrackEncoder& e) {
  while (encoder_step(e) != -1) {
  }
}

std::vector<uint32_t> bpe_encode(const BytePairEncoding& bpe, const uint8_t* text, uint64_t len) {
  if (merges_by_rank(bpe)) {
    std::vector<uint32_t> ids;
    rank_merge_piece(bpe, text, len, ids);
    return ids;
  }
  BacktrackEncoder e;
  encoder_init(e, bpe, text, len, default_stack_size(len));
  encoder_run(e);
  return std::vector<uint32_t>(e.tokens(), e.tokens() + e.token_count);
}

uint64_t bpe_count(const BytePairEncoding& bpe, const uint8_t* text, uint64_t len) {
  if (merges_by_rank(bpe)) return bpe_encode(bpe, text, len).size();
  BacktrackEncoder e;
  encoder_init(e, bpe, text, len, default_stack_size(len));
  encoder_run(e);
  return e.token_count;
}

uint64_t bpe_count_till_limit(const BytePairEncoding& bpe, const uint8_t* text, uint64_t len,
                              uint64_t limit) {
  if (merges_by_rank(bpe)) {
    const uint64_t count = bpe_count(bpe, text, len);
    return count <= limit ? count : UINT64_MAX;
  }
  // The stack never holds more tokens than the text has bytes, nor more than
  // limit + 11 before the run gives up; the sum cannot overflow since len is
  // the size of a real buffer.
  BacktrackEncoder e;
  encoder_init(e, bpe, text, len, std::min(limit, len) + 16);
  while (encoder_step(e) != -1) {
    // token_count > limit + 10, written so that a huge limit cannot overflow.
    if (e.token_count > limit && e.token_count - limit > 10) return UINT64_MAX;
  }
  return e.token_count <= limit ? e.token_count : UINT64_MAX;
}

}  // namespace velkan
