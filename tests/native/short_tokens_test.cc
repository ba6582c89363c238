// The table of short tokens must answer exactly as the automaton walk it
// stands in for: every token of up to eight bytes and every ASCII token of up
// to sixteen by its id, whether the piece is read as whole words or byte by
// byte, and "not a token" or "ask the automaton" for everything else.

#include "core/short_tokens.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "core/automaton.h"
#include "embedded_encodings.h"

namespace velkan {
namespace {

class ShortTokensTest : public ::testing::TestWithParam<bool> {};

// What the table must answer for a piece the automaton walk maps to walk:
// pieces of more than a word are listed only when all ASCII.
int32_t expected(const uint8_t* piece, uint64_t len, int32_t walk) {
  if (len > ShortTokens::kMaxBytes) return ShortTokens::kUnknown;
  if (len > ShortTokens::kWordBytes) {
    for (uint64_t i = 0; i < len; i++) {
      if (piece[i] & 0x80) return ShortTokens::kUnknown;
    }
  }
  return walk < 0 ? ShortTokens::kNotToken : walk;
}

TEST_P(ShortTokensTest, AgreesWithTheAutomaton) {
  const BytePairEncoding& bpe = embedded_encoding(GetParam());
  ShortTokens table;
  table.build(bpe);
  ASSERT_FALSE(table.empty());
  // Every token, in a buffer with room to read a word and without.
  std::vector<uint8_t> padded(2 * ShortTokens::kMaxBytes, 0xAB);
  for (uint32_t id = 0; id < bpe.num_tokens; id++) {
    const uint64_t len = bpe.token_length(id);
    if (len > ShortTokens::kMaxBytes) continue;
    std::copy(bpe.token_data(id), bpe.token_data(id) + len, padded.begin());
    const int32_t want = expected(bpe.token_data(id), len, static_cast<int32_t>(id));
    ASSERT_EQ(table.find(padded.data(), len, padded.size()), want) << id;
    ASSERT_EQ(table.find(bpe.token_data(id), len, len), want) << id;
  }
  // Random short byte strings, many of them not tokens; the bytes after the
  // piece must not matter.
  std::mt19937_64 rng(GetParam() ? 3 : 4);
  const std::string alphabet = std::string("eta ois\n'\0\xff\xc3\xa9", 14);
  for (int n = 0; n < 200000; n++) {
    const uint64_t len = 1 + rng() % (ShortTokens::kMaxBytes + 4);
    uint8_t piece[2 * ShortTokens::kMaxBytes];
    for (uint8_t& b : piece) b = static_cast<uint8_t>(alphabet[rng() % alphabet.size()]);
    const int32_t walk = automaton_whole_token(bpe.forward_automaton, piece, len);
    const int32_t found = table.find(piece, len, sizeof piece);
    ASSERT_EQ(found, expected(piece, len, walk)) << n;
    ASSERT_EQ(table.find(piece, len, len), found) << n;
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
