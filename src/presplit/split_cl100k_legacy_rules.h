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

// kMostDigits: the longest number piece (3 here; 1 in Qwen's rules, which
// are these otherwise).
template <int kMostDigits>
inline bool split_any_with(const uint8_t* text, uint64_t length, uint64_t pos, SplitMatch* out) {
  if (scan_char(text + pos, text + length).flags & kCharNumber) {
    return match_numbers<kMostDigits>(text, length, pos, out);
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

inline bool split_any(const uint8_t* text, uint64_t length, uint64_t pos, SplitMatch* out) {
  return split_any_with<3>(text, length, pos, out);
}

// cl100k_base's fast path holds here too: it never reaches the whitespace
// rules.
[[gnu::always_inline]] inline bool split(const uint8_t* text, uint64_t length, uint64_t pos,
                                         SplitMatch* out) {
  return cl100k_rules::split_words_first<split_any>(text, length, pos, out);
}

}  // namespace cl100k_legacy_rules
}  // namespace velkan

#endif  // VELKAN_PRESPLIT_SPLIT_CL100K_LEGACY_RULES_H_
