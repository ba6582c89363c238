// The embedded vocabularies of the registry (vocab/registry.h), each built
// at most once per test process and shared by every test file and fuzz
// target (a build takes a good part of a second), and handles on them as the
// encoding cache makes them. A suite that should hold for every vocabulary
// takes its parameter from embedded_vocabulary_names(), so a vocabulary added
// to the table is tested without an edit here.

#ifndef VELKAN_TESTS_EMBEDDED_ENCODINGS_H_
#define VELKAN_TESTS_EMBEDDED_ENCODINGS_H_

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <string_view>
#include <vector>

#include "core/build.h"
#include "presplit/rule_set.h"
#include "vocab/embedded.h"
#include "vocab/encoding_handle.h"
#include "vocab/registry.h"

namespace velkan {

// The registry index of a vocabulary's name or short name; aborts on a name
// the registry does not have (a test's typo, not a case to test).
inline size_t embedded_index(std::string_view name) {
  const int index = find_vocabulary(name);
  if (index < 0) {
    std::fprintf(stderr, "embedded_encodings.h: no vocabulary %.*s in the registry\n",
                 static_cast<int>(name.size()), name.data());
    std::abort();
  }
  return static_cast<size_t>(index);
}

// The short names of every vocabulary, in registry order: values for a
// parametrized suite (and its test names).
inline std::vector<std::string_view> embedded_vocabulary_names() {
  std::vector<std::string_view> names;
  for (const VocabularyInfo& info : vocabularies()) names.push_back(info.short_name);
  return names;
}

inline const BytePairEncoding& embedded_encoding(std::string_view name) {
  static std::mutex mutex;
  static std::vector<BytePairEncodingPtr> built(vocabularies().size());
  const size_t i = embedded_index(name);
  std::lock_guard<std::mutex> lock(mutex);
  if (!built[i]) {
    const VocabularyInfo& info = vocabularies()[i];
    built[i] = bpe_build(info.token_bytes, info.token_starts, info.num_tokens);
  }
  return *built[i];
}

// A handle on an embedded vocabulary with its pair filter; with the
// registry's rule set, or with none (texts encoded whole).
inline const EncodingHandle& embedded_handle(std::string_view name, bool split = true) {
  static std::mutex mutex;
  static std::vector<std::unique_ptr<EncodingHandle>> made(2 * vocabularies().size());
  const size_t i = embedded_index(name);
  std::lock_guard<std::mutex> lock(mutex);
  std::unique_ptr<EncodingHandle>& h = made[2 * i + (split ? 1 : 0)];
  if (!h) {
    h = std::make_unique<EncodingHandle>();
    h->encoding = &embedded_encoding(name);
    h->rule_set = split ? vocabularies()[i].rule_set : RuleSet::kWhole;
    handle_finish(*h);
  }
  return *h;
}

// A literal would otherwise take the bool overloads below.
inline const BytePairEncoding& embedded_encoding(const char* name) {
  return embedded_encoding(std::string_view(name));
}
inline const EncodingHandle& embedded_handle(const char* name, bool split = true) {
  return embedded_handle(std::string_view(name), split);
}

// cl100k_base or o200k_base, for the tests of facts about those two.
inline const BytePairEncoding& embedded_encoding(bool o200k) {
  return embedded_encoding(std::string_view(o200k ? "o200k" : "cl100k"));
}
inline const EncodingHandle& embedded_handle(bool o200k, bool split = true) {
  return embedded_handle(std::string_view(o200k ? "o200k" : "cl100k"), split);
}

}  // namespace velkan

#endif  // VELKAN_TESTS_EMBEDDED_ENCODINGS_H_
