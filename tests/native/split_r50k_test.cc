// The r50k splitter (r50k_base, p50k_base, p50k_edit) and the splitters of
// cl100k_base's older spelling, Qwen's and Tekken's patterns: the edge cases
// of each rule, the pieces the patterns give on the fixture texts, and the
// splitter contract on byte strings that are not UTF-8. A disabled test measures their speed beside
// the cl100k and o200k splitters.

#include "presplit/split_r50k.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <random>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "presplit/rule_set.h"
#include "presplit/split_cl100k.h"
#include "presplit/split_cl100k_legacy.h"
#include "presplit/split_o200k.h"
#include "presplit/split_r50k_rules.h"
#include "presplit/unicode.h"

namespace velkan {
namespace {

using Pieces = std::vector<std::string>;

// Cuts a text as the driver does, checking the splitter contract on the way.
Pieces cut(PieceSplitter split, const std::string& text) {
  const std::vector<uint8_t> bytes(text.begin(), text.end());  // no terminator to read
  const uint8_t* data = bytes.data();
  const uint64_t length = bytes.size();
  Pieces pieces;
  uint64_t pos = 0;
  SplitMatch m;
  while (split(data, length, pos, &m)) {
    EXPECT_EQ(m.start, pos);
    EXPECT_TRUE(m.start < m.end && m.end <= length) << m.start << ".." << m.end;
    uint64_t end = m.end;
    if (m.drop_last) {
      EXPECT_EQ(m.tag, 1u);
      EXPECT_LT(decode_utf8(data + pos, data + length).length, m.end - pos) << "one character";
      end = m.end - 1;
      while (end > m.start && (data[end] & 0xC0) == 0x80) --end;
    }
    if (end <= pos || end > length) {
      ADD_FAILURE() << "no progress at " << pos << " in " << testing::PrintToString(text);
      return pieces;
    }
    pieces.push_back(text.substr(pos, end - pos));
    pos = end;
  }
  EXPECT_EQ(pos, length) << "false before the end of " << testing::PrintToString(text);
  return pieces;
}

Pieces cut(const std::string& text) { return cut(split_r50k, text); }

struct SplitCase {
  const char* name;
  std::string text;
  Pieces pieces;
};

class SplitR50kCases : public testing::TestWithParam<SplitCase> {};

TEST_P(SplitR50kCases, Cuts) {
  EXPECT_EQ(cut(GetParam().text), GetParam().pieces)
      << "text: " << testing::PrintToString(GetParam().text);
}

INSTANTIATE_TEST_SUITE_P(
    Contractions, SplitR50kCases,
    testing::Values(SplitCase{"Lower",
                              "I'm they'll we've you're she'd it's don't",
                              {"I", "'m", " they", "'ll", " we", "'ve", " you", "'re", " she", "'d",
                               " it", "'s", " don", "'t"}},
                    // No case folding: the apostrophe is a symbol and the letters a word.
                    SplitCase{"UpperIsAWord",
                              "I'M they'LL WE'VE",
                              {"I", "'", "M", " they", "'", "LL", " WE", "'", "VE"}},
                    SplitCase{"MixedCase", "x'Ll x'lL", {"x", "'", "Ll", " x", "'", "lL"}},
                    SplitCase{"Prefix", "'sometimes", {"'s", "ometimes"}},
                    SplitCase{"SpaceApostrophe", " 's", {" '", "s"}},
                    SplitCase{"Cut", "'l", {"'", "l"}}, SplitCase{"Doubled", "''s", {"''", "s"}},
                    // Only the ASCII apostrophe, and no long s.
                    SplitCase{"Typographic", "don\u2019t", {"don", "\u2019", "t"}},
                    SplitCase{"LongS", "x'\u017f", {"x", "'", "\u017f"}}),
    [](const auto& c) { return std::string(c.param.name); });

INSTANTIATE_TEST_SUITE_P(
    Runs, SplitR50kCases,
    testing::Values(
        SplitCase{"CamelStaysWhole", "camelCaseWord", {"camelCaseWord"}},
        SplitCase{
            "NonAscii", " na\u00efvet\u00e9 \u4e2d\u6587", {" na\u00efvet\u00e9", " \u4e2d\u6587"}},
        SplitCase{"LettersThenDigits", "ABC123abc", {"ABC", "123", "abc"}},
        // Numbers are not cut in threes, and other scripts' digits join them.
        SplitCase{"LongNumber", "1234567 89", {"1234567", " 89"}},
        SplitCase{"MixedNumbers", "1\u00bd2\u0663", {"1\u00bd2\u0663"}},
        // Only the space prefixes a run; a tab, NBSP or newline stands alone.
        SplitCase{"TabPrefix", "\tx", {"\t", "x"}},
        SplitCase{"NbspPrefix", "\u00a0x", {"\u00a0", "x"}},
        SplitCase{"NewlinePrefix", "a\nb", {"a", "\n", "b"}},
        // A mark is a symbol: it does not join the word before it.
        SplitCase{"Mark", "x\u0301y", {"x", "\u0301", "y"}},
        SplitCase{"Symbols", "Hello!!! ...\n\n", {"Hello", "!!!", " ...", "\n\n"}},
        SplitCase{"Path", "path/to/x", {"path", "/", "to", "/", "x"}},
        SplitCase{"Emoji", "ok \U0001f44d\U0001f3fd!", {"ok", " \U0001f44d\U0001f3fd!"}}),
    [](const auto& c) { return std::string(c.param.name); });

INSTANTIATE_TEST_SUITE_P(
    Whitespace, SplitR50kCases,
    testing::Values(SplitCase{"Trailing", "a  ", {"a", "  "}},
                    SplitCase{"TrailingBreaks", "x\n  \n  ", {"x", "\n  \n  "}},
                    SplitCase{"BeforeWord", "  \u00e9", {" ", " \u00e9"}},
                    SplitCase{"BeforeNumber", "  1", {" ", " 1"}},
                    SplitCase{"Tabs", "\t\tx", {"\t", "\t", "x"}},
                    // No line-break rule: the run but its last character, then that one.
                    SplitCase{"Crlf", "x\r\n\r\ny", {"x", "\r\n\r", "\n", "y"}},
                    SplitCase{"BlankLines", "\n  \n  x", {"\n  \n ", " x"}},
                    SplitCase{"SpaceBeforeBreak", "a \nb", {"a", " ", "\n", "b"}},
                    SplitCase{"BlankLineBeforeWord", "x\n\ny", {"x", "\n", "\n", "y"}},
                    SplitCase{"SpaceBeforeEnd", "x \n", {"x", " \n"}},
                    SplitCase{
                        "NotWhitespace", "  \u180ex\u200b ", {" ", " \u180e", "x", "\u200b", " "}}),
    [](const auto& c) { return std::string(c.param.name); });

TEST(SplitR50kTest, TagsAndEndOfText) {
  const auto* text = reinterpret_cast<const uint8_t*>("   x\t1");
  SplitMatch m{};
  ASSERT_TRUE(split_r50k(text, 6, 0, &m));
  EXPECT_EQ(m.end, 3u);
  EXPECT_EQ(m.tag, 1u);
  EXPECT_EQ(m.drop_last, 1u);
  ASSERT_TRUE(split_r50k(text, 6, 4, &m));
  EXPECT_EQ(m.end, 5u);
  EXPECT_EQ(m.tag, 2u);
  EXPECT_EQ(m.drop_last, 0u);
  const SplitMatch untouched{7, 8, 9, 1};
  m = untouched;
  EXPECT_FALSE(split_r50k(text, 6, 6, &m));
  EXPECT_FALSE(split_r50k(text, 6, 7, &m));
  EXPECT_FALSE(split_r50k(text, 0, 0, &m));
  EXPECT_EQ(m.start, 7u);
  EXPECT_EQ(m.end, 8u);
  EXPECT_EQ(m.tag, 9u);
  // The inlined rules and the function behind the pointer agree.
  SplitMatch inlined{};
  ASSERT_TRUE(r50k_rules::split(text, 6, 3, &inlined));
  ASSERT_TRUE(split_r50k(text, 6, 3, &m));
  EXPECT_EQ(inlined.end, m.end);
}

Pieces split_lengths(const std::string& text, const std::string& lengths) {
  Pieces pieces;
  std::istringstream in(lengths);
  size_t pos = 0, n = 0;
  for (char comma; in >> n; in >> comma) {
    pieces.push_back(text.substr(pos, n));
    pos += n;
  }
  return pieces;
}

struct FixtureFile {
  const char* name;
  PieceSplitter split;
  const char* file;  // in tests/data
  const char* env;   // names another such file, e.g. a large random one
  int min_cases;
};

class SplitFixtureTest : public testing::TestWithParam<FixtureFile> {};

// Cases from tools/make_split_fixtures.py: pieces of the patterns as the
// regex package finds them. The variable in env names another file, e.g. a
// large random one written with --only.
TEST_P(SplitFixtureTest, MatchesReferencePattern) {
  const FixtureFile& f = GetParam();
  const char* other = std::getenv(f.env);
  const std::string path = other ? other : std::string(VELKAN_TEST_DATA_DIR "/") + f.file;
  std::ifstream in(path);
  ASSERT_TRUE(in) << path << " not found";
  std::string line;
  int cases = 0, failures = 0;
  while (std::getline(in, line) && failures < 20) {
    if (line.empty() || line[0] == '#') continue;
    std::istringstream fields(line);
    std::string hex, lengths, text;
    fields >> hex >> lengths;
    for (size_t i = 0; i + 1 < hex.size(); i += 2) {
      text.push_back(static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16)));
    }
    const Pieces want = split_lengths(text, lengths), got = cut(f.split, text);
    EXPECT_EQ(got, want) << testing::PrintToString(text);
    failures += got != want;
    ++cases;
  }
  EXPECT_GT(cases, f.min_cases);
  if (other) std::printf("%d cases from %s, %d differences\n", cases, other, failures);
}

