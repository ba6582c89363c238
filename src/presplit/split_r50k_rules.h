// The pre-split rules of r50k_base and the p50k vocabularies as inline
// functions, so that the driver can run them without a call through the
// PieceSplitter pointer per piece. split_r50k (split_r50k.cc) is the same
// function behind that pointer.
//
// The pattern, rule by rule:
//   1  '(?:[sdmt]|ll|ve|re)     a contraction, lower case only
//   2   ?\p{L}++                at most one space (0x20), then letters
//   3   ?\p{N}++                at most one space, then numbers, unbounded
//   4   ?[^\s\p{L}\p{N}]++      at most one space, then symbols, no tail
//   5  \s++$                    whitespace up to the end of the text
//   6  \s+(?!\S)                a whitespace run but its last character
//   7  \s                       one whitespace character
// Unlike cl100k there is no line-break rule and no prefix but the space:
// "\n\n" before a word gives "\n" (rule 6) and "\n" (rule 7), and the word
// then stands alone.

#ifndef VELKAN_PRESPLIT_SPLIT_R50K_RULES_H_
#define VELKAN_PRESPLIT_SPLIT_R50K_RULES_H_

#include "presplit/split_common.h"
#include "presplit/split_r50k.h"

namespace velkan {
namespace r50k_rules {

// Length of the contraction `'(?:[sdmt]|ll|ve|re)` at p, 0 if there is none.
// The pattern has no case folding: "'S" and "'LL" are not contractions here.
inline uint32_t contraction_length(const uint8_t* p, const uint8_t* end) {
  const auto left = end - p;
  if (left < 2 || p[0] != '\'') return 0;
  switch (p[1]) {
  case 's':
  case 'd':
  case 'm':
  case 't':
    return 2;
  case 'l':
    return left > 2 && p[2] == 'l' ? 3 : 0;
  case 'v':
  case 'r':
    return left > 2 && p[2] == 'e' ? 3 : 0;
  }
  return 0;
}

inline bool match_contraction(const uint8_t* text, uint64_t length, uint64_t pos, SplitMatch* out) {
  const uint32_t n = contraction_length(text + pos, text + length);
  if (n == 0) return false;
  return set_match(text, pos, text + pos + n, out);
}

// `[^\s\p{L}\p{N}]++` from p.
inline const uint8_t* skip_symbols(const uint8_t* p, const uint8_t* end) {
  while (p < end) {
    const ScannedChar c = scan_char(p, end);
    if (!is_symbol_char(c.flags)) break;
    p += c.length;
  }
  return p;
}

// ` ?X++` for the class of the first character after the optional space:
// letters (rule 2), numbers (rule 3) or symbols (rule 4). A space is none of
// them, so taking it at once is safe: without it the run would begin with
// the space and fail. Answers false when no run follows, i.e. the character
// there is whitespace.
inline bool match_run(const uint8_t* text, uint64_t length, uint64_t pos, SplitMatch* out) {
  const uint8_t* const end = text + length;
  const uint8_t* const run = text + pos + (text[pos] == ' ');
  if (run == end) return false;
  const ScannedChar c = scan_char(run, end);
  const uint8_t* q;
  if (c.flags & kCharLetter) {
    q = skip_chars<kCharLetter>(run + c.length, end);
  } else if (c.flags & kCharNumber) {
    q = skip_chars<kCharNumber>(run + c.length, end);
  } else if (!(c.flags & kCharWhite)) {
    q = skip_symbols(run + c.length, end);
  } else {
    return false;
  }
  return set_match(text, pos, q, out);
}

// Runs the rules in order. Rules 2 to 4 are one step, since the character
// after the optional space decides which of them can match.
inline bool split_any(const uint8_t* text, uint64_t length, uint64_t pos, SplitMatch* out) {
  if (match_contraction(text, length, pos, out) || match_run(text, length, pos, out)) {
    return true;
  }
  // What rules 2 to 4 leave is whitespace: a space before whitespace or the
  // end of the text, or any other whitespace character.
  const WhitespaceRun run = scan_whitespace(text + pos, text + length);
  return match_trailing_whitespace(text, length, pos, run, out) ||
         match_whitespace_but_last(text, pos, run, out) ||
         // A single character: rule 6 has taken every longer run.
         match_whitespace(text, pos, run, out);
}

// split_any with a fast path for the most common starts of a piece, an ASCII
// letter alone or after a space: rule 1 needs an apostrophe, and rule 2
// then takes the letter run, whatever follows it.
[[gnu::always_inline]] inline bool split(const uint8_t* text, uint64_t length, uint64_t pos,
                                         SplitMatch* out) {
  if (pos >= length) return false;
  const uint8_t* const p = text + pos;
  const uint8_t* const end = text + length;
  const uint8_t* word = p + (p[0] == ' ');
  if (word < end && word[0] < 0x80 && (kAsciiFlags[word[0]] & kCharLetter)) {
    return set_match(text, pos, skip_chars<kCharLetter>(word + 1, end), out);
  }
  return split_any(text, length, pos, out);
}

}  // namespace r50k_rules
}  // namespace velkan

#endif  // VELKAN_PRESPLIT_SPLIT_R50K_RULES_H_
