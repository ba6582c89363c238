// Backtracking encoder: single steps, limits and scratch reuse on small
// vocabularies; the embedded cl100k and o200k records; and agreement with a
// plain rank-merge encoder (merge the adjacent pair whose joint bytes are the
// lowest-ranked token, leftmost on ties, until no pair forms a token).

#include "core/encoder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "core/automaton.h"
#include "core/build.h"
#include "core/pair_table.h"
#include "embedded_encodings.h"
#include "rank_merge.h"
#include "vocab/embedded.h"

namespace velkan {
namespace {

const uint8_t* u8(std::string_view s) { return reinterpret_cast<const uint8_t*>(s.data()); }
std::vector<uint32_t> encode(const BytePairEncoding& bpe, std::string_view s) {
  return bpe_encode(bpe, u8(s), s.size());
}
std::string bytes_of(const BytePairEncoding& bpe, uint32_t id) {
  return std::string(reinterpret_cast<const char*>(bpe.token_data(id)), bpe.token_length(id));
}

// The 256 single bytes as ids 0 to 255 (id = byte value), then extra tokens.
BytePairEncodingPtr build(const std::vector<std::string>& extra) {
  std::string bytes;
  std::vector<uint32_t> starts{0};
  for (int b = 0; b < 256; b++)
    starts.push_back(static_cast<uint32_t>((bytes += static_cast<char>(b)).size()));
  for (const std::string& t : extra) starts.push_back(static_cast<uint32_t>((bytes += t).size()));
  return bpe_build(u8(bytes), starts.data(), static_cast<uint32_t>(starts.size() - 1));
}

const BytePairEncoding& embedded(bool o200k) { return embedded_encoding(o200k); }

// The reference encoder (rank_merge.h) over a string.
std::vector<uint32_t> reference_encode(const BytePairEncoding& bpe, std::string_view text) {
  return rank_merge(bpe, u8(text), text.size());
}

TEST(Encoder, BacktrackingWalkThrough) {
  BytePairEncodingPtr bpe = build({"bc", "ab"});  // 256, 257
  BacktrackEncoder e;
  encoder_init(e, *bpe, u8("abc"), 3, 0);
  EXPECT_EQ(e.next_token, 257);
  EXPECT_EQ(encoder_step(e), 99);   // 257 accepted at 0..2
  EXPECT_EQ(encoder_step(e), 257);  // (257, 99) invalid: 2 is a dead end, 257 popped
  EXPECT_EQ(e.scratch.allowed[0], ~uint64_t{4});
  EXPECT_EQ(e.token_count, 0u);
  EXPECT_EQ(encoder_step(e), 256);  // 257 ends at 2; its prefix 97 is accepted
  EXPECT_EQ(encoder_step(e), -1);   // 256 accepted
  EXPECT_EQ(std::vector<uint32_t>(e.tokens(), e.tokens() + e.token_count),
            (std::vector<uint32_t>{97, 256}));
  EXPECT_EQ(encoder_step(e), -1);
  EXPECT_EQ(e.pos, 3u);
  EXPECT_EQ(encode(*bpe, "ab"), std::vector<uint32_t>{257});
  EXPECT_TRUE(encode(*bpe, "").empty());
  EXPECT_EQ(bpe_count(*bpe, u8(""), 0), 0u);
  EXPECT_EQ(bpe_count_till_limit(*bpe, u8(""), 0, 0), 0u);
}

TEST(Encoder, CountTillLimitAndStackGrowth) {
  BytePairEncodingPtr bpe = build({"aa", "aaaa", "ab"});
  const std::string text = std::string(37, 'a') + "abcab";
  const uint64_t n = bpe_count(*bpe, u8(text), text.size());
  ASSERT_EQ(n, 13u);
  for (auto [limit, want] : {std::pair{n, n},
                             {n - 1, UINT64_MAX},
                             {0, UINT64_MAX},
                             {uint64_t{1} << 40, n},
                             {UINT64_MAX - 10, n},
                             {UINT64_MAX, n}}) {
    EXPECT_EQ(bpe_count_till_limit(*bpe, u8(text), text.size(), limit), want) << limit;
  }
  BacktrackEncoder e;  // a stack of one entry doubles as needed
  encoder_init(e, *bpe, u8(text), text.size(), 1);
  encoder_run(e);
  EXPECT_EQ(e.scratch.token_capacity, 16u);
  EXPECT_EQ(std::vector<uint32_t>(e.tokens(), e.tokens() + e.token_count), encode(*bpe, text));
}

// A short piece after a long one keeps the larger buffers and resets only the
// bitfield words it needs; a longer one gets new buffers.
TEST(Encoder, BuffersReusedAcrossRuns) {
  BytePairEncodingPtr bpe = build({"aa", "ab", "aab"});
  const std::string pieces[] = {std::string(700, 'a') + "bab", "abaab", std::string(3000, 'a')};
  BacktrackEncoder e;
  const uint32_t* tokens = nullptr;
  uint64_t capacity = 0, words = 0;  // as the last run left them, the stack grown by it
  for (int i = 0; i < 3; i++) {
    if (i == 1) {
      std::fill(e.scratch.allowed.get(), e.scratch.allowed.get() + words, 0x5A5A5A5A5A5A5A5AULL);
    }
    encoder_init(e, *bpe, u8(pieces[i]), pieces[i].size(), 0);
    if (i == 1) {
      EXPECT_EQ(e.tokens(), tokens);
      EXPECT_EQ(e.scratch.token_capacity, capacity);
      EXPECT_EQ(e.scratch.allowed_words, words);
      EXPECT_EQ(e.scratch.allowed[0], ~uint64_t{0});
      for (uint64_t w = 1; w < words; w++) EXPECT_EQ(e.scratch.allowed[w], 0x5A5A5A5A5A5A5A5AULL);
    } else {
      EXPECT_EQ(e.scratch.token_capacity, pieces[i].size() / 3 + 16);
      EXPECT_EQ(e.scratch.allowed_words, (pieces[i].size() + 64) / 64);
    }
    encoder_run(e);
    EXPECT_EQ(std::vector<uint32_t>(e.tokens(), e.tokens() + e.token_count),
              encode(*bpe, pieces[i]));
    tokens = e.tokens();
    capacity = e.scratch.token_capacity;
    words = e.scratch.allowed_words;
  }
}

class Embedded : public ::testing::TestWithParam<bool> {};
INSTANTIATE_TEST_SUITE_P(Vocabularies, Embedded, ::testing::Values(false, true),
                         [](const auto& param_info) {
                           return param_info.param ? "o200k" : "cl100k";
                         });

// Every token but the single bytes splits into two older tokens that spell
// it, with one pair entry each. In o200k this includes 143962 = 6030 + 79511,
// whose right part shares its stored hash with the older 24008.
TEST_P(Embedded, SplitsAndSelfEncoding) {
  const BytePairEncoding& bpe = embedded(GetParam());
  for (uint32_t i = 0; i < bpe.num_tokens; i++) {
    const uint32_t l = bpe.split_left[i], r = bpe.split_right[i];
    if (i < 256) {
      ASSERT_TRUE(l == i && r == i && bpe.token_length(i) == 1) << i;
    } else {
      ASSERT_TRUE(l < i && r < i && bytes_of(bpe, l) + bytes_of(bpe, r) == bytes_of(bpe, i)) << i;
      ASSERT_EQ(pair_table_find(bpe.pair_table, l, r), static_cast<int32_t>(i));
    }
    ASSERT_EQ(encode(bpe, bytes_of(bpe, i)), std::vector<uint32_t>{i});
  }
  EXPECT_EQ(bpe.pair_table.count, bpe.num_tokens - 256);
  EXPECT_LE(uint64_t{bpe.pair_table.count} * 4, bpe.pair_table.capacity);
  EXPECT_TRUE(!GetParam() || bpe.split_right[143962] == 79511u);
}

// Appends a random code point from a mix of scripts as UTF-8.
void append_utf8(std::mt19937& rng, std::string& s) {
  static const uint32_t ranges[][2] = {
      {0x20, 0x7e},   {0x20, 0x7e},     {0x09, 0x0d},     {0xa0, 0x24f},    {0x400, 0x4ff},
      {0x600, 0x6ff}, {0x3040, 0x30ff}, {0x4e00, 0x9fff}, {0xac00, 0xd7a3}, {0x1f300, 0x1faff}};
  const auto& range = ranges[rng() % std::size(ranges)];
  const uint32_t c = range[0] + static_cast<uint32_t>(rng() % (range[1] - range[0] + 1));
  const int extra = c < 0x80 ? 0 : c < 0x800 ? 1 : c < 0x10000 ? 2 : 3;
  s += static_cast<char>(extra == 0 ? c : (0xFF00 >> (extra + 1)) | (c >> (6 * extra)));
  for (int k = extra - 1; k >= 0; k--) s += static_cast<char>(0x80 | ((c >> (6 * k)) & 0x3f));
}

TEST_P(Embedded, MatchesRankMerge) {
  const BytePairEncoding& bpe = embedded(GetParam());
  const char* const words[] = {" the", " of",   "ing", " tokenizer", "Hello",   ",",     ".\n",
                               "  ",   " 2024", "'s",  "\t",         " пример", " 東京", " 😀"};
  std::mt19937 rng(GetParam() ? 2 : 1);
  const PairFilter filter = pair_filter_build(bpe.pair_table);
  EncoderScratch scratch;  // shared, so long pieces are followed by short ones
  for (int i = 0; i < 3000; i++) {
    std::string text;
    const size_t length = i % 100 >= 97 ? 2000 : 1 + rng() % 60;
    while (text.size() < length) {
      switch (i % 5) {
      case 0:
        text += static_cast<char>(rng());
        break;  // not UTF-8
      case 1:
        append_utf8(rng, text);
        break;
      case 2:
        text += words[rng() % std::size(words)];
        break;
      case 3:
        text += bytes_of(bpe, static_cast<uint32_t>(rng() % bpe.num_tokens));
        break;
      default:
        text += std::string(length, " \n0a.-="[i / 5 % 7]);
        break;  // many equal ranks
      }
    }
    const std::vector<uint32_t> want = reference_encode(bpe, text);
    ASSERT_EQ(encode(bpe, text), want) << testing::PrintToString(text);
    ASSERT_EQ(bpe_count(bpe, u8(text), text.size()), want.size());
    ASSERT_EQ(bpe_count_till_limit(bpe, u8(text), text.size(), want.size() - 1), UINT64_MAX);
    const int32_t first = bpe_next_match(bpe, u8(text), text.size());
    for (const PairFilter* f : {static_cast<const PairFilter*>(nullptr), &filter}) {
      const uint64_t n = encoder_encode_piece(bpe, u8(text), text.size(), first, scratch, f);
      ASSERT_EQ(std::vector<uint32_t>(scratch.tokens.get(), scratch.tokens.get() + n), want);
    }
  }
}

// The filter holds every pair of the table, and the filtered validity test
// agrees with the plain one on pairs that merge, pairs that share a part with
// a merge, and random pairs.
TEST_P(Embedded, PairFilterKeepsEveryAnswer) {
  const BytePairEncoding& bpe = embedded(GetParam());
  const PairFilter filter = pair_filter_build(bpe.pair_table);
  EXPECT_LE(filter.words.size() * 64, bpe.pair_table.count * 16u);  // stays cache-sized
  uint64_t absent_passed = 0, absent = 0;
  std::mt19937 rng(7);
  for (uint32_t i = 256; i < bpe.num_tokens; i++) {
    const uint32_t l = bpe.split_left[i], r = bpe.split_right[i];
    ASSERT_TRUE(pair_filter_may_hold(filter, pair_hash(l, r))) << i;
    const uint32_t x = static_cast<uint32_t>(rng() % bpe.num_tokens);
    for (auto [a, b] : {std::pair{l, r}, std::pair{r, l}, std::pair{l, x}, std::pair{x, r},
                        std::pair{i, x}, std::pair{x, i}}) {
      ASSERT_EQ(bpe_is_valid_pair(bpe, filter, a, b), bpe_is_valid_pair(bpe, a, b))
          << a << " " << b;
      if (pair_table_find(bpe.pair_table, a, b) == -1) {
        absent++;
        absent_passed += pair_filter_may_hold(filter, pair_hash(a, b));
      }
    }
  }
  EXPECT_LT(absent_passed * 10, absent);  // it filters: under 10% false positives
}

// Random vocabularies grown as training grows them: each new token joins two
// adjacent parts of the reference encoding of some text. Few letters make
// pairs overlap and compete.
TEST(RandomVocabulary, MatchesRankMerge) {
  std::mt19937 rng(4242);
  for (int round = 0; round < 40; round++) {
    const int letters = 2 + round % 4;
    auto random_text = [&](size_t max_length) {
      std::string s(1 + rng() % max_length, 'a');
      for (char& c : s)
        c = static_cast<char>('a' + static_cast<int>(rng() % static_cast<unsigned>(letters)));
      return s;
    };
    std::vector<std::string> extra;
    BytePairEncodingPtr bpe = build(extra);
    for (int merges = 0; merges < 60; merges++) {
      const std::vector<uint32_t> parts = reference_encode(*bpe, random_text(12));
      if (parts.size() < 2) continue;
      const size_t k = rng() % (parts.size() - 1);
      extra.push_back(bytes_of(*bpe, parts[k]) + bytes_of(*bpe, parts[k + 1]));
      bpe = build(extra);
    }
    for (int k = 0; k < 150; k++) {
      const std::string text = random_text(k < 140 ? 24 : 400);
      ASSERT_EQ(encode(*bpe, text), reference_encode(*bpe, text))
          << "round " << round << ": " << text;
    }
  }
}

}  // namespace
}  // namespace velkan
