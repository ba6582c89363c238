// The two vocabularies OpenAI publishes, compiled into the module as constant
// data (generated at build time from the rank files in data/ by gen_vocab.py).
// Token i is bytes [starts[i], starts[i+1]); ids are the published ranks.

#ifndef VELKAN_VOCAB_EMBEDDED_H_
#define VELKAN_VOCAB_EMBEDDED_H_

#include <cstdint>

extern "C" {
extern const uint8_t cl100k_token_bytes[];
extern const uint32_t cl100k_token_starts[];  // kCl100kTokens + 1 entries
extern const uint8_t o200k_token_bytes[];
extern const uint32_t o200k_token_starts[];  // kO200kTokens + 1 entries
}

namespace velkan {

inline constexpr uint32_t kCl100kTokens = 100256;
inline constexpr uint32_t kCl100kBytes = 643830;
inline constexpr uint32_t kO200kTokens = 199998;
inline constexpr uint32_t kO200kBytes = 1397670;

}  // namespace velkan

#endif  // VELKAN_VOCAB_EMBEDDED_H_
