// The pre-split rules of cl100k_base: cuts UTF-8 text into the pieces that
// the vocabulary's reference pattern finds, one piece per call. Also the
// English contraction matcher that the o200k rules share.

#ifndef VELKAN_PRESPLIT_SPLIT_CL100K_H_
#define VELKAN_PRESPLIT_SPLIT_CL100K_H_

#include <cstdint>

#include "presplit/split_match.h"

namespace velkan {

// Length of the contraction `'(?i:s|t|re|ve|m|ll|d)` at p, 0 if there is
// none. Only the ASCII apostrophe counts (U+2019 does not). Letters match
// under simple case folding: ASCII either case, and U+017F LATIN SMALL LETTER
// LONG S for s, the one non-ASCII character that folds to any of them. What
// follows the contraction is not looked at.
inline uint32_t contraction_length(const uint8_t* p, const uint8_t* end) {
  const auto left = end - p;
  if (left < 2 || p[0] != '\'') return 0;
  switch (p[1] | 0x20) {
    case 's': case 't': case 'm': case 'd':
      return 2;
    case 'l':
      return left > 2 && (p[2] | 0x20) == 'l' ? 3 : 0;
    case 'r': case 'v':
      return left > 2 && (p[2] | 0x20) == 'e' ? 3 : 0;
  }
  return left > 2 && p[1] == 0xC5 && p[2] == 0xBF ? 3 : 0;  // U+017F
}

// The PieceSplitter of cl100k_base.
bool split_cl100k(const uint8_t* text, uint64_t length, uint64_t pos, SplitMatch* out);

}  // namespace velkan

#endif  // VELKAN_PRESPLIT_SPLIT_CL100K_H_
