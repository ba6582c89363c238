// The walk over a text's pieces with blocks (rule sets that mark 64 bytes'
// pieces at once: cl100k_base's and o200k_base's) against the same walk with
// the scalar rules alone: every
// piece must be the same, on the corpora, on the reference cases run
// together, and on random texts made of what the block rules must get right
// (runs of whitespace and line breaks, lone and repeated symbols, numbers,
// apostrophes, Latin letters of two bytes and the two signs among them,
// other scripts, invalid UTF-8), each at every offset into a block.

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "driver/piece_walk.h"
#include "presplit/rule_set.h"

namespace velkan {
namespace {

// The rule sets with blocks, and the same rules without them.
template <typename Rules>
struct ScalarOnly {
  static bool split(const uint8_t* text, uint64_t length, uint64_t pos, SplitMatch* out) {
    return Rules::split(text, length, pos, out);
  }
};

using Cuts = std::vector<std::pair<uint64_t, uint64_t>>;

template <typename Rules>
Cuts cuts(const std::string& text) {
  Cuts out;
  for_each_piece_with<Rules>(reinterpret_cast<const uint8_t*>(text.data()), text.size(),
                             [&](uint64_t start, uint64_t end) {
                               out.emplace_back(start, end);
                               return true;
                             });
  return out;
}

// The first piece where the walks differ, for the failure message.
std::string first_difference(const std::string& text, const Cuts& want, const Cuts& got) {
  size_t i = 0;
  while (i < want.size() && i < got.size() && want[i] == got[i]) i++;
  const uint64_t at = i < want.size() ? want[i].first : i < got.size() ? got[i].first : 0;
  return "piece " + std::to_string(i) + " at byte " + std::to_string(at) + ": " +
         testing::PrintToString(text.substr(at, 48));
}

// Compares the walks on text and on text after every padding of 0 to 63
// letters (so that blocks begin at every phase), for both rule sets; true
// when all agree.
template <typename Rules>
bool same_pieces_with(const std::string& text, bool every_phase, const char* name) {
  for (size_t pad = 0; pad < (every_phase ? 64u : 1u); pad++) {
    const std::string padded = std::string(pad, 'x') + text;
    const Cuts want = cuts<ScalarOnly<Rules>>(padded), got = cuts<Rules>(padded);
    if (want != got) {
      ADD_FAILURE() << name << ", padding " << pad << ", " << first_difference(padded, want, got);
      return false;
    }
  }
  return true;
}

bool same_pieces(const std::string& text, bool every_phase) {
  static_assert(BlockRules<Cl100kRules> == (VELKAN_HAVE_BLOCK_SPLIT != 0));
  return same_pieces_with<Cl100kRules>(text, every_phase, "cl100k") &&
         same_pieces_with<O200kRules>(text, every_phase, "o200k");
}

std::string read_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

TEST(SplitBlocksTest, Corpora) {
  for (const char* name : {"english", "code", "multilingual", "docs", "scripts", "typographic"}) {
    const std::string text =
        read_file(std::string(VELKAN_TEST_DATA_DIR "/../../benchmarks/corpora/") + name + ".txt");
    ASSERT_FALSE(text.empty()) << name;
    EXPECT_TRUE(same_pieces(text, false)) << name;
    EXPECT_TRUE(same_pieces(text.substr(0, 20000), true)) << name;
  }
}

TEST(SplitBlocksTest, ReferenceCasesRunTogether) {
  std::ifstream in(VELKAN_TEST_DATA_DIR "/split_cases.txt");
  ASSERT_TRUE(in);
  std::vector<std::string> texts;
  std::string line;
  while (std::getline(in, line)) {
    if (line.empty() || line[0] == '#') continue;
    std::string text;
    const std::string hex = line.substr(0, line.find(' '));
    for (size_t i = 0; i + 1 < hex.size(); i += 2) {
      text.push_back(static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16)));
    }
    texts.push_back(text);
  }
  ASSERT_GT(texts.size(), 3000u);
  std::mt19937 random(7);
  for (int round = 0; round < 300; round++) {
    std::string text;
    while (text.size() < 400) text += texts[random() % texts.size()];
    if (!same_pieces(text, round < 20)) break;
  }
}

TEST(SplitBlocksTest, RandomTexts) {
  const std::vector<std::string> parts = {"a",       "Zz",       "word",
                                          "HTML",    "aB",       "/",
                                          "//",      "\n/",      ";\n//",
                                          " ",       "  ",       "\t",
                                          "\v",      "\f",       "\n",
                                          "\r",      "\r\n",     "\n\n",
                                          "1",       "123",      "2024",
                                          ".",       "(",        "...",
                                          "'",       "'s",       "'LL",
                                          "'re",     "-",        "/",
                                          "\x1f",    "\x7f",     std::string(1, '\0'),
                                          "é",       "Ž",        "ɐ",
                                          "ʰ",       "×",        "÷",
                                          "ſ",       "\xc2\xa0", "\xc2\x85",
                                          "日本",    "ж",        "’",
                                          "\xc3",    "\x80",     "\xff",
                                          "\xe2\x80"};
  std::mt19937 random(11);
  for (int round = 0; round < 20000; round++) {
    std::string text;
    const size_t size = 64 + random() % 200;
    while (text.size() < size) text += parts[random() % parts.size()];
    if (!same_pieces(text, round < 300)) break;
  }
}

TEST(SplitBlocksTest, LongRuns) {
  for (const std::string& run :
       {std::string(100, 'a'), std::string(100, ' '), std::string(100, '\n'), std::string(100, '7'),
        std::string(100, '.'), std::string(50, '\r') + "\n"}) {
    for (const char* around : {"x", " ", "\n", ".", "1", "é", " y"}) {
      EXPECT_TRUE(same_pieces(std::string(around) + run + around + run + "end", true));
    }
  }
}

}  // namespace
}  // namespace velkan
