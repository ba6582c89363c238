#include "driver/piecewise.h"

#include "core/encoder.h"
#include "driver/piece_ids.h"
#include "driver/piece_walk.h"

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

template <bool kChecked>
std::vector<uint32_t> encode_pieces(const EncodingHandle& handle, const uint8_t* text,
                                    uint64_t length, const Interrupt* interrupt) {
  std::vector<uint32_t> out;
  // Never more ids than bytes: a short text gets a buffer its size, since
  // batches keep one buffer per text until they are turned into lists.
  out.reserve(static_cast<size_t>(length < 256 ? length : 256));
  InterruptPoint<kChecked> point{interrupt};
  PieceIds<true> encoder(handle);
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
  PieceIds<true> encoder(handle);
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