INSTANTIATE_TEST_SUITE_P(
    Files, SplitFixtureTest,
    testing::Values(
        FixtureFile{"r50k", split_r50k, "split_cases_r50k.txt", "VELKAN_SPLIT_CASES_R50K", 4000},
        FixtureFile{"cl100k_legacy", split_cl100k_legacy, "split_cases_cl100k_legacy.txt",
                    "VELKAN_SPLIT_CASES_CL100K_LEGACY", 3000},
        FixtureFile{"qwen2", piece_splitter(RuleSet::kQwen2), "split_cases_qwen2.txt",
                    "VELKAN_SPLIT_CASES_QWEN2", 2900},
        FixtureFile{"tekken", piece_splitter(RuleSet::kTekken), "split_cases_tekken.txt",
                    "VELKAN_SPLIT_CASES_TEKKEN", 2900}),
    [](const auto& c) { return std::string(c.param.name); });

// Where the older spelling of cl100k_base's pattern differs from the current
// one, and cases where it does not.
TEST(SplitCl100kLegacyTest, TrailingWhitespace) {
  const std::vector<std::pair<std::string, Pieces>> cases = {
      {"x\n  ", {"x", "\n", "  "}},
      {"x\n  \n  ", {"x", "\n  \n", "  "}},
      {"x \r\n\t", {"x", " \r\n", "\t"}},
      {"x\n\n", {"x", "\n\n"}},
      {"x  ", {"x", "  "}},
      {"\n  \n  x", {"\n  \n", " ", " x"}},
      {"they'LL 12345", {"they", "'LL", " ", "123", "45"}},
  };
  for (const auto& [text, pieces] : cases) {
    EXPECT_EQ(cut(split_cl100k_legacy, text), pieces) << testing::PrintToString(text);
  }
  EXPECT_EQ(cut(split_cl100k, "x\n  "), Pieces({"x", "\n  "}));
}

