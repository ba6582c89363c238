// The reference the encoder is held against, shared by the C++ tests and the
// fuzzers: byte-pair encoding the textbook way. Start from single bytes and
// merge the adjacent pair whose concatenation has the lowest rank (the
// leftmost of equals) until no adjacent pair is a token. Quadratic: for short
// texts only.

#ifndef VELKAN_TESTS_RANK_MERGE_H_
#define VELKAN_TESTS_RANK_MERGE_H_

#include <cstddef>
#include <cstdint>
#include <vector>

#include "core/encoding.h"

namespace velkan {

// The ids of text[0, n). A part that is not a token (a single byte missing
// from the vocabulary) gives UINT32_MAX, which no encoder result equals.
inline std::vector<uint32_t> rank_merge(const BytePairEncoding& bpe, const uint8_t* text,
                                        size_t n) {
  auto rank_of = [&bpe](const uint8_t* bytes, size_t length) {
    return token_index_find(bpe.token_index, bpe.token_bytes.data(), bpe.token_starts.data(),
                            bpe.hash_factor, bytes, static_cast<uint32_t>(length));
  };
  std::vector<size_t> starts(n);  // start of each part; a part ends where the next starts
  for (size_t i = 0; i < n; i++) starts[i] = i;
  auto part_end = [&](size_t k) { return k + 1 < starts.size() ? starts[k + 1] : n; };
  for (;;) {
    int32_t best = -1;
    size_t best_at = 0;
    for (size_t k = 0; k + 1 < starts.size(); k++) {
      const int32_t r = rank_of(text + starts[k], part_end(k + 1) - starts[k]);
      if (r != -1 && (best == -1 || r < best)) {
        best = r;
        best_at = k;
      }
    }
    if (best == -1) break;
    starts.erase(starts.begin() + static_cast<std::ptrdiff_t>(best_at) + 1);
  }
  std::vector<uint32_t> ids;
  for (size_t k = 0; k < starts.size(); k++) {
    const int32_t r = rank_of(text + starts[k], part_end(k) - starts[k]);
    ids.push_back(r == -1 ? UINT32_MAX : static_cast<uint32_t>(r));
  }
  return ids;
}

}  // namespace velkan

#endif  // VELKAN_TESTS_RANK_MERGE_H_
