// The lenient UTF-8 decoder, the whitespace list and the general-category
// lookup, checked against the Unicode data file the tables come from.

#include "presplit/unicode.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <set>
#include <string>
#include <vector>

namespace velkan {
namespace {

struct DecodeCase {
  std::string bytes;  // decoded from the first byte, with end at the string's end
  uint32_t value;
  uint32_t length;
};

TEST(DecodeUtf8Test, WellFormedAndLenient) {
  const DecodeCase cases[] = {
      {"A", 0x41, 1},
      {"\xC3\xA9", 0xE9, 2},
      {"\xE4\xB8\xAD", 0x4E2D, 3},
      {"\xF0\x9F\x98\x80", 0x1F600, 4},
      {"\xF4\x8F\xBF\xBF", 0x10FFFF, 4},
      // Cut short by the end of the text or by a non-continuation byte.
      {"\xC3", 0xC3, 1},
      {"\xE2\x80", 0xE2, 1},
      {"\xF0\x9F\x98", 0xF0, 1},
      {"\xC3"
       "A",
       0xC3, 1},
      {"\xE4\xB8"
       "A",
       0xE4, 1},
      {"\xF0\x9F\x98"
       "A",
       0xF0, 1},
      // Stray bytes.
      {"\x80", 0x80, 1},
      {"\xBF\xBF", 0xBF, 1},
      {"\xF8\x88\x80\x80\x80", 0xF8, 1},
      {"\xFF", 0xFF, 1},
      // Not rejected: overlong forms, surrogates, values past U+10FFFF.
      {std::string("\xC0\x80", 2), 0, 2},
      {"\xED\xA0\x80", 0xD800, 3},
      {"\xF4\x90\x80\x80", 0x110000, 4},
      {"\xF7\xBF\xBF\xBF", 0x1FFFFF, 4},
  };
  for (const DecodeCase& c : cases) {
    const auto* p = reinterpret_cast<const uint8_t*>(c.bytes.data());
    const DecodedChar d = decode_utf8(p, p + c.bytes.size());
    EXPECT_EQ(d.value, c.value) << testing::PrintToString(c.bytes);
    EXPECT_EQ(d.length, c.length) << testing::PrintToString(c.bytes);
  }
}

TEST(WhitespaceTest, ExactlyTheWhiteSpaceProperty) {
  const std::set<uint32_t> white = {0x09,   0x0A,   0x0B,   0x0C,   0x0D,   0x20,   0x85,
                                    0xA0,   0x1680, 0x2000, 0x2001, 0x2002, 0x2003, 0x2004,
                                    0x2005, 0x2006, 0x2007, 0x2008, 0x2009, 0x200A, 0x2028,
                                    0x2029, 0x202F, 0x205F, 0x3000};
  for (uint32_t v = 0; v < 0x200000; ++v) {
    ASSERT_EQ(is_whitespace(v), white.count(v) == 1) << std::hex << v;
  }
  EXPECT_FALSE(is_whitespace(0xFFFFFFFF));
}

TEST(CategoryTest, SampleCodePoints) {
  using G = GeneralCategory;
  // Lone bytes decode to themselves: 0xC3 is a letter, 0xB2 a number, 0x85 other.
  const std::pair<uint32_t, G> cases[] = {
      {0x1C89, G::Lu},
      {0xA7CB, G::Lu},
      {0x2FFC, G::So},
      {0x20C1, G::Cn},
      {0xD800, G::Cs},
      {0xDFFF, G::Cs},
      {0xE000, G::Co},
      {0x10FFFD, G::Co},
      {0x10FFFF, G::Cn},
      {0x01C5, G::Lt},
      {0x02B0, G::Lm},
      {0x05D0, G::Lo},
      {0x0300, G::Mn},
      {0x0903, G::Mc},
      {0x20DD, G::Me},
      {0x2160, G::Nl},
      {0x00B2, G::No},
      {0x0378, G::Cn},
      {0x180E, G::Cf},
      {0x00C3, G::Lu},
      {0x00E2, G::Ll},
      {0x0085, G::Cc},
      {0x00AA, G::Lo},
      {0x00D7, G::Sm},
      // Past U+10FFFF: unassigned, and no read outside the tables.
      {0x110000, G::Cn},
      {0x1FFFFF, G::Cn},
      {0xFFFFFFFF, G::Cn},
  };
  for (const auto& [cp, category] : cases) {
    EXPECT_EQ(char_category(cp), category) << std::hex << cp;
  }
}

TEST(CategoryTablesTest, Shape) {
  EXPECT_EQ(category_block_count, 263u);
  EXPECT_EQ(category_record_count, 30u);
  EXPECT_EQ(category_stage1[0], 0);
  EXPECT_EQ(category_stage1[1], 1);
  EXPECT_EQ(category_stage1[2], 2);
  std::set<std::vector<uint16_t>> blocks;
  for (uint32_t b = 0; b < category_block_count; ++b) {
    const uint16_t* first = category_stage2 + b * kCategoryBlockSize;
    blocks.emplace(first, first + kCategoryBlockSize);
  }
  EXPECT_EQ(blocks.size(), category_block_count) << "a block is stored twice";
  for (uint32_t i = 0; i < kCategoryStage1Size; ++i) {
    ASSERT_LT(category_stage1[i], category_block_count);
  }
}

// Every code point against GeneralCategory-16.0.0.txt, which lists runs as
// "first..last ; Xx"; unlisted code points are Cn.
TEST(CategoryTablesTest, MatchesUnicodeData) {
  static const char* const kCodes[kGeneralCategoryCount] = {
      "Cc", "Cf", "Cn", "Co", "Cs", "Ll", "Lm", "Lo", "Lt", "Lu", "Mc", "Me", "Mn", "Nd", "Nl",
      "No", "Pc", "Pd", "Pe", "Pf", "Pi", "Po", "Ps", "Sc", "Sk", "Sm", "So", "Zl", "Zp", "Zs"};
  std::vector<int> want(0x110000, static_cast<int>(GeneralCategory::Cn));
  std::ifstream in(VELKAN_TEST_DATA_DIR "/../../src/presplit/GeneralCategory-16.0.0.txt");
  ASSERT_TRUE(in) << "Unicode data file not found";
  std::string line;
  int runs = 0;
  while (std::getline(in, line)) {
    unsigned first = 0, last = 0;
    char code[3] = {};
    if (line.empty() || line[0] == '#') continue;
    if (std::sscanf(line.c_str(), "%x..%x ; %2s", &first, &last, code) != 3) {
      ASSERT_EQ(std::sscanf(line.c_str(), "%x ; %2s", &first, code), 2) << line;
      last = first;
    }
    int index = 0;
    while (index < kGeneralCategoryCount && std::string(kCodes[index]) != code) ++index;
    ASSERT_LT(index, kGeneralCategoryCount) << line;
    ASSERT_LE(last, 0x10FFFFu) << line;
    for (unsigned cp = first; cp <= last; ++cp) want[cp] = index;
    ++runs;
  }
  ASSERT_GT(runs, 4000);
  for (uint32_t cp = 0; cp < 0x110000; ++cp) {
    ASSERT_EQ(static_cast<int>(char_category(cp)), want[cp]) << std::hex << cp;
  }
}

}  // namespace
}  // namespace velkan
