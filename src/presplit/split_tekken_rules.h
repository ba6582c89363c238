// The pre-split rules of Mistral's Tekken vocabularies as inline functions:
// the pattern
// [^\r\n\p{L}\p{N}]?[\p{Lu}\p{Lt}\p{Lm}\p{Lo}\p{M}]*[\p{Ll}\p{Lm}\p{Lo}\p{M}]+|
// [^\r\n\p{L}\p{N}]?[\p{Lu}\p{Lt}\p{Lm}\p{Lo}\p{M}]+[\p{Ll}\p{Lm}\p{Lo}\p{M}]*|
// \p{N}| ?[^\s\p{L}\p{N}]+[\r\n/]*|\s*[\r\n]+|\s+(?!\S)|\s+
// is o200k_base's without the contractions after a word and with `\p{N}`
// for `\p{N}{1,3}`. The PieceSplitter is piece_splitter(RuleSet::kTekken)
// (rule_set.h).

#ifndef VELKAN_PRESPLIT_SPLIT_TEKKEN_RULES_H_
#define VELKAN_PRESPLIT_SPLIT_TEKKEN_RULES_H_

#include "presplit/split_o200k_rules.h"

namespace velkan {
namespace tekken_rules {

[[gnu::always_inline]] inline bool split(const uint8_t* text, uint64_t length, uint64_t pos,
                                         SplitMatch* out) {
  return o200k_rules::split_of</*kContractions=*/false, /*kMost=*/1>(text, length, pos, out);
}

}  // namespace tekken_rules
}  // namespace velkan

#endif  // VELKAN_PRESPLIT_SPLIT_TEKKEN_RULES_H_
