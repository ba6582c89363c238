#include "core/encoder.h"

#include <algorithm>
#include <cstring>

#include "core/automaton.h"
#include "core/pair_table.h"

namespace velkan {
namespace {

uint64_t default_stack_size(uint64_t len) { return len / 3 + 16; }

// One bit per position 0 to len.
uint64_t bitfield_words(uint64_t len) { return (len + 64) / 64; }

void set_all_ones(uint64_t* words, uint64_t count) {
  std::memset(words, 0xFF, count * sizeof(uint64_t));
}

// Makes a buffer hold at least needed entries. The old contents are never
// read, so a buffer that is too small is replaced rather than grown, and freed
// first to keep the peak low; should the new one fail, it is left empty
// rather than inconsistent.
template <typename T>
void fit_buffer(std::unique_ptr<T[]>& buffer, uint64_t& capacity, uint64_t needed) {
  if (capacity >= needed) return;
  buffer.reset();
  capacity = 0;
  buffer = std::make_unique_for_overwrite<T[]>(needed);
  capacity = needed;
}

// Fits the scratch's buffers to a text of len bytes; returns the bitfield
// words it needs.
uint64_t fit_scratch(EncoderScratch& scratch, uint64_t len) {
  fit_buffer(scratch.tokens, scratch.token_capacity, default_stack_size(len));
  const uint64_t words = bitfield_words(len);
  fit_buffer(scratch.allowed, scratch.allowed_words, words);
  return words;
}

void start_run(BacktrackEncoder& e, const BytePairEncoding& bpe, const uint8_t* text,
               uint64_t len) {
  e.bpe = &bpe;
  e.text = text;
  e.text_len = len;
  e.token_count = 0;
  e.pos = 0;
  e.next_token = len == 0 ? -1 : bpe_next_match(bpe, text, len);
}

}  // namespace

void encoder_init(BacktrackEncoder& e, const BytePairEncoding& bpe, const uint8_t* text,
                  uint64_t len, uint64_t capacity_hint) {
  const uint64_t capacity = capacity_hint != 0 ? capacity_hint : default_stack_size(len);
  const uint64_t words = bitfield_words(len);
  e.tokens = std::make_unique_for_overwrite<uint32_t[]>(capacity);
  e.token_capacity = capacity;
  e.allowed = std::make_unique_for_overwrite<uint64_t[]>(words);
  e.allowed_words = words;
  set_all_ones(e.allowed.get(), words);
  start_run(e, bpe, text, len);
}

void encoder_init_with_scratch(BacktrackEncoder& e, const BytePairEncoding& bpe,
                               const uint8_t* text, uint64_t len, EncoderScratch& scratch) {
  const uint64_t words = fit_scratch(scratch, len);
  set_all_ones(scratch.allowed.get(), words);  // words past these are never read

  e.tokens = std::move(scratch.tokens);
  e.token_capacity = scratch.token_capacity;
  e.allowed = std::move(scratch.allowed);
  e.allowed_words = scratch.allowed_words;
  scratch.token_capacity = 0;
  scratch.allowed_words = 0;
  start_run(e, bpe, text, len);
}

void encoder_release_to_scratch(BacktrackEncoder& e, EncoderScratch& scratch) {
  scratch.tokens = std::move(e.tokens);
  scratch.token_capacity = e.token_capacity;
  scratch.allowed = std::move(e.allowed);
  scratch.allowed_words = e.allowed_words;
  e.token_capacity = 0;
  e.allowed_words = 0;
}

int32_t encoder_step(BacktrackEncoder& e) {
  int32_t t = e.next_token;
  if (t == -1)
    return -1;
  const BytePairEncoding& bpe = *e.bpe;
  const uint32_t* starts = bpe.token_starts.data();
  const int32_t* next_prefix = bpe.next_prefix.data();
  uint64_t* allowed = e.allowed.get();
  const uint64_t pos = e.pos;
  const bool has_left = e.token_count != 0;
  const uint32_t left = has_left ? e.tokens[e.token_count - 1] : 0;

  // Candidates at pos, longest first.
  do {
    const uint64_t end = pos + (starts[t + 1] - starts[t]);
    if (((allowed[end >> 6] >> (end & 63)) & 1) != 0 &&
        (!has_left || bpe_is_valid_pair(bpe, left, static_cast<uint32_t>(t)))) {
      if (e.token_count == e.token_capacity) {
        const uint64_t capacity = e.token_capacity != 0 ? e.token_capacity * 2 : 16;
        auto grown = std::make_unique_for_overwrite<uint32_t[]>(capacity);
        std::copy(e.tokens.get(), e.tokens.get() + e.token_count, grown.get());
        e.tokens = std::move(grown);
        e.token_capacity = capacity;
      }
      e.tokens[e.token_count++] = static_cast<uint32_t>(t);
      e.pos = end;
      e.next_token = end == e.text_len ? -1 : bpe_next_match(bpe, e.text + end, e.text_len - end);
      return e.next_token;
    }
    t = next_prefix[t];
  } while (t != -1);

  // Nothing fits at pos: no accepted token may end here any more. Take the
  // last token back; proposed again, it fails the bit test at once and its
  // shorter prefixes get their turn.
  allowed[pos >> 6] &= ~(uint64_t{1} << (pos & 63));
  if (has_left) {
    e.token_count--;
    e.pos = pos - (starts[left + 1] - starts[left]);
    e.next_token = static_cast<int32_t>(left);
  } else {
    e.next_token = -1;
  }
  return e.next_token;
}

uint64_t encoder_encode_piece(const BytePairEncoding& bpe, const uint8_t* text, uint64_t len,
                              int32_t first, EncoderScratch& scratch, const PairFilter* filter) {
  const uint64_t words = fit_scratch(scratch, len);
  uint64_t* allowed = scratch.allowed.get();
  // Pieces are short: most need one or two words, set without a call.
  for (uint64_t w = 0; w < words; w++) allowed[w] = ~uint64_t{0};

  const uint32_t* starts = bpe.token_starts.data();
  const int32_t* next_prefix = bpe.next_prefix.data();
  uint32_t* tokens = scratch.tokens.get();
  uint64_t count = 0;
  uint64_t pos = 0;
  int32_t t = len == 0 ? -1 : first;
  // encoder_step, unrolled into one loop.
  while (t != -1) {
    const bool has_left = count != 0;
    const uint32_t left = has_left ? tokens[count - 1] : 0;
    bool accepted = false;
    do {
      const uint64_t end = pos + (starts[t + 1] - starts[t]);
      if (((allowed[end >> 6] >> (end & 63)) & 1) != 0 &&
          (!has_left || (filter != nullptr
                             ? bpe_is_valid_pair(bpe, *filter, left, static_cast<uint32_t>(t))
                             : bpe_is_valid_pair(bpe, left, static_cast<uint32_t>(t))))) {
        if (count == scratch.token_capacity) {
          const uint64_t capacity = scratch.token_capacity * 2;
          auto grown = std::make_unique_for_overwrite<uint32_t[]>(capacity);
          std::copy(tokens, tokens + count, grown.get());
          scratch.tokens = std::move(grown);
          scratch.token_capacity = capacity;
          tokens = scratch.tokens.get();
        }
        tokens[count++] = static_cast<uint32_t>(t);
        pos = end;
        t = end == len ? -1 : bpe_next_match(bpe, text + end, len - end);
        accepted = true;
        break;
      }
      t = next_prefix[t];
    } while (t != -1);
    if (accepted) continue;
    allowed[pos >> 6] &= ~(uint64_t{1} << (pos & 63));
    if (!has_left) break;
    count--;
    pos -= starts[left + 1] - starts[left];
    t = static_cast<int32_t>(left);
  }
  return count;
}

void encoder_run(BacktrackEncoder& e) {
  while (encoder_step(e) != -1) {
  }
}

std::vector<uint32_t> bpe_encode(const BytePairEncoding& bpe, const uint8_t* text, uint64_t len) {
  BacktrackEncoder e;
  encoder_init(e, bpe, text, len, default_stack_size(len));
  encoder_run(e);
  return std::vector<uint32_t>(e.tokens.get(), e.tokens.get() + e.token_count);
}

uint64_t bpe_count(const BytePairEncoding& bpe, const uint8_t* text, uint64_t len) {
  BacktrackEncoder e;
  encoder_init(e, bpe, text, len, default_stack_size(len));
  encoder_run(e);
  return e.token_count;
}

uint64_t bpe_count_till_limit(const BytePairEncoding& bpe, const uint8_t* text, uint64_t len,
                              uint64_t limit) {
  // The stack never holds more tokens than the text has bytes, nor more than
  // limit + 11 before the run gives up; the sum cannot overflow since len is
  // the size of a real buffer.
  BacktrackEncoder e;
  encoder_init(e, bpe, text, len, std::min(limit, len) + 16);
  while (encoder_step(e) != -1) {
    // token_count > limit + 10, written so that a huge limit cannot overflow.
    if (e.token_count > limit && e.token_count - limit > 10)
      return UINT64_MAX;
  }
  return e.token_count <= limit ? e.token_count : UINT64_MAX;
}

}  // namespace velkan
