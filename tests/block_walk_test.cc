// The block-wise walk over pieces must cut every text exactly as the rule
// sets' own split does, one call at a time: on random mixes of the
// characters each rule turns on (with runs long enough to cross the 64-byte
// windows, non-ASCII characters of every class next to them, and bytes that
// are not UTF-8), and the vector classifiers must agree with the byte loop.

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <utility>
#include <vector>

#include "driver/piece_walk.h"
#include "presplit/block_classify.h"

namespace velkan {
namespace {

using Cuts = std::vector<std::pair<uint64_t, uint64_t>>;

template <typename Rules>
std::pair<Cuts, Cuts> both_walks(const std::string& text) {
  const std::vector<uint8_t> bytes(text.begin(), text.end());  // nothing to read past the end
  Cuts block, scalar;
  for_each_piece_blockwise<Rules>(bytes.data(), bytes.size(), [&](uint64_t s, uint64_t e) {
    block.emplace_back(s, e);
    return true;
  });
  for_each_piece_scalar<Rules>(bytes.data(), bytes.size(), [&](uint64_t s, uint64_t e) {
    scalar.emplace_back(s, e);
    return true;
  });
  return {block, scalar};
}

// Fragments that the rules tell apart; a text repeats each a random number
// of times, sometimes enough to run past a window.
const std::vector<std::string>& fragments() {
  static const std::vector<std::string> all = {
      "a",
      "Z",
      "hello",
      "HTML",
      "Parser",
      "x",
      "7",
      "42",
      "2024",
      " ",
      "  ",
      "\t",
      "\n",
      "\r\n",
      "\r",
      "\v",
      "'",
      "'s",
      "'S",
      "'ll",
      "'re",
      "'ve",
      "'d",
      "'t",
      "'m",
      "'x",
      "/",
      ".",
      ",",
      "!?",
      "(",
      ")",
      "-",
      "_",
      "#",
      std::string(1, '\0'),
      "\x1f",
      "\x7f",
      "\xc3\xa9",          // é, lower
      "\xc3\x89",          // É, upper
      "\xc5\xbf",          // ſ, folds to s
      "\xc2\xa0",          // no-break space
      "\xc2\x85",          // next line, White_Space
      "\xe3\x80\x80",      // ideographic space
      "\xd9\xa3",          // Arabic-Indic three
      "\xc2\xb2",          // superscript two, a number
      "\xcc\x81",          // combining acute, a mark
      "\xe4\xb8\xad",      // a CJK letter
      "\xe2\x80\x99",      // right single quotation mark
      "\xf0\x9f\x98\x80",  // an emoji, a symbol
      "\xca\xb0",          // modifier letter small h (Lm)
      "\xff",
      "\x80",
      "\xc3",  // not UTF-8
  };
  return all;
}

std::string random_text(std::mt19937_64& rng) {
  const auto& parts = fragments();
  std::string text;
  const int pieces = static_cast<int>(rng() % 40);
  for (int k = 0; k < pieces; k++) {
    const std::string& part = parts[rng() % parts.size()];
    const uint64_t repeat = rng() % 8 == 0 ? 1 + rng() % 90 : 1 + rng() % 3;
    for (uint64_t r = 0; r < repeat; r++) text += part;
  }
  return text;
}

template <typename Rules>
void expect_same_cuts(uint64_t seed) {
  std::mt19937_64 rng(seed);
  for (int n = 0; n < 6000; n++) {
    const std::string text = random_text(rng);
    const auto [block, scalar] = both_walks<Rules>(text);
    ASSERT_EQ(block, scalar) << "text of " << text.size() << " bytes, case " << n;
  }
}

TEST(BlockWalk, Cl100kCutsAsTheRules) { expect_same_cuts<Cl100kRules>(11); }
TEST(BlockWalk, O200kCutsAsTheRules) { expect_same_cuts<O200kRules>(12); }

// Runs that end exactly at, just before and just after a window's edge, and
// texts that end inside a run.
TEST(BlockWalk, RunsAroundWindowEdges) {
  for (const std::string unit : {"a", "A", "7", " ", "\n", ".", " \n", "aB", "\xc3\xa9"}) {
    for (const std::string after : {"", "x", " x", "\xc3\xa9", ".", "\n", "'s"}) {
      for (int n = 28; n < 100; n++) {
        std::string text;
        for (int k = 0; k < n; k++) text += unit;
        text += after;
        auto cl = both_walks<Cl100kRules>(text);
        ASSERT_EQ(cl.first, cl.second) << unit << " x" << n << " + " << after;
        auto o2 = both_walks<O200kRules>(text);
        ASSERT_EQ(o2.first, o2.second) << unit << " x" << n << " + " << after;
      }
    }
  }
}

TEST(BlockWalk, StopsWhenAsked) {
  const std::string text = "one two three four";
  const std::vector<uint8_t> bytes(text.begin(), text.end());
  Cuts seen;
  for_each_piece_blockwise<Cl100kRules>(bytes.data(), bytes.size(), [&](uint64_t s, uint64_t e) {
    seen.emplace_back(s, e);
    return seen.size() < 2;
  });
  EXPECT_EQ(seen, (Cuts{{0, 3}, {3, 7}}));
}

void expect_same_classes(const BlockClasses& a, const BlockClasses& b) {
  EXPECT_EQ(a.upper, b.upper);
  EXPECT_EQ(a.lower, b.lower);
  EXPECT_EQ(a.digit, b.digit);
  EXPECT_EQ(a.space, b.space);
  EXPECT_EQ(a.brk, b.brk);
  EXPECT_EQ(a.slash, b.slash);
  EXPECT_EQ(a.high, b.high);
}

TEST(BlockClassify, VectorEqualsBytewise) {
  std::mt19937_64 rng(5);
  uint8_t block[64];
  for (int n = 0; n < 2000; n++) {
    // Every byte value in turn, then random blocks.
    for (int i = 0; i < 64; i++) {
      block[i] = static_cast<uint8_t>(n < 4 ? n * 64 + i : static_cast<int>(rng() & 0xFF));
    }
    BlockClasses vector_classes, byte_classes;
    classify_block(block, &vector_classes);
    classify_block_scalar(block, 64, &byte_classes);
    expect_same_classes(vector_classes, byte_classes);
    const uint64_t tail = rng() % 64;
    classify_tail(block, tail, &vector_classes);
    classify_block_scalar(block, tail, &byte_classes);
    expect_same_classes(vector_classes, byte_classes);
  }
  SCOPED_TRACE(classify_block_kind());
}

}  // namespace
}  // namespace velkan
