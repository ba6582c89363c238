#include "presplit/split_cl100k.h"

#include "presplit/split_cl100k_rules.h"

namespace velkan {

bool split_cl100k(const uint8_t* text, uint64_t length, uint64_t pos, SplitMatch* out) {
  return cl100k_rules::split(text, length, pos, out);
}

}  // namespace velkan
