#include "driver/piecewise.h"

#include "core/automaton.h"
#include "core/encoder.h"
#include "driver/piece_cache.h"
#include "driver/piece_walk.h"

namespace velkan {
namespace {

// Encodes one piece and hands its ids to on_ids(ids, n). Most pieces of
// real text are a token by themselves (" the", "ing", "\n\n"): a walk from the
// automaton's root tells (counts ask the handle's table of short tokens
// first, see below), and then the encoder, its scratch and its bitfield
// are not touched at all. Encoding would reach the same answer: its first
// candidate, the longest token that is a prefix, is then the whole piece; it
// has no left neighbour and ends at the piece's end, so it is accepted and the
// run is over. Otherwise the second walk, for that first candidate, finds the
// path's cache lines loaded.
// The other pieces go through the vocabulary's cache of pieces already
// encoded (piece_cache.h).
template <bool kShortTokens>
struct PieceEncoder {
  const BytePairEncoding& bpe;
  const PairFilter* filter;         // null when the handle has none
  const ShortTokens& short_tokens;  // asked when kShortTokens
  PieceCache& cache;
  EncoderScratch scratch;
  uint32_t hit[PieceCache::kMaxIds];

  // Performance notes: the table of short tokens (short_tokens.h) made counts
  // 1.07x to 1.13x faster on English, code and short texts, but encodes
  // 0.90x to 0.97x: its slots are spread over megabytes, and an encode also
  // touches an int object per id, so the two evict each other where the
  // automaton's shared upper levels stay cached. So only counts use it.
  explicit PieceEncoder(const EncodingHandle& handle)
      : bpe(*handle.encoding),
        filter(handle.pair_filter.words.empty() ? nullptr : &handle.pair_filter),
        short_tokens(handle.short_tokens),
        cache(handle.piece_cache) {}

  // readable: the bytes that may be read from piece on (to the text's end).
  template <typename OnIds>
  void encode(const uint8_t* piece, uint64_t len, uint64_t readable, OnIds on_ids) {
    int32_t whole = ShortTokens::kUnknown;
    if constexpr (kShortTokens) whole = short_tokens.find(piece, len, readable);
    if (whole == ShortTokens::kUnknown) {
      whole = automaton_whole_token(bpe.forward_automaton, piece, len);
    }
    if (whole >= 0) {
      const uint32_t id = static_cast<uint32_t>(whole);
      on_ids(&id, 1);
      return;
    }
    if (!PieceCache::cacheable(len)) {
      // The run first: it may (re)allocate the buffer the ids are read from.
      const uint64_t n = run_encoder(piece, len);
      on_ids(scratch.tokens.get(), n);
      return;
    }
    const PieceCache::Key key = PieceCache::key_of(piece, len);
    if (const uint32_t n = cache.find(key, hit)) {
      on_ids(hit, n);
      return;
    }
    const uint64_t n = run_encoder(piece, len);
    cache.put(key, scratch.tokens.get(), n);
    on_ids(scratch.tokens.get(), n);
  }

  uint64_t run_encoder(const uint8_t* piece, uint64_t len) {
    const int32_t first = bpe_next_match(bpe, piece, len);
    return encoder_encode_piece(bpe, piece, len, first, scratch, filter);
  }
};

// Where a walk over the pieces asks its interrupt hook: once it has passed the
// next check point. Only the checked instantiation of each loop has the test,
// so calls without a hook (and every text shorter than the interval) run the
// loop exactly as it was.
template <bool kChecked>
struct InterruptPoint {
  const Interrupt* interrupt;
  uint64_t next = kInterruptEveryBytes;

