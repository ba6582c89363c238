// The certain prefix of a buffer: for every rule set and every length a
// text may have reached, the pieces before the answer are the whole text's,
// and encoding a text part by part gives the ids of the whole.

#include "driver/stream.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <utility>
#include <vector>

#include "driver/piece_walk.h"
#include "driver/piecewise.h"
#include "embedded_encodings.h"
#include "presplit/rule_set.h"

namespace velkan {
namespace {

const uint8_t* u8(const std::string& s) { return reinterpret_cast<const uint8_t*>(s.data()); }

using Pieces = std::vector<std::pair<uint64_t, uint64_t>>;

Pieces pieces_before(RuleSet rule_set, const std::string& text, uint64_t length, uint64_t limit) {
  Pieces out;
  visit_rule_set(rule_set, [&](auto rules) {
    for_each_piece_with<decltype(rules)>(u8(text), length, [&](uint64_t start, uint64_t end) {
      if (start >= limit) return false;
      out.emplace_back(start, end);
      return true;
    });
  });
  return out;
}

// What moves a piece's end, and bytes that are not UTF-8.
const std::vector<std::string> kAlphabet = {
    "'",
    "s",
    "t",
    "l",
    "v",
    "e",
    "r",
    "d",
    "m",
    "L",
    "S",
    " ",
    "  ",
    "\t",
    "\r",
    "\n",
    "\xC2\xA0",
    "\xC2",
    "\x85",
    "\xE4",
    "\xE4\xB8",
    "\xF0\x9F",
    "1",
    "234",
    "\xD9\xA3",
    "a",
    "Z",
    "\xC3\xA9",
    "e\xCC\x81",
    "\xCC\x81",
    "\xE4\xB8\xAD",
    "\xC7\x85",
    ".",
    ",",
    "/",
    "!",
    "\xE3\x80\x80",
    "\xE3\x80\x81",
    "don't",
    "x'll",
};

std::string random_text(std::mt19937& rng, int parts) {
  std::string text;
  std::uniform_int_distribution<size_t> pick(0, kAlphabet.size() - 1);
  for (int i = 0; i < parts; i++) text += kAlphabet[pick(rng)];
  return text;
}

class Stream : public ::testing::TestWithParam<RuleSet> {};
INSTANTIATE_TEST_SUITE_P(RuleSets, Stream,
                         ::testing::Values(RuleSet::kCl100k, RuleSet::kO200k, RuleSet::kR50k,
                                           RuleSet::kCl100kLegacy, RuleSet::kQwen2,
                                           RuleSet::kTekken, RuleSet::kWhole),
                         [](const auto& param_info) {
                           switch (param_info.param) {
                           case RuleSet::kCl100k:
                             return "cl100k";
                           case RuleSet::kO200k:
                             return "o200k";
                           case RuleSet::kR50k:
                             return "r50k";
                           case RuleSet::kCl100kLegacy:
                             return "cl100k_legacy";
                           case RuleSet::kQwen2:
                             return "qwen2";
                           case RuleSet::kTekken:
                             return "tekken";
                           case RuleSet::kWhole:
                             break;
                           }
                           return "whole";
                         });

TEST_P(Stream, EveryLengthKeepsTheWholeTextsPieces) {
  std::mt19937 rng(7);
  for (int round = 0; round < 3000; round++) {
    const std::string text = random_text(rng, 1 + round % 40);
    for (uint64_t length = 0; length <= text.size(); length++) {
      const uint64_t certain = stream_certain_end(GetParam(), u8(text), length);
      ASSERT_LE(certain, length);
      const Pieces whole = pieces_before(GetParam(), text, text.size(), certain);
      const Pieces part = pieces_before(GetParam(), text, length, certain);
      ASSERT_EQ(part, whole) << "text '" << text << "' cut at " << length;
      // The answer is where a piece of the whole text starts (or its end).
      if (certain > 0 && certain < text.size()) {
        const Pieces next = pieces_before(GetParam(), text, text.size(), certain + 1);
        ASSERT_EQ(next.back().first, certain) << "text '" << text << "' cut at " << length;
      }
    }
  }
}

TEST_P(Stream, LongRunsAreCutAsTheyGo) {
  if (GetParam() == RuleSet::kWhole) GTEST_SKIP() << "one piece";
  // Words, words between symbols without whitespace, numbers: each leaves
  // little behind however long it runs.
  for (const std::string unit : {"word ", "a/", "x=1;", "\xE4\xB8\xAD\xE3\x80\x81", "123"}) {
    std::string text;
    while (text.size() < 10000) text += unit;
    const uint64_t certain = stream_certain_end(GetParam(), u8(text), text.size());
    if (GetParam() == RuleSet::kR50k && unit == "123") continue;  // one number, one piece
    EXPECT_GT(certain + 16, text.size()) << unit;
  }
}

// A stream's loop: append a part, encode the certain prefix, keep the rest.
TEST(StreamEncode, PartsGiveTheWholeTextsIds) {
  std::mt19937 rng(11);
  for (bool o200k : {false, true}) {
    const EncodingHandle& handle = embedded_handle(o200k);
    for (int round = 0; round < 400; round++) {
      const std::string text = random_text(rng, round % 120);
      const std::vector<uint32_t> expected = piecewise_encode(handle, u8(text), text.size());
      std::vector<uint32_t> ids;
      uint64_t count = 0;
      std::string held;
      std::string held_for_count;
      std::uniform_int_distribution<size_t> step(0, 9);
      for (size_t pos = 0; pos < text.size();) {
        const size_t n = std::min(step(rng), text.size() - pos);
        held += text.substr(pos, n);
        held_for_count += text.substr(pos, n);
        pos += n;
        held.erase(0, stream_encode_prefix(handle, u8(held), held.size(), false, &ids, nullptr));
        held_for_count.erase(
            0, stream_encode_prefix(handle, u8(held_for_count), held_for_count.size(), false,
                                    nullptr, &count));
      }
      EXPECT_EQ(stream_encode_prefix(handle, u8(held), held.size(), true, &ids, nullptr),
                held.size());
      stream_encode_prefix(handle, u8(held_for_count), held_for_count.size(), true, nullptr,
                           &count);
      ASSERT_EQ(ids, expected) << "text '" << text << "'";
      ASSERT_EQ(count, expected.size());
    }
  }
}

}  // namespace
}  // namespace velkan
