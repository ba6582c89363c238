#include "driver/piecewise.h"

#include <cstring>

#include "core/encoder.h"
#include "driver/piece_ids.h"
#include "driver/piece_walk.h"
#include "driver/segment_walk.h"

namespace velkan {
namespace {

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

// Where a walk meets the segment cache (segment_walk.h): before a split at
// or past the next cut (and for a piece that starts there, below). A run of
// hits skips the pieces, so the interrupt is asked here too.
template <typename Segments, typename Point>
struct SegmentHook {
  Segments& segments;
  Point& point;
  bool wants(uint64_t pos) const { return pos >= segments.walk.cut; }
  uint64_t operator()(uint64_t pos) const {
    if (point.stop_at(pos)) return kStopWalk;
    return segments.at(pos);
  }
};

// Walks the pieces of text with Rules, stopping where point says. For rule
// sets that cut at word ends, the segment cache is asked at each cut first
// (segments.at: where to go on, pos itself on a miss); piece(start, end)
// takes every piece no segment covered.
template <typename Rules, typename Segments, typename Point, typename Piece>
void walk_segments(const uint8_t* text, uint64_t length, Segments& segments, Point& point,
                   Piece&& piece) {
  const auto on_piece = [&](uint64_t start, uint64_t end) -> uint64_t {
    if (point.stop_at(start)) return kStopWalk;
    if constexpr (CutsAtWordEnds<Rules>) {
      if (start >= segments.walk.cut) {
        const uint64_t go_on = segments.at(start);
        if (go_on != start) return go_on;
      }
    }
    piece(start, end);
    return end;
  };
  if constexpr (CutsAtWordEnds<Rules>) {
    for_each_piece_with<Rules>(text, length, on_piece,
                               SegmentHook<Segments, Point>{segments, point});
  } else {
    for_each_piece_with<Rules>(text, length, on_piece);
  }
}

template <bool kChecked>
void encode_pieces(const EncodingHandle& handle, const uint8_t* text, uint64_t length,
                   const Interrupt* interrupt, std::vector<uint32_t>& out) {
  out.clear();
  // Never more ids than bytes: a short text gets a buffer its size, since
  // batches keep one buffer per text until they are turned into lists.
  out.reserve(static_cast<size_t>(length < 256 ? length : 256));
  InterruptPoint<kChecked> point{interrupt};
  PieceIds<true> encoder(handle);
  const auto append = [&](const uint32_t* ids, uint64_t n) {
    // Most pieces are one token: push_back is inlined, where
    // insert is a call and a memmove per piece.
    if (n == 1) {
      out.push_back(ids[0]);
    } else {
      out.insert(out.end(), ids, ids + n);
    }
  };
  // The segment being walked: its ids are out's since `start`.
  struct Segments {
    SegmentWalk walk;
    std::vector<uint32_t>& out;
    decltype(append)& emit;
    size_t start = 0;
    uint64_t at(uint64_t pos) {
      const uint64_t go_on = walk.at(pos, out.data() + start, out.size() - start, emit);
      start = out.size();
      return go_on;
    }
  } segments{SegmentWalk(handle.segment_cache, text, length), out, append};
  visit_rule_set(handle.rule_set, [&](auto rules) {
    walk_segments<decltype(rules)>(
        text, length, segments, point, [&](uint64_t start, uint64_t end) {
          encoder.encode(text + start, end - start, length - start, append);
        });
  });
}

template <bool kChecked>
uint64_t count_pieces(const EncodingHandle& handle, const uint8_t* text, uint64_t length,
                      const Interrupt* interrupt) {
  uint64_t total = 0;
  InterruptPoint<kChecked> point{interrupt};
  PieceIds<true> encoder(handle);
  const auto add = [&](const uint32_t*, uint64_t n) { total += n; };
  // The segment being walked, with its ids for the cache (only segments of
  // at most kMaxIds ids are stored; the count goes on past that).
  struct Segments {
    SegmentWalk walk;
    decltype(add)& emit;
    uint32_t ids[SegmentCache::kMaxIds] = {};
    uint64_t count = 0;
    uint64_t at(uint64_t pos) {
      const uint64_t go_on = walk.at<false>(pos, ids, count, emit);
      count = 0;
      return go_on;
    }
  } segments{SegmentWalk(handle.segment_cache, text, length), add};
  visit_rule_set(handle.rule_set, [&](auto rules) {
    using Rules = decltype(rules);
    walk_segments<Rules>(text, length, segments, point, [&](uint64_t start, uint64_t end) {
      encoder.encode(
          text + start, end - start, length - start, [&](const uint32_t* piece_ids, uint64_t n) {
            total += n;
            if constexpr (CutsAtWordEnds<Rules>) {
              if (segments.count + n <= SegmentCache::kMaxIds) {
                std::memcpy(segments.ids + segments.count, piece_ids, n * sizeof(uint32_t));
              }
              segments.count += n;
            }
          });
    });
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
  PieceIds<true> encoder(handle);
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

void piecewise_encode_into(const EncodingHandle& handle, const uint8_t* text, uint64_t length,
                           std::vector<uint32_t>& out, const Interrupt* interrupt) {
  if (handle.rule_set == RuleSet::kWhole) {
    out = bpe_encode(*handle.encoding, text, length);
  } else if (checked(interrupt, length)) {
    encode_pieces<true>(handle, text, length, interrupt, out);
  } else {
    encode_pieces<false>(handle, text, length, nullptr, out);
  }
}

std::vector<uint32_t> piecewise_encode(const EncodingHandle& handle, const uint8_t* text,
                                       uint64_t length, const Interrupt* interrupt) {
  std::vector<uint32_t> out;
  piecewise_encode_into(handle, text, length, out, interrupt);
  return out;
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
