// The pre-split rule sets in one suite, each case run against the rule set it
// belongs to: cl100k_base's and o200k_base's, r50k's (r50k_base, p50k_base,
// p50k_edit), cl100k_base's older spelling, Qwen's and Tekken's. Per rule set:
// the edge cases of each rule, the pieces its reference pattern gives on the
// fixture texts, the splitter contract at the text's end and on byte strings
// that are not UTF-8. Beside them the character flags the rules read, and a
// disabled test that measures the splitters' speed.

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "presplit/rule_set.h"
#include "presplit/split_cl100k.h"
#include "presplit/split_cl100k_legacy.h"
#include "presplit/split_common.h"
#include "presplit/split_o200k.h"
#include "presplit/split_r50k.h"
#include "presplit/split_r50k_rules.h"
#include "presplit/unicode.h"

namespace velkan {
namespace {

using Pieces = std::vector<std::string>;

// Cuts a text as the driver does, checking the splitter contract on the way:
// a drop_last match loses its last character (found by stepping back over
// continuation bytes), and that character begins the next piece.
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

// ---- hand-written cases ----------------------------------------------------

struct SplitCase {
  std::string text;
  Pieces pieces;
};

struct CaseGroup {
  const char* name;
  std::vector<SplitCase> cases;
};

// One case of one rule set; named <group>_<index>.
struct RuleSetCase {
  std::string name;
  PieceSplitter split;
  SplitCase c;
};

std::vector<RuleSetCase> cases_of(PieceSplitter split, const std::vector<CaseGroup>& groups) {
  std::vector<RuleSetCase> out;
  for (const CaseGroup& g : groups) {
    for (size_t i = 0; i < g.cases.size(); ++i) {
      out.push_back({std::string(g.name) + "_" + std::to_string(i), split, g.cases[i]});
    }
  }
  return out;
}

class SplitCases : public testing::TestWithParam<RuleSetCase> {};

TEST_P(SplitCases, Cuts) {
  EXPECT_EQ(cut(GetParam().split, GetParam().c.text), GetParam().c.pieces)
      << "text: " << testing::PrintToString(GetParam().c.text);
}

std::string case_name(const testing::TestParamInfo<RuleSetCase>& info) { return info.param.name; }

INSTANTIATE_TEST_SUITE_P(
    Cl100k, SplitCases,
    testing::ValuesIn(cases_of(
        split_cl100k,
        {
            {"ContractionsAndWords",
             {
                 {"Hello world", {"Hello", " world"}},
                 {"I'm", {"I", "'m"}},
                 {"they'LL", {"they", "'LL"}},
                 {"we'Re you'vE", {"we", "'Re", " you", "'vE"}},
                 {"'sometimes", {"'s", "ometimes"}},
                 {"'x", {"'x"}},
                 {"'", {"'"}},
                 {"'l", {"'l"}},
                 // Only the ASCII apostrophe begins a contraction.
                 {"don\u2019t", {"don", "\u2019t"}},
                 {"\u2019sometimes", {"\u2019sometimes"}},
                 {"\u2019llama", {"\u2019llama"}},
                 // U+017F folds to s; U+212A (Kelvin) folds to k, which no contraction has.
                 {"x'\u017fy", {"x", "'\u017f", "y"}},
                 {"x'\u212a", {"x", "'\u212a"}},
                 {"\u3042A b", {"\u3042A", " b"}},
                 {"ABC123abc", {"ABC", "123", "abc"}},
                 {"x\u0301y", {"x", "\u0301y"}},
                 // Runs longer than a word of eight bytes, broken by non-ASCII.
                 {"abcdefghIJ\u00e9klmnopqrs[t", {"abcdefghIJ\u00e9klmnopqrs", "[t"}},
             }},
            {"NumbersAndSymbols",
             {
                 {"12345", {"123", "45"}},
                 {"1\u00bd2", {"1\u00bd2"}},
                 {"$100", {"$", "100"}},
                 {"Hello!!! ...\n\n", {"Hello", "!!!", " ...\n\n"}},
                 {"path/to/x", {"path", "/to", "/x"}},
                 {" \u0301", {" \u0301"}},
                 {"a //\r\nb", {"a", " //\r\n", "b"}},
             }},
            {"Whitespace",
             {
                 {"a  ", {"a", "  "}},
                 {"  \u00e9", {" ", " \u00e9"}},
                 {"   \u4e2d", {"  ", " \u4e2d"}},
                 {" 1", {" ", "1"}},
                 {"  1", {" ", " ", "1"}},
                 {"\t\tx", {"\t", "\tx"}},
                 {"\u3000\u3000x", {"\u3000", "\u3000x"}},
                 {"x\r\n\r\ny", {"x", "\r\n\r\n", "y"}},
                 // A run with line breaks goes up to its last one...
                 {"\n  \n  x", {"\n  \n", " ", " x"}},
                 {" \r \n\tx", {" \r \n", "\tx"}},
                 // ...unless it runs to the end of the text (the older spelling cuts there).
                 {"x\n  \n  ", {"x", "\n  \n  "}},
                 {"x\n  ", {"x", "\n  "}},
                 // U+180E is not whitespace but a symbol; U+200B likewise.
                 {"  \u180ex", {" ", " \u180e", "x"}},
                 {"\u200b ", {"\u200b", " "}},
             }},
            // A lone 0x85 is whitespace to the decoder but a continuation byte
            // to the driver's backward scan.
            {"InvalidUtf8",
             {
                 {" \x85x", {" ", "\x85x"}},
                 {"  \xa0\x85y", {"  \xa0", "\x85y"}},
                 {"\xE2\x80", {"\xE2", "\x80"}},
                 {"a\xC3", {"a\xC3"}},
             }},
        })),
    case_name);

INSTANTIATE_TEST_SUITE_P(
    O200k, SplitCases,
    testing::ValuesIn(cases_of(
        split_o200k,
        {
            {"Words",
             {
                 {"Hello", {"Hello"}},
                 {"HELLO", {"HELLO"}},
                 {"HELLOworld", {"HELLOworld"}},
                 {"helloWorld", {"hello", "World"}},
                 {"CamelCaseWord", {"Camel", "Case", "Word"}},
                 {"\u01c5x", {"\u01c5x"}},
                 {"\u00e9T\u00e9", {"\u00e9", "T\u00e9"}},
                 {" Hello", {" Hello"}},
                 {"\tHello", {"\tHello"}},
                 {"\nHello", {"\n", "Hello"}},
                 // The prefix and the upper run hand Lm, Lo and marks back to the lower run.
                 {"\u3042A b", {"\u3042", "A", " b"}},
                 {"A\u3042B c", {"A\u3042", "B", " c"}},
                 {"\u0301A", {"\u0301", "A"}},
                 {"\u0301 ", {"\u0301", " "}},
                 {"\u0301!", {"\u0301", "!"}},
                 {"x\u0301y", {"x\u0301y"}},
                 {"abcdefghiJKLMNOPQ\u00c9RSTUVwxyz`",
                  {"abcdefghi", "JKLMNOPQ\u00c9RSTUVwxyz", "`"}},
             }},
            // A contraction stays with its word (Tekken's pattern cuts it off).
            {"Contractions",
             {
                 {"I'm", {"I'm"}},
                 {"they'LL", {"they'LL"}},
                 {"ABC'S", {"ABC'S"}},
                 {"'s", {"'s"}},
                 {"it'\u017f", {"it'\u017f"}},
                 {"\u0301's", {"\u0301's"}},
                 {"don\u2019t", {"don", "\u2019t"}},
                 {"Licensor\u2019s", {"Licensor", "\u2019s"}},
             }},
            {"NumbersSymbolsWhitespace",
             {
                 {"1234567", {"123", "456", "7"}},
                 {" 123", {" ", "123"}},
                 {"!\n/", {"!\n/"}},
                 {"x//\n\ny", {"x", "//\n\n", "y"}},
                 {"  \u00e9", {" ", " \u00e9"}},
                 {"   \u4e2d", {"  ", " \u4e2d"}},
                 {"a  ", {"a", "  "}},
                 {"\n  \n  x", {"\n  \n", " ", " x"}},
                 {"x\n  \n  ", {"x", "\n  \n", "  "}},
                 {"  \u180ex", {" ", " \u180e", "x"}},
             }},
            {"InvalidUtf8",
             {
                 {" \x85x", {" ", "\x85x"}},
                 {"  \xa0\x85y", {"  \xa0", "\x85y"}},
                 {"\xE2\x80", {"\xE2", "\x80"}},
                 {"a\xC3", {"a", "\xC3"}},
             }},
        })),
    case_name);

INSTANTIATE_TEST_SUITE_P(
    R50k, SplitCases,
    testing::ValuesIn(cases_of(
        split_r50k,
        {
            {"Contractions",
             {
                 {"I'm they'll we've you're she'd it's don't",
                  {"I", "'m", " they", "'ll", " we", "'ve", " you", "'re", " she", "'d", " it",
                   "'s", " don", "'t"}},
                 // No case folding: the apostrophe is a symbol and the letters a word.
                 {"I'M they'LL WE'VE", {"I", "'", "M", " they", "'", "LL", " WE", "'", "VE"}},
                 {"x'Ll x'lL", {"x", "'", "Ll", " x", "'", "lL"}},
                 {"'sometimes", {"'s", "ometimes"}},
                 {" 's", {" '", "s"}},
                 {"'l", {"'", "l"}},
                 {"''s", {"''", "s"}},
                 // Only the ASCII apostrophe, and no long s.
                 {"don\u2019t", {"don", "\u2019", "t"}},
                 {"x'\u017f", {"x", "'", "\u017f"}},
             }},
            {"Runs",
             {
                 {"camelCaseWord", {"camelCaseWord"}},
                 {" na\u00efvet\u00e9 \u4e2d\u6587", {" na\u00efvet\u00e9", " \u4e2d\u6587"}},
                 {"ABC123abc", {"ABC", "123", "abc"}},
                 // Numbers are not cut in threes, and other scripts' digits join them.
                 {"1234567 89", {"1234567", " 89"}},
                 {"1\u00bd2\u0663", {"1\u00bd2\u0663"}},
                 // Only the space prefixes a run; a tab, NBSP or newline stands alone.
                 {"\tx", {"\t", "x"}},
                 {"\u00a0x", {"\u00a0", "x"}},
                 {"a\nb", {"a", "\n", "b"}},
                 // A mark is a symbol: it does not join the word before it.
                 {"x\u0301y", {"x", "\u0301", "y"}},
                 {"Hello!!! ...\n\n", {"Hello", "!!!", " ...", "\n\n"}},
                 {"path/to/x", {"path", "/", "to", "/", "x"}},
                 {"ok \U0001f44d\U0001f3fd!", {"ok", " \U0001f44d\U0001f3fd!"}},
             }},
            {"Whitespace",
             {
                 {"a  ", {"a", "  "}},
                 {"x\n  \n  ", {"x", "\n  \n  "}},
                 {"  \u00e9", {" ", " \u00e9"}},
                 {"  1", {" ", " 1"}},
                 {"\t\tx", {"\t", "\t", "x"}},
                 // No line-break rule: the run but its last character, then that one.
                 {"x\r\n\r\ny", {"x", "\r\n\r", "\n", "y"}},
                 {"\n  \n  x", {"\n  \n ", " x"}},
                 {"a \nb", {"a", " ", "\n", "b"}},
                 {"x\n\ny", {"x", "\n", "\n", "y"}},
                 {"x \n", {"x", " \n"}},
                 {"  \u180ex\u200b ", {" ", " \u180e", "x", "\u200b", " "}},
             }},
            {"InvalidUtf8",
             {
                 {" \x85x", {" ", "\x85", "x"}},
                 {"  \xa0\x85y", {"  \xa0", "\x85", "y"}},
                 {"\xE2\x80", {"\xE2", "\x80"}},
                 // Lone lead bytes count as the Latin-1 letters of the same number.
                 {" \xC3x\xC3", {" \xC3x\xC3"}},
                 {" \xB2\xB3", {" \xB2\xB3"}},
             }},
        })),
    case_name);

// Where the older spelling of cl100k_base's pattern differs from the current
// one, and cases where it does not.
INSTANTIATE_TEST_SUITE_P(
    Cl100kLegacy, SplitCases,
    testing::ValuesIn(cases_of(split_cl100k_legacy,
                               {
                                   {"TrailingWhitespace",
                                    {
                                        {"x\n  ", {"x", "\n", "  "}},
                                        {"x\n  \n  ", {"x", "\n  \n", "  "}},
                                        {"x \r\n\t", {"x", " \r\n", "\t"}},
                                        {"x\n\n", {"x", "\n\n"}},
                                        {"x  ", {"x", "  "}},
                                        {"\n  \n  x", {"\n  \n", " ", " x"}},
                                        {"they'LL 12345", {"they", "'LL", " ", "123", "45"}},
                                    }},
                                   // Qwen's pattern makes a piece of each digit.
                                   {"Numbers", {{"x 12345", {"x", " ", "123", "45"}}}},
                               })),
    case_name);

// Where Qwen's and Tekken's patterns differ from those they derive from
// (Llama 3's and o200k_base's): a piece per number, and for Tekken no
// contraction after a word.
INSTANTIATE_TEST_SUITE_P(
    Qwen2, SplitCases,
    testing::ValuesIn(
        cases_of(piece_splitter(RuleSet::kQwen2),
                 {
                     {"Variants",
                      {
                          {"x 12345", {"x", " ", "1", "2", "3", "4", "5"}},
                          {"\xd9\xa1\xd9\xa2\xc2\xbd", {"\xd9\xa1", "\xd9\xa2", "\xc2\xbd"}},
                          {"they'LL x\n  ", {"they", "'LL", " x", "\n", "  "}},
                          {"a1b", {"a", "1", "b"}},
                      }},
                 })),
    case_name);

INSTANTIATE_TEST_SUITE_P(
    Tekken, SplitCases,
    testing::ValuesIn(cases_of(piece_splitter(RuleSet::kTekken),
                               {
                                   {"Variants",
                                    {
                                        {"x 12345", {"x", " ", "1", "2", "3", "4", "5"}},
                                        {"they'LL don't", {"they", "'LL", " don", "'t"}},
                                        {"HelloWorld's", {"Hello", "World", "'s"}},
                                        {"a/b\n\n  x", {"a", "/b", "\n\n", " ", " x"}},
                                    }},
                               })),
    case_name);

// ---- the contract at the text's end -------------------------------------------

struct EndCase {
  const char* name;
  PieceSplitter split;
  const char* text;  // six bytes: a run of spaces cut before its last, then a word
};

class SplitEnds : public testing::TestWithParam<EndCase> {};

TEST_P(SplitEnds, TagsAndEndOfText) {
  const PieceSplitter split = GetParam().split;
  const auto* text = reinterpret_cast<const uint8_t*>(GetParam().text);
  SplitMatch m{};
  ASSERT_TRUE(split(text, 6, 0, &m));
  EXPECT_EQ(m.end, 3u);
  EXPECT_EQ(m.tag, 1u);
  EXPECT_EQ(m.drop_last, 1u);
  ASSERT_TRUE(split(text, 6, 4, &m));
  EXPECT_EQ(m.end, 5u);
  EXPECT_EQ(m.tag, 2u);
  EXPECT_EQ(m.drop_last, 0u);
  const SplitMatch untouched{7, 8, 9, 1};
  m = untouched;
  EXPECT_FALSE(split(text, 6, 6, &m));
  EXPECT_FALSE(split(text, 6, 7, &m));
  EXPECT_FALSE(split(text, 0, 0, &m));
  EXPECT_EQ(m.start, 7u);
  EXPECT_EQ(m.end, 8u);
  EXPECT_EQ(m.tag, 9u);
}

INSTANTIATE_TEST_SUITE_P(RuleSets, SplitEnds,
                         testing::Values(EndCase{"cl100k", split_cl100k, "   x 1"},
                                         EndCase{"o200k", split_o200k, "   x 1"},
                                         EndCase{"r50k", split_r50k, "   x\t1"}),
                         [](const auto& c) { return std::string(c.param.name); });

TEST(SplitR50kTest, InlinedRulesAgreeWithThePointer) {
  const auto* text = reinterpret_cast<const uint8_t*>("   x\t1");
  SplitMatch inlined{}, m{};
  ASSERT_TRUE(r50k_rules::split(text, 6, 3, &inlined));
  ASSERT_TRUE(split_r50k(text, 6, 3, &m));
  EXPECT_EQ(inlined.end, m.end);
}

// ---- the reference patterns' pieces (fixture files) --------------------------

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
  int column;        // of the piece lengths: split_cases.txt has cl100k's, then o200k's
  const char* env;   // names another such file, e.g. a large random one; or null
  int min_cases;
};

class SplitFixtureTest : public testing::TestWithParam<FixtureFile> {};

// Cases from tools/make_split_fixtures.py: pieces of the patterns as the
// regex package finds them. The variable in env names another file, e.g. a
// large random one written with --only.
TEST_P(SplitFixtureTest, MatchesReferencePattern) {
  const FixtureFile& f = GetParam();
  const char* other = f.env ? std::getenv(f.env) : nullptr;
  const std::string path = other ? other : std::string(VELKAN_TEST_DATA_DIR "/") + f.file;
  std::ifstream in(path);
  ASSERT_TRUE(in) << path << " not found";
  std::string line;
  int cases = 0, failures = 0;
  while (std::getline(in, line) && failures < 20) {
    if (line.empty() || line[0] == '#') continue;
    std::istringstream fields(line);
    std::string hex, lengths, text;
    fields >> hex;
    for (int i = 0; i <= f.column; ++i) fields >> lengths;
    for (size_t i = 0; i + 1 < hex.size(); i += 2) {
      text.push_back(static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16)));
    }
    const Pieces want = split_lengths(text, lengths), got = cut(f.split, text);
    EXPECT_EQ(got, want) << f.name << ": " << testing::PrintToString(text);
    failures += got != want;
    ++cases;
  }
  EXPECT_GT(cases, f.min_cases);
  if (other) std::printf("%d cases from %s, %d differences\n", cases, other, failures);
}

