// The vocabularies this build knows, in one table generated from the list at
// the top of gen_vocab.py (vocab_registry.cc in the build tree). Everything
// that needs a fact about a vocabulary (its name, image file, token data,
// rule set, known image digest) reads it here; nothing else names one.

#ifndef VELKAN_VOCAB_REGISTRY_H_
#define VELKAN_VOCAB_REGISTRY_H_

#include <cstdint>
#include <span>
#include <string_view>

#include "presplit/rule_set.h"
#include "vocab/image_digest.h"

namespace velkan {

struct VocabularyInfo {
  std::string_view name;        // "cl100k_base": the constructor's name in Python
  std::string_view short_name;  // "cl100k": is_cached_cl100k, the embedded symbols
  std::string_view image_file;  // "precomputed_cl100k.bin": beside the package
  const uint8_t* token_bytes;   // token i is bytes [token_starts[i], token_starts[i+1])
  const uint32_t* token_starts;
  uint32_t num_tokens;  // counted from the rank file by the generator
  RuleSet rule_set;
  ImageDigest image_digest;  // of the image construction writes
};

// In table order; an entry's index is its number in the encoding cache.
std::span<const VocabularyInfo> vocabularies();

// The index of the vocabulary with this name or short name; -1 if none.
inline int find_vocabulary(std::string_view name) {
  const std::span<const VocabularyInfo> all = vocabularies();
  for (size_t i = 0; i < all.size(); i++) {
    if (all[i].name == name || all[i].short_name == name) return static_cast<int>(i);
  }
  return -1;
}

}  // namespace velkan

#endif  // VELKAN_VOCAB_REGISTRY_H_
