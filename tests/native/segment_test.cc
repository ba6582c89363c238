// Word cuts and the segment cache: the cuts found sixteen bytes at a time are
// the ones the definition gives, and whole-text encodes and counts that reuse
// segments (met in the same text, in other texts, at other offsets) give the
// ids of the pieces encoded one by one, for every rule set that declares
// word cuts.

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <memory>
#include <random>
#include <string>
#include <tuple>
#include <vector>

#include "core/encoder.h"
#include "core/segment_cache.h"
#include "driver/piecewise.h"
#include "embedded_encodings.h"
#include "presplit/rule_set.h"
#include "presplit/split_common.h"
#include "presplit/unicode.h"
#include "presplit/word_cuts.h"
#include "reference_ids.h"

namespace velkan {
namespace {

const uint8_t* u8(const std::string& s) { return reinterpret_cast<const uint8_t*>(s.data()); }

TEST(WordCuts, NextIsTheFirstCutByTheDefinition) {
  // Letters, digits, the apostrophe, other ASCII, letters, marks, numbers
  // and symbols above ASCII, and broken sequences, mixed so that cuts fall
  // at every offset of the sixteen-byte steps.
  const std::vector<std::string> alphabet = {"a",
                                             "Z",
                                             "0",
                                             "9",
                                             "'",
                                             ".",
                                             ",",
                                             " ",
                                             "\n",
                                             "-",
                                             "(",
                                             "\xC3\xA9" /* é */,
                                             "\xD0\x96" /* Ж */,
                                             "\xE4\xB8\xAD" /* 中 */,
                                             "\xCC\x81" /* a mark */,
                                             "\xD9\xA3" /* an Arabic-Indic digit */,
                                             "\xE2\x80\x94" /* a dash */,
                                             "\xF0\x9F\x98\x80" /* an emoji */,
                                             "\xEF\xBC\x8C" /* a fullwidth comma */,
                                             "\xE3\x80\x82" /* an ideographic full stop */,
                                             "\xE3\x80\x85" /* a letter in that block */,
                                             "\xE3\x80\x87" /* a number in that block */,
                                             "\xE3\x80\xAA" /* a mark in that block */,
                                             "\xC2\xAB" /* a guillemet */,
                                             "\xC2\xA0" /* a no-break space */,
                                             "\xC2\xAA" /* a letter in Latin-1 */,
                                             "\xC2\xB2" /* a number in Latin-1 */,
                                             "\xE2\x80\x9C" /* a quotation mark */,
                                             "\xE2\x80\x8D" /* a joiner */,
                                             "\xE2\x81\xB0" /* a superscript zero */,
                                             "\xEF\xBC\xA1" /* a fullwidth letter */,
                                             "\xEF\xBC\x91" /* a fullwidth digit */,
                                             "\xE3\x81\x82" /* a kana letter */,
                                             "\x80",
                                             "\xC3",
                                             "\xE4\xB8",
                                             "\xE3\x80",
                                             "\xEF\xBC",
                                             "\xC2",
                                             "\xFF"};
  std::mt19937 random(7);
  for (int round = 0; round < 3000; round++) {
    std::string text;
    for (uint64_t n = random() % 40; n > 0; n--) text += alphabet[random() % alphabet.size()];
    // The characters as the splitters decode them, forwards: where each
    // ends, and whether it is a letter or number (ASCII, or a whole
    // sequence above ASCII that is no mark).
    // A character may be cut before when it is ASCII (no letter, digit or
    // apostrophe), or a whole sequence in the punctuation blocks that is no
    // letter, number or mark.
    std::vector<bool> word_ends_at(text.size() + 1, false);
    std::vector<bool> cut_char_at(text.size() + 1, false);
    for (uint64_t p = 0; p < text.size();) {
      const DecodedChar c = decode_utf8(u8(text) + p, u8(text) + text.size());
      const uint32_t flags = char_flags(c.value);
      const bool whole = c.value < 0x80 || c.length > 1;
      const bool word = (flags & (kCharLetter | kCharNumber)) && !(flags & kCharMark) && whole;
      const bool in_blocks =
          (c.value >= 0x80 && c.value <= 0xBF) || (c.value >= 0x2000 && c.value <= 0x207F) ||
          (c.value >= 0x3000 && c.value <= 0x303F) || (c.value >= 0xFF00 && c.value <= 0xFF7F);
      cut_char_at[p] = c.value < 0x80 ? !std::isalnum(static_cast<int>(c.value)) && c.value != '\''
                                      : c.length > 1 && in_blocks &&
                                            !(flags & (kCharLetter | kCharNumber | kCharMark));
      p += c.length;
      word_ends_at[p] = word;
    }
    for (uint64_t from = 0; from <= text.size() + 1; from++) {
      uint64_t expected = word_cuts::kNone;
      for (uint64_t x = from == 0 ? 1 : from; x < text.size(); x++) {
        if (word_ends_at[x] && cut_char_at[x]) {
          expected = x;
          break;
        }
      }
      ASSERT_EQ(word_cuts::next(u8(text), text.size(), from), expected)
          << "from " << from << " in " << testing::PrintToString(text);
    }
  }
}

std::string read_corpus(const char* name) {
  std::ifstream in(std::string(VELKAN_TEST_DATA_DIR "/corpus/") + name);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

// (o200k's tokens, rule set)
class Segments : public ::testing::TestWithParam<std::tuple<bool, RuleSet>> {};
INSTANTIATE_TEST_SUITE_P(RuleSets, Segments,
                         ::testing::Combine(::testing::Values(false, true),
                                            ::testing::Values(RuleSet::kCl100k, RuleSet::kO200k,
                                                              RuleSet::kR50k,
                                                              RuleSet::kCl100kLegacy,
                                                              RuleSet::kQwen2, RuleSet::kTekken)),
                         [](const auto& param_info) {
                           const RuleSet r = std::get<1>(param_info.param);
                           return std::string(std::get<0>(param_info.param) ? "o200k_tokens_"
                                                                            : "cl100k_tokens_") +
                                  (r == RuleSet::kCl100k   ? "cl100k"
                                   : r == RuleSet::kO200k  ? "o200k"
                                   : r == RuleSet::kR50k   ? "r50k"
                                   : r == RuleSet::kQwen2  ? "qwen2"
                                   : r == RuleSet::kTekken ? "tekken"
                                                           : "cl100k_legacy");
                         });

TEST_P(Segments, ReusedSegmentsGiveThePiecesIds) {
  // A handle of its own: its caches start empty.
  EncodingHandle h;
  h.encoding = &embedded_encoding(std::get<0>(GetParam()));
  h.rule_set = std::get<1>(GetParam());
  handle_finish(h);

  std::vector<std::string> texts = {
      "Hello, world! It's a test: don't stop. We'll see; they've gone (again).\n",
      "a,b,c,d,e,f,g,h,i,j,k,l,m,n,o,p,q,r,s,t,u,v,w,x,y,z,0,1,2,3,4,5,6,7,8,9,",
      "x = foo(bar, baz[12345678]) + qux.quux(\"str'ing\") - 1234567890123;\n",
      "word" + std::string(70, ' ') + "word\t\t\n\n\r\nend.  tail   ",
      "Ünïcödé wörds, ÀÉÎ. 中文，文字。テキスト! 한국어? ǅx éTé's end.",
      "日本語の文章、句読点。人々〇二〇二六年「引用」と（括弧）！全角ＡＢＣ１２３，終わり。"
      "\xC2\xAB"
      "cit\xC3\xA9\xC2\xBB\xC2\xA0mot\xE2\x80\x94tiret\xE2\x80\xA6 "
      "a\xE3\x80\xAA"
      "\xE3\x80\x81"
      "b\xCC\x81"
      "\xEF\xBC\x8C"
      "\xE2\x81\xB0"
      "x"
      "\xE2\x80\x8D"
      "\xE3\x80\x82",
      "中文中文中文中文中文中文中文，中文中文中文中文中文中文中文。中文中文中文中文中文中文中文，"
      "中文中文中文中文中文中文中文，中文中文中文中文中文中文中文。",
      // Clauses of 60 to 150 bytes: segments for the long table and past it.
      "这是一个比较长的句子用来测试长的片段是否正确，这是另一个比较长的句子它包含更多的汉字和词语。"
      "日本語の長い文章はスペースを使わないので区切りが少ないです、これも同じように長い文です。"
      "这是一个非常非常长的句子里面没有任何标点符号所以它的长度会超过一百二十八个字节的限制吧，完"
      "。",
      "\xC3"
      "a.b\xA9"
      "c, \xFF"
      "d'e' \x80"
      "f1.2\xE4\xB8"
      "x. 'tis.",
  };
  for (const char* name : {"code.txt", "multilingual.txt", "typography.txt"}) {
    const std::string corpus = read_corpus(name);
    ASSERT_FALSE(corpus.empty()) << name;
    texts.push_back(corpus.substr(0, 6000));
  }
  const auto check = [&](const std::string& text, const char* what) {
    const std::vector<uint32_t> expected = by_pieces(h, text);
    ASSERT_EQ(piecewise_encode(h, u8(text), text.size()), expected)
        << what << ": " << testing::PrintToString(text.substr(0, 200));
    ASSERT_EQ(piecewise_count(h, u8(text), text.size()), expected.size()) << what;
  };
  // First the texts themselves (the cache learns them), then again (their
  // segments hit), then in other places: every suffix and prefix of the
  // short ones, later parts of the long ones, and all of them joined.
  for (int pass = 0; pass < 2; pass++) {
    for (const std::string& text : texts) check(text, "whole");
  }
  std::string joined;
  for (const std::string& text : texts) {
    joined += text;
    const uint64_t step = text.size() > 200 ? 37 : 1;
    for (uint64_t k = 0; k < text.size(); k += step) {
      check(text.substr(k), "suffix");
      check(text.substr(0, k), "prefix");
    }
  }
  check(joined, "joined");
  check(joined, "joined again");
}

// Keys read the segment where it lies in the text: a copy elsewhere finds
// what was stored, a segment that differs in any one byte (the last, padded
// word's above all) does not, and reading a segment that ends the buffer
// stays inside it (the sanitizer run checks that).
TEST(SegmentCache, KeysCompareEveryByteOfTheSegmentInPlace) {
  auto cache = std::make_unique<SegmentCache>();
  std::mt19937 random(7);
  for (uint64_t length = SegmentCache::kMinBytes; length <= SegmentCache::kMaxBytes; length++) {
    // Heap buffers of exactly the segment's size, at different addresses.
    std::vector<uint8_t> stored(length), copy(length);
    for (uint8_t& b : stored) b = static_cast<uint8_t>(random());
    copy = stored;
    const uint32_t ids[3] = {static_cast<uint32_t>(length), 1, 2};
    cache->put(SegmentCache::key_of(stored.data(), length), ids, 3, 0);
    uint32_t out[SegmentCache::kMaxIds];
    ASSERT_EQ(cache->find(SegmentCache::key_of(copy.data(), length), out), 3u) << length;
    ASSERT_EQ(out[0], length);
    for (uint64_t at = length >= 16 ? length - 16 : 0; at < length; at++) {
      std::vector<uint8_t> other = stored;
      other[at] ^= 0x01;
      ASSERT_EQ(cache->find(SegmentCache::key_of(other.data(), length), out), 0u)
          << "length " << length << ", byte " << at;
    }
    // The same bytes one shorter are another key.
    ASSERT_EQ(cache->find(SegmentCache::key_of(copy.data(), length - 1), out), 0u) << length;
  }
}

}  // namespace
}  // namespace velkan
