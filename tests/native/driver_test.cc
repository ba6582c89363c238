// The piecewise driver: pieces from the splitter, each encoded on its own,
// results concatenated; counting and limits agree with encoding.

#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <memory>
#include <random>
#include <string>
#include <string_view>
#include <thread>
#include <tuple>
#include <vector>

#include "core/build.h"
#include "core/encoder.h"
#include "core/piece_cache.h"
#include "core/short_tokens.h"
#include "driver/piecewise.h"
#include "embedded_encodings.h"
#include "presplit/rule_set.h"
#include "presplit/split_cl100k.h"
#include "presplit/split_o200k.h"
#include "reference_ids.h"

namespace velkan {
namespace {

const uint8_t* u8(const std::string& s) { return reinterpret_cast<const uint8_t*>(s.data()); }

const EncodingHandle& handle_of(std::string_view vocabulary) { return embedded_handle(vocabulary); }

// Every vocabulary of the registry.
class Driver : public ::testing::TestWithParam<std::string_view> {};
INSTANTIATE_TEST_SUITE_P(Vocabularies, Driver, ::testing::ValuesIn(embedded_vocabulary_names()),
                         [](const auto& param_info) { return std::string(param_info.param); });

const std::vector<std::string> kTexts = {
    "",
    "Hello, world! It's a test.\n\n  Indented line\r\n",
    " a   b\u3000\u3000c\t\t\nx",  // runs ending in a three-byte space
    "   ",
    std::string(3000, ' ') + "word" + std::string(700, '7'),
    "中文 テキスト 한국어 ÀÉÎ ǅx éTé",
};

TEST_P(Driver, EncodeIsThePiecesConcatenated) {
  const EncodingHandle& h = handle_of(GetParam());
  for (const std::string& text : kTexts) {
    std::vector<uint32_t> ids = piecewise_encode(h, u8(text), text.size());
    EXPECT_EQ(ids, by_pieces(h, text)) << text;
    EXPECT_EQ(piecewise_count(h, u8(text), text.size()), ids.size());
    EXPECT_EQ(*bpe_decode_tokens(*h.encoding, ids.data(), ids.size()), text);
  }
}

TEST_P(Driver, ManyIdsKeepTheirOrder) {
  const EncodingHandle& h = handle_of(GetParam());
  std::string text;
  for (int i = 0; i < 400; i++) text += " w" + std::to_string(i * 7919);
  std::vector<uint32_t> ids = piecewise_encode(h, u8(text), text.size());
  EXPECT_GT(ids.size(), 1024u);
  EXPECT_EQ(ids, by_pieces(h, text));
}

TEST_P(Driver, EncodeIntoAReusedBufferReplacesItsIds) {
  // One buffer through texts of many ids, few and none, as a thread's
  // encode calls reuse it: each time exactly that text's ids.
  const EncodingHandle& h = handle_of(GetParam());
  std::string many;
  for (int i = 0; i < 400; i++) many += " w" + std::to_string(i * 7919);
  std::vector<uint32_t> buffer(5, 7);
  for (const std::string& text : {many, kTexts[0], std::string(), many, kTexts[1]}) {
    piecewise_encode_into(h, u8(text), text.size(), buffer);
    EXPECT_EQ(buffer, by_pieces(h, text)) << text.size();
  }
}

TEST_P(Driver, LimitIsTheCountOrOver) {
  const EncodingHandle& h = handle_of(GetParam());
  // Also a long text, whose pieces come from the cache of recent pieces.
  std::string long_text;
  for (int i = 0; i < 300; i++)
    long_text += " Überprüfungsverfahren d'ici " + std::to_string(i % 7);
  std::vector<std::string> texts(std::begin(kTexts), std::end(kTexts));
  texts.push_back(long_text);
  for (const std::string& text : texts) {
    const uint64_t n = piecewise_count(h, u8(text), text.size());
    for (uint64_t limit : {uint64_t{0}, n / 2, n > 0 ? n - 1 : 0, n, n + 1, UINT64_MAX}) {
      const uint64_t got = piecewise_count_till_limit(h, u8(text), text.size(), limit);
      EXPECT_EQ(got, n <= limit ? n : kOverLimit) << text << " limit " << limit;
    }
  }
}

TEST_P(Driver, WithoutSplitterTheTextIsOnePiece) {
  const EncodingHandle& h = embedded_handle(GetParam(), /*split=*/false);
  const std::string text = "Hello world, once more.";
  EXPECT_EQ(piecewise_encode(h, u8(text), text.size()),
            bpe_encode(*h.encoding, u8(text), text.size()));
  EXPECT_EQ(piecewise_count(h, u8(text), text.size()),
            bpe_count(*h.encoding, u8(text), text.size()));
  EXPECT_EQ(piecewise_count_till_limit(h, u8(text), text.size(), 2), kOverLimit);
}

// Short pieces are read as whole words: a piece at the very end of its
// buffer must be read no further than the text (sanitizer builds catch an
// overread: each text has a heap buffer of exactly its size), and the bytes
// after a piece inside the text must not change its ids.
TEST_P(Driver, ShortPiecesAtTheTextEndAndBeforeOtherBytes) {
  const EncodingHandle& h = handle_of(GetParam());
  const BytePairEncoding& bpe = *h.encoding;
  for (uint32_t id = 0; id < bpe.num_tokens; id += 13) {
    const uint64_t len = bpe.token_length(id);
    if (len > ShortTokens::kMaxBytes) continue;
    const std::string token(reinterpret_cast<const char*>(bpe.token_data(id)), len);
    for (const std::string& text : {token, "x" + token, token + "re\xff", "  " + token + " 1"}) {
      std::vector<uint8_t> exact(text.begin(), text.end());
      const std::vector<uint32_t> want = by_pieces(h, text);
      ASSERT_EQ(piecewise_encode(h, exact.data(), exact.size()), want) << id;
      ASSERT_EQ(piecewise_count(h, exact.data(), exact.size()), want.size()) << id;
    }
  }
}

// Long texts turn on the cache of recent pieces: repeated pieces come from it,
// thousands of distinct ones overwrite each other's slots, and pieces at its
// length and id limits (56 bytes, 14 ids) go in or stay out.
TEST_P(Driver, RecentPiecesGiveTheSameIds) {
  const EncodingHandle& h = handle_of(GetParam());
  std::mt19937 rng(5);
  std::string text;
  for (int i = 0; i < 6000; i++) {
    std::string word(i % 500 == 0 ? 50 : 3 + rng() % 12, 'a');  // 50 letters: many ids
    for (char& c : word) c = static_cast<char>('a' + rng() % 26);
    text += i % 3 == 0 ? " xylophonically " : " ";
    text += word;
    if (i % 500 == 0) {
      for (size_t n : {size_t{55}, size_t{56}, size_t{57}}) text.append(" ").append(n, 'q');
    }
  }
  EXPECT_EQ(piecewise_encode(h, u8(text), text.size()), by_pieces(h, text));
  EXPECT_EQ(piecewise_count(h, u8(text), text.size()), by_pieces(h, text).size());
}

TEST(PieceCache, FindsWhatWasPutAndForgetsOverwrittenSlots) {
  PieceCache cache;
  uint32_t out[PieceCache::kMaxIds];
  const uint32_t ids[] = {1, 2, 3};
  const std::vector<std::string> pieces = {"tokenizer", std::string(PieceCache::kMaxBytes, 'b')};
  for (const std::string& a : pieces) {
    const PieceCache::Key ka = PieceCache::key_of(u8(a), a.size());
    EXPECT_EQ(cache.find(ka, out), 0u);
    cache.put(ka, ids, 3, 0);
    ASSERT_EQ(cache.find(ka, out), 3u);
    EXPECT_EQ(std::vector<uint32_t>(out, out + 3), std::vector<uint32_t>({1, 2, 3}));
    // A prefix is another piece, and so is the piece with a zero byte added.
    EXPECT_EQ(cache.find(PieceCache::key_of(u8(a), a.size() - 1), out), 0u);
    const std::string padded = a + std::string(1, '\0');
    if (PieceCache::cacheable(padded.size())) {
      EXPECT_EQ(cache.find(PieceCache::key_of(u8(padded), padded.size()), out), 0u);
    }
    // Pieces that share a slot with it: it stays while the other slot is
    // free, and a later one evicts whichever slot the choice names.
    std::vector<PieceCache::Key> sharing;
    std::string other = a;
    for (int k = 0; sharing.size() < 2; k++) {
      for (int d = 0, rest = k; d < 6; d++, rest /= 10)
        other[other.size() - 1 - static_cast<size_t>(d)] = static_cast<char>('0' + rest % 10);
      const PieceCache::Key ko = PieceCache::key_of(u8(other), other.size());
      const bool shares = ko.slots[0] == ka.slots[0] || ko.slots[1] == ka.slots[0] ||
                          ko.slots[0] == ka.slots[1] || ko.slots[1] == ka.slots[1];
      if (shares && ko.slots[0] != ko.slots[1]) sharing.push_back(ko);
    }
    cache.put(sharing[0], ids, 1, 0);
    EXPECT_EQ(cache.find(sharing[0], out), 1u);
    EXPECT_EQ(cache.find(ka, out), 3u);
    // Too many ids: not stored.
    const std::vector<uint32_t> many(PieceCache::kMaxIds + 1, 7);
    const PieceCache::Key kb = PieceCache::key_of(u8(a), a.size() - 1);
    cache.put(kb, many.data(), many.size(), 0);
    EXPECT_EQ(cache.find(kb, out), 0u);
  }
  // A short piece holds at most ten ids.
  const std::string c = "abcdefghijklmnop";
  const PieceCache::Key kc = PieceCache::key_of(u8(c), c.size());
  const std::vector<uint32_t> eleven(11, 5), ten(10, 6);
  cache.put(kc, eleven.data(), eleven.size(), 0);
  EXPECT_EQ(cache.find(kc, out), 0u);
  cache.put(kc, ten.data(), ten.size(), 0);
  EXPECT_EQ(cache.find(kc, out), 10u);
}

// A key read in place, with text after the piece (whole words loaded, the
// last one masked), is the key of the piece alone: the same slots, and what
// one puts the other finds, for every cacheable length and either reading.
TEST(PieceCache, KeysReadInPlaceMatchThePieceAlone) {
  std::string text;
  for (int i = 0; text.size() < 2 * PieceCache::kMaxBytes; i++) text += static_cast<char>(0xA1 + i);
  uint32_t out[PieceCache::kMaxIds];
  const uint32_t id = 42;
  for (uint64_t len = 1; len <= PieceCache::kMaxBytes; len++) {
    const std::vector<uint8_t> alone(text.begin(), text.begin() + static_cast<ptrdiff_t>(len));
    const PieceCache::Key in_place = PieceCache::key_of(u8(text), len, text.size());
    const PieceCache::Key copied = PieceCache::key_of(alone.data(), len, len);
    EXPECT_EQ(in_place.slots[0], copied.slots[0]) << len;
    EXPECT_EQ(in_place.slots[1], copied.slots[1]) << len;
    PieceCache cache;
    cache.put(in_place, &id, 1, 0);
    EXPECT_EQ(cache.find(copied, out), 1u) << len;
    // The text's next byte is not part of the key.
    if (len < PieceCache::kMaxBytes) {
      EXPECT_EQ(cache.find(PieceCache::key_of(u8(text), len + 1, text.size()), out), 0u) << len;
    }
  }
}

// Every piece has two slots: with both taken, a new piece evicts the one the
// choice names and leaves the other's piece alone.
TEST(PieceCache, TwoSlotsPerPieceEvictByChoice) {
  // Pieces named stem + a number, made in a buffer of the longest cacheable
  // size (g++ cannot see that key_of reads only the piece of a temporary).
  const auto numbered = [](const std::string& stem, int k) {
    uint8_t bytes[PieceCache::kMaxBytes] = {};
    const int n =
        std::snprintf(reinterpret_cast<char*>(bytes), sizeof bytes, "%s%d", stem.c_str(), k);
    return PieceCache::key_of(bytes, static_cast<uint64_t>(n));
  };
  // A piece that may live in slot (as its first one when first is set).
  const auto piece_for = [&](uint32_t slot, const std::string& stem, bool first) {
    for (int k = 0;; k++) {
      const PieceCache::Key found = numbered(stem, k);
      if (found.slots[0] == found.slots[1]) continue;
      if (found.slots[0] == slot || (!first && found.slots[1] == slot)) return found;
    }
  };
  for (uint64_t choice : {uint64_t{0}, uint64_t{1}}) {
    for (const std::string& stem : std::vector<std::string>{"alpha", std::string(30, 'x')}) {
      PieceCache cache;
      uint32_t out[PieceCache::kMaxIds];
      const uint32_t one = 1, two = 2, three = 3;
      const PieceCache::Key a = numbered(stem, 0);
      cache.put(a, &one, 1, 0);  // both slots free: the first
      const PieceCache::Key c = piece_for(a.slots[0], stem + "c", false);
      const uint64_t shared = c.slots[0] == a.slots[0] ? 0 : 1;
      const PieceCache::Key d = piece_for(c.slots[1 - shared], stem + "d", true);
      cache.put(d, &two, 1, 0);
      cache.put(c, &three, 1, choice == 0 ? shared : 1 - shared);
      ASSERT_EQ(cache.find(c, out), 1u);
      EXPECT_EQ(out[0], 3u);
      EXPECT_EQ(cache.find(a, out), choice == 0 ? 0u : 1u);
      EXPECT_EQ(cache.find(d, out), choice == 0 ? 1u : 0u);
    }
  }
}

// Threads encoding the same pieces at once through one shared cache: every
// result equals the single-threaded one (a torn slot must never be a hit).
TEST_P(Driver, SharedCacheIsExactUnderConcurrentUse) {
  const EncodingHandle& h = handle_of(GetParam());
  std::mt19937 rng(3);
  std::string text;
  for (int i = 0; i < 4000; i++) {
    std::string word(3 + rng() % 14, 'a');
    for (char& c : word) c = static_cast<char>('a' + rng() % 26);
    text += " " + word;
  }
  const std::vector<uint32_t> expected = by_pieces(h, text);
  std::vector<std::thread> threads;
  std::atomic<int> wrong{0};
  for (int t = 0; t < 4; t++) {
    threads.emplace_back([&] {
      for (int round = 0; round < 3; round++) {
        if (piecewise_encode(h, u8(text), text.size()) != expected) wrong++;
        if (piecewise_count(h, u8(text), text.size()) != expected.size()) wrong++;
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  EXPECT_EQ(wrong.load(), 0);
}

// Invalid UTF-8 always ends and every byte is encoded exactly once.
TEST_P(Driver, InvalidUtf8IsCoveredByteForByte) {
  const EncodingHandle& h = handle_of(GetParam());
  std::mt19937 rng(11);
  const char alphabet[] = {' ',    ' ',    '\t',   '\n',   '\r',   'a',    'Z',
                           '1',    '\'',   '/',    '!',    '\x85', '\xa0', '\x80',
                           '\xbf', '\xc3', '\xe3', '\x80', '\xf0', '\xff'};
  for (int round = 0; round < 3000; round++) {
    std::string text;
    const int length = 1 + static_cast<int>(rng() % 24);
    for (int i = 0; i < length; i++) text += alphabet[rng() % sizeof(alphabet)];
    std::vector<uint32_t> ids = piecewise_encode(h, u8(text), text.size());
    ASSERT_EQ(*bpe_decode_tokens(*h.encoding, ids.data(), ids.size()), text);
    ASSERT_EQ(piecewise_count(h, u8(text), text.size()), ids.size());
  }
}

// The interrupt hook: never asked about short texts, asked about every
// kInterruptEveryBytes of long ones, without changing the result while it
// answers false, and stopping the call at once when it answers true.
TEST_P(Driver, InterruptHook) {
  const EncodingHandle& h = handle_of(GetParam());
  struct Asks {
    int count = 0;
    int stop_at = 0;  // 0: never stop
  };
  auto ask = [](void* p) {
    auto* a = static_cast<Asks*>(p);
    return ++a->count == a->stop_at;
  };
  const std::string small = kTexts[1];
  const std::string large = [&] {
    std::string t;
    while (t.size() < 2 * kInterruptEveryBytes + 100) t += kTexts[1] + kTexts[5];
    return t;
  }();
  for (const std::string* text : {&small, &large}) {
    Asks asks;
    const Interrupt hook{ask, &asks};
    const uint64_t n = text->size();
    EXPECT_EQ(piecewise_encode(h, u8(*text), n, &hook), piecewise_encode(h, u8(*text), n));
    EXPECT_EQ(piecewise_count(h, u8(*text), n, &hook), piecewise_count(h, u8(*text), n));
    EXPECT_EQ(piecewise_count_till_limit(h, u8(*text), n, n, &hook),
              piecewise_count(h, u8(*text), n));
    EXPECT_EQ(asks.count, text == &small ? 0 : 6);  // two checks in each of three calls
  }
  Asks stop_first;
  stop_first.stop_at = 1;
  const Interrupt stop{ask, &stop_first};
  const uint64_t full = piecewise_count(h, u8(large), large.size());
  const uint64_t partial = piecewise_count(h, u8(large), large.size(), &stop);
  EXPECT_EQ(stop_first.count, 1);
  EXPECT_LT(partial, full / 2);
  stop_first.count = 0;
  EXPECT_LT(piecewise_encode(h, u8(large), large.size(), &stop).size(), full / 2);
}

// While a vocabulary's automaton compiles in the background the walks merge
// ranks instead of waiting; the ids are the same, and after the compile the
// automaton serves. The background compile is stood in for by its mark, so
// that the walk is in that state for certain.
TEST(PieceIds, EncodeByRankMergeWhileTheAutomatonCompiles) {
  const EncodingHandle& ready = embedded_handle("o200k_base");
  const BytePairEncoding& source = *ready.encoding;
  std::vector<uint8_t> bytes(source.token_bytes.begin(), source.token_bytes.end());
  const std::vector<uint32_t> starts(source.token_starts.begin(), source.token_starts.end());
  EncodingHandle lazy;
  lazy.owned = bpe_build(bytes.data(), starts.data(), source.num_tokens,
                         BuildAutomata::kForwardOnly, ForwardCompile::kAtFirstUse);
  lazy.encoding = lazy.owned.get();
  lazy.rule_set = ready.rule_set;
  handle_finish(lazy);
  lazy.encoding->forward_background.store(bpe_process_mark());
  ASSERT_TRUE(bpe_forward_compiling(*lazy.encoding));
  std::string all;
  for (const char* name : {"english", "code", "multilingual", "cjk", "shell_perl"}) {
    std::ifstream in(std::string(VELKAN_CORPORA_DIR "/") + name + ".txt", std::ios::binary);
    all += std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  }
  // Long runs of one byte and of digits: pieces far past the cache's lengths.
  all += std::string(5000, 'a') + " " + std::string(3000, '7') + std::string(2000, ' ') + "x";
  ASSERT_GT(all.size(), 100000u);
  const std::vector<uint32_t> want = piecewise_encode(ready, u8(all), all.size());
  // Twice: the second pass finds the merged pieces in the cache.
  for (int pass = 0; pass < 2; pass++) {
    EXPECT_EQ(piecewise_encode(lazy, u8(all), all.size()), want) << pass;
    EXPECT_EQ(piecewise_count(lazy, u8(all), all.size()), want.size()) << pass;
  }
  // The whole-text encoder (the rule set that does not split, budget
  // windows, bytes that are no UTF-8) does not wait either.
  EncodingHandle whole;
  whole.encoding = lazy.encoding;
  whole.rule_set = RuleSet::kWhole;
  whole.tables = &lazy;
  for (const std::string& text :
       {all.substr(0, 3000), all.substr(all.size() - 12000), std::string("\xFF\xFEtail \xC3")}) {
    const std::vector<uint32_t> ids = bpe_encode(source, u8(text), text.size());
    EXPECT_EQ(bpe_encode(*lazy.encoding, u8(text), text.size()), ids);
    EXPECT_EQ(piecewise_encode(whole, u8(text), text.size()), ids);
    EXPECT_EQ(bpe_count(*lazy.encoding, u8(text), text.size()), ids.size());
    EXPECT_EQ(bpe_count_till_limit(*lazy.encoding, u8(text), text.size(), ids.size()), ids.size());
    EXPECT_EQ(bpe_count_till_limit(*lazy.encoding, u8(text), text.size(), ids.size() - 1),
              UINT64_MAX);
  }
  EXPECT_FALSE(lazy.encoding->forward_ready.load());  // nothing waited for it
  // A mark of another process (a forked child's parent): compiled here.
  lazy.encoding->forward_background.store(bpe_process_mark() + 1);
  EXPECT_FALSE(bpe_forward_compiling(*lazy.encoding));
  EXPECT_EQ(piecewise_encode(lazy, u8(all), all.size()), want);
  EXPECT_TRUE(lazy.encoding->forward_ready.load());
}

// A compile started in the background and one asked for at once meet under
// one lock: whichever comes second finds the automaton ready.
TEST(PieceIds, BackgroundCompileAndFirstUseAgree) {
  const EncodingHandle& ready = embedded_handle("cl100k_base");
  const BytePairEncoding& source = *ready.encoding;
  const std::vector<uint8_t> bytes(source.token_bytes.begin(), source.token_bytes.end());
  const std::vector<uint32_t> starts(source.token_starts.begin(), source.token_starts.end());
  std::shared_ptr<const BytePairEncoding> lazy =
      bpe_build(bytes.data(), starts.data(), source.num_tokens, BuildAutomata::kForwardOnly,
                ForwardCompile::kAtFirstUse);
  ASSERT_TRUE(bpe_compile_forward_in_background(lazy));
  const TokenAutomaton& a = bpe_forward_automaton(*lazy);
  const TokenAutomaton& b = bpe_forward_automaton(source);
  EXPECT_EQ(std::tie(a.base, a.check, a.size), std::tie(b.base, b.check, b.size));
  EXPECT_FALSE(bpe_forward_compiling(*lazy));
}

}  // namespace
}  // namespace velkan
