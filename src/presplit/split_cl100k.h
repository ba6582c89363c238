// The pre-split rules of cl100k_base: cuts UTF-8 text into the pieces that
// the vocabulary's reference pattern finds, one piece per call. Also the
// English contraction matcher that the o200k rules share.

#ifndef VELKAN_PRESPLIT_SPLIT_CL100K_H_
#define VELKAN_PRESPLIT_SPLIT_CL100K_H_

#include <cstdint>

#include "presplit/split_match.h"

namespace velkan {

// The PieceSplitter of cl100k_base.
bool split_cl100k(const uint8_t* text, uint64_t length, uint64_t pos, SplitMatch* out);

}  // namespace velkan

#endif  // VELKAN_PRESPLIT_SPLIT_CL100K_H_
