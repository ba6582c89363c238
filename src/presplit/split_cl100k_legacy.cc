#include "presplit/split_cl100k_legacy.h"

#include "presplit/split_cl100k_legacy_rules.h"

namespace velkan {

bool split_cl100k_legacy(const uint8_t* text, uint64_t length, uint64_t pos, SplitMatch* out) {
  return cl100k_legacy_rules::split(text, length, pos, out);
}

}  // namespace velkan
