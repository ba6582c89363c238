// The encoding cache: every registry entry is made exactly once however many
// threads ask at once, from the first valid image offered, and the call that
// made it says which image it took and which it refused.

#include "vocab/encoding_cache.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "driver/piecewise.h"
#include "embedded_encodings.h"
#include "util/joining_thread.h"
#include "vocab/image.h"
#include "vocab/registry.h"

namespace velkan {
namespace {

void write_file(const std::string& path, const std::vector<uint8_t>& bytes) {
  std::FILE* f = std::fopen(path.c_str(), "wb");
  ASSERT_NE(f, nullptr);
  ASSERT_EQ(std::fwrite(bytes.data(), 1, bytes.size(), f), bytes.size());
  ASSERT_EQ(std::fclose(f), 0);
}

TEST(Registry, EntriesAreConsistent) {
  ASSERT_GE(vocabularies().size(), 2u);
  for (size_t i = 0; i < vocabularies().size(); i++) {
    const VocabularyInfo& info = vocabularies()[i];
    EXPECT_EQ(find_vocabulary(info.name), static_cast<int>(i));
    EXPECT_EQ(find_vocabulary(info.short_name), static_cast<int>(i));
    EXPECT_EQ(info.token_starts[0], 0u);
    EXPECT_NE(info.image_digest, ImageDigest{}) << info.name;
    EXPECT_NE(info.rule_set, RuleSet::kWhole) << info.name;
  }
  EXPECT_EQ(find_vocabulary("p50k_edit"), -1);  // an encoding over p50k_base's ranks
}

// The only test that makes a cache entry: the cache is process-wide.
TEST(EncodingCache, MadeOnceFromTheFirstValidImage) {
  const size_t index = static_cast<size_t>(find_vocabulary("cl100k_base"));
  ASSERT_FALSE(encoding_cache_has(index));
  char dir_template[] = "/tmp/velkan_cache_XXXXXX";
  ASSERT_NE(mkdtemp(dir_template), nullptr);
  const std::string dir = dir_template;
  const std::string garbage = dir + "/garbage.bin", missing = dir + "/missing.bin",
                    good = dir + "/good.bin";
  write_file(garbage, std::vector<uint8_t>(4096, 7));
  write_file(good, bpe_to_image(embedded_encoding(false)));
  const std::vector<std::string> paths = {missing, garbage, good, garbage};

  constexpr int kThreads = 6;
  std::vector<EncodingMade> made(kThreads);
  std::vector<const EncodingHandle*> handles(kThreads, nullptr);
  {
    std::vector<JoiningThread> threads;
    for (int t = 0; t < kThreads; t++) {
      threads.emplace_back(
          [&, t] { handles[ix(t)] = &encoding_cache_get(index, paths, &made[ix(t)]); });
    }
  }
  int makers = 0;
  for (int t = 0; t < kThreads; t++) {
    EXPECT_EQ(handles[ix(t)], handles[0]);
    if (!made[ix(t)].made_here) continue;
    makers++;
    EXPECT_EQ(made[ix(t)].loaded_from, good);
    EXPECT_EQ(made[ix(t)].refused, std::vector<std::string>{garbage});
  }
  EXPECT_EQ(makers, 1);
  EXPECT_TRUE(encoding_cache_has(index));
  EXPECT_EQ(handles[0]->rule_set, RuleSet::kCl100k);
  // The copy of the forward automaton is not held, and an image written
  // from the entry is still the whole image, byte for byte.
  const BytePairEncoding& entry = *handles[0]->encoding;
  EXPECT_TRUE(entry.alt_shares_forward);
  EXPECT_TRUE(entry.forward_automaton_alt.states.empty() &&
              entry.forward_automaton_alt.base.empty());
  EXPECT_EQ(entry.forward_automaton_alt.kind, kForwardAltAutomaton);
  EXPECT_EQ(bpe_to_image(entry), bpe_to_image(embedded_encoding(false)));
  const std::string text = "The copy, not held: \xE4\xB8\xAD\xE6\x96\x87 text_with_ids = 12345;\n";
  const auto* bytes = reinterpret_cast<const uint8_t*>(text.data());
  EXPECT_EQ(piecewise_encode(*handles[0], bytes, text.size()),
            piecewise_encode(embedded_handle("cl100k_base"), bytes, text.size()));

  // Made: later calls read no paths and report nothing.
  EncodingMade again;
  EXPECT_EQ(&encoding_cache_get(index, std::vector<std::string>{"/nonexistent"}, &again),
            handles[0]);
  EXPECT_FALSE(again.made_here);
  for (const std::string& p : {garbage, good}) std::remove(p.c_str());
  rmdir(dir.c_str());
}

}  // namespace
}  // namespace velkan
