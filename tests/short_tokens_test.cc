// The table of short tokens must answer exactly as the automaton walk it
// stands in for: every token of up to eight bytes by its id, whether the
// piece is read as a whole word or byte by byte, and "not a token" or "ask
// the automaton" for everything else.

#include "driver/short_tokens.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "core/automaton.h"
#include "embedded_encodings.h"

namespace velkan {
namespace {

class ShortTokensTest : public ::testing::TestWithParam<bool> {};

TEST_P(ShortTokensTest, AgreesWithTheAutomaton) {
  const BytePairEncoding& bpe = embedded_encoding(GetParam());
  ShortTokens table;
  table.build(bpe);
  ASSERT_FALSE(table.empty());
  // Every token, in a buffer with room to read a word and without.
  std::vector<uint8_t> padded(16, 0xAB);
  for (uint32_t id = 0; id < bpe.num_tokens; id++) {
    const uint64_t len = bpe.token_length(id);
    if (len > ShortTokens::kMaxBytes) continue;
    std::copy(bpe.token_data(id), bpe.token_data(id) + len, padded.begin());
    const auto want = static_cast<int32_t>(id);
    ASSERT_EQ(table.find(padded.data(), len, padded.size()), want) << id;
    ASSERT_EQ(table.find(bpe.token_data(id), len, len), want) << id;
  }
  // Random short byte strings, many of them not tokens; the bytes after the
  // piece must not matter.
  std::mt19937_64 rng(GetParam() ? 3 : 4);
  const std::string alphabet = std::string("eta ois\n'\0\xff\xc3\xa9", 14);
  for (int n = 0; n < 200000; n++) {
    const uint64_t len = 1 + rng() % 10;
    uint8_t piece[16];
    for (uint8_t& b : piece) b = static_cast<uint8_t>(alphabet[rng() % alphabet.size()]);
    const int32_t walk = automaton_whole_token(bpe.forward_automaton, piece, len);
    const int32_t found = table.find(piece, len, sizeof piece);
    if (len > ShortTokens::kMaxBytes) {
      ASSERT_EQ(found, ShortTokens::kUnknown);
    } else {
      ASSERT_EQ(found, walk < 0 ? ShortTokens::kNotToken : walk) << n;
      ASSERT_EQ(table.find(piece, len, len), found) << n;
    }
  }
}

std::string vocabulary_name(const ::testing::TestParamInfo<bool>& param) {
  return param.param ? "o200k" : "cl100k";
}

INSTANTIATE_TEST_SUITE_P(Vocabularies, ShortTokensTest, ::testing::Values(false, true),
                         vocabulary_name);

TEST(ShortTokens, AnEmptyTableDefersToTheAutomaton) {
  const ShortTokens table;
  const uint8_t piece[] = "the";
  EXPECT_EQ(table.find(piece, 3, 3), ShortTokens::kUnknown);
}

}  // namespace
}  // namespace velkan