// Where Qwen's and Tekken's patterns differ from those they derive from
// (Llama 3's and o200k_base's): a piece per number, and for Tekken no
// contraction after a word.
TEST(SplitVariantsTest, SingleNumbersAndNoContractions) {
  const PieceSplitter qwen2 = piece_splitter(RuleSet::kQwen2);
  const PieceSplitter tekken = piece_splitter(RuleSet::kTekken);
  const struct {
    PieceSplitter split;
    const char* text;
    Pieces pieces;
  } cases[] = {
      {qwen2, "x 12345", {"x", " ", "1", "2", "3", "4", "5"}},
      {qwen2, "\xd9\xa1\xd9\xa2\xc2\xbd", {"\xd9\xa1", "\xd9\xa2", "\xc2\xbd"}},
      {qwen2, "they'LL x\n  ", {"they", "'LL", " x", "\n", "  "}},
      {qwen2, "a1b", {"a", "1", "b"}},
      {tekken, "x 12345", {"x", " ", "1", "2", "3", "4", "5"}},
      {tekken, "they'LL don't", {"they", "'LL", " don", "'t"}},
      {tekken, "HelloWorld's", {"Hello", "World", "'s"}},
      {tekken, "a/b\n\n  x", {"a", "/b", "\n\n", " ", " x"}},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(cut(c.split, c.text), c.pieces) << testing::PrintToString(std::string(c.text));
  }
  EXPECT_EQ(cut(split_cl100k_legacy, "x 12345"), Pieces({"x", " ", "123", "45"}));
  EXPECT_EQ(cut(split_o200k, "they'LL"), Pieces({"they'LL"}));
}

