// The tokens in byte order against a plain sort of the bytes: on built
// vocabularies (every single byte or not), with gaps and equal tokens, and on
// the embedded ones.

#include "core/byte_order.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "core/build.h"
#include "vocab/embedded.h"

namespace velkan {
namespace {

// The order tiktoken's sorted list has: the bytes compared as unsigned
// strings (std::string compares char_traits<char>, which is unsigned).
std::vector<uint32_t> expected_order(const BytePairEncoding& bpe) {
  std::vector<uint32_t> ids;
  for (uint32_t id = 0; id < bpe.num_tokens; id++) {
    if (bpe.token_length(id) > 0) ids.push_back(id);
  }
  const auto text = [&bpe](uint32_t id) {
    return std::string(reinterpret_cast<const char*>(bpe.token_data(id)), bpe.token_length(id));
  };
  std::stable_sort(ids.begin(), ids.end(),
                   [&](uint32_t a, uint32_t b) { return text(a) < text(b); });
  return ids;
}

BytePairEncodingPtr build(const std::vector<std::string>& tokens) {
  std::string bytes;
  std::vector<uint32_t> starts{0};
  for (const std::string& t : tokens) starts.push_back(static_cast<uint32_t>((bytes += t).size()));
  return bpe_build(reinterpret_cast<const uint8_t*>(bytes.data()), starts.data(),
                   static_cast<uint32_t>(tokens.size()), BuildAutomata::kForwardOnly);
}

std::vector<std::string> with_single_bytes(std::vector<std::string> extra) {
  std::vector<std::string> tokens;
  for (int b = 0; b < 256; b++) tokens.emplace_back(1, static_cast<char>(b));
  tokens.insert(tokens.end(), extra.begin(), extra.end());
  return tokens;
}

using std::string_literals::operator""s;

class ByteOrderBuilt : public testing::TestWithParam<std::vector<std::string>> {};

TEST_P(ByteOrderBuilt, MatchesAPlainSort) {
  BytePairEncodingPtr bpe = build(GetParam());
  EXPECT_EQ(bpe_ids_in_byte_order(*bpe), expected_order(*bpe));
}

// Tokens that share a head: runs whose first word, or both, tie.
std::vector<std::string> run(const std::string& head, int count) {
  std::vector<std::string> tokens;
  for (int i = count; i-- > 0;) {
    tokens.push_back(head + static_cast<char>(0x80 + i * 37 % 100) + static_cast<char>(i / 100) +
                     head);
  }
  return tokens;
}

std::vector<std::string> joined(std::vector<std::vector<std::string>> parts) {
  std::vector<std::string> all = with_single_bytes({});
  for (const auto& part : parts) all.insert(all.end(), part.begin(), part.end());
  return all;
}

INSTANTIATE_TEST_SUITE_P(
    Vocabularies, ByteOrderBuilt,
    testing::Values(
        // Zero bytes that pad alike ("x" and "x\0"), high bytes, ties in the
        // first sixteen bytes.
        with_single_bytes({"ab", "ac", "xab", "xac", "x\0"s, "x\0\0"s, "\xff\xfe",
                           "abcdefghijklmnopq", "abcdefghijklmnopr", "abcdefghij",
                           "abcdefghijklmnop", "abcdefghijklmnop\0"s, "abcdefgh"}),
        // Runs sharing two, nine, seventeen and twenty bytes.
        joined({run("ab", 60), run("abcdefghi", 40), run("abcdefghijklmnopq", 30),
                run("zzzzzzzzzzzzzzzzzzzz", 26), run("\xff", 200)}),
        // No single bytes.
        std::vector<std::string>{"hello", "c", "he", "xcy", "q", "hel", "llo"}));

// Gaps (empty tokens) are left out; equal tokens come by id.
TEST(ByteOrder, GapsAreLeftOutAndEqualTokensComeById) {
  BytePairEncodingPtr bpe = build(with_single_bytes({"", "zz", "", "zy"}));
  std::vector<uint32_t> order = bpe_ids_in_byte_order(*bpe);
  EXPECT_EQ(order, expected_order(*bpe));
  EXPECT_EQ(order.size(), 258u);
  // Two equal tokens, through the token store alone.
  auto twice = std::make_unique<BytePairEncoding>();
  const std::string bytes = "qqaqq";
  const uint32_t starts[] = {0, 2, 3, 5};
  bpe_store_tokens(*twice, reinterpret_cast<const uint8_t*>(bytes.data()), starts, 3);
  EXPECT_EQ(bpe_ids_in_byte_order(*twice), (std::vector<uint32_t>{1, 0, 2}));
}

// The order a record carries (and images with it): every id, the gaps first
// by id; made by a build of every automaton, not by a forward-only one.
TEST(ByteOrder, BuildsForImagesStoreEveryIdGapsFirst) {
  const std::vector<std::string> tokens = with_single_bytes({"zz", "", "zy", "", "a"});
  std::string bytes;
  std::vector<uint32_t> starts{0};
  for (const std::string& t : tokens) starts.push_back(static_cast<uint32_t>((bytes += t).size()));
  BytePairEncodingPtr all = bpe_build(reinterpret_cast<const uint8_t*>(bytes.data()), starts.data(),
                                      static_cast<uint32_t>(tokens.size()));
  std::vector<uint32_t> expected{257, 259};
  for (uint32_t id : expected_order(*all)) expected.push_back(id);
  EXPECT_EQ(all->byte_order, expected);
  EXPECT_EQ(bpe_byte_order(*all), expected);
  EXPECT_TRUE(build(tokens)->byte_order.empty());
}

// Two ranges of first bytes side by side give the whole order, wherever the
// cut; the cut the binding takes halves the tokens.
TEST(ByteOrder, RangesOfFirstBytesJoinIntoTheWholeOrder) {
  BytePairEncodingPtr bpe =
      build(joined({run(" a", 300), run("b", 40), run("\xff", 30), {"", "\x01\x02"}}));
  const std::vector<uint32_t> whole = expected_order(*bpe);
  for (uint32_t cut : {0u, 1u, 2u, 32u, 33u, 98u, 99u, 255u, 256u}) {
    std::vector<uint32_t> joined_order = bpe_ids_in_byte_order(*bpe, 0, cut);
    const std::vector<uint32_t> upper = bpe_ids_in_byte_order(*bpe, cut, 256);
    joined_order.insert(joined_order.end(), upper.begin(), upper.end());
    EXPECT_EQ(joined_order, whole) << "cut " << cut;
  }
  const ByteOrderCut cut = bpe_byte_order_cut(*bpe);
  EXPECT_EQ(cut.tokens, whole.size());
  // The 300 tokens of " a" are more than half: the cut falls at the space.
  EXPECT_EQ(cut.cut, uint32_t{' '});
}

TEST(ByteOrder, EmbeddedVocabulariesMatchAPlainSort) {
  auto cl = std::make_unique<BytePairEncoding>();
  bpe_store_tokens(*cl, cl100k_token_bytes, cl100k_token_starts, kCl100kTokens);
  EXPECT_EQ(bpe_ids_in_byte_order(*cl), expected_order(*cl));
  auto o = std::make_unique<BytePairEncoding>();
  bpe_store_tokens(*o, o200k_token_bytes, o200k_token_starts, kO200kTokens);
  EXPECT_EQ(bpe_ids_in_byte_order(*o), expected_order(*o));
}

}  // namespace
}  // namespace velkan
