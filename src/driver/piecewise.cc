#include "driver/piecewise.h"

#include "core/automaton.h"
#include "core/encoder.h"
#include "driver/piece_cache.h"
#include "presplit/rule_set.h"
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
template <typename Rules, typename OnPiece>
void for_each_piece_with(const uint8_t* text, uint64_t length, OnPiece on_piece) {
  uint64_t pos = 0;
  SplitMatch match;
  while (pos < length && Rules::split(text, length, pos, &match)) {
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

// The rule set's split is inlined into the walk: visit_rule_set instantiates
// it once per rule set (presplit/rule_set.h).
template <typename OnPiece>
void for_each_piece(const EncodingHandle& handle, const uint8_t* text, uint64_t length,
                    OnPiece on_piece) {
  visit_rule_set(handle.rule_set, [&](auto rules) {
    for_each_piece_with<decltype(rules)>(text, length, on_piece);
  });
}

// Encodes one piece and hands its ids to on_ids(ids, n). Most pieces of
// real text are a token by themselves (" the", "ing", "\n\n"): a walk from the
// automaton's root tells, and then the encoder, its scratch and its bitfield
// are not touched at all. Encoding would reach the same answer: its first
// candidate, the longest token that is a prefix, is then the whole piece; it
// has no left neighbour and ends at the piece's end, so it is accepted and the
// run is over. Otherwise the second walk, for that first candidate, finds the
// path's cache lines loaded.
// The other pieces go through the cache of recent pieces (piece_cache.h).
struct PieceEncoder {
  const BytePairEncoding& bpe;
  const PairFilter* filter;  // null when the handle has none
  EncoderScratch scratch;
  PieceCache cache;

  PieceEncoder(const EncodingHandle& handle, uint64_t text_length)
      : bpe(*handle.encoding),
        filter(handle.pair_filter.words.empty() ? nullptr : &handle.pair_filter),
        cache(text_length) {}

  template <typename OnIds>
  void encode(const uint8_t* piece, uint64_t len, OnIds on_ids) {
    const int32_t whole = automaton_whole_token(bpe.forward_automaton, piece, len);
    if (whole != -1) {
      const uint32_t id = static_cast<uint32_t>(whole);
      on_ids(&id, 1);
      return;
    }
    const bool cached = cache.active() && PieceCache::cacheable(len);
    if (cached) {
      if (const PieceCache::Slot* hit = cache.find(piece, len)) {
        on_ids(hit->ids, hit->count);
        return;
      }
    }
    const int32_t first = bpe_next_match(bpe, piece, len);
    const uint64_t n = encoder_encode_piece(bpe, piece, len, first, scratch, filter);
    if (cached) {
      cache.put(piece, len, scratch.tokens.get(), n);
    } else {
      cache.note_encoder_run();
    }
    on_ids(scratch.tokens.get(), n);
  }
};

}  // namespace

std::vector<uint32_t> piecewise_encode(const EncodingHandle& handle, const uint8_t* text,
                                       uint64_t length) {
  const BytePairEncoding& bpe = *handle.encoding;
  if (handle.rule_set == RuleSet::kWhole) return bpe_encode(bpe, text, length);
  std::vector<uint32_t> out;
  out.reserve(256);
  PieceEncoder encoder(handle, length);
  for_each_piece(handle, text, length, [&](uint64_t start, uint64_t end) {
    encoder.encode(text + start, end - start,
                   [&](const uint32_t* ids, uint64_t n) { out.insert(out.end(), ids, ids + n); });
    return true;
  });
  return out;
}

uint64_t piecewise_count(const EncodingHandle& handle, const uint8_t* text, uint64_t length) {
  const BytePairEncoding& bpe = *handle.encoding;
  if (handle.rule_set == RuleSet::kWhole) return bpe_count(bpe, text, length);
  uint64_t total = 0;
  PieceEncoder encoder(handle, length);
  for_each_piece(handle, text, length, [&](uint64_t start, uint64_t end) {
    encoder.encode(text + start, end - start, [&](const uint32_t*, uint64_t n) { total += n; });
    return true;
  });
  return total;
}

uint64_t piecewise_count_till_limit(const EncodingHandle& handle, const uint8_t* text,
                                    uint64_t length, uint64_t limit) {
  const BytePairEncoding& bpe = *handle.encoding;
  if (handle.rule_set == RuleSet::kWhole) return bpe_count_till_limit(bpe, text, length, limit);
  uint64_t total = 0;
  bool over = false;
  PieceEncoder encoder(handle, length);
  for_each_piece(handle, text, length, [&](uint64_t start, uint64_t end) {
    const uint64_t allowance = limit - total;
    const uint64_t len = end - start;
    uint64_t count;
    if (len <= allowance) {
      // A piece has at most one token per byte, so this one fits whatever its
      // count: take it the fast way (the same answer as the limited count,
      // which gave up on no piece this short).
      count = 0;
      encoder.encode(text + start, len, [&](const uint32_t*, uint64_t n) { count = n; });
    } else {
      // Could exceed the allowance: the limited count gives up early.
      count = bpe_count_till_limit(bpe, text + start, len, allowance);
      if (count == kOverLimit || count > allowance) {
        over = true;
        return false;
      }
    }
    total += count;
    return true;
  });
  return over ? kOverLimit : total;
}

}  // namespace velkan
