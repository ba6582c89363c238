// Token budgets on raw bytes, invalid UTF-8 included: chunks tile the text
// and each fits when encoded alone, truncation fits and is cut between
// characters, token offsets follow the token lengths.

#include "driver/budget.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "driver/piecewise.h"
#include "embedded_encodings.h"

namespace velkan {
namespace {

const uint8_t* u8(const std::string& s) { return reinterpret_cast<const uint8_t*>(s.data()); }

uint64_t count_of(const EncodingHandle& h, const std::string& s, uint64_t a, uint64_t b) {
  return piecewise_count(h, u8(s) + a, b - a);
}

// Structurally valid UTF-8 (the test texts have no overlong forms).
bool valid(const std::string& s) {
  for (size_t i = 0; i < s.size();) {
    const auto c = static_cast<uint8_t>(s[i]);
    const size_t n = c < 0x80 ? 1 : (c >> 5) == 6 ? 2 : (c >> 4) == 14 ? 3 : (c >> 3) == 30 ? 4 : 0;
    if (n == 0 || i + n > s.size()) return false;
    for (size_t k = 1; k < n; k++) {
      if ((static_cast<uint8_t>(s[i + k]) & 0xC0) != 0x80) return false;
    }
    i += n;
  }
  return true;
}

// Cuts fall between characters; in invalid UTF-8 a stray byte is a character
// of its own, so only valid texts are held to it.
bool boundary(const std::string& s, uint64_t p) {
  return p >= s.size() || !valid(s) || (static_cast<uint8_t>(s[p]) & 0xC0) != 0x80;
}

// Texts mixing words (some of them tokens of nine to sixteen bytes), line
// breaks, multi-byte characters and stray bytes.
std::vector<std::string> texts() {
  const std::vector<std::string> parts = {"word", " ",  "\n",   "\n\n",         ". ",
                                          "世界", "é",  "\xff", "\x80",         "\xe4\xb8",
                                          "777",  "!!", "  ",   " information", " tokenization"};
  std::mt19937 rng(7);
  std::vector<std::string> out = {"", std::string(2000, 'a'), "\xe4\xb8\x96\xe4\xb8"};
  for (int i = 0; i < 200; i++) {
    std::string t;
    const int n = static_cast<int>(rng() % 120);
    for (int k = 0; k < n; k++) t += parts[rng() % parts.size()];
    out.push_back(t);
  }
  return out;
}

class Budget : public ::testing::TestWithParam<bool> {};
INSTANTIATE_TEST_SUITE_P(Vocabularies, Budget, ::testing::Values(false, true),
                         [](const auto& param_info) {
                           return param_info.param ? "o200k" : "cl100k";
                         });

TEST_P(Budget, ChunksTileTheTextAndFit) {
  const EncodingHandle& h = embedded_handle(GetParam());
  for (const std::string& t : texts()) {
    for (const uint64_t max : {4u, 9u, 50u}) {
      uint64_t fits = 0;
      const std::vector<ByteSpan> spans = budget_chunks(h, u8(t), t.size(), max, 0, &fits);
      ASSERT_EQ(fits, kBudgetFits);
      uint64_t pos = 0;
      for (const ByteSpan& s : spans) {
        ASSERT_EQ(s.start, pos);
        ASSERT_LT(s.start, s.end);
        ASSERT_TRUE(boundary(t, s.end));
        ASSERT_EQ(s.tokens, count_of(h, t, s.start, s.end));
        ASSERT_LE(s.tokens, max);
        pos = s.end;
      }
      ASSERT_EQ(pos, t.size());
      // With overlap: starts grow, ends grow, the last ends at the end.
      const std::vector<ByteSpan> over = budget_chunks(h, u8(t), t.size(), max, max / 2, &fits);
      for (size_t i = 1; i < over.size(); i++) {
        ASSERT_LT(over[i - 1].start, over[i].start);
        ASSERT_LE(over[i].start, over[i - 1].end);
        ASSERT_LT(over[i - 1].end, over[i].end);
      }
      for (const ByteSpan& s : over) {
        ASSERT_LE(count_of(h, t, s.start, s.end), max);
      }
      if (!t.empty()) {
        ASSERT_EQ(over.back().end, t.size());
      }
    }
  }
}

TEST_P(Budget, TruncateFitsOnBothSides) {
  const EncodingHandle& h = embedded_handle(GetParam());
  for (const std::string& t : texts()) {
    for (const uint64_t max : {0u, 1u, 5u, 30u}) {
      const uint64_t end = budget_truncate_right(h, u8(t), t.size(), max);
      ASSERT_TRUE(boundary(t, end));
      ASSERT_LE(count_of(h, t, 0, end), max);
      const uint64_t start = budget_truncate_left(h, u8(t), t.size(), max);
      ASSERT_TRUE(boundary(t, start));
      ASSERT_LE(count_of(h, t, start, t.size()), max);
      if (piecewise_count(h, u8(t), t.size()) <= max) {
        ASSERT_EQ(end, t.size());
        ASSERT_EQ(start, 0u);
      }
    }
  }
}

TEST_P(Budget, OffsetsFollowTokenLengths) {
  const EncodingHandle& h = embedded_handle(GetParam());
  for (const std::string& t : texts()) {
    std::vector<uint32_t> ids;
    std::vector<uint64_t> starts;
    budget_encode_with_offsets(h, u8(t), t.size(), ids, starts);
    ASSERT_EQ(ids, piecewise_encode(h, u8(t), t.size()));
    uint64_t pos = 0;
    for (size_t i = 0; i < ids.size(); i++) {
      ASSERT_EQ(starts[i], pos);
      pos += h.encoding->token_length(ids[i]);
    }
    ASSERT_EQ(pos, t.size());
  }
}

TEST(BudgetErrors, ACharacterOverTheBudgetIsReported) {
  const EncodingHandle& h = embedded_handle(false);
  const std::string t = "ab \xe4\xb8\x96";  // 世 is two cl100k tokens
  uint64_t too_small_at = 0;
  EXPECT_TRUE(budget_chunks(h, u8(t), t.size(), 1, 0, &too_small_at).empty());
  EXPECT_EQ(too_small_at, 3u);
}

}  // namespace
}  // namespace velkan
