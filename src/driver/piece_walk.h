// The walk over a text's pieces that every whole-text operation shares: the
// handle's rule set proposes each piece, and a match that asks to give up its
// last character ends before it. Encode, count, limit and the budget
// functions all cut a text exactly alike because they all use this walk.

#ifndef VELKAN_DRIVER_PIECE_WALK_H_
#define VELKAN_DRIVER_PIECE_WALK_H_

#include <bit>
#include <cstdint>
#include <type_traits>

#include "presplit/block_classify.h"
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

// The piece at pos as the rule set's split finds it, false at the end of the
// text. When a match asks to drop its last character, the piece ends before
// that character and the next piece starts with it.
template <typename Rules>
inline bool next_piece_scalar(const uint8_t* text, uint64_t length, uint64_t pos,
                              uint64_t* piece_start, uint64_t* piece_end) {
  SplitMatch match;
  if (pos >= length || !Rules::split(text, length, pos, &match)) return false;
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
  *piece_start = start;
  *piece_end = end;
  return true;
}

// ---- block-wise walk ------------------------------------------------------------
//
// Performance notes: splitting alone ran at 300 to 380 MB/s (cl100k) and 250
// to 300 MB/s (o200k) on 8 KB documents, a quarter to a third of a warm
// encode: a branch per byte and a class lookup per character. Here 64 bytes
// are classified at once (presplit/block_classify.h) and the end of each
// ASCII piece comes from the masks: the end of a run is a count of trailing
// ones. A piece is taken from the masks only when every character that
// decides where it ends is ASCII and inside the window; any other piece
// (a non-ASCII byte at or after it, a run that may go on past the window)
// is split by the rule set's own code, so the pieces are the same.

// The classes of the window text[base, base + 64), or fewer bytes at the
// end of the text.
struct BlockWindow {
  uint64_t base = 0;
  uint64_t limit = 0;   // bytes of text in the window
  bool at_end = false;  // the window holds the rest of the text
  BlockClasses c{};
  uint64_t letter = 0;  // c.upper | c.lower
  uint64_t symbol = 0;  // ASCII, not a letter, digit or White_Space: [^\s\p{L}\p{N}]

  void load(const uint8_t* text, uint64_t length, uint64_t pos) {
    base = pos;
    const uint64_t left = length - pos;
    if (left >= 64) {
      classify_block(text + pos, &c);
      limit = 64;
    } else {
      classify_tail(text + pos, left, &c);
      limit = left;
    }
    at_end = left <= 64;
    letter = c.upper | c.lower;
    const uint64_t valid = limit == 64 ? ~uint64_t{0} : (uint64_t{1} << limit) - 1;
    symbol = valid & ~(letter | c.digit | c.space | c.high);
  }

  bool has(uint64_t mask, uint64_t i) const { return i < 64 && ((mask >> i) & 1) != 0; }

  // One past the run of mask's bits from i.
  static uint64_t run(uint64_t mask, uint64_t i) {
    return i >= 64 ? 64 : i + static_cast<uint64_t>(std::countr_one(mask >> i));
  }

  // True when what is at offset i is known: an ASCII byte of the window, or
  // the end of the text. A non-ASCII byte may begin a character of any class,
  // and past the window nothing is known.
  bool known(uint64_t i) const { return i < limit ? !has(c.high, i) : at_end; }
};

