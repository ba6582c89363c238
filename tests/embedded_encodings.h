// The two embedded vocabularies built once per test process and shared by
// every test file and fuzz target (each build takes a good part of a
// second), and handles on them as the encoding cache makes them.

#ifndef VELKAN_TESTS_EMBEDDED_ENCODINGS_H_
#define VELKAN_TESTS_EMBEDDED_ENCODINGS_H_

#include "core/build.h"
#include "presplit/rule_set.h"
#include "vocab/embedded.h"
#include "vocab/encoding_handle.h"

namespace velkan {

inline const BytePairEncoding& embedded_encoding(bool o200k) {
  if (o200k) {
    static BytePairEncodingPtr o = bpe_build(o200k_token_bytes, o200k_token_starts, kO200kTokens);
    return *o;
  }
  static BytePairEncodingPtr cl = bpe_build(cl100k_token_bytes, cl100k_token_starts, kCl100kTokens);
  return *cl;
}

// A handle on an embedded vocabulary with its pair filter; with its splitter,
// or with none (texts encoded whole).
inline const EncodingHandle& embedded_handle(bool o200k, bool split = true) {
  auto make = [](bool o, bool s) {
    EncodingHandle h;
    h.encoding = &embedded_encoding(o);
    h.rule_set = s ? (o ? RuleSet::kO200k : RuleSet::kCl100k) : RuleSet::kWhole;
    handle_finish(h);
    return h;
  };
  static const EncodingHandle handles[2][2] = {{make(false, false), make(false, true)},
                                               {make(true, false), make(true, true)}};
  return handles[o200k][split];
}

}  // namespace velkan

#endif  // VELKAN_TESTS_EMBEDDED_ENCODINGS_H_
