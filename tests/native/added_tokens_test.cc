// The special-token finder: where tokens are found for every kind of allowed
// set, against a plain search on random texts, with o200k_harmony's 1091
// tokens, and a disabled measurement of its cost on text without specials.

#include "driver/added_tokens.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <initializer_list>
#include <iterator>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "embedded_encodings.h"

namespace velkan {
namespace {

std::unique_ptr<const SpecialTokenFinder> make_finder(const std::vector<std::string>& tokens) {
  std::string error;
  auto finder = SpecialTokenFinder::build(tokens, &error);
  EXPECT_TRUE(finder) << error;
  return finder;
}

// Every match in text order, as (start, index), each search starting where
// the previous match ended.
std::vector<std::pair<uint64_t, uint32_t>> find_all(const SpecialTokenFinder& finder,
                                                    const std::string& text,
                                                    const SpecialSet& allowed) {
  const std::vector<uint8_t> bytes(text.begin(), text.end());  // no terminator to read
  std::vector<std::pair<uint64_t, uint32_t>> found;
  uint64_t pos = 0;
  while (auto m = finder.find(bytes.data(), bytes.size(), pos, allowed)) {
    EXPECT_GE(m->start, pos);
    EXPECT_EQ(text.substr(m->start, m->end - m->start), finder.token(m->index));
    found.emplace_back(m->start, m->index);
    pos = m->end;
  }
  EXPECT_EQ(finder.contains_any(bytes.data(), bytes.size(), allowed), !found.empty());
  return found;
}

const std::vector<std::string> kChat = {"<|endoftext|>", "<|fim_prefix|>", "<|end|>", "<|end",
                                        "<|e"};
const std::vector<std::string> kMixed = {"[CLS]", "<|x|>", "\xe2\x80\xa8", "ab", "abc", "bcd"};
const std::vector<std::string> kFew = {"[CLS]", "[SEP]", "<s>", "</s>", "\xe2\x80\xa8"};

struct FindCase {
  const char* name;
  const std::vector<std::string>* tokens;
  std::string text;
  std::vector<size_t> allowed;  // {SIZE_MAX}: all
  std::vector<std::pair<uint64_t, uint32_t>> want;
};
constexpr size_t kAll = SIZE_MAX;

class FindTest : public testing::TestWithParam<FindCase> {};

TEST_P(FindTest, Finds) {
  const FindCase& c = GetParam();
  const auto finder = make_finder(*c.tokens);
  SpecialSet allowed(c.tokens->size());
  for (size_t i : c.allowed) allowed.insert(i);
  if (c.allowed == std::vector<size_t>{kAll}) allowed = SpecialSet::all(c.tokens->size());
  EXPECT_EQ(find_all(*finder, c.text, allowed), c.want) << testing::PrintToString(c.text);
}

INSTANTIATE_TEST_SUITE_P(
    Chat, FindTest,
    testing::Values(
        FindCase{"Start", &kChat, "<|endoftext|>hi", {kAll}, {{0, 0}}},
        FindCase{"End", &kChat, "hi<|endoftext|>", {kAll}, {{2, 0}}},
        FindCase{
            "Adjacent", &kChat, "<|end|><|endoftext|><|end|>", {kAll}, {{0, 2}, {7, 0}, {20, 2}}},
        FindCase{"InsideWord", &kChat, "ab<|fim_prefix|>cd", {kAll}, {{2, 1}}},
        FindCase{"Absent", &kChat, "no specials < | here <| >", {kAll}, {}},
        FindCase{"CutShortAtEnd", &kChat, "x<|endoftext|", {kAll}, {{1, 3}}},
        // Tokens that begin others: the longest allowed one at a position.
        FindCase{"LongestWins", &kChat, "<|end|>", {kAll}, {{0, 2}}},
        FindCase{"LongestAllowed", &kChat, "<|end|>", {3, 4}, {{0, 3}}},
        FindCase{"ShortestOnly", &kChat, "<|end|> <|endoftext|>", {4}, {{0, 4}, {8, 4}}},
        FindCase{"NoneAllowed", &kChat, "<|endoftext|><|end|>", {}, {}},
        // A disallowed token does not hide an allowed one inside it.
        FindCase{"Subset", &kChat, "<|endoftext|> <|fim_prefix|>", {1}, {{14, 1}}},
        FindCase{"Nested", &kChat, "<|<|end|>", {2}, {{2, 2}}},
        // Bytes that are not UTF-8 around a token do not hide it.
        FindCase{"InvalidUtf8", &kChat, "\xff<|end|>\xe2\x80", {kAll}, {{1, 2}}},
        FindCase{"AfterLeadByte", &kChat, "\xe2<|end|>\xc3", {kAll}, {{1, 2}}}),
    [](const auto& c) { return std::string(c.param.name); });

INSTANTIATE_TEST_SUITE_P(
    MixedFirstBytes, FindTest,
    testing::Values(
        FindCase{"Each", &kMixed, "[CLS]x<|x|>y\xe2\x80\xa8z", {kAll}, {{0, 0}, {6, 1}, {12, 2}}},
        // Overlapping tokens: the leftmost one, then the search goes on after it.
        FindCase{"Overlap", &kMixed, "abcd", {kAll}, {{0, 4}}},
        FindCase{"OverlapSubset", &kMixed, "abcd", {5}, {{1, 5}}},
        FindCase{"Prefix", &kMixed, "abab abc", {3}, {{0, 3}, {2, 3}, {5, 3}}},
        FindCase{"Absent", &kMixed, "[CL <|x| \xe2\x80 a", {kAll}, {}}),
    [](const auto& c) { return std::string(c.param.name); });

// Two to four first bytes: the scan eight bytes at a time.
INSTANTIATE_TEST_SUITE_P(
    FewFirstBytes, FindTest,
    testing::Values(
        FindCase{"Each",
                 &kFew,
                 "some text [CLS] more text</s>and then\xe2\x80\xa8 end",
                 {kAll},
                 {{10, 0}, {25, 3}, {37, 4}}},
        FindCase{"WordEdges", &kFew, "1234567<s>12345[SEP]", {kAll}, {{7, 2}, {15, 1}}},
        FindCase{"NearMisses", &kFew, "[CLS [SEP <ss </ \xe2\x80\xa9 [[[[[[[[<<<<<<<<", {kAll}, {}},
        FindCase{"Tail", &kFew, "abcdefghijklmnop<s>", {kAll}, {{16, 2}}},
        FindCase{"Subset", &kFew, "<s>[CLS]</s>[SEP]", {1, 3}, {{8, 3}, {12, 1}}}),
    [](const auto& c) { return std::string(c.param.name); });

TEST(SpecialTokensTest, BuildErrors) {
  std::string error;
  EXPECT_FALSE(SpecialTokenFinder::build({"<|a|>", ""}, &error));
  EXPECT_EQ(error, "special token 1 is empty");
  EXPECT_FALSE(SpecialTokenFinder::build({"<|a|>", "<|b|>", "<|a|>"}, &error));
  EXPECT_EQ(error, "special token 2 repeats special token 0");

  // No tokens: nothing is ever found.
  const auto none = make_finder({});
  const auto* text = reinterpret_cast<const uint8_t*>("<|endoftext|>");
  EXPECT_FALSE(none->find(text, 13, 0, SpecialSet::all(0)));
  EXPECT_FALSE(none->find(text, 13, 0, SpecialSet::all(5)));
}

TEST(SpecialTokensTest, Sets) {
  for (const size_t count : std::initializer_list<size_t>{0, 1, 63, 64, 65, 1091}) {
    const SpecialSet all = SpecialSet::all(count);
    EXPECT_EQ(all.size(), count);
    EXPECT_TRUE(all.full());
    EXPECT_EQ(all.empty(), count == 0);
    for (size_t i = 0; i < count; ++i) ASSERT_TRUE(all.contains(i)) << i;
    EXPECT_FALSE(all.contains(count));
    SpecialSet some(count);
    some.insert(count);  // out of range: ignored
    some.insert(count / 2);
    some.insert(count / 2);
    EXPECT_EQ(some.size(), count ? 1u : 0u);
    EXPECT_EQ(some.contains(count / 2), count > 0);
  }
}

// The leftmost start, and there the longest allowed token, by brute force.
std::optional<std::pair<uint64_t, uint32_t>> plain_find(const std::vector<std::string>& tokens,
                                                        const std::string& text, uint64_t pos,
                                                        const SpecialSet& allowed) {
  for (; pos < text.size(); ++pos) {
    std::optional<std::pair<uint64_t, uint32_t>> best;
    size_t best_length = 0;
    for (uint32_t i = 0; i < tokens.size(); ++i) {
      if (allowed.contains(i) && text.compare(pos, tokens[i].size(), tokens[i]) == 0 &&
          tokens[i].size() > best_length) {
        best = std::make_pair(pos, i);
        best_length = tokens[i].size();
      }
    }
    if (best) return best;
  }
  return std::nullopt;
}

TEST(SpecialTokensTest, Minus) {
  for (const size_t count : std::initializer_list<size_t>{0, 1, 64, 65, 1091}) {
    const SpecialSet all = SpecialSet::all(count);
    SpecialSet some(count);
    for (size_t i = 0; i < count; i += 3) some.insert(i);
    const SpecialSet rest = all.minus(some);
    EXPECT_EQ(rest.size() + some.size(), count);
    for (size_t i = 0; i < count; ++i) ASSERT_NE(rest.contains(i), some.contains(i)) << i;
    EXPECT_TRUE(all.minus(all).empty());
    EXPECT_EQ(all.minus(SpecialSet()).size(), count);  // an empty set of no count
  }
}

// Specials found in the text stand for their ids; the text between them is
// encoded on its own, so pre-splitting restarts after each special.
TEST(SpecialTokensTest, EncodeWithSpecials) {
  const EncodingHandle& h = embedded_handle(false);
  const std::vector<std::string> tokens = {"<|endoftext|>", "<|end|>", "<|e"};
  const std::vector<uint32_t> ids = {100257, 900001, 900002};
  const auto finder = make_finder(tokens);
  const auto plain = [&](const std::string& text) {
    return piecewise_encode(h, reinterpret_cast<const uint8_t*>(text.data()), text.size());
  };
  const auto encode = [&](const std::string& text, const SpecialSet& allowed) {
    std::vector<uint32_t> out = {7};  // appended to
    encode_with_specials(h, *finder, ids.data(), allowed,
                         reinterpret_cast<const uint8_t*>(text.data()), text.size(), out);
    return std::vector<uint32_t>(out.begin() + 1, out.end());
  };
  const auto join = [](std::initializer_list<std::vector<uint32_t>> parts) {
    std::vector<uint32_t> all;
    for (const auto& p : parts) all.insert(all.end(), p.begin(), p.end());
    return all;
  };
  SpecialSet end_only(tokens.size());
  end_only.insert(1);
  const SpecialSet all = SpecialSet::all(tokens.size());
  const std::string text = "a  <|end|>  b<|endoftext|><|end|>\xff<|e";
  EXPECT_EQ(encode(text, SpecialSet(tokens.size())), plain(text));
  EXPECT_EQ(encode(text, end_only),
            join({plain("a  "), {900001}, plain("  b<|endoftext|>"), {900001}, plain("\xff<|e")}));
  EXPECT_EQ(
      encode(text, all),
      join({plain("a  "), {900001}, plain("  b"), {100257}, {900001}, plain("\xff"), {900002}}));
  EXPECT_EQ(encode("", all), std::vector<uint32_t>{});
  EXPECT_EQ(encode("<|end|><|end|>", all), (std::vector<uint32_t>{900001, 900001}));
}

TEST(SpecialTokensTest, AgreesWithPlainSearch) {
  std::mt19937 rng(5);
  const std::string alphabet = "ab<|\xe2\x80";
  const auto random_string = [&](size_t max) {
    std::string s;
    for (size_t n = rng() % max + 1; n > 0; --n) s += alphabet[rng() % alphabet.size()];
    return s;
  };
  for (int round = 0; round < 300; ++round) {
    std::vector<std::string> tokens;
    for (size_t n = rng() % 8 + 1; n > 0; --n) {
      std::string t = random_string(5);
      if (std::find(tokens.begin(), tokens.end(), t) == tokens.end()) tokens.push_back(t);
    }
    const auto finder = make_finder(tokens);
    for (int t = 0; t < 30; ++t) {
      SpecialSet allowed(tokens.size());
      for (size_t i = 0; i < tokens.size(); ++i) {
        if (rng() % 2) allowed.insert(i);
      }
      const std::string text = random_string(40);
      const auto* data = reinterpret_cast<const uint8_t*>(text.data());
      for (uint64_t pos = 0; pos <= text.size(); ++pos) {
        const auto want = plain_find(tokens, text, pos, allowed);
        const auto got = finder->find(data, text.size(), pos, allowed);
        ASSERT_EQ(got.has_value(), want.has_value()) << testing::PrintToString(text) << " " << pos;
        if (got) {
          ASSERT_EQ(got->start, want->first);
          ASSERT_EQ(got->index, want->second) << testing::PrintToString(text) << " " << pos;
        }
      }
    }
  }
}

// o200k_harmony's list: named tokens and 1081 reserved ones (200018 is both
// "<|endofprompt|>" and "<|reserved_200018|>").
std::vector<std::string> harmony_tokens() {
  std::vector<std::string> tokens = {
      "<|startoftext|>", "<|endoftext|>", "<|return|>",  "<|constrain|>", "<|channel|>",
      "<|start|>",       "<|end|>",       "<|message|>", "<|call|>",      "<|endofprompt|>"};
  for (int id : {200000, 200001, 200004, 200009, 200010, 200011}) {
    tokens.push_back("<|reserved_" + std::to_string(id) + "|>");
  }
  for (int id = 200013; id < 201088; ++id)
    tokens.push_back("<|reserved_" + std::to_string(id) + "|>");
  return tokens;
}

TEST(SpecialTokensTest, HarmonyTokens) {
  const std::vector<std::string> tokens = harmony_tokens();
  ASSERT_EQ(tokens.size(), 1091u);
  const auto finder = make_finder(tokens);
  const SpecialSet all = SpecialSet::all(tokens.size());
  for (uint32_t i = 0; i < tokens.size(); ++i) {
    const std::string text = "x <" + tokens[i] + tokens[i].substr(0, tokens[i].size() - 1);
    ASSERT_EQ(find_all(*finder, text, all), (std::vector<std::pair<uint64_t, uint32_t>>{{3, i}}))
        << tokens[i];
    SpecialSet others(tokens.size());
    for (uint32_t j = 0; j < tokens.size(); ++j) {
      if (j != i) others.insert(j);
    }
    ASSERT_TRUE(find_all(*finder, text, others).empty()) << tokens[i];
  }
  // Near misses.
  for (const char* text : {"<|reserved_200012|>", "<|reserved_2000130|>", "<|reserved_20013|>",
                           "<|reserved_201088|>", "<|Reserved_200013|>", "<|end |>", "<||>"}) {
    EXPECT_TRUE(find_all(*finder, text, all).empty()) << text;
  }
}

std::string english(size_t size) {
  std::ifstream in(VELKAN_TEST_DATA_DIR "/../../benchmarks/corpora/english.txt");
  const std::string corpus((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  EXPECT_FALSE(corpus.empty());
  std::string text;
  while (text.size() < size) text += corpus;
  text.resize(size);
  return text;
}

// Not a test: the cost of the check on English text without specials. Run
// with --gtest_also_run_disabled_tests --gtest_filter=*FindSpeed*.
TEST(SpecialTokensTest, DISABLED_FindSpeed) {
  const std::vector<std::string> harmony = harmony_tokens();
  const std::vector<std::pair<const char*, const std::vector<std::string>*>> lists = {
      {"harmony (shared '<')", &harmony}, {"3 first bytes", &kFew}, {"5 first bytes", &kMixed}};
  for (const auto& [name, tokens] : lists) {
    const auto finder = make_finder(*tokens);
    const SpecialSet all = SpecialSet::all(tokens->size());
    for (size_t size : {size_t{8} << 10, size_t{1} << 20}) {
      std::string text = english(size);
      for (char& c : text) {
        if (c == 'a' && tokens == &kMixed) c = 'A';  // keep "ab" out
      }
      const auto* data = reinterpret_cast<const uint8_t*>(text.data());
      ASSERT_FALSE(finder->contains_any(data, text.size(), all));
      const int calls = static_cast<int>((size_t{256} << 20) / size);
      double best = 1e9;
      for (int round = 0; round < 5; ++round) {
        const auto t0 = std::chrono::steady_clock::now();
        int hits = 0;
        for (int i = 0; i < calls; ++i) hits += finder->contains_any(data, text.size(), all);
        const double s =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
        EXPECT_EQ(hits, 0);
        best = std::min(best, s / calls);
      }
      std::printf("%-22s %8zu bytes: %10.0f ns per call, %8.0f MB/s\n", name, size, best * 1e9,
                  static_cast<double>(size) / best / 1e6);
    }
  }
}

}  // namespace
}  // namespace velkan
