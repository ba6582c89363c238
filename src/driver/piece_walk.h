// The walk over a text's pieces that every whole-text operation shares: the
// handle's rule set proposes each piece, and a match that asks to give up its
// last character ends before it. Encode, count, limit and the budget
// functions all cut a text exactly alike because they all use this walk.

#ifndef VELKAN_DRIVER_PIECE_WALK_H_
#define VELKAN_DRIVER_PIECE_WALK_H_

#include <bit>
#include <concepts>
#include <cstdint>
#include <cstring>

#include "presplit/rule_set.h"
#include "presplit/unicode.h"
#include "vocab/encoding_handle.h"

namespace velkan {

// Start of the last character of text[start, end) as the splitters decode
// it: decoding runs forward from start, so only a forward walk knows.
inline uint64_t last_character_start(const uint8_t* text, uint64_t start, uint64_t end) {
  uint64_t last = start;
  for (uint64_t p = start; p < end; p += decode_utf8(text + p, text + end).length) last = p;
  return last;
}

template <typename Rules>
concept BlockRules = requires(const uint8_t* block) {
  { Rules::block_starts(block) } -> std::same_as<uint64_t>;
};

// What an on_piece that steers the walk returns: where to go on from (the
// piece's end, or a later position where a piece certainly starts, to skip
// the pieces between), or kStopWalk.
inline constexpr uint64_t kStopWalk = UINT64_MAX;

// Walks the pieces of a text and calls on_piece(start, end) for each. When a
// match asks to drop its last character, the piece ends before that
// character and the next piece starts with it. on_piece returns false to
// stop, or (returning uint64_t) where to go on from, as above.
//
// A rule set with blocks (rule_set.h) marks the pieces of a block at once
// where the block begins with eight ASCII bytes; a block that yields no
// whole piece (text the masks cannot decide) leaves the next 16, 32, ...
// up to 512 bytes to the split, until a block succeeds again, so that text
// in other scripts pays almost nothing for the attempts.
// A walk may also be asked before each split: at_position.wants(pos), then
// at_position(pos) says where to go on from (pos itself to split there).
struct NoPositionHook {
  constexpr bool wants(uint64_t) const { return false; }
  constexpr uint64_t operator()(uint64_t pos) const { return pos; }
};

template <typename Rules, typename OnPiece, typename AtPosition = NoPositionHook>
void for_each_piece_with(const uint8_t* text, uint64_t length, OnPiece on_piece,
                         AtPosition at_position = {}) {
  // Both kinds of on_piece as one: the position to go on from.
  const auto next_of = [&](uint64_t start, uint64_t end) -> uint64_t {
    if constexpr (std::same_as<decltype(on_piece(start, end)), bool>) {
      return on_piece(start, end) ? end : kStopWalk;
    } else {
      return on_piece(start, end);
    }
  };
  uint64_t pos = 0;
  SplitMatch match;
  [[maybe_unused]] uint64_t split_until = 0;  // no blocks before here
  [[maybe_unused]] uint32_t failures = 0;
  while (pos < length) {
    if (at_position.wants(pos)) {
      const uint64_t go_on = at_position(pos);
      if (go_on == kStopWalk) return;
      if (go_on != pos) {
        pos = go_on;
        continue;
      }
    }
    if constexpr (BlockRules<Rules>) {
      uint64_t head = 0;
      if (length - pos >= Rules::kBlockBytes) std::memcpy(&head, text + pos, 8);
      if (pos >= split_until && length - pos >= Rules::kBlockBytes &&
          (head & 0x8080808080808080ULL) == 0) {
        uint64_t starts = Rules::block_starts(text + pos);
        starts &= starts - 1;  // bit 0: pos itself
        if (starts != 0) {
          uint64_t start = 0;
          uint64_t go_on = 0;
          do {
            const uint64_t next = static_cast<uint64_t>(std::countr_zero(starts));
            starts &= starts - 1;
            go_on = next_of(pos + start, pos + next);
            if (go_on == kStopWalk) return;
            start = next;
          } while (starts != 0 && go_on == pos + start);
          pos = go_on;
          failures = 0;
          continue;
        }
        failures += failures < 6;
        split_until = pos + (uint64_t{8} << failures);
      }
    }
    if (!Rules::split(text, length, pos, &match)) return;
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
    if (end > start) {
      pos = next_of(start, end);
      if (pos == kStopWalk) return;
    }
  }
}

// The rule set's split is inlined into the walk: visit_rule_set instantiates
// it once per rule set (presplit/rule_set.h).
template <typename OnPiece>
void for_each_piece(const EncodingHandle& handle, const uint8_t* text, uint64_t length,
                    OnPiece on_piece) {
  visit_rule_set(handle.rule_set,
                 [&](auto rules) { for_each_piece_with<decltype(rules)>(text, length, on_piece); });
}

}  // namespace velkan

#endif  // VELKAN_DRIVER_PIECE_WALK_H_
