#include "presplit/split_r50k.h"

#include "presplit/split_r50k_rules.h"

namespace velkan {

bool split_r50k(const uint8_t* text, uint64_t length, uint64_t pos, SplitMatch* out) {
  return r50k_rules::split(text, length, pos, out);
}

}  // namespace velkan
