// The small merge (core/small_merge.h) and the driver's choice of it: the
// same ids as the backtracking encoder for every piece of the benchmark
// corpora that it takes and for random byte strings of every length around
// the driver's length classes, with and without the pair filter, for both
// embedded vocabularies.

#include "core/small_merge.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "core/encoder.h"
#include "driver/piece_ids.h"
#include "driver/piece_walk.h"
#include "embedded_encodings.h"

namespace velkan {
namespace {

class SmallMerge : public ::testing::TestWithParam<bool> {};
INSTANTIATE_TEST_SUITE_P(Vocabularies, SmallMerge, ::testing::Values(false, true),
                         [](const auto& param_info) {
                           return param_info.param ? "o200k" : "cl100k";
                         });

// Both encoders, and the driver's per-piece path, against the backtracking
// encoder on one piece.
void expect_same(const EncodingHandle& h, PieceIds<true>& driver, const std::string& piece) {
  const BytePairEncoding& bpe = *h.encoding;
  const auto* p = reinterpret_cast<const uint8_t*>(piece.data());
  const std::vector<uint32_t> want = bpe_encode(bpe, p, piece.size());
  std::vector<uint32_t> got;
  driver.encode(p, piece.size(), piece.size(),
                [&](const uint32_t* ids, uint64_t n) { got.assign(ids, ids + n); });
  ASSERT_EQ(got, want) << "driver, " << piece.size() << " bytes: " << testing::PrintToString(piece);
  if (piece.size() > kSmallMergeMaxBytes) return;
  uint32_t out[kSmallMergeMaxBytes];
  for (const PairFilter* filter : {static_cast<const PairFilter*>(nullptr), &h.pair_filter}) {
    for (const uint32_t* pairs : {static_cast<const uint32_t*>(nullptr), h.byte_pairs.data()}) {
      const uint64_t n = small_merge_piece(bpe, filter, pairs, p, piece.size(), out);
      ASSERT_EQ(std::vector<uint32_t>(out, out + n), want)
          << (filter ? "filtered, " : "") << (pairs ? "byte pairs, " : "") << piece.size()
          << " bytes: " << testing::PrintToString(piece);
    }
  }
}

TEST_P(SmallMerge, TakesThePiecesOfTheDriversShortClasses) {
  EXPECT_EQ(embedded_handle(GetParam()).small_merge_max, 16u);
}

// The table of byte pairs is the pair table's answer for every two single
// bytes, including the pairs no token of two bytes joins.
TEST_P(SmallMerge, BytePairsAreThePairTablesMerges) {
  const EncodingHandle& h = embedded_handle(GetParam());
  const BytePairEncoding& bpe = *h.encoding;
  ASSERT_EQ(h.byte_pairs.size(), 65536u);
  uint32_t tokens[256];
  for (int b = 0; b < 256; b++) {
    const uint8_t byte = static_cast<uint8_t>(b);
    tokens[b] = bpe_encode(bpe, &byte, 1).at(0);
  }
  uint32_t merges = 0;
  for (uint32_t pair = 0; pair < 65536; pair++) {
    const int32_t m = pair_table_find(bpe.pair_table, tokens[pair >> 8], tokens[pair & 255]);
    ASSERT_EQ(h.byte_pairs[pair], m < 0 ? UINT32_MAX : static_cast<uint32_t>(m)) << pair;
    merges += m >= 0;
  }
  EXPECT_GT(merges, 1000u);
}

TEST_P(SmallMerge, EveryPieceOfTheCorporaAsTheBacktrackingEncoder) {
  const EncodingHandle& h = embedded_handle(GetParam());
  PieceIds<true> driver(h);
  uint64_t pieces = 0;
  for (const char* name :
       {"english", "code", "multilingual", "docs", "scripts", "typographic", "cjk", "shell_perl"}) {
    std::ifstream in(std::string(VELKAN_CORPORA_DIR "/") + name + ".txt", std::ios::binary);
    const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    ASSERT_FALSE(text.empty()) << name;
    for_each_piece(h, reinterpret_cast<const uint8_t*>(text.data()), text.size(),
                   [&](uint64_t start, uint64_t end) {
                     expect_same(h, driver, text.substr(start, end - start));
                     pieces++;
                     return !testing::Test::HasFatalFailure();
                   });
    ASSERT_FALSE(HasFatalFailure()) << name;
  }
  EXPECT_GT(pieces, 100000u);
}

// Lengths 1 to 40 cover every class boundary (8/9, 16/17, 32/33); the
// strings mix arbitrary bytes, runs of one byte (many equal ranks) and
// joined tokens (many competing merges).
TEST_P(SmallMerge, RandomByteStringsOfEveryLength) {
  const EncodingHandle& h = embedded_handle(GetParam());
  const BytePairEncoding& bpe = *h.encoding;
  PieceIds<true> driver(h);
  std::mt19937 rng(GetParam() ? 24 : 42);
  for (uint64_t len = 1; len <= 40; len++) {
    for (int i = 0; i < 1500; i++) {
      std::string s;
      while (s.size() < len) {
        switch (i % 4) {
        case 0:
          s += static_cast<char>(rng());
          break;
        case 1:
          s += " \n0a.-=e"[rng() % (i % 8 == 1 ? 1 : 8)];
          break;
        default: {
          const auto id = static_cast<uint32_t>(rng() % bpe.num_tokens);
          s.append(reinterpret_cast<const char*>(bpe.token_data(id)), bpe.token_length(id));
          break;
        }
        }
      }
      s.resize(len);
      expect_same(h, driver, s);
      ASSERT_FALSE(HasFatalFailure());
    }
  }
}

}  // namespace
}  // namespace velkan
