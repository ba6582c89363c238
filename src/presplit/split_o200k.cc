#include "presplit/split_o200k.h"

#include "presplit/split_o200k_rules.h"

namespace velkan {

bool split_o200k(const uint8_t* text, uint64_t length, uint64_t pos, SplitMatch* out) {
  return o200k_rules::split(text, length, pos, out);
}

}  // namespace velkan
