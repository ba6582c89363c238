// The pre-split rules of o200k_base: cuts UTF-8 text into the pieces that the
// vocabulary's reference pattern finds, one piece per call. Words split by
// letter case, so camel-case words split at each capital.

#ifndef VELKAN_PRESPLIT_SPLIT_O200K_H_
#define VELKAN_PRESPLIT_SPLIT_O200K_H_

#include <cstdint>

#include "presplit/split_match.h"

namespace velkan {

// The PieceSplitter of o200k_base.
bool split_o200k(const uint8_t* text, uint64_t length, uint64_t pos, SplitMatch* out);

}  // namespace velkan

#endif  // VELKAN_PRESPLIT_SPLIT_O200K_H_
