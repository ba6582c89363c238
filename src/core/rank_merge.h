// Encoding by merging ranks, the way the ranks define byte-pair encoding:
// start from single bytes and merge the adjacent pair whose concatenation has
// the lowest rank (the leftmost of equals) until no pair is a token. A piece
// that is a token whole is that token. Used for vocabularies the backtracking
// encoder cannot serve exactly: those with a token that is not the merge of
// two lower-ranked tokens merging reaches (bpe_needs_rank_merge).

#ifndef VELKAN_CORE_RANK_MERGE_H_
#define VELKAN_CORE_RANK_MERGE_H_

#include <cstdint>
#include <vector>

#include "core/encoding.h"

namespace velkan {

// Whether some token of two or more bytes got no split at construction.
bool bpe_needs_rank_merge(const BytePairEncoding& bpe);

// Appends the ids of one piece to out. Every single byte must be a token.
// O(n log n) in the piece's length.
void rank_merge_piece(const BytePairEncoding& bpe, const uint8_t* piece, uint64_t len,
                      std::vector<uint32_t>& out);

}  // namespace velkan

#endif  // VELKAN_CORE_RANK_MERGE_H_
