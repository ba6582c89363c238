// The backtracking encoder on any bytes, without pre-splitting: it equals a
// plain rank-merge byte-pair encoding on short inputs, decodes back to the
// input, and its count and limited count agree with the encoding. The first
// byte picks the vocabulary.

#include <algorithm>

#include "core/encoder.h"
#include "fuzz_util.h"

namespace velkan::fuzz {
namespace {

// Short enough that the quadratic reference stays fast.
constexpr size_t kReferenceLimit = 256;

int32_t rank_of(const BytePairEncoding& bpe, const uint8_t* bytes, size_t n) {
  return token_index_find(bpe.token_index, bpe.token_bytes.data(), bpe.token_starts.data(),
                          bpe.hash_factor, bytes, n);
}

// Byte-pair encoding the textbook way: start from single bytes and merge the
// adjacent pair whose concatenation has the lowest rank (the leftmost of
// equals) until no adjacent pair is a token.
std::vector<uint32_t> rank_merge(const BytePairEncoding& bpe, const uint8_t* text, size_t n) {
  std::vector<size_t> starts(n);  // start offset of each part; a part ends where the next starts
  for (size_t i = 0; i < n; i++) starts[i] = i;
  auto part_end = [&](size_t k) { return k + 1 < starts.size() ? starts[k + 1] : n; };
  for (;;) {
    int32_t best = -1;
    size_t best_at = 0;
    for (size_t k = 0; k + 1 < starts.size(); k++) {
      const int32_t r = rank_of(bpe, text + starts[k], part_end(k + 1) - starts[k]);
      if (r != -1 && (best == -1 || r < best)) {
        best = r;
        best_at = k;
      }
    }
    if (best == -1) break;
    starts.erase(starts.begin() + static_cast<ptrdiff_t>(best_at) + 1);
  }
  std::vector<uint32_t> ids;
  for (size_t k = 0; k < starts.size(); k++) {
    const int32_t r = rank_of(bpe, text + starts[k], part_end(k) - starts[k]);
    FUZZ_CHECK(r != -1);  // every single byte is a token
    ids.push_back(static_cast<uint32_t>(r));
  }
  return ids;
}

}  // namespace
}  // namespace velkan::fuzz

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace velkan;
  using namespace velkan::fuzz;
  if (size == 0) return 0;
  const BytePairEncoding& bpe = embedded_encoding(data[0] & 1);
  const ExactCopy text(data + 1, size - 1);
  const uint64_t n = text.size;

  const std::vector<uint32_t> ids = bpe_encode(bpe, text.data(), n);
  FUZZ_CHECK(decode(bpe, ids) == std::vector<uint8_t>(text.data(), text.data() + n));
  const uint64_t count = bpe_count(bpe, text.data(), n);
  FUZZ_CHECK(count == ids.size());
  if (n <= kReferenceLimit) FUZZ_CHECK(ids == rank_merge(bpe, text.data(), n));

  const uint64_t limits[] = {0,
                             count,
                             count + 1,
                             count + 11,
                             n,
                             UINT64_MAX - 1,
                             UINT64_MAX,
                             count > 0 ? count - 1 : 0,
                             count > 11 ? count - 11 : 0,
                             uint64_t{size > 1 ? data[1] : 3u}};
  for (uint64_t limit : limits) {
    const uint64_t expected = count <= limit ? count : UINT64_MAX;
    FUZZ_CHECK(bpe_count_till_limit(bpe, text.data(), n, limit) == expected);
  }
  return 0;
}
