// The cl100k and o200k splitters: the edge cases of each rule, the pieces the
// vocabularies' reference patterns give on sample and random texts, and the
// splitter contract on byte strings that are not UTF-8.

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "presplit/split_cl100k.h"
#include "presplit/split_common.h"
#include "presplit/split_o200k.h"
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

struct SplitCase {
  std::string text;
  Pieces pieces;
};

void expect_cuts(PieceSplitter split, const std::vector<SplitCase>& cases) {
  for (const SplitCase& c : cases) {
    EXPECT_EQ(cut(split, c.text), c.pieces) << "text: " << testing::PrintToString(c.text);
  }
}

TEST(SplitCl100kTest, ContractionsAndWords) {
  expect_cuts(split_cl100k,
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
              });
}

TEST(SplitCl100kTest, NumbersAndSymbols) {
  expect_cuts(split_cl100k, {
                                {"12345", {"123", "45"}},
                                {"1\u00bd2", {"1\u00bd2"}},
                                {"$100", {"$", "100"}},
                                {"Hello!!! ...\n\n", {"Hello", "!!!", " ...\n\n"}},
                                {"path/to/x", {"path", "/to", "/x"}},
                                {" \u0301", {" \u0301"}},
                                {"a //\r\nb", {"a", " //\r\n", "b"}},
                            });
}

TEST(SplitCl100kTest, Whitespace) {
  expect_cuts(split_cl100k, {
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
                                // ...unless it runs to the end of the text.
                                {"x\n  \n  ", {"x", "\n  \n  "}},
                                // U+180E is not whitespace but a symbol; U+200B likewise.
                                {"  \u180ex", {" ", " \u180e", "x"}},
                                {"\u200b ", {"\u200b", " "}},
                            });
}

TEST(SplitO200kTest, Words) {
  expect_cuts(
      split_o200k,
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
          {"abcdefghiJKLMNOPQ\u00c9RSTUVwxyz`", {"abcdefghi", "JKLMNOPQ\u00c9RSTUVwxyz", "`"}},
      });
}

TEST(SplitO200kTest, Contractions) {
  expect_cuts(split_o200k, {
                               {"I'm", {"I'm"}},
                               {"they'LL", {"they'LL"}},
                               {"ABC'S", {"ABC'S"}},
                               {"'s", {"'s"}},
                               {"it'\u017f", {"it'\u017f"}},
                               {"\u0301's", {"\u0301's"}},
                               {"don\u2019t", {"don", "\u2019t"}},
                               {"Licensor\u2019s", {"Licensor", "\u2019s"}},
                           });
}

TEST(SplitO200kTest, NumbersSymbolsWhitespace) {
  expect_cuts(split_o200k, {
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
                           });
}

TEST(SplitTest, TagsAndEndOfText) {
  for (PieceSplitter split : {split_cl100k, split_o200k}) {
    const auto* text = reinterpret_cast<const uint8_t*>("   x 1");
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
}

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

// Cases from tools/make_split_fixtures.py: pieces of the reference patterns.
TEST(SplitTest, MatchesReferencePatterns) {
  std::ifstream in(VELKAN_TEST_DATA_DIR "/split_cases.txt");
  ASSERT_TRUE(in) << "tests/data/split_cases.txt not found";
  std::string line;
  int cases = 0, failures = 0;
  while (std::getline(in, line) && failures < 20) {
    if (line.empty() || line[0] == '#') continue;
    std::istringstream fields(line);
    std::string hex, cl100k, o200k, text;
    fields >> hex >> cl100k >> o200k;
    for (size_t i = 0; i + 1 < hex.size(); i += 2) {
      text.push_back(static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16)));
    }
    const Pieces want_cl = split_lengths(text, cl100k), want_o2 = split_lengths(text, o200k);
    const Pieces got_cl = cut(split_cl100k, text), got_o2 = cut(split_o200k, text);
    EXPECT_EQ(got_cl, want_cl) << "cl100k: " << testing::PrintToString(text);
    EXPECT_EQ(got_o2, want_o2) << "o200k: " << testing::PrintToString(text);
    failures += (got_cl != want_cl) + (got_o2 != want_o2);
    ++cases;
  }
  EXPECT_GT(cases, 3000);
}

TEST(SplitTest, InvalidUtf8) {
  // A lone 0x85 is whitespace to the decoder but a continuation byte to the
  // driver's backward scan.
  for (PieceSplitter split : {split_cl100k, split_o200k}) {
    EXPECT_EQ(cut(split, " \x85x"), Pieces({" ", "\x85x"}));
    EXPECT_EQ(cut(split, "  \xa0\x85y"), Pieces({"  \xa0", "\x85y"}));
    EXPECT_EQ(cut(split, "\xE2\x80"), Pieces({"\xE2", "\x80"}));
  }
  EXPECT_EQ(cut(split_cl100k, "a\xC3"), Pieces({"a\xC3"}));
  EXPECT_EQ(cut(split_o200k, "a\xC3"), Pieces({"a", "\xC3"}));

  // Random byte strings: the contract holds and the pieces cover the input.
  const std::string bytes[] = {" ",
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
  std::mt19937 rng(7);
  for (int i = 0; i < 20000; ++i) {
    std::string text;
    for (int n = static_cast<int>(rng() % 12) + 1; n > 0; --n)
      text += bytes[rng() % std::size(bytes)];
    for (PieceSplitter split : {split_cl100k, split_o200k}) {
      std::string joined;
      for (const std::string& piece : cut(split, text)) joined += piece;
      ASSERT_EQ(joined, text);
    }
  }
}

}  // namespace
}  // namespace velkan