// The end (from the window's base) of the piece that starts at offset i of
// the window, or 0 when the rule set's own code must find it. The cases
// follow the patterns' rules in order; see split_cl100k_rules.h and
// split_o200k_rules.h.
template <bool kO200k>
inline uint64_t block_piece_end(const uint8_t* text, uint64_t length, const BlockWindow& w,
                                uint64_t i) {
  if (!w.known(i)) return 0;
  const uint8_t* const p = text + w.base + i;
  if constexpr (!kO200k) {
    if (*p == '\'') {
      const uint32_t n = contraction_length(p, text + length);
      if (n != 0) return i + n;
    }
  }
  // Words: a letter, or a prefix character [^\r\n\p{L}\p{N}] before one.
  uint64_t word = 64;
  if (w.has(w.letter, i)) {
    word = i;
  } else if (!w.has(w.c.digit | w.c.brk, i)) {
    if (!w.known(i + 1)) return 0;
    if (w.has(w.letter, i + 1)) word = i + 1;
  }
  if (word != 64) {
    if constexpr (kO200k) {
      // An upper run then a lower run, and a contraction after them.
      const uint64_t lower = BlockWindow::run(w.c.lower, BlockWindow::run(w.c.upper, word));
      if (!w.known(lower)) return 0;
      return lower + contraction_length(text + w.base + lower, text + length);
    } else {
      const uint64_t end = BlockWindow::run(w.letter, word);
      return w.known(end) ? end : 0;
    }
  }
  // Numbers in threes.
  if (w.has(w.c.digit, i)) {
    const uint64_t end = BlockWindow::run(w.c.digit, i);
    if (end - i >= 3) return i + 3;
    return w.known(end) ? end : 0;
  }
  // ` ?[^\s\p{L}\p{N}]+` and then line breaks (and slashes, o200k).
  const uint64_t run_start = i + (*p == ' ');
  if (run_start != i && !w.known(run_start)) return 0;
  if (w.has(w.symbol, run_start)) {
    const uint64_t run_end = BlockWindow::run(w.symbol, run_start);
    if (!w.known(run_end)) return 0;
    const uint64_t tail = kO200k ? (w.c.brk | w.c.slash) : w.c.brk;
    const uint64_t end = BlockWindow::run(tail, run_end);
    return end < w.limit || w.at_end ? end : 0;
  }
  // Whitespace.
  if (w.has(w.c.space, i)) {
    const uint64_t end = BlockWindow::run(w.c.space, i);
    if (!w.known(end)) return 0;
    const uint64_t below_end = end == 64 ? ~uint64_t{0} : (uint64_t{1} << end) - 1;
    const uint64_t breaks = w.c.brk & below_end & ~((uint64_t{1} << i) - 1);
    const uint64_t after_last_break = 64 - static_cast<uint64_t>(std::countl_zero(breaks));
    const bool to_text_end = end == w.limit;  // known(end) says the text ends there
    if constexpr (kO200k) {
      // `\s*[\r\n]+` comes first.
      if (breaks != 0) return after_last_break;
      if (to_text_end) return end;
    } else {
      // `\s++$` comes first.
      if (to_text_end) return end;
      if (breaks != 0) return after_last_break;
    }
    // `\s+(?!\S)`: the run but its last character; else `\s`.
    return end - i >= 2 ? end - 1 : i + 1;
  }
  return 0;
}

// Walks the pieces of the cl100k or o200k rule set with block_piece_end,
// and next_piece_scalar where it cannot tell.
template <typename Rules, typename OnPiece>
void for_each_piece_blockwise(const uint8_t* text, uint64_t length, OnPiece on_piece) {
  constexpr bool kO200k = std::is_same_v<Rules, O200kRules>;
  if (length == 0) return;
  BlockWindow window;
  window.load(text, length, 0);
  uint64_t pos = 0;
  while (pos < length) {
    // Keep at least 32 bytes of lookahead: longer pieces are rare.
    if (pos - window.base >= 32 && !window.at_end) window.load(text, length, pos);
    const uint64_t end = block_piece_end<kO200k>(text, length, window, pos - window.base);
    uint64_t start = pos, stop;
    if (end != 0) {
      stop = window.base + end;
    } else if (!next_piece_scalar<Rules>(text, length, pos, &start, &stop)) {
      return;
    }
    pos = stop;
    if (stop > start && !on_piece(start, stop)) return;
  }
}

// Walks the pieces of a text one split call at a time and calls
// on_piece(start, end) for each; on_piece returns false to stop.
template <typename Rules, typename OnPiece>
void for_each_piece_scalar(const uint8_t* text, uint64_t length, OnPiece on_piece) {
  uint64_t pos = 0, start, end;
  while (next_piece_scalar<Rules>(text, length, pos, &start, &end)) {
    pos = end;
    if (end > start && !on_piece(start, end)) return;
  }
}

// The same walk, for every rule set: the cl100k and o200k rules take their
// ASCII pieces from block masks (block_walk.h), the others split one call at
// a time.
template <typename Rules, typename OnPiece>
void for_each_piece_with(const uint8_t* text, uint64_t length, OnPiece on_piece) {
  if constexpr (std::is_same_v<Rules, Cl100kRules> || std::is_same_v<Rules, O200kRules>) {
    for_each_piece_blockwise<Rules>(text, length, on_piece);
  } else {
    for_each_piece_scalar<Rules>(text, length, on_piece);
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
