#include "driver/piecewise.h"

#include "core/automaton.h"
#include "core/encoder.h"
#include "presplit/split_cl100k_rules.h"
#include "presplit/split_o200k_rules.h"
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
template <typename Split, typename OnPiece>
void for_each_piece_with(Split split, const uint8_t* text, uint64_t length, OnPiece on_piece) {
  uint64_t pos = 0;
  SplitMatch match;
  while (pos < length && split(text, length, pos, &match)) {
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

// The two vocabularies' rule sets are called inline rather than through the
// handle's pointer: a call per piece of five bytes is a cost worth avoiding.
template <typename OnPiece>
void for_each_piece(const EncodingHandle& handle, const uint8_t* text, uint64_t length,
                    OnPiece on_piece) {
  if (handle.splitter == split_cl100k) {
    for_each_piece_with(cl100k_rules::split, text, length, on_piece);
  } else if (handle.splitter == split_o200k) {
    for_each_piece_with(o200k_rules::split, text, length, on_piece);
  } else {
    for_each_piece_with(handle.splitter, text, length, on_piece);
  }
}

// Encodes one piece and hands its ids to on_ids(ids, n). Most pieces of
// real text are a token by themselves (" the", "ing", "\n\n"): the walk from
// the automaton's root that finds the encoder's first candidate also tells
// whether that candidate spans the piece, and then the encoder, its scratch
// and its bitfield are not touched at all. Encoding alone would reach the same
// answer: its first candidate has no left neighbour and ends at the piece's
// end, so it is accepted and the run is over.
template <typename OnIds>
void encode_piece(const BytePairEncoding& bpe, const uint8_t* piece, uint64_t len,
                  EncoderScratch& scratch, OnIds on_ids) {
  const PrefixToken prefix = automaton_longest_prefix(bpe.forward_automaton, piece, len);
  if (prefix.length == len && prefix.token != -1) {
    const uint32_t id = static_cast<uint32_t>(prefix.token);
    on_ids(&id, 1);
    return;
  }
  const int32_t first = prefix.token != -1 ? prefix.token : bpe_next_match(bpe, piece, len);
  const uint64_t n = encoder_encode_piece(bpe, piece, len, first, scratch);
  on_ids(scratch.tokens.get(), n);
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
    encode_piece(bpe, text + start, end - start, scratch,
                 [&](const uint32_t* ids, uint64_t n) { out.insert(out.end(), ids, ids + n); });
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
    encode_piece(bpe, text + start, end - start, scratch,
                 [&](const uint32_t*, uint64_t n) { total += n; });
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