INSTANTIATE_TEST_SUITE_P(
    Files, SplitFixtureTest,
    testing::Values(
        FixtureFile{"cl100k", split_cl100k, "split_cases.txt", 0, nullptr, 3000},
        FixtureFile{"o200k", split_o200k, "split_cases.txt", 1, nullptr, 3000},
        FixtureFile{"r50k", split_r50k, "split_cases_r50k.txt", 0, "VELKAN_SPLIT_CASES_R50K", 4000},
        FixtureFile{"cl100k_legacy", split_cl100k_legacy, "split_cases_cl100k_legacy.txt", 0,
                    "VELKAN_SPLIT_CASES_CL100K_LEGACY", 3000},
        FixtureFile{"qwen2", piece_splitter(RuleSet::kQwen2), "split_cases_qwen2.txt", 0,
                    "VELKAN_SPLIT_CASES_QWEN2", 2900},
        FixtureFile{"tekken", piece_splitter(RuleSet::kTekken), "split_cases_tekken.txt", 0,
                    "VELKAN_SPLIT_CASES_TEKKEN", 2900}),
    [](const auto& c) { return std::string(c.param.name); });

// ---- random byte strings ------------------------------------------------------

// What the random strings are made of; r50k and the rule sets checked beside
// it (each on its own seed's strings, as before) also get "ll".
std::vector<std::string> byte_pieces(bool with_ll) {
  std::vector<std::string> out = {" ",
                                  "  ",
                                  "\n",
                                  "\r",
                                  "x",
                                  "X",
                                  "'",
                                  "s",
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
  if (with_ll) out.insert(out.begin() + 8, "ll");  // after "s"
  return out;
}

struct RandomBytes {
  const char* name;
  PieceSplitter split;
  unsigned seed;
  bool with_ll;
};

class SplitRandomBytes : public testing::TestWithParam<RandomBytes> {};

// The contract holds and the pieces cover the input.
TEST_P(SplitRandomBytes, PiecesCoverTheInput) {
  const std::vector<std::string> bytes = byte_pieces(GetParam().with_ll);
  std::mt19937 rng(GetParam().seed);
  for (int i = 0; i < 20000; ++i) {
    std::string text;
    for (auto n = rng() % 12 + 1; n > 0; --n) text += bytes[rng() % bytes.size()];
    std::string joined;
    for (const std::string& piece : cut(GetParam().split, text)) joined += piece;
    ASSERT_EQ(joined, text);
  }
}

INSTANTIATE_TEST_SUITE_P(
    RuleSets, SplitRandomBytes,
    testing::Values(RandomBytes{"cl100k", split_cl100k, 7, false},
                    RandomBytes{"o200k", split_o200k, 7, false},
                    RandomBytes{"r50k", split_r50k, 11, true},
                    RandomBytes{"cl100k_legacy", split_cl100k_legacy, 11, true},
                    RandomBytes{"qwen2", piece_splitter(RuleSet::kQwen2), 11, true},
                    RandomBytes{"tekken", piece_splitter(RuleSet::kTekken), 11, true}),
    [](const auto& c) { return std::string(c.param.name); });

// ---- beside the rule sets ------------------------------------------------------

// The flags the rules test, ASCII table included, against the categories
// and the whitespace list.
TEST(SplitTest, CharFlagsAgreeWithCategories) {
  using G = GeneralCategory;
  for (uint32_t v = 0; v < 0x200000; ++v) {
    const G g = char_category(v);
    const CharClass k = char_class(v);
    const bool mark = k == CharClass::Mark;
    const bool upper = g == G::Lu || g == G::Lt || g == G::Lm || g == G::Lo || mark;
    const bool lower = g == G::Ll || g == G::Lm || g == G::Lo || mark;
    const uint32_t want =
        (is_whitespace(v) ? kCharWhite : 0) | (v == '\r' || v == '\n' ? kCharBreak : 0) |
        (k == CharClass::Letter ? kCharLetter : 0) | (k == CharClass::Number ? kCharNumber : 0) |
        (mark ? kCharMark : 0) | (upper ? kCharUpper : 0) | (lower ? kCharLower : 0);
    ASSERT_EQ(char_flags(v), want) << std::hex << v;
  }
}

// Not a test: MB/s of the splitters over the benchmark corpora. Run with
// --gtest_also_run_disabled_tests --gtest_filter=*SplitSpeed*.
TEST(SplitTest, DISABLED_SplitSpeed) {
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
    std::ifstream in(std::string(VELKAN_CORPORA_DIR "/") + file + ".txt");
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
