// The pre-split rules of cl100k_base's pattern as tiktoken spelt it before
// 0.7, which Llama 3's tiktoken-format tokenizer still uses. It differs from
// cl100k_base's in one case only: whitespace that holds a line break and runs
// to the end of the text ends at its last line break ("x\n  " gives "x", "\n"
// and "  ", where cl100k_base gives "x" and "\n  ").

#ifndef VELKAN_PRESPLIT_SPLIT_CL100K_LEGACY_H_
#define VELKAN_PRESPLIT_SPLIT_CL100K_LEGACY_H_

#include <cstdint>

#include "presplit/split_match.h"

namespace velkan {

// The PieceSplitter of the pattern
// (?i:'s|'t|'re|'ve|'m|'ll|'d)|[^\r\n\p{L}\p{N}]?\p{L}+|\p{N}{1,3}|
// ?[^\s\p{L}\p{N}]+[\r\n]*|\s*[\r\n]+|\s+(?!\S)|\s+
bool split_cl100k_legacy(const uint8_t* text, uint64_t length, uint64_t pos, SplitMatch* out);

}  // namespace velkan

#endif  // VELKAN_PRESPLIT_SPLIT_CL100K_LEGACY_H_
