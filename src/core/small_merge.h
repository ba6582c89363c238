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
#include <vector>

#include "core/encoding.h"
#include "core/pair_table.h"

namespace velkan {

// The longest piece small_merge_piece takes.
inline constexpr uint64_t kSmallMergeMaxBytes = 32;

// What the merge's first round asks of every two neighbouring bytes, as a
// table: at (first << 8 | second), the token the two single bytes merge
// into, or UINT32_MAX. Performance notes: half of a short piece's pair
// lookups are these, and the pairs of text's bytes are a few kilobytes of
// the table (letters, digits, punctuation), where the pair table and its
// filter are megabytes read at random. With it, merges of pieces of up to
// eight bytes took 0.70x to 0.79x the time (English 38 to 27 ns a piece,
// code 59 to 43, docs 72 to 57; cl100k_base, in cache), of nine to sixteen
// bytes 0.86x to 0.97x; warm encodes (benchmarks/ab.py --unseen) ran 0.93x to
// 1.08x, about 1.03x in the median. 65,536 entries, 256 KiB per vocabulary;
// for an encoding the small merge takes.
std::vector<uint32_t> small_merge_byte_pairs(const BytePairEncoding& bpe);

// Writes the ids of the piece (1 to kSmallMergeMaxBytes bytes) to out, which
// holds len entries, and returns their number: the ids the backtracking
// encoder gives. Only for an encoding whose every token of two or more bytes
// has its split in the pair table (not merge_by_rank) and whose every single
// byte is a token, and whose forward automaton is ready
// (bpe_forward_automaton). filter, when not null, is the filter of bpe.pair_table,
// byte_pairs, when not null, small_merge_byte_pairs(bpe): they change the
// speed, not the result.
uint64_t small_merge_piece(const BytePairEncoding& bpe, const PairFilter* filter,
                           const uint32_t* byte_pairs, const uint8_t* piece, uint64_t len,
                           uint32_t* out);

}  // namespace velkan

#endif  // VELKAN_CORE_SMALL_MERGE_H_
