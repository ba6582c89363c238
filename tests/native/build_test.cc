// Pair table, pair validity and construction from small hand-made token lists.

#include "core/build.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "core/automaton.h"
#include "core/encoder.h"
#include "core/pair_table.h"
#include "util/joining_thread.h"
#include "vocab/embedded.h"

namespace velkan {
namespace {

// The 256 single bytes as ids 0 to 255 (id = byte value), then extra tokens.
BytePairEncodingPtr build(const std::vector<std::string>& extra, bool with_bytes = true,
                          BuildAutomata automata = BuildAutomata::kAll,
                          ForwardCompile compile = ForwardCompile::kInBuild) {
  std::string bytes;
  std::vector<uint32_t> starts{0};
  for (int b = 0; with_bytes && b < 256; b++)
    starts.push_back(static_cast<uint32_t>((bytes += static_cast<char>(b)).size()));
  for (const std::string& t : extra) starts.push_back(static_cast<uint32_t>((bytes += t).size()));
  return bpe_build(reinterpret_cast<const uint8_t*>(bytes.data()), starts.data(),
                   static_cast<uint32_t>(starts.size() - 1), automata, compile);
}

std::vector<uint32_t> split(const BytePairEncoding& bpe, uint32_t id) {
  return {bpe.split_left[id], bpe.split_right[id]};
}

TEST(PairTable, HashProbingAndWrapAround) {
  EXPECT_EQ(pair_hash(97, 98), 0x43fa59bea5163c6fULL);  // worked out separately
  EXPECT_EQ(pair_hash(0xFFFFFFFFu, 0xFFFFFFFFu), 0xb4d055fd9b6b1680ULL);
  PairTable table = pair_table_new(16);
  std::vector<uint32_t> lefts;  // keys (l, 7) whose home slot is the last one
  for (uint32_t l = 0; lefts.size() < 3; l++) {
    if ((pair_hash(l, 7) >> 32 & 15) == 15) lefts.push_back(l);
  }
  for (uint32_t i = 0; i < 3; i++) pair_table_insert(table, lefts[i], 7, 100 + i);
  pair_table_insert(table, lefts[0], 7, 200);  // a repeated key gets its own slot
  EXPECT_EQ(table.count, 4u);
  EXPECT_EQ(table.entries[15].merged, 100);
  EXPECT_EQ(table.entries[0].merged, 101);
  EXPECT_EQ(table.entries[2].merged, 200);
  EXPECT_EQ(pair_table_find(table, lefts[0], 7), 100);
  EXPECT_EQ(pair_table_find(table, lefts[2], 7), 102);
  EXPECT_EQ(pair_table_find(table, 7, lefts[0]), -1);
}

TEST(Build, OneMergedToken) {
  BytePairEncodingPtr bpe = build({"ab"});
  EXPECT_EQ(split(*bpe, 256), (std::vector<uint32_t>{97, 98}));
  EXPECT_EQ(bpe->pair_table.count, 1u);
  EXPECT_EQ(pair_table_find(bpe->pair_table, 97, 98), 256);
  for (uint32_t b = 0; b < 256; b++) {
    ASSERT_EQ(split(*bpe, b), (std::vector<uint32_t>{b, b}));
    ASSERT_EQ(bpe->next_prefix[b], -1);
  }
}

// 256 = "bc", 257 = "ab": taking 257 apart next to "c" exposes "bc", which
// merges first.
TEST(Build, PairValidity) {
  BytePairEncodingPtr bpe = build({"bc", "ab"});
  EXPECT_EQ(split(*bpe, 256), (std::vector<uint32_t>{98, 99}));
  EXPECT_EQ(split(*bpe, 257), (std::vector<uint32_t>{97, 98}));
  EXPECT_EQ(bpe->pair_table.count, 2u);
  struct Case {
    uint32_t a, b;
    bool valid;
  };
  for (Case c : {Case{257, 99, false},
                 {97, 256, true},
                 {256, 97, true},
                 {97, 98, false},
                 {98, 99, false},
                 {99, 97, true},
                 {257, 256, true},
                 {257, 257, true}}) {
    EXPECT_EQ(bpe_is_valid_pair(*bpe, c.a, c.b), c.valid) << c.a << " " << c.b;
  }
  // "bc" merges after "ab" here, yet the pair b, c stays invalid.
  BytePairEncodingPtr late = build({"ab", "abc", "bc"});
  EXPECT_FALSE(bpe_is_valid_pair(*late, 98, 99));
  EXPECT_FALSE(bpe_is_valid_pair(*late, 97, 258));  // "ab" comes first
}

// Splits take the longest prefix whose remainder is an older token allowed next
// to it; prefixes younger than the token are passed over.
TEST(Build, SplitSearch) {
  BytePairEncodingPtr bpe = build({"ab", "cd", "abcd", "abc", "bcd", "bc", "ac", "acd"});
  EXPECT_EQ(bpe->next_prefix[258], 259);                           // abcd -> abc
  EXPECT_EQ(split(*bpe, 258), (std::vector<uint32_t>{256, 257}));  // ab + cd
  EXPECT_EQ(split(*bpe, 260), (std::vector<uint32_t>{'b', 257}));  // b + cd
  EXPECT_EQ(split(*bpe, 263), (std::vector<uint32_t>{'a', 257}));  // not ac + d: cd is older
  // "bc" merges first, so "ab" and "cd" never meet: no split.
  BytePairEncodingPtr stuck = build({"bc", "ab", "cd", "abcd"});
  EXPECT_EQ(split(*stuck, 259), (std::vector<uint32_t>{259, 259}));
  EXPECT_EQ(stuck->pair_table.count, 3u);
}

// next_prefix is the query over each token without its last byte; without the
// single bytes some tokens have no prefix token, and the query then answers a
// later token ("xyz" gets "y") or -1 ("xq" has none).
TEST(Build, NextPrefixIsTheQueryWithoutTheLastByte) {
  for (bool with_bytes : {false, true}) {
    BytePairEncodingPtr bpe = build({"y", "z", "xyz", "yz", "xq", "q", "yzq", "yzqz"}, with_bytes);
    const uint32_t first = with_bytes ? 256 : 0;
    for (uint32_t id = 0; id < bpe->num_tokens; id++) {
      const uint32_t length = bpe->token_length(id);
      const int32_t want = length == 0 ? -1 : bpe_next_match(*bpe, bpe->token_data(id), length - 1);
      EXPECT_EQ(bpe->next_prefix[id], want) << id;
    }
    EXPECT_EQ(bpe->next_prefix[first + 2], with_bytes ? 'x' : static_cast<int32_t>(first));
    EXPECT_EQ(bpe->next_prefix[first + 4], with_bytes ? 'x' : -1);
    if (!with_bytes) {
      EXPECT_EQ(split(*bpe, 3), (std::vector<uint32_t>{0, 1}));  // yz = y + z
      EXPECT_EQ(split(*bpe, 7), (std::vector<uint32_t>{6, 1}));  // yzqz = yzq + z
    }
  }
}

TEST(Build, EmptyListDuplicatesAndEmptyTokens) {
  BytePairEncodingPtr none = build({}, false);
  EXPECT_EQ(none->num_tokens, 0u);
  EXPECT_EQ(none->token_index.capacity, 16u);
  EXPECT_EQ(none->pair_table.capacity, 16u);
  for (const TokenAutomaton* a :
       {&none->forward_automaton, &none->forward_automaton_alt, &none->reverse_automaton}) {
    EXPECT_EQ(a->size, 512);
    EXPECT_EQ(a->output_count, 1);
  }
  // 256 = "ab", 257 = "ab" again, 258 = "", 259 = "abab".
  BytePairEncodingPtr bpe = build({"ab", "ab", "", "abab"});
  EXPECT_EQ(split(*bpe, 257), (std::vector<uint32_t>{257, 257}));  // a + b is taken by 256
  EXPECT_EQ(split(*bpe, 258), (std::vector<uint32_t>{258, 258}));
  EXPECT_EQ(bpe->next_prefix[258], -1);
  EXPECT_EQ(split(*bpe, 259), (std::vector<uint32_t>{256, 256}));
  EXPECT_EQ(bpe->pair_table.count, 2u);
  EXPECT_EQ(bpe_next_match(*bpe, reinterpret_cast<const uint8_t*>("ab"), 2), 256);
}

// The prefix chain is made from the trie while the automaton is compiled:
// each entry is what the automaton's query answers, also where no prefix of
// a token is a token (no single bytes) and a match further on counts.
TEST(Build, PrefixChainIsTheAutomatonsLongestMatch) {
  for (const auto& extra : std::vector<std::vector<std::string>>{
           {"ab", "abc", "bc", "xbc", "cab", "b", "c", "abcab", "zzab"},
           {"hello", "he", "hell", "llo", " hello", "o w", "hello w"}}) {
    for (bool with_bytes : {true, false}) {
      BytePairEncodingPtr bpe = build(extra, with_bytes);
      for (uint32_t id = 0; id < bpe->num_tokens; id++) {
        const uint32_t length = bpe->token_length(id);
        const int32_t want =
            length == 0 ? -1 : bpe_next_match(*bpe, bpe->token_data(id), length - 1);
        EXPECT_EQ(bpe->next_prefix[id], want) << id << " " << with_bytes;
      }
    }
  }
}

// A vocabulary that is never an image needs only the forward automaton: the
// rest of the record is what a full build makes.
TEST(Build, ForwardOnlyBuildLeavesTheOtherAutomataEmpty) {
  std::string bytes;
  std::vector<uint32_t> starts{0};
  for (int b = 0; b < 256; b++)
    starts.push_back(static_cast<uint32_t>((bytes += static_cast<char>(b)).size()));
  for (const char* t : {"bc", "ab", "abc", "abab", "", "cab", "abcab"})
    starts.push_back(static_cast<uint32_t>((bytes += t).size()));
  const auto* data = reinterpret_cast<const uint8_t*>(bytes.data());
  const auto n = static_cast<uint32_t>(starts.size() - 1);
  BytePairEncodingPtr full = bpe_build(data, starts.data(), n);
  BytePairEncodingPtr lean = bpe_build(data, starts.data(), n, BuildAutomata::kForwardOnly);
  const TokenAutomaton& f = full->forward_automaton;
  const TokenAutomaton& g = lean->forward_automaton;
  EXPECT_EQ(std::tie(f.size, f.state_count, f.output_count, f.kind, f.base, f.check),
            std::tie(g.size, g.state_count, g.output_count, g.kind, g.base, g.check));
  EXPECT_EQ(std::tie(full->next_prefix, full->split_left, full->split_right),
            std::tie(lean->next_prefix, lean->split_left, lean->split_right));
  EXPECT_EQ(full->pair_table.count, lean->pair_table.count);
  for (const TokenAutomaton* a : {&lean->forward_automaton_alt, &lean->reverse_automaton}) {
    EXPECT_EQ(a->size, 0);
    EXPECT_TRUE(a->base.empty() && a->states.empty() && a->outputs.empty());
  }
}

// The copy of the forward automaton is its counts and kind only; an image
// carries the forward arrays in its place.
TEST(Build, ForwardAutomatonCopyIsNotHeld) {
  BytePairEncodingPtr bpe = build({"bc", "ab", "abc", std::string("\xff\x00\x01", 3)});
  const TokenAutomaton& f = bpe->forward_automaton;
  const TokenAutomaton& alt = bpe->forward_automaton_alt;
  EXPECT_EQ((std::vector<int32_t>{f.kind, alt.kind, bpe->reverse_automaton.kind}),
            (std::vector<int32_t>{0, 1, 2}));
  EXPECT_EQ(std::tie(f.size, f.state_count, f.output_count),
            std::tie(alt.size, alt.state_count, alt.output_count));
  EXPECT_TRUE(bpe->alt_shares_forward);
  EXPECT_TRUE(alt.states.empty() && alt.outputs.empty() && alt.base.empty() && alt.check.empty());
}

// FNV-1a over the arrays a forward-only build makes.
uint64_t fnv1a(const void* data, size_t size, uint64_t h) {
  const auto* p = static_cast<const uint8_t*>(data);
  for (size_t i = 0; i < size; i++) h = (h ^ p[i]) * 1099511628211u;
  return h;
}

template <typename T>
uint64_t fnv1a(const std::vector<T>& v, uint64_t h) {
  return fnv1a(v.data(), v.size() * sizeof(T), h);
}

// The compiled tables of a vocabulary of one's own stay what they were when
// the construction was rewritten for speed (digests taken with the old code):
// cl100k_base's tokens, then 3,000 joins of two of them (some already tokens,
// so duplicates too), a gap, and tokens without a single-byte prefix.
TEST(Build, ForwardOnlyTablesKeepTheirDigest) {
  std::string bytes(reinterpret_cast<const char*>(cl100k_token_bytes),
                    cl100k_token_starts[kCl100kTokens]);
  std::vector<uint32_t> starts(cl100k_token_starts, cl100k_token_starts + kCl100kTokens + 1);
  const auto token = [&](uint32_t id) {
    return bytes.substr(starts[id], starts[id + 1] - starts[id]);
  };
  for (uint32_t k = 0; k < 3000; k++) {
    const std::string joined = token(k * 31 % kCl100kTokens) + token((k * 7919 + 5) % 2000);
    starts.push_back(static_cast<uint32_t>((bytes += joined).size()));
  }
  starts.push_back(static_cast<uint32_t>(bytes.size()));  // a gap
  for (const char* t : {"\xf0\xf1\xf2", "\xf0\xf1", "zz\xff\xfe"})
    starts.push_back(static_cast<uint32_t>((bytes += t).size()));
  BytePairEncodingPtr bpe =
      bpe_build(reinterpret_cast<const uint8_t*>(bytes.data()), starts.data(),
                static_cast<uint32_t>(starts.size() - 1), BuildAutomata::kForwardOnly);
  const TokenAutomaton& a = bpe->forward_automaton;
  uint64_t h = 14695981039346656037u;
  h = fnv1a(a.base, h);
  h = fnv1a(a.check, h);
  h = fnv1a(a.states, h);
  h = fnv1a(a.outputs, h);
  const uint64_t automaton = h;
  h = fnv1a(bpe->next_prefix, h);
  h = fnv1a(bpe->split_left, h);
  h = fnv1a(bpe->split_right, h);
  EXPECT_EQ(std::tie(a.size, a.state_count, a.output_count),
            std::make_tuple(453424, 453424, 103257));
  EXPECT_EQ(automaton, 8951293071566762891u);
  EXPECT_EQ(h, 5820991579237751393u);
}

// A forward automaton left to its first use: many threads asking at once all
// get the eager build's tables and ids. The shapes: every byte a token; no
// single bytes (the prefix chain needs the automaton inside the build);
// duplicates and a gap.
struct LazyCase {
  const char* name;
  std::vector<std::string> extra;
  bool with_bytes;
};

class LazyForward : public ::testing::TestWithParam<std::tuple<LazyCase, BuildAutomata>> {};

const LazyCase kLazyCases[] = {
    {"bytes", {"ab", "abc", "bc", "bcd", "abcd", " the", "th", "he", " t"}, true},
    {"no_bytes", {"a", "b", "ab", "abc", "bc", "c", "cd", "xyz"}, false},
    {"duplicates_and_gap", {"ab", "ab", "", "abab", "ba", "bab"}, true},
};

INSTANTIATE_TEST_SUITE_P(
    Shapes, LazyForward,
    ::testing::Combine(::testing::ValuesIn(kLazyCases),
                       ::testing::Values(BuildAutomata::kAll, BuildAutomata::kForwardOnly)),
    [](const auto& param_info) {
      return std::string(std::get<0>(param_info.param).name) +
             (std::get<1>(param_info.param) == BuildAutomata::kAll ? "_all" : "_forward");
    });

TEST_P(LazyForward, ManyFirstUsesAtOnceGetTheEagerTables) {
  const auto& [shape, automata] = GetParam();
  BytePairEncodingPtr eager =
      build(shape.extra, shape.with_bytes, automata, ForwardCompile::kInBuild);
  BytePairEncodingPtr lazy =
      build(shape.extra, shape.with_bytes, automata, ForwardCompile::kAtFirstUse);
  const std::vector<std::string> texts = {"abcd the abab", "bcdabcxyz", "babab", "", "cdcd"};
  constexpr int kThreads = 8;
  std::vector<std::vector<std::vector<uint32_t>>> got(kThreads);
  // Released together, so that their first encodes meet (g++ 10's library
  // has no std::barrier).
  std::atomic<bool> go{false};
  {
    std::vector<JoiningThread> threads;
    for (int t = 0; t < kThreads; t++) {
      threads.emplace_back([&, t] {
        while (!go.load(std::memory_order_acquire)) std::this_thread::yield();
        for (const std::string& text : texts)
          got[static_cast<size_t>(t)].push_back(
              bpe_encode(*lazy, reinterpret_cast<const uint8_t*>(text.data()), text.size()));
      });
    }
    go.store(true, std::memory_order_release);
  }
  for (size_t i = 0; i < texts.size(); i++) {
    const auto want =
        bpe_encode(*eager, reinterpret_cast<const uint8_t*>(texts[i].data()), texts[i].size());
    for (int t = 0; t < kThreads; t++) ASSERT_EQ(got[static_cast<size_t>(t)][i], want) << texts[i];
  }
  EXPECT_TRUE(lazy->forward_ready.load());
  EXPECT_EQ(lazy->forward_pending, nullptr);  // the trie is given back
  for (auto member :
       {&BytePairEncoding::forward_automaton, &BytePairEncoding::forward_automaton_alt,
        &BytePairEncoding::reverse_automaton}) {
    const TokenAutomaton& a = *lazy.*member;
    const TokenAutomaton& b = *eager.*member;
    EXPECT_EQ(std::tie(a.base, a.check, a.size, a.state_count, a.output_count, a.kind),
              std::tie(b.base, b.check, b.size, b.state_count, b.output_count, b.kind));
  }
  EXPECT_EQ(lazy->next_prefix, eager->next_prefix);
  EXPECT_EQ(lazy->split_left, eager->split_left);
  EXPECT_EQ(lazy->split_right, eager->split_right);
}

}  // namespace
}  // namespace velkan
