// Construction of a BytePairEncoding from a rank-ordered token list: token
// store and index, the three automata, the prefix chain, and the split of
// every token into the two tokens it was merged from.

#ifndef VELKAN_CORE_BUILD_H_
#define VELKAN_CORE_BUILD_H_

#include <cstdint>

#include "core/token_store.h"

namespace velkan {

// Builds the record for n tokens. Token i is token_bytes[token_starts[i],
// token_starts[i + 1]) and gets id i; a lower id is a merge that happens
// earlier. The record copies both arrays. Any list is accepted, including an
// empty one, duplicates and empty tokens; a token that finds no valid split
// keeps the identity split. Throws std::bad_alloc when memory runs out.
BytePairEncodingPtr bpe_build(const uint8_t* token_bytes, const uint32_t* token_starts, uint32_t n);

}  // namespace velkan

#endif  // VELKAN_CORE_BUILD_H_
