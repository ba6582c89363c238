// The pre-split rules of cl100k_base as inline functions, so that the driver
// can run them without a call through the PieceSplitter pointer per piece.
// split_cl100k (split_cl100k.cc) is the same function behind that pointer.

#ifndef VELKAN_PRESPLIT_SPLIT_CL100K_RULES_H_
#define VELKAN_PRESPLIT_SPLIT_CL100K_RULES_H_

#include "presplit/split_cl100k.h"
#include "presplit/split_common.h"

namespace velkan {
namespace cl100k_rules {

inline bool match_contraction(const uint8_t* text, uint64_t length, uint64_t pos, SplitMatch* out) {
  const uint32_t n = contraction_length(text + pos, text + length);
  if (n == 0) return false;
  return set_match(text, pos, text + pos + n, out);
}

// `[^\r\n\p{L}\p{N}]?+\p{L}++`: the prefix is possessive, so a prefix
// character not followed by a letter fails the rule.
inline bool match_letters(const uint8_t* text, uint64_t length, uint64_t pos, SplitMatch* out) {
  const uint8_t* const end = text + length;
  const uint8_t* run = text + pos;
  const ScannedChar first = scan_char(run, end);
  if (is_prefix_char(first.flags)) run += first.length;
  const uint8_t* q = skip_chars<kCharLetter>(run, end);
  if (q == run) return false;
  return set_match(text, pos, q, out);
}

// ` ?[^\s\p{L}\p{N}]++[\r\n]*+`
inline bool match_punctuation(const uint8_t* text, uint64_t length, uint64_t pos, SplitMatch* out) {
  return match_symbol_run(text, length, pos, /*slash=*/false, out);
}

// Runs the rules in order, leaving out those that cannot begin with the
// character at pos. The pattern tries `\s++$` before `\s*[\r\n]`, so
// whitespace that runs to the end of the text stays whole even when it holds
// line breaks.
inline bool split_any(const uint8_t* text, uint64_t length, uint64_t pos, SplitMatch* out) {
  // Rules 1 and 2 fail on a number at once.
  if (scan_char(text + pos, text + length).flags & kCharNumber) {
    return match_numbers(text, length, pos, out);
  }
  if (match_contraction(text, length, pos, out) || match_letters(text, length, pos, out) ||
      match_punctuation(text, length, pos, out)) {
    return true;
  }
  // Rule 4 takes every character that is not whitespace.
  const WhitespaceRun run = scan_whitespace(text + pos, text + length);
  return match_trailing_whitespace(text, length, pos, run, out) ||
         match_line_breaks(text, pos, run, out) || match_whitespace_but_last(text, pos, run, out) ||
         match_whitespace(text, pos, run, out);
}

// SplitAny (split_any, or that of a rule set with these word rules) with a
// fast path for the most common starts of a piece, an ASCII letter or an
// ASCII prefix character before one: rule 1 needs an apostrophe and rule 2
// then takes the letter run, whatever follows it.
template <bool (*SplitAny)(const uint8_t*, uint64_t, uint64_t, SplitMatch*)>
[[gnu::always_inline]] inline bool split_words_first(const uint8_t* text, uint64_t length,
                                                     uint64_t pos, SplitMatch* out) {
  if (pos >= length) return false;
  const uint8_t* const p = text + pos;
  const uint8_t* const end = text + length;
  if (p[0] < 0x80) {
    const uint32_t flags = kAsciiFlags[p[0]];
    if (flags & kCharLetter) return set_match(text, pos, skip_chars<kCharLetter>(p + 1, end), out);
    if (p[0] != '\'' && is_prefix_char(flags) && end - p > 1 && p[1] < 0x80 &&
        (kAsciiFlags[p[1]] & kCharLetter)) {
      return set_match(text, pos, skip_chars<kCharLetter>(p + 2, end), out);
    }
  }
  return SplitAny(text, length, pos, out);
}

[[gnu::always_inline]] inline bool split(const uint8_t* text, uint64_t length, uint64_t pos,
                                         SplitMatch* out) {
  return split_words_first<split_any>(text, length, pos, out);
}

}  // namespace cl100k_rules
}  // namespace velkan

#endif  // VELKAN_PRESPLIT_SPLIT_CL100K_RULES_H_
