// Helpers shared by the fuzz targets: the embedded vocabularies built once per
// process, an exact-size copy of the input (so that AddressSanitizer sees any
// read past its end), and a check that aborts with a message, which libFuzzer
// records as a crash with the input that caused it.

#ifndef VELKAN_FUZZ_FUZZ_UTIL_H_
#define VELKAN_FUZZ_FUZZ_UTIL_H_

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <vector>

#include "core/build.h"
#include "core/token_store.h"
#include "presplit/split_cl100k.h"
#include "presplit/split_o200k.h"
#include "vocab/embedded.h"
#include "vocab/encoding_handle.h"

namespace velkan::fuzz {

#define FUZZ_CHECK(cond)                                                         \
  do {                                                                           \
    if (!(cond)) {                                                               \
      std::fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #cond); \
      std::abort();                                                              \
    }                                                                            \
  } while (0)

inline const BytePairEncoding& embedded_encoding(bool o200k) {
  if (o200k) {
    static BytePairEncodingPtr o = bpe_build(o200k_token_bytes, o200k_token_starts, kO200kTokens);
    return *o;
  }
  static BytePairEncodingPtr cl = bpe_build(cl100k_token_bytes, cl100k_token_starts, kCl100kTokens);
  return *cl;
}

inline EncodingHandle handle_of(bool o200k, bool split) {
  EncodingHandle h;
  h.encoding = const_cast<BytePairEncoding*>(&embedded_encoding(o200k));
  h.splitter = split ? (o200k ? split_o200k : split_cl100k) : nullptr;
  return h;
}

// The bytes in a heap block of exactly their size. An empty input still gets
// a (zero-size) block, so that even a read at the end is caught.
struct ExactCopy {
  std::unique_ptr<uint8_t[]> bytes;
  size_t size;
  ExactCopy(const uint8_t* data, size_t n)
      : bytes(std::make_unique_for_overwrite<uint8_t[]>(n)), size(n) {
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
