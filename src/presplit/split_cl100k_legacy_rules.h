// The pre-split rules of cl100k_base's older spelling as inline functions:
// cl100k_base's rules with the line-break rule tried before the rule for
// whitespace up to the end of the text, as o200k_base orders them. The rest
// of the old spelling (no possessive quantifiers, `\s*[\r\n]+`, `\s+` last)
// cuts every text as cl100k_base's does. split_cl100k_legacy
// (split_cl100k_legacy.cc) is the same function behind the PieceSplitter
// pointer.

#ifndef VELKAN_PRESPLIT_SPLIT_CL100K_LEGACY_RULES_H_
#define VELKAN_PRESPLIT_SPLIT_CL100K_LEGACY_RULES_H_

#include "presplit/split_cl100k_legacy.h"
#include "presplit/split_cl100k_rules.h"
#include "presplit/split_common.h"

namespace velkan {
namespace cl100k_legacy_rules {

inline bool split_any(const uint8_t* text, uint64_t length, uint64_t pos, SplitMatch* out) {
  if (scan_char(text + pos, text + length).flags & kCharNumber) {
    return match_numbers(text, length, pos, out);
  }
  if (cl100k_rules::match_contraction(text, length, pos, out) ||
      cl100k_rules::match_letters(text, length, pos, out) ||
      cl100k_rules::match_punctuation(text, length, pos, out)) {
    return true;
  }
  const WhitespaceRun run = scan_whitespace(text + pos, text + length);
  return match_line_breaks(text, pos, run, out) ||
         match_trailing_whitespace(text, length, pos, run, out) ||
         match_whitespace_but_last(text, pos, run, out) || match_whitespace(text, pos, run, out);
}

// cl100k_base's fast path holds here too: it never reaches the whitespace
// rules.
[[gnu::always_inline]] inline bool split(const uint8_t* text, uint64_t length, uint64_t pos,
                                         SplitMatch* out) {
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
  return split_any(text, length, pos, out);
}

}  // namespace cl100k_legacy_rules
}  // namespace velkan

#endif  // VELKAN_PRESPLIT_SPLIT_CL100K_LEGACY_RULES_H_
