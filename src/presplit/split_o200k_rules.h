// The pre-split rules of o200k_base as inline functions, so that the driver
// can run them without a call through the PieceSplitter pointer per piece.
// split_o200k (split_o200k.cc) is the same function behind that pointer.

#ifndef VELKAN_PRESPLIT_SPLIT_O200K_RULES_H_
#define VELKAN_PRESPLIT_SPLIT_O200K_RULES_H_

#include "presplit/split_cl100k.h"
#include "presplit/split_common.h"
#include "presplit/split_o200k.h"

// Word rules of the pattern, with P the prefix class [^\r\n\p{L}\p{N}], U the
// upper class [\p{Lu}\p{Lt}\p{Lm}\p{Lo}\p{M}], L the lower class
// [\p{Ll}\p{Lm}\p{Lo}\p{M}] and C the contractions:
//   rule 1  P? U* L+ C?
//   rule 2  P? U+ L* C?
// Lm, Lo and marks are in both U and L, and a mark is in P too, so the
// pattern's backtracking can hand characters from P and U* over to L+; the
// functions below reach the same end in one forward scan. Mistral's Tekken
// pattern is this one without C and with `\p{N}` for `\p{N}{1,3}`: the
// templates take kContractions (C or nothing) and kMost (numbers in a piece),
// and split_tekken_rules.h instantiates them.

namespace velkan {
namespace o200k_rules {

// `U* L+` from q, as the pattern backtracks: the end of the lower run after
// the upper run if one follows it, else the end of the last character of the
// upper run that is lower as well (L+ then holds just that character), else
// null.
inline const uint8_t* upper_then_lower(const uint8_t* q, const uint8_t* end) {
  const uint8_t* last_lower_end = nullptr;
  while (q < end) {
    const ScannedChar c = scan_char(q, end);
    if (!(c.flags & kCharUpper)) {
      if (c.flags & kCharLower) return skip_chars<kCharLower>(q + c.length, end);
      break;
    }
    q += c.length;
    if (c.flags & kCharLower) last_lower_end = q;
  }
  return last_lower_end;
}

// After a word: C, or nothing.
template <bool kContractions>
inline uint32_t suffix_length(const uint8_t* p, const uint8_t* end) {
  if constexpr (kContractions) {
    return contraction_length(p, end);
  } else {
    return 0;
  }
}

template <bool kContractions = true>
inline bool match_word_with_lower(const uint8_t* text, uint64_t length, uint64_t pos,
                                  SplitMatch* out) {
  const uint8_t* const p = text + pos;
  const uint8_t* const end = text + length;
  const ScannedChar first = scan_char(p, end);
  const bool prefix = is_prefix_char(first.flags);
  const uint8_t* word_end = upper_then_lower(prefix ? p + first.length : p, end);
  // Without the prefix, a leading mark is itself the whole of L+.
  if (word_end == nullptr && prefix && (first.flags & kCharMark)) word_end = p + first.length;
  if (word_end == nullptr) return false;
  return set_match(text, pos, word_end + suffix_length<kContractions>(word_end, end), out);
}

template <bool kContractions = true>
inline bool match_word_with_upper(const uint8_t* text, uint64_t length, uint64_t pos,
                                  SplitMatch* out) {
  const uint8_t* const p = text + pos;
  const uint8_t* const end = text + length;
  const ScannedChar first = scan_char(p, end);
  const uint8_t* run = p;
  if (is_prefix_char(first.flags)) run += first.length;
  const uint8_t* q = skip_chars<kCharUpper>(run, end);
  if (q == run) {
    // Without the prefix, a leading mark is itself the whole of U+.
    if (run == p || !(first.flags & kCharMark)) return false;
    q = run;
  }
  q = skip_chars<kCharLower>(q, end);
  return set_match(text, pos, q + suffix_length<kContractions>(q, end), out);
}

// ` ?[^\s\p{L}\p{N}]+[\r\n/]*`
inline bool match_punctuation_slash(const uint8_t* text, uint64_t length, uint64_t pos,
                                    SplitMatch* out) {
  return match_symbol_run(text, length, pos, /*slash=*/true, out);
}

// Runs the rules in order, leaving out those that cannot begin with the
// character at pos.
template <bool kContractions, int kMost>
inline bool split_any_of(const uint8_t* text, uint64_t length, uint64_t pos, SplitMatch* out) {
  // Rules 1 and 2 fail on a number at once.
  if (scan_char(text + pos, text + length).flags & kCharNumber) {
    return match_numbers<kMost>(text, length, pos, out);
  }
  // Rule 1 or 2 takes every letter and mark, rule 4 everything else that is
  // not whitespace.
  if (match_word_with_lower<kContractions>(text, length, pos, out) ||
      match_word_with_upper<kContractions>(text, length, pos, out) ||
      match_punctuation_slash(text, length, pos, out)) {
    return true;
  }
  const WhitespaceRun run = scan_whitespace(text + pos, text + length);
  return match_line_breaks(text, pos, run, out) ||
         match_trailing_whitespace(text, length, pos, run, out) ||
         match_whitespace_but_last(text, pos, run, out) || match_whitespace(text, pos, run, out);
}

inline bool split_any(const uint8_t* text, uint64_t length, uint64_t pos, SplitMatch* out) {
  return split_any_of<true, 3>(text, length, pos, out);
}

// split_any with a fast path for a word of ASCII letters, alone or after an
// ASCII prefix character, that ends at an ASCII byte or the end of the text:
// an upper run U then a lower run L. With L, rule 1 takes U and L; without,
// rule 1 fails (no character of U is lower) and rule 2 takes U. A word that
// runs on into a non-ASCII character takes the general path, since that
// character may be a letter or mark of either class.
template <bool kContractions, int kMost>
[[gnu::always_inline]] inline bool split_of(const uint8_t* text, uint64_t length, uint64_t pos,
                                            SplitMatch* out) {
  if (pos >= length) return false;
  const uint8_t* const p = text + pos;
  const uint8_t* const end = text + length;
  if (p[0] < 0x80) {
    const uint32_t flags = kAsciiFlags[p[0]];
    const uint8_t* word = nullptr;
    if (flags & kCharLetter) {
      word = p;
    } else if (is_prefix_char(flags) && end - p > 1 && p[1] < 0x80 &&
               (kAsciiFlags[p[1]] & kCharLetter)) {
      word = p + 1;
    }
    if (word != nullptr) {
      const uint8_t* q = word;
      while (q < end && static_cast<uint8_t>(*q - 'A') < 26) ++q;
      const uint8_t* r = q;
      while (r < end && static_cast<uint8_t>(*r - 'a') < 26) ++r;
      if (r == end || *r < 0x80) {
        return set_match(text, pos, r + suffix_length<kContractions>(r, end), out);
      }
    }
  }
  return split_any_of<kContractions, kMost>(text, length, pos, out);
}

[[gnu::always_inline]] inline bool split(const uint8_t* text, uint64_t length, uint64_t pos,
                                         SplitMatch* out) {
  return split_of<true, 3>(text, length, pos, out);
}

}  // namespace o200k_rules
}  // namespace velkan

#endif  // VELKAN_PRESPLIT_SPLIT_O200K_RULES_H_
