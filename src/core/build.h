// Construction of a BytePairEncoding from a rank-ordered token list: token
// store and index, the automata, the prefix chain, and the split of
// every token into the two tokens it was merged from.

#ifndef VELKAN_CORE_BUILD_H_
#define VELKAN_CORE_BUILD_H_

#include <cstdint>

#include "core/encoding.h"

namespace velkan {

// Which automata a build makes. Encoding queries only the forward one; the
// image format holds all three and the byte order, so a record that may be
// written as an image (or compared with one) needs them all.
enum class BuildAutomata : uint8_t {
  kAll,          // forward, its copy and the reverse one, and the byte order
  kForwardOnly,  // the rest left empty: a vocabulary that is never an image
};

// When a build compiles the forward automaton. kAtFirstUse returns without
// it: bpe_forward_automaton compiles it at the first call (once, under one
// lock shared by all such records, which a fork waits for), unless
// bpe_compile_forward_in_background did so first. Performance notes: on
// Llama 3-like ranks (128,256) the compile is about a quarter of the
// build's CPU time, moved out of the build.
enum class ForwardCompile : uint8_t {
  kInBuild,
  kAtFirstUse,
};

// Builds the record for n tokens. Token i is token_bytes[token_starts[i],
// token_starts[i + 1]) and gets id i; a lower id is a merge that happens
// earlier. The record copies both arrays. Any list is accepted, including an
// empty one, duplicates and empty tokens; a token that finds no valid split
// keeps the identity split. Throws std::bad_alloc when memory runs out.
BytePairEncodingPtr bpe_build(const uint8_t* token_bytes, const uint32_t* token_starts, uint32_t n,
                              BuildAutomata automata = BuildAutomata::kAll,
                              ForwardCompile compile = ForwardCompile::kInBuild);

// The reverse automaton of bpe's tokens, compiled (what a build of all
// automata holds as bpe.reverse_automaton; about 0.5 s for cl100k_base).
TokenAutomaton bpe_reverse_automaton(const BytePairEncoding& bpe);

// The split construction gives token i: the first prefix p on its prefix
// chain whose remainder r is a token, with p and r older than i and allowed
// side by side as the pair table stood before token i (merges of ids i and
// later do not count). Reads the token index, prefix chain, splits of older
// ids and the pair table. False when there is none: the token stays whole.
// Construction makes the splits with it; the image validator checks them.
// equal_tokens false promises that no two tokens are equal (bpe_store_tokens
// tells), which spares a lookup per candidate.
bool bpe_construction_split(const BytePairEncoding& bpe, uint32_t i, uint32_t& left,
                            uint32_t& right, bool equal_tokens = true);

}  // namespace velkan

#endif  // VELKAN_CORE_BUILD_H_