TEST(SplitR50kTest, InvalidUtf8) {
  // A lone 0x85 is whitespace to the decoder but a continuation byte to the
  // driver's backward scan.
  EXPECT_EQ(cut(" \x85x"), Pieces({" ", "\x85", "x"}));
  EXPECT_EQ(cut("  \xa0\x85y"), Pieces({"  \xa0", "\x85", "y"}));
  EXPECT_EQ(cut("\xE2\x80"), Pieces({"\xE2", "\x80"}));
  // Lone lead bytes count as the Latin-1 letters of the same number.
  EXPECT_EQ(cut(" \xC3x\xC3"), Pieces({" \xC3x\xC3"}));
  EXPECT_EQ(cut(" \xB2\xB3"), Pieces({" \xB2\xB3"}));

  // Random byte strings: the contract holds and the pieces cover the input.
  const std::string bytes[] = {" ",
                               "  ",
                               "\n",
                               "\r",
                               "x",
                               "X",
                               "'",
                               "s",
                               "ll",
                               "1",
                               "/",
                               "!",
                               "\x80",
                               "\x85",
                               "\xA0",
                               "\xBF",
                               "\xC3",
                               "\xC5",
                               "\xCC\x81",
                               "\xE2",
                               "\xE3\x80",
                               "\xE3\x80\x80",
                               "\xED\xA0\x80",
                               "\xF0\x9F",
                               "\xF4\x90\x80\x80",
                               "\xF7\xBF\xBF\xBF",
                               "\xF8",
                               "\xFF",
                               "\xC0\x80"};
  std::mt19937 rng(11);
  for (int i = 0; i < 20000; ++i) {
    std::string text;
    for (auto n = rng() % 12 + 1; n > 0; --n) text += bytes[rng() % std::size(bytes)];
    for (PieceSplitter split : {split_r50k, split_cl100k_legacy, piece_splitter(RuleSet::kQwen2),
                                piece_splitter(RuleSet::kTekken)}) {
      std::string joined;
      for (const std::string& piece : cut(split, text)) joined += piece;
      ASSERT_EQ(joined, text);
    }
  }
}

// Not a test: MB/s of the three splitters over the benchmark corpora. Run
// with --gtest_also_run_disabled_tests --gtest_filter=*SplitSpeed*.
TEST(SplitR50kTest, DISABLED_SplitSpeed) {
  const struct {
    const char* name;
    PieceSplitter split;
  } splitters[] = {{"r50k", split_r50k},
                   {"cl100k", split_cl100k},
                   {"o200k", split_o200k},
                   {"cl100k_legacy", split_cl100k_legacy},
                   {"qwen2", piece_splitter(RuleSet::kQwen2)},
                   {"tekken", piece_splitter(RuleSet::kTekken)}};
  // "cjk": the first 300 KB of the multilingual corpus, its Chinese,
  // Japanese and Korean catalogues.
  for (const char* corpus : {"english", "code", "multilingual", "cjk"}) {
    const std::string file = corpus == std::string("cjk") ? "multilingual" : corpus;
    std::ifstream in(std::string(VELKAN_TEST_DATA_DIR "/../../benchmarks/corpora/") + file +
                     ".txt");
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    ASSERT_FALSE(text.empty()) << corpus;
    if (file != corpus) text.resize(300000);
    const auto* data = reinterpret_cast<const uint8_t*>(text.data());
    for (const auto& s : splitters) {
      double best = 1e9;
      uint64_t pieces = 0;
      for (int round = 0; round < 7; ++round) {
        const auto t0 = std::chrono::steady_clock::now();
        uint64_t pos = 0;
        pieces = 0;
        SplitMatch m;
        while (s.split(data, text.size(), pos, &m)) {
          pos = m.end;
          if (m.drop_last) {
            --pos;
            while (pos > m.start && (data[pos] & 0xC0) == 0x80) --pos;
          }
          ++pieces;
        }
        best = std::min(
            best, std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count());
      }
      std::printf("%-13s %-14s %8.1f MB/s  %llu pieces\n", corpus, s.name,
                  static_cast<double>(text.size()) / best / 1e6,
                  static_cast<unsigned long long>(pieces));
    }
  }
}

}  // namespace
}  // namespace velkan
