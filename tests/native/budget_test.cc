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

// The next character boundary after p, as the budget functions cut.
uint64_t next_boundary(const std::string& s, uint64_t p) {
  do p++;
  while (p < s.size() && (static_cast<uint8_t>(s[p]) & 0xC0) == 0x80);
  return p;
}

TEST_P(Budget, TruncateKeepsEveryCharacterThatFitsInsideALongPiece) {
  const EncodingHandle& h = embedded_handle(GetParam());
  const std::string cjk = "\xe6\x97\xa5\xe6\x9c\xac\xe8\xaa\x9e\xe3\x81\xae";  // 日本語の
  std::string run;
  for (int i = 0; i < 400; i++) run += cjk;
  for (const std::string& t : {"Summary: " + run, run + " end", "Total: " + std::string(3000, '7'),
                               "Gap:" + std::string(5000, ' ') + "x"}) {
    for (const uint64_t max : {1u, 7u, 100u, 500u}) {
      const uint64_t end = budget_truncate_right(h, u8(t), t.size(), max);
      ASSERT_LE(count_of(h, t, 0, end), max);
      if (end < t.size()) {
        ASSERT_GT(count_of(h, t, 0, next_boundary(t, end)), max);
      }
      const uint64_t start = budget_truncate_left(h, u8(t), t.size(), max);
      ASSERT_LE(count_of(h, t, start, t.size()), max);
      if (start > 0) {
        uint64_t before = start - 1;
        while (before > 0 && (static_cast<uint8_t>(t[before]) & 0xC0) == 0x80) before--;
        ASSERT_GT(count_of(h, t, before, t.size()), max);
      }
    }
  }
}

// A hook that says stop at its first question and counts the questions.
struct StopNow {
  int asked = 0;
  Interrupt hook{[](void* self) {
                   static_cast<StopNow*>(self)->asked++;
                   return true;
                 },
                 this};
};

// A hook that never says stop.
struct NeverStop {
  int asked = 0;
  Interrupt hook{[](void* self) {
                   static_cast<NeverStop*>(self)->asked++;
                   return false;
                 },
                 this};
};

TEST(BudgetInterrupts, LongCallsAskTheHookAndStopOnce) {
  const EncodingHandle& h = embedded_handle(false);
  std::string t;
  while (t.size() < kInterruptEveryBytes + kInterruptEveryBytes / 4) {
    t += "some words, and some more words\n";
  }
  const uint64_t n = t.size();
  uint64_t too_small_at = 0;
  {
    StopNow stop;
    budget_chunks(h, u8(t), n, 500, 50, &too_small_at, &stop.hook);
    EXPECT_EQ(stop.asked, 1);
    NeverStop go;
    const auto spans = budget_chunks(h, u8(t), n, 500, 50, &too_small_at, &go.hook);
    EXPECT_GE(go.asked, 1);
    ASSERT_FALSE(spans.empty());
    EXPECT_EQ(spans.back().end, n);
  }
  for (const bool right : {true, false}) {
    StopNow stop;
    const uint64_t limit = UINT64_MAX / 4;  // the whole text fits: every byte is counted
    if (right) {
      budget_truncate_right(h, u8(t), n, limit, &stop.hook);
    } else {
      budget_truncate_left(h, u8(t), n, limit, &stop.hook);
    }
    EXPECT_EQ(stop.asked, 1);
    NeverStop go;
    EXPECT_EQ(right ? budget_truncate_right(h, u8(t), n, limit, &go.hook)
                    : budget_truncate_left(h, u8(t), n, limit, &go.hook),
              right ? n : 0u);
    EXPECT_GE(go.asked, 1);
  }
  StopNow stop;
  std::vector<uint32_t> ids;
  std::vector<uint64_t> starts;
  budget_encode_with_offsets(h, u8(t), n, ids, starts, &stop.hook);
  EXPECT_EQ(stop.asked, 1);
  EXPECT_LT(ids.size(), piecewise_count(h, u8(t), n));
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
