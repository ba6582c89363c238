// The piecewise driver on any bytes, most of them not UTF-8: it ends, covers
// every byte (the ids decode back to the input), and its encode, count and
// limited count agree, for cl100k_base and o200k_base with their splitters. Segments
// reused from the shared cache (the text again, its suffixes, the text after
// other bytes) give the ids of the piece-by-piece walk. The first byte picks
// the vocabulary; libFuzzer's -timeout catches a driver that loops.

#include "driver/budget.h"
#include "driver/piecewise.h"
#include "fuzz_util.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace velkan;
  using namespace velkan::fuzz;
  if (size == 0) return 0;
  const EncodingHandle& handle = embedded_handle(data[0] & 1);
  const ExactCopy text(data + 1, size - 1);
  const uint64_t n = text.size;

  const std::vector<uint32_t> ids = piecewise_encode(handle, text.data(), n);
  FUZZ_CHECK(decode(*handle.encoding, ids) == std::vector<uint8_t>(text.data(), text.data() + n));
  const uint64_t count = piecewise_count(handle, text.data(), n);
  FUZZ_CHECK(count == ids.size());
  const uint64_t limits[] = {0,          count,
                             count + 1,  count > 0 ? count - 1 : 0,
                             UINT64_MAX, uint64_t{size > 1 ? data[1] : 2u}};
  for (uint64_t limit : limits) {
    const uint64_t expected = count <= limit ? count : kOverLimit;
    FUZZ_CHECK(piecewise_count_till_limit(handle, text.data(), n, limit) == expected);
  }

  // The budget walk encodes piece by piece, without segments.
  const auto by_pieces = [&](const uint8_t* t, uint64_t len) {
    std::vector<uint32_t> out;
    std::vector<uint64_t> starts;
    budget_encode_with_offsets(handle, t, len, out, starts);
    return out;
  };
  FUZZ_CHECK(ids == by_pieces(text.data(), n));
  FUZZ_CHECK(piecewise_encode(handle, text.data(), n) == ids);
  std::vector<uint8_t> shifted(data + 1, data + size);
  for (uint64_t k = 1; k < n; k += 1 + n / 8) {
    FUZZ_CHECK(piecewise_encode(handle, shifted.data() + k, n - k) ==
               by_pieces(shifted.data() + k, n - k));
  }
  shifted.insert(shifted.begin(), data, data + (size > 24 ? 24 : size));
  const ExactCopy after(shifted.data(), shifted.size());
  FUZZ_CHECK(piecewise_encode(handle, after.data(), after.size) ==
             by_pieces(after.data(), after.size));
  FUZZ_CHECK(piecewise_count(handle, after.data(), after.size) ==
             by_pieces(after.data(), after.size).size());
  return 0;
}
