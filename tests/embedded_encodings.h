// The two embedded vocabularies built once per test process and shared by
// every test file: each build takes a good part of a second.

#ifndef VELKAN_TESTS_EMBEDDED_ENCODINGS_H_
#define VELKAN_TESTS_EMBEDDED_ENCODINGS_H_

#include "core/build.h"
#include "vocab/embedded.h"

namespace velkan {

inline const BytePairEncoding& embedded_encoding(bool o200k) {
  if (o200k) {
    static BytePairEncodingPtr o = bpe_build(o200k_token_bytes, o200k_token_starts, kO200kTokens);
    return *o;
  }
  static BytePairEncodingPtr cl = bpe_build(cl100k_token_bytes, cl100k_token_starts, kCl100kTokens);
  return *cl;
}

}  // namespace velkan

#endif  // VELKAN_TESTS_EMBEDDED_ENCODINGS_H_