  // True when the call must stop before the piece that starts at pos.
  bool stop_at(uint64_t pos) {
    if constexpr (!kChecked) {
      return false;
    } else {
      if (pos < next) return false;
      next = pos + kInterruptEveryBytes;
      return interrupt->requested(interrupt->context);
    }
  }
};

bool checked(const Interrupt* interrupt, uint64_t length) {
  return interrupt != nullptr && length > kInterruptEveryBytes;
}

template <bool kChecked>
std::vector<uint32_t> encode_pieces(const EncodingHandle& handle, const uint8_t* text,
                                    uint64_t length, const Interrupt* interrupt) {
  std::vector<uint32_t> out;
  // Never more ids than bytes: a short text gets a buffer its size, since
  // batches keep one buffer per text until they are turned into lists.
  out.reserve(static_cast<size_t>(length < 256 ? length : 256));
  InterruptPoint<kChecked> point{interrupt};
  PieceEncoder<false> encoder(handle);
  for_each_piece(handle, text, length, [&](uint64_t start, uint64_t end) {
    if (point.stop_at(start)) return false;
    encoder.encode(text + start, end - start, length - start, [&](const uint32_t* ids, uint64_t n) {
      // Most pieces are one token: push_back is inlined, where
      // insert is a call and a memmove per piece.
      if (n == 1) {
        out.push_back(ids[0]);
      } else {
        out.insert(out.end(), ids, ids + n);
      }
    });
    return true;
  });
  return out;
}

template <bool kChecked>
uint64_t count_pieces(const EncodingHandle& handle, const uint8_t* text, uint64_t length,
                      const Interrupt* interrupt) {
  uint64_t total = 0;
  InterruptPoint<kChecked> point{interrupt};
  PieceEncoder<true> encoder(handle);
  for_each_piece(handle, text, length, [&](uint64_t start, uint64_t end) {
    if (point.stop_at(start)) return false;
    encoder.encode(text + start, end - start, length - start,
                   [&](const uint32_t*, uint64_t n) { total += n; });
    return true;
  });
  return total;
}

template <bool kChecked>
uint64_t count_pieces_till_limit(const EncodingHandle& handle, const uint8_t* text, uint64_t length,
                                 uint64_t limit, const Interrupt* interrupt) {
  const BytePairEncoding& bpe = *handle.encoding;
  uint64_t total = 0;
  bool over = false;
  InterruptPoint<kChecked> point{interrupt};
  PieceEncoder<true> encoder(handle);
  for_each_piece(handle, text, length, [&](uint64_t start, uint64_t end) {
    if (point.stop_at(start)) return false;
    const uint64_t allowance = limit - total;
    const uint64_t len = end - start;
    uint64_t count;
    if (len <= allowance) {
      // A piece has at most one token per byte, so this one fits whatever its
      // count: take it the fast way (the same answer as the limited count,
      // which gave up on no piece this short).
      count = 0;
      encoder.encode(text + start, len, length - start,
                     [&](const uint32_t*, uint64_t n) { count = n; });
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

}  // namespace

std::vector<uint32_t> piecewise_encode(const EncodingHandle& handle, const uint8_t* text,
                                       uint64_t length, const Interrupt* interrupt) {
  if (handle.rule_set == RuleSet::kWhole) return bpe_encode(*handle.encoding, text, length);
  if (checked(interrupt, length)) return encode_pieces<true>(handle, text, length, interrupt);
  return encode_pieces<false>(handle, text, length, nullptr);
}

uint64_t piecewise_count(const EncodingHandle& handle, const uint8_t* text, uint64_t length,
                         const Interrupt* interrupt) {
  if (handle.rule_set == RuleSet::kWhole) return bpe_count(*handle.encoding, text, length);
  if (checked(interrupt, length)) return count_pieces<true>(handle, text, length, interrupt);
  return count_pieces<false>(handle, text, length, nullptr);
}

uint64_t piecewise_count_till_limit(const EncodingHandle& handle, const uint8_t* text,
                                    uint64_t length, uint64_t limit, const Interrupt* interrupt) {
  if (handle.rule_set == RuleSet::kWhole) {
    return bpe_count_till_limit(*handle.encoding, text, length, limit);
  }
  if (checked(interrupt, length)) {
    return count_pieces_till_limit<true>(handle, text, length, limit, interrupt);
  }
  return count_pieces_till_limit<false>(handle, text, length, limit, nullptr);
}

}  // namespace velkan
