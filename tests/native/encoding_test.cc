// Token store, token index and decoding, on small hand-made vocabularies and
// on the two embedded ones.

#include "core/encoding.h"

#include <gtest/gtest.h>

#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "core/build.h"
#include "vocab/embedded.h"

namespace velkan {
namespace {

// A record holding the given tokens (token store and index only).
BytePairEncodingPtr make_store(const std::vector<std::string>& tokens) {
  std::string bytes;
  std::vector<uint32_t> starts{0};
  for (const std::string& t : tokens) {
    bytes += t;
    starts.push_back(static_cast<uint32_t>(bytes.size()));
  }
  auto bpe = std::make_unique<BytePairEncoding>();
  bpe_store_tokens(*bpe, reinterpret_cast<const uint8_t*>(bytes.data()), starts.data(),
                   static_cast<uint32_t>(tokens.size()));
  return bpe;
}

int32_t find(const BytePairEncoding& bpe, const std::string& key) {
  return token_index_find(bpe.token_index, bpe.token_bytes.data(), bpe.token_starts.data(),
                          bpe.hash_factor, reinterpret_cast<const uint8_t*>(key.data()),
                          key.size());
}

const BytePairEncoding& embedded(bool o200k) {
  static BytePairEncodingPtr cl = [] {
    auto b = std::make_unique<BytePairEncoding>();
    bpe_store_tokens(*b, cl100k_token_bytes, cl100k_token_starts, kCl100kTokens);
    return b;
  }();
  static BytePairEncodingPtr o = [] {
    auto b = std::make_unique<BytePairEncoding>();
    bpe_store_tokens(*b, o200k_token_bytes, o200k_token_starts, kO200kTokens);
    return b;
  }();
  return o200k ? *o : *cl;
}

TEST(TokenHash, KnownValues) {
  struct Case {
    std::string text;
    uint32_t hash;
  };
  // FNV-1a 64, times the construction factor, high 32 bits.
  for (const Case& c : {Case{"", 0xda90e578u}, Case{"a", 0x8945e136u}, Case{"hello", 0xaa6df3dbu},
                        Case{" world", 0xc8a1846bu}}) {
    EXPECT_EQ(
        token_hash(reinterpret_cast<const uint8_t*>(c.text.data()), c.text.size(), kHashFactor),
        c.hash)
        << c.text;
  }
}

TEST(TokenIndex, CapacityRule) {
  EXPECT_EQ(hash_table_capacity(0), 16u);
  EXPECT_EQ(hash_table_capacity(4), 16u);
  EXPECT_EQ(hash_table_capacity(5), 32u);
  EXPECT_EQ(hash_table_capacity(32768), 131072u);
  EXPECT_EQ(hash_table_capacity(kCl100kTokens), 524288u);
  EXPECT_EQ(hash_table_capacity(kO200kTokens), 1048576u);
  EXPECT_EQ(make_store({"a", "b", "c", "d"})->token_index.capacity, 16u);
  EXPECT_EQ(make_store({"a", "b", "c", "d", "e"})->token_index.capacity, 32u);
}

TEST(TokenIndex, FindsTokensAndRejectsOthers) {
  BytePairEncodingPtr bpe = make_store({"a", "b", "ab", "", "abc"});
  EXPECT_EQ(bpe->token_index.count, 4u);  // the empty token is a gap
  EXPECT_EQ(bpe->hash_factor, kHashFactor);
  EXPECT_EQ(find(*bpe, "a"), 0);
  EXPECT_EQ(find(*bpe, "ab"), 2);
  EXPECT_EQ(find(*bpe, ""), -1);
  EXPECT_EQ(find(*bpe, "abc"), 4);
  EXPECT_EQ(find(*bpe, "ba"), -1);
  EXPECT_EQ(find(*bpe, "abcd"), -1);
}

TEST(TokenIndex, DuplicateTokensGetSlotsOfTheirOwn) {
  BytePairEncodingPtr bpe = make_store({"x", "x"});
  EXPECT_EQ(bpe->token_index.count, 2u);
  EXPECT_EQ(find(*bpe, "x"), 0);  // the first inserted sits earlier in the probe
}

// A key whose stored hash equals a token's but whose bytes differ is absent.
// Storing reports whether a token equals an earlier one: construction
// leaves out a lookup of every split only when none does, so a missed pair
// would split the later of two equal tokens, which must stay whole.
TEST(TokenIndex, StoringReportsEqualTokens) {
  struct Case {
    std::vector<std::string> tokens;
    bool equal;
  };
  for (const Case& c : {Case{{"a", "b", "ab"}, false}, Case{{"a", "b", "ab", "ab"}, true},
                        Case{{"a", "", "b", ""}, false}, Case{{"xy", "a", "xy"}, true}}) {
    std::string bytes;
    std::vector<uint32_t> starts{0};
    for (const std::string& t : c.tokens)
      starts.push_back(static_cast<uint32_t>((bytes += t).size()));
    const auto n = static_cast<uint32_t>(c.tokens.size());
    const auto* data = reinterpret_cast<const uint8_t*>(bytes.data());
    auto bpe = std::make_unique<BytePairEncoding>();
    EXPECT_EQ(bpe_store_tokens(*bpe, data, starts.data(), n), c.equal) << c.tokens.size();
  }
  for (bool o200k : {false, true}) {
    auto bpe = std::make_unique<BytePairEncoding>();
    EXPECT_FALSE(
        o200k ? bpe_store_tokens(*bpe, o200k_token_bytes, o200k_token_starts, kO200kTokens)
              : bpe_store_tokens(*bpe, cl100k_token_bytes, cl100k_token_starts, kCl100kTokens));
  }
  // The later "ab" of two: a and b already merge into the earlier one.
  const std::string bytes = "ababab";
  const uint32_t starts[] = {0, 1, 2, 4, 6};
  BytePairEncodingPtr built = bpe_build(reinterpret_cast<const uint8_t*>(bytes.data()), starts, 4);
  EXPECT_EQ(built->split_left[2], 0u);
  EXPECT_EQ(built->split_left[3], 3u);
  EXPECT_EQ(built->split_right[3], 3u);
}

TEST(TokenIndex, HashMatchWithOtherBytesIsAbsent) {
  const BytePairEncoding& o = embedded(true);
  const std::string later(reinterpret_cast<const char*>(o.token_data(79511)),
                          o.token_length(79511));
  BytePairEncodingPtr only_earlier = make_store(
      {std::string(reinterpret_cast<const char*>(o.token_data(24008)), o.token_length(24008))});
  EXPECT_EQ(find(*only_earlier, later), -1);
}

TEST(TokenIndex, EmbeddedStoredHashes) {
  // cl100k: all stored hashes distinct. o200k: exactly six colliding pairs.
  for (bool o200k : {false, true}) {
    const BytePairEncoding& bpe = embedded(o200k);
    std::multiset<uint32_t> hashes;
    for (const TokenIndexEntry& e : bpe.token_index.entries) {
      if (e.token != -1) hashes.insert(e.hash);
    }
    EXPECT_EQ(hashes.size(), bpe.num_tokens);
    size_t repeated = 0;
    for (auto it = hashes.begin(); it != hashes.end(); it = hashes.upper_bound(*it)) {
      repeated += hashes.count(*it) - 1;
    }
    EXPECT_EQ(repeated, o200k ? 6u : 0u);
  }
}

// Both tokens of each o200k pair with equal stored hashes are found.
TEST(TokenIndex, CollidingPairsAreBothFound) {
  const BytePairEncoding& o = embedded(true);
  const std::pair<uint32_t, uint32_t> pairs[] = {{12622, 87215},  {24008, 79511}, {38717, 176506},
                                                 {65316, 115185}, {68905, 73962}, {98010, 125259}};
  for (auto [a, b] : pairs) {
    EXPECT_EQ(token_hash(o.token_data(a), o.token_length(a), kHashFactor),
              token_hash(o.token_data(b), o.token_length(b), kHashFactor));
    for (uint32_t id : {a, b}) {
      std::string key(reinterpret_cast<const char*>(o.token_data(id)), o.token_length(id));
      EXPECT_EQ(find(o, key), static_cast<int32_t>(id));
    }
  }
}

TEST(TokenIndex, EveryEmbeddedTokenIsFound) {
  for (bool o200k : {false, true}) {
    const BytePairEncoding& bpe = embedded(o200k);
    for (uint32_t id = 0; id < bpe.num_tokens; id++) {
      ASSERT_EQ(token_index_find(bpe.token_index, bpe.token_bytes.data(), bpe.token_starts.data(),
                                 bpe.hash_factor, bpe.token_data(id), bpe.token_length(id)),
                static_cast<int32_t>(id));
    }
  }
}

TEST(Decode, EmptyArrayGivesEmptyBytes) {
  BytePairEncodingPtr bpe = make_store({"a"});
  std::optional<std::string> out = bpe_decode_tokens(*bpe, nullptr, 0);
  ASSERT_TRUE(out.has_value());
  EXPECT_EQ(out->size(), 0u);
  EXPECT_EQ(out->c_str()[0], '\0');
}

TEST(Decode, OutOfRangeIdGivesNothing) {
  const BytePairEncoding& bpe = embedded(false);
  const uint32_t ids[] = {0, 1, kCl100kTokens};
  EXPECT_FALSE(bpe_decode_tokens(bpe, ids, 3).has_value());
  EXPECT_FALSE(bpe_decoded_length(bpe, ids, 3).has_value());
  const uint32_t huge[] = {0xFFFFFFFFu};
  EXPECT_FALSE(bpe_decode_tokens(bpe, huge, 1).has_value());
  const uint32_t last[] = {kCl100kTokens - 1};
  EXPECT_TRUE(bpe_decode_tokens(bpe, last, 1).has_value());
}

TEST(Decode, ConcatenatesBytesUnrepaired) {
  BytePairEncodingPtr bpe = make_store({"ab", "\xe4", "\xb8\xad", ""});
  const uint32_t ids[] = {0, 1, 2, 0, 1};
  std::optional<std::string> out = bpe_decode_tokens(*bpe, ids, 5);
  ASSERT_TRUE(out.has_value());
  EXPECT_EQ(*out,
            "ab\xe4\xb8\xad"
            "ab\xe4");
  const uint32_t gap[] = {0, 3};  // an empty token is a gap in the ranks
  EXPECT_FALSE(bpe_decode_tokens(*bpe, gap, 2).has_value());
}

TEST(EmbeddedVocabulary, CountsAndOffsets) {
  EXPECT_EQ(cl100k_token_starts[0], 0u);
  EXPECT_EQ(cl100k_token_starts[kCl100kTokens], kCl100kBytes);
  EXPECT_EQ(o200k_token_starts[0], 0u);
  EXPECT_EQ(o200k_token_starts[kO200kTokens], kO200kBytes);
  for (bool o200k : {false, true}) {
    const BytePairEncoding& bpe = embedded(o200k);
    int longest = 0;
    for (uint32_t id = 0; id < bpe.num_tokens; id++) {
      uint32_t length = bpe.token_length(id);
      ASSERT_GE(length, 1u);
      ASSERT_LE(length, 128u);
      longest += length == 128;
    }
    EXPECT_EQ(longest, 1);
  }
}

TEST(EmbeddedVocabulary, FirstIdsAreTheSingleBytes) {
  for (bool o200k : {false, true}) {
    const BytePairEncoding& bpe = embedded(o200k);
    const uint32_t zero = 0;
    EXPECT_EQ(bpe_decode_tokens(bpe, &zero, 1), std::string("\x21"));
    std::set<uint8_t> seen;
    for (uint32_t id = 0; id < 256; id++) {
      std::optional<std::string> out = bpe_decode_tokens(bpe, &id, 1);
      ASSERT_TRUE(out.has_value());
      ASSERT_EQ(out->size(), 1u);
      seen.insert(static_cast<uint8_t>((*out)[0]));
    }
    EXPECT_EQ(seen.size(), 256u);
  }
}

}  // namespace
}  // namespace velkan
