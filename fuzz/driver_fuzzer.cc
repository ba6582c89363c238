// The piecewise driver on any bytes, most of them not UTF-8: it ends, covers
// every byte (the ids decode back to the input), and its encode, count and
// limited count agree, for both vocabularies with their splitters. The first
// byte picks the vocabulary; libFuzzer's -timeout catches a driver that loops.

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
  return 0;
}
