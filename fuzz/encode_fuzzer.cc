// The backtracking encoder on any bytes, without pre-splitting: it equals a
// plain rank-merge byte-pair encoding on short inputs, decodes back to the
// input, and its count and limited count agree with the encoding. The first
// byte picks the vocabulary.

#include <algorithm>

#include "core/encoder.h"
#include "fuzz_util.h"
#include "rank_merge.h"

namespace velkan::fuzz {
namespace {

// Short enough that the quadratic reference stays fast.
constexpr size_t kReferenceLimit = 256;

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
