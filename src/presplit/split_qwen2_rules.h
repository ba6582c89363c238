// The pre-split rules of Qwen's tiktoken-format vocabularies (Qwen, Qwen2,
// Qwen2.5, Qwen3) as inline functions: the pattern
// (?i:'s|'t|'re|'ve|'m|'ll|'d)|[^\r\n\p{L}\p{N}]?\p{L}+|\p{N}|
// ?[^\s\p{L}\p{N}]+[\r\n]*|\s*[\r\n]+|\s+(?!\S)|\s+
// is Llama 3's (cl100k_base's older spelling) with `\p{N}` for
// `\p{N}{1,3}`: every number is a piece of its own. The PieceSplitter is
// piece_splitter(RuleSet::kQwen2) (rule_set.h).

#ifndef VELKAN_PRESPLIT_SPLIT_QWEN2_RULES_H_
#define VELKAN_PRESPLIT_SPLIT_QWEN2_RULES_H_

#include "presplit/split_cl100k_rules.h"
#include "presplit/split_common.h"

namespace velkan {
namespace qwen2_rules {

inline bool split_any(const uint8_t* text, uint64_t length, uint64_t pos, SplitMatch* out) {
  if (scan_char(text + pos, text + length).flags & kCharNumber) {
    return match_numbers<1>(text, length, pos, out);
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

// cl100k_base's fast path for words holds here too: it never sees a number.
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

}  // namespace qwen2_rules
}  // namespace velkan

#endif  // VELKAN_PRESPLIT_SPLIT_QWEN2_RULES_H_
