// The pre-split rules of r50k_base, p50k_base and p50k_edit (and gpt2, which
// shares r50k_base's ranks): cuts UTF-8 text into the pieces that their
// reference pattern finds, one piece per call. Words take at most a leading
// space, and contractions are lower case only.

#ifndef VELKAN_PRESPLIT_SPLIT_R50K_H_
#define VELKAN_PRESPLIT_SPLIT_R50K_H_

#include <cstdint>

#include "presplit/split_match.h"

namespace velkan {

// The PieceSplitter of r50k_base, p50k_base and p50k_edit.
bool split_r50k(const uint8_t* text, uint64_t length, uint64_t pos, SplitMatch* out);

}  // namespace velkan

#endif  // VELKAN_PRESPLIT_SPLIT_R50K_H_
