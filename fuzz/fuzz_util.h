// Helpers shared by the fuzz targets: the tests' embedded vocabularies and
// handles, an exact-size copy of the input (so that AddressSanitizer sees any
// read past its end), and a check that aborts with a message, which libFuzzer
// records as a crash with the input that caused it.

#ifndef VELKAN_FUZZ_FUZZ_UTIL_H_
#define VELKAN_FUZZ_FUZZ_UTIL_H_

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <vector>

#include "core/encoding.h"
#include "core/uninitialized.h"
#include "embedded_encodings.h"  // from tests/native/

namespace velkan::fuzz {

#define FUZZ_CHECK(cond)                                                            \
  do {                                                                              \
    if (!(cond)) {                                                                  \
      std::fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #cond); \
      std::abort();                                                                 \
    }                                                                               \
  } while (0)

// The bytes in a heap block of exactly their size. An empty input still gets
// a (zero-size) block, so that even a read at the end is caught.
struct ExactCopy {
  std::unique_ptr<uint8_t[]> bytes;
  size_t size;
  ExactCopy(const uint8_t* data, size_t n) : bytes(make_uninitialized_array<uint8_t>(n)), size(n) {
    for (size_t i = 0; i < n; i++) bytes[i] = data[i];
  }
  const uint8_t* data() const { return bytes.get(); }
};

// The decoded bytes of ids; aborts on an id out of range.
inline std::vector<uint8_t> decode(const BytePairEncoding& bpe, const std::vector<uint32_t>& ids) {
  std::optional<std::string> bytes = bpe_decode_tokens(bpe, ids.data(), ids.size());
  FUZZ_CHECK(bytes.has_value());
  return std::vector<uint8_t>(bytes->begin(), bytes->end());
}

}  // namespace velkan::fuzz

#endif  // VELKAN_FUZZ_FUZZ_UTIL_H_
