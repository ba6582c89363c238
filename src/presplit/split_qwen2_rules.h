// The pre-split rules of Qwen's tiktoken-format vocabularies (Qwen, Qwen2,
// Qwen2.5, Qwen3) as inline functions: the pattern
// (?i:'s|'t|'re|'ve|'m|'ll|'d)|[^\r\n\p{L}\p{N}]?\p{L}+|\p{N}|
// ?[^\s\p{L}\p{N}]+[\r\n]*|\s*[\r\n]+|\s+(?!\S)|\s+
// is Llama 3's (cl100k_base's older spelling) with `\p{N}` for
// `\p{N}{1,3}`: every number is a piece of its own. The PieceSplitter is
// piece_splitter(RuleSet::kQwen2) (rule_set.h).

#ifndef VELKAN_PRESPLIT_SPLIT_QWEN2_RULES_H_
#define VELKAN_PRESPLIT_SPLIT_QWEN2_RULES_H_

#include "presplit/split_cl100k_legacy_rules.h"
#include "presplit/split_cl100k_rules.h"
#include "presplit/split_common.h"

namespace velkan {
namespace qwen2_rules {

inline bool split_any(const uint8_t* text, uint64_t length, uint64_t pos, SplitMatch* out) {
  return cl100k_legacy_rules::split_any_with<1>(text, length, pos, out);
}

// cl100k_base's fast path for words holds here too: it never sees a number.
[[gnu::always_inline]] inline bool split(const uint8_t* text, uint64_t length, uint64_t pos,
                                         SplitMatch* out) {
  return cl100k_rules::split_words_first<split_any>(text, length, pos, out);
}

}  // namespace qwen2_rules
}  // namespace velkan

#endif  // VELKAN_PRESPLIT_SPLIT_QWEN2_RULES_H_
