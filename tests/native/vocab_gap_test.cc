// Ranks with gaps (a rank that holds no token, as p50k_base leaves 50256 to a
// special token), and the images of every registry vocabulary.

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "core/build.h"
#include "core/encoder.h"
#include "vocab/embedded.h"
#include "vocab/image.h"
#include "vocab/registry.h"

namespace velkan {
namespace {

// All 256 bytes, then the given tokens; "" is a gap.
BytePairEncodingPtr build_with(const std::vector<std::string>& extra) {
  std::string bytes;
  std::vector<uint32_t> starts{0};
  for (int b = 0; b < 256; b++) {
    bytes.push_back(static_cast<char>(b));
    starts.push_back(static_cast<uint32_t>(bytes.size()));
  }
  for (const std::string& t : extra) {
    bytes += t;
    starts.push_back(static_cast<uint32_t>(bytes.size()));
  }
  return bpe_build(reinterpret_cast<const uint8_t*>(bytes.data()), starts.data(),
                   static_cast<uint32_t>(starts.size() - 1));
}

std::vector<uint32_t> encode(const BytePairEncoding& bpe, const std::string& text) {
  return bpe_encode(bpe, reinterpret_cast<const uint8_t*>(text.data()), text.size());
}

TEST(Gaps, NeverEncodedNeverDecodedAndImagesRoundTrip) {
  // Gaps first, between and last; "ab" merges across the gap's rank.
  BytePairEncodingPtr bpe = build_with({"", "ab", "", "abc", ""});
  ASSERT_TRUE(bpe_check_tables(*bpe));
  EXPECT_EQ(bpe->token_index.count, 258u);
  EXPECT_EQ(encode(*bpe, "abcab"), (std::vector<uint32_t>{259, 257}));
  EXPECT_EQ(encode(*bpe, ""), std::vector<uint32_t>{});
  for (uint32_t gap : {256u, 258u, 260u}) {
    EXPECT_EQ(bpe->next_prefix[gap], -1);
    EXPECT_EQ(bpe->split_left[gap], gap);
    EXPECT_FALSE(bpe_decode_tokens(*bpe, &gap, 1).has_value()) << gap;
  }
  const std::vector<uint8_t> image = bpe_to_image(*bpe);
  BytePairEncodingPtr loaded = bpe_from_image(bpe->token_bytes.data(), bpe->token_starts.data(),
                                              bpe->num_tokens, image.data(), image.size());
  ASSERT_NE(loaded, nullptr);
  EXPECT_EQ(bpe_to_image(*loaded), image);
}

TEST(Gaps, AnIndexSlotForAGapIsRefused) {
  BytePairEncodingPtr bpe = build_with({"", "ab"});
  // Point the slot of "ab" (257) at the gap (256).
  for (TokenIndexEntry& e : bpe->token_index.entries) {
    if (e.token == 257) e.token = 256;
  }
  EXPECT_FALSE(bpe_check_tables(*bpe));
}

// p50k_base is r50k_base plus 24 runs of spaces after a gap at 50256, and the
// two share their embedded bytes.
TEST(Gaps, P50kExtendsR50kAfterOneGap) {
  ASSERT_EQ(kP50kTokens, 50281u);
  ASSERT_EQ(kR50kTokens, 50256u);
  EXPECT_EQ(p50k_token_bytes, r50k_token_bytes);
  EXPECT_EQ(0, std::memcmp(p50k_token_starts, r50k_token_starts, 4 * (kR50kTokens + 1)));
  EXPECT_EQ(p50k_token_starts[50256], p50k_token_starts[50257]);
  for (uint32_t id = 50257; id < kP50kTokens; id++) {
    EXPECT_EQ(p50k_token_starts[id + 1] - p50k_token_starts[id], id - 50257 + 2) << id;
  }
}

// The digest the cache trusts is that of the image construction writes now,
// for every vocabulary of the registry (cl100k and o200k: image_test.cc).
TEST(RegistryImages, KnownDigestIsTheBuiltImages) {
  for (const VocabularyInfo& info : vocabularies()) {
    if (info.name == "cl100k_base" || info.name == "o200k_base") continue;
    BytePairEncodingPtr bpe = bpe_build(info.token_bytes, info.token_starts, info.num_tokens);
    ASSERT_TRUE(bpe_check_tables(*bpe)) << info.name;
    const std::vector<uint8_t> image = bpe_to_image(*bpe);
    const auto held = static_cast<size_t>(image_held_size(*bpe));
    EXPECT_EQ(digest_to_hex(image_digest(image.data(), held)), digest_to_hex(info.image_digest))
        << info.name << ": construction changed its output: update the image digest";
    EXPECT_NE(bpe_from_image(info.token_bytes, info.token_starts, info.num_tokens, image.data(),
                             image.size(), info.image_digest),
              nullptr)
        << info.name;
  }
}

}  // namespace
}  // namespace velkan
