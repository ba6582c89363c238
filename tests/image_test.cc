// Precomputed images: a written image loads back to an equal record, and
// damaged or foreign images are refused rather than trusted.

#include "vocab/image.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "embedded_encodings.h"

namespace velkan {
namespace {

const uint8_t* bytes_of(bool o200k) { return o200k ? o200k_token_bytes : cl100k_token_bytes; }
const uint32_t* starts_of(bool o200k) { return o200k ? o200k_token_starts : cl100k_token_starts; }
uint32_t count_of(bool o200k) { return o200k ? kO200kTokens : kCl100kTokens; }

BytePairEncodingPtr load(bool o200k, const std::vector<uint8_t>& image) {
  return bpe_from_image(bytes_of(o200k), starts_of(o200k), count_of(o200k), image.data(),
                        image.size());
}

const std::vector<uint8_t>& image_of(bool o200k) {
  if (o200k) {
    static const std::vector<uint8_t> o = bpe_to_image(embedded_encoding(true));
    return o;
  }
  static const std::vector<uint8_t> cl = bpe_to_image(embedded_encoding(false));
  return cl;
}

class Image : public ::testing::TestWithParam<bool> {};
INSTANTIATE_TEST_SUITE_P(Vocabularies, Image, ::testing::Values(false, true),
                         [](const auto& info) { return info.param ? "o200k" : "cl100k"; });

TEST_P(Image, BuiltRecordPassesTheChecks) { EXPECT_TRUE(bpe_check_tables(embedded_encoding(GetParam()))); }

TEST_P(Image, LoadsBackToAnEqualRecord) {
  const BytePairEncoding& built = embedded_encoding(GetParam());
  BytePairEncodingPtr loaded = load(GetParam(), image_of(GetParam()));
  ASSERT_NE(loaded, nullptr);
  // Writing the loaded record gives the same bytes: every table survived.
  EXPECT_EQ(bpe_to_image(*loaded), image_of(GetParam()));
  EXPECT_EQ(loaded->token_bytes, built.token_bytes);
  EXPECT_EQ(loaded->token_starts, built.token_starts);
  EXPECT_EQ(loaded->forward_automaton.size, loaded->forward_automaton.state_count);
}

TEST_P(Image, RefusesDamage) {
  const std::vector<uint8_t>& good = image_of(GetParam());
  auto with = [&](size_t offset, uint32_t value) {
    std::vector<uint8_t> image = good;
    std::memcpy(image.data() + offset, &value, 4);
    return image;
  };
  const size_t n = count_of(GetParam());
  const size_t body = kImageHeaderSize;
  std::vector<std::vector<uint8_t>> damaged = {
      std::vector<uint8_t>(good.begin(), good.end() - 1),            // truncated
      [&] { auto i = good; i.push_back(0); return i; }(),             // padded
      std::vector<uint8_t>(good.begin(), good.begin() + 64),         // header only
      {},                                                             // empty
      with(0, static_cast<uint32_t>(n + 1)),                          // token count
      with(12, 1u << 30),                                             // index capacity
      with(body + 4 * 1000, 0xFFFFFFF0u),                             // split out of range
      with(body + 4 * 1000, 999),                                     // split that spells another token
      with(body + 8 * n + 4 * 300, 299),                              // next_prefix not a prefix
      with(good.size() - 4, 0x7FFFFFF0u),                             // reverse check out of range
      with(good.size() - 8 * 1000, 5),                                // a base moved
  };
  for (size_t i = 0; i < damaged.size(); i++) {
    EXPECT_EQ(load(GetParam(), damaged[i]), nullptr) << "case " << i;
  }
}

TEST(Image, ForeignVocabularyIsRefused) {
  // The cl100k image over the o200k tokens: the token count differs.
  EXPECT_EQ(load(true, image_of(false)), nullptr);
}

TEST(SiblingPath, PrefixRules) {
  EXPECT_EQ(sibling_path("/a/b/__init__.py", "x.bin"), "/a/b/x.bin");
  EXPECT_EQ(sibling_path("__init__.py", "x.bin"), "x.bin");
  EXPECT_EQ(sibling_path("a\\b/c\\__init__.py", "x.bin"), "a\\b/c\\x.bin");
  EXPECT_EQ(sibling_path("a/b\\c/__init__.py", "x.bin"), "a/b\\c/x.bin");
  // The joined path and its terminating zero must fit in 4095 bytes.
  const std::string dir(4088, 'd');
  ASSERT_TRUE(sibling_path(dir + "/f", "x.bin").has_value());
  EXPECT_EQ(sibling_path(dir + "/f", "x.bin")->size(), 4094u);
  EXPECT_FALSE(sibling_path(dir + "d/f", "x.bin").has_value());
}

}  // namespace
}  // namespace velkan
