#include "driver/piecewise.h"

#include "core/encoder.h"
#include "presplit/unicode.h"

namespace velkan {
namespace {

// Start of the last character of text[start, end) as the splitters decode
// it: decoding runs forward from start, so only a forward walk knows.
uint64_t last_character_start(const uint8_t* text, uint64_t start, uint64_t end) {
  uint64_t last = start;
  for (uint64_t p = start; p < end; p += decode_utf8(text + p, text + end).length) last = p;
  return last;
}

// Walks the pieces of a text and calls on_piece(start, end) for each. When a
// match asks to drop its last character, the piece ends before that
// character and the next piece starts with it. on_piece returns false to stop.
template <typename OnPiece>
void for_each_piece(const EncodingHandle& handle, const uint8_t* text, uint64_t length,
                    OnPiece on_piece) {
  uint64_t pos = 0;
  SplitMatch match;
  while (pos < length && handle.splitter(text, length, pos, &match)) {
    const uint64_t start = match.start;
    uint64_t end = match.end;
    if (match.drop_last && end > start) {
      uint64_t p = end - 1;
      while (p > start && (text[p] & 0xC0) == 0x80) p--;
      // On invalid UTF-8 the scan over continuation bytes can disagree with
      // the splitter's decoder and trim the match to nothing, which would ask
      // for the same piece again. Then drop exactly the last character as the
      // splitter decoded it: the longest decodable tail that ends at end.
      if (p == start) p = last_character_start(text, start, end);
      // A match of one character cannot give one up (splitters never ask
      // for that); keep it whole rather than stall.
      if (p > start) end = p;
    }
    pos = end;
    if (end > start && !on_piece(start, end)) return;
  }
}

}  // namespace

std::vector<uint32_t> piecewise_encode(const EncodingHandle& handle, const uint8_t* text,
                                       uint64_t length) {
  const BytePairEncoding& bpe = *handle.encoding;
  if (handle.splitter == nullptr) return bpe_encode(bpe, text, length);
  std::vector<uint32_t> out;
  out.reserve(256);
  EncoderScratch scratch;
  for_each_piece(handle, text, length, [&](uint64_t start, uint64_t end) {
    BacktrackEncoder e;
    encoder_init_with_scratch(e, bpe, text + start, end - start, scratch);
    encoder_run(e);
    out.insert(out.end(), e.tokens.get(), e.tokens.get() + e.token_count);
    encoder_release_to_scratch(e, scratch);
    return true;
  });
  return out;
}

uint64_t piecewise_count(const EncodingHandle& handle, const uint8_t* text, uint64_t length) {
  const BytePairEncoding& bpe = *handle.encoding;
  if (handle.splitter == nullptr) return bpe_count(bpe, text, length);
  uint64_t total = 0;
  EncoderScratch scratch;
  for_each_piece(handle, text, length, [&](uint64_t start, uint64_t end) {
    BacktrackEncoder e;
    encoder_init_with_scratch(e, bpe, text + start, end - start, scratch);
    encoder_run(e);
    total += e.token_count;
    encoder_release_to_scratch(e, scratch);
    return true;
  });
  return total;
}

uint64_t piecewise_count_till_limit(const EncodingHandle& handle, const uint8_t* text,
                                    uint64_t length, uint64_t limit) {
  const BytePairEncoding& bpe = *handle.encoding;
  if (handle.splitter == nullptr) return bpe_count_till_limit(bpe, text, length, limit);
  uint64_t total = 0;
  bool over = false;
  for_each_piece(handle, text, length, [&](uint64_t start, uint64_t end) {
    const uint64_t count = bpe_count_till_limit(bpe, text + start, end - start, limit - total);
    if (count == kOverLimit || count > limit - total) {
      over = true;
      return false;
    }
    total += count;
    return true;
  });
  return over ? kOverLimit : total;
}

}  // namespace velkan
