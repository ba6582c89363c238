// Rank merge of a short piece on the stack: the piece's bytes as single-byte
// tokens, then the adjacent pair that the pair table merges into the
// lowest-ranked token is joined (the leftmost of equals), until no adjacent
// pair merges. For pieces of a few bytes this does less work than the
// backtracking encoder: a handful of filtered pair lookups, no automaton walk
// per position, no bitfield. Its cost grows with the square of the length,
// so it serves short pieces only (kSmallMergeMaxBytes).

#ifndef VELKAN_CORE_SMALL_MERGE_H_
#define VELKAN_CORE_SMALL_MERGE_H_

#include <cstdint>

#include "core/encoding.h"
#include "core/pair_table.h"

namespace velkan {

// The longest piece small_merge_piece takes.
inline constexpr uint64_t kSmallMergeMaxBytes = 32;

// Writes the ids of the piece (1 to kSmallMergeMaxBytes bytes) to out, which
// holds len entries, and returns their number: the ids the backtracking
// encoder gives. Only for an encoding whose every token of two or more bytes
// has its split in the pair table (not merge_by_rank). filter, when not null,
// is the filter of bpe.pair_table; it changes the speed, not the result.
uint64_t small_merge_piece(const BytePairEncoding& bpe, const PairFilter* filter,
                           const uint8_t* piece, uint64_t len, uint32_t* out);

}  // namespace velkan

#endif  // VELKAN_CORE_SMALL_MERGE_H_
