// Token automaton: tries, the exact double-array layout that compilation
// produces (precomputed images store it as it is) and longest-match queries.

#include "core/automaton.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "core/build.h"

namespace velkan {
namespace {

const uint8_t* u8(const std::string& s) { return reinterpret_cast<const uint8_t*>(s.data()); }

TrieBuilder trie_of(const std::vector<std::string>& tokens, TrieKind kind = kForwardTrie) {
  TrieBuilder trie = trie_new(kind);
  for (size_t i = 0; i < tokens.size(); i++) {
    trie_insert_token(trie, u8(tokens[i]), static_cast<uint32_t>(tokens[i].size()),
                      static_cast<int32_t>(i));
  }
  return trie;
}

BytePairEncodingPtr build(const std::vector<std::string>& tokens) {
  std::string bytes;
  std::vector<uint32_t> starts{0};
  for (const std::string& t : tokens) starts.push_back(static_cast<uint32_t>((bytes += t).size()));
  return bpe_build(u8(bytes), starts.data(), static_cast<uint32_t>(tokens.size()));
}

// The slot reached from the root along path by plain transitions, or -1.
int32_t walk(const TokenAutomaton& a, const std::string& path) {
  int32_t s = 0;
  for (char c : path) {
    const auto b = static_cast<unsigned char>(c);
    if (a.base[ix(s)] == 0 || a.check[ix(a.base[ix(s)] + b)] != s) return -1;
    s = a.base[ix(s)] + b;
  }
  return s;
}

TEST(Trie, SortedChildrenGrowthAndFirstWriter) {
  TrieBuilder trie = trie_new(kForwardTrie);
  EXPECT_EQ(trie.node_capacity, 4096);
  const uint8_t bytes[] = {0x80, 0x00, 0xff, 0x41, 0x7f, 0x01, 0xfe, 0x20, 0x90};
  for (size_t i = 0; i < std::size(bytes); i++) {
    EXPECT_EQ(trie_child(trie, 0, bytes[i]), static_cast<int32_t>(i + 1));
    EXPECT_EQ(trie.nodes[0].child_capacity, i < 4 ? 4 : i < 8 ? 8 : 16);
  }
  EXPECT_EQ(trie_child(trie, 0, 0x41), 4);
  for (int32_t k = 1; k < trie.nodes[0].child_count; k++) {
    EXPECT_LT(trie.nodes[0].children[ix(k - 1)].byte, trie.nodes[0].children[ix(k)].byte);
  }
  for (int i = 0; i < 5000; i++) {
    const uint8_t key[2] = {static_cast<uint8_t>(i / 200), static_cast<uint8_t>(i % 200)};
    trie_insert(trie, key, 2, i);
  }
  EXPECT_EQ(trie.node_capacity, 8192);
  EXPECT_GT(trie.node_count, 4096);
  EXPECT_EQ(trie.nodes[ix(trie_child(trie, trie_child(trie, 0, 24), 199))].value, 4999);
  EXPECT_EQ(trie.nodes[ix(trie.node_count)].value, -1);

  TrieBuilder rev = trie_of({"ab", "", "ab", "abc"}, kReverseTrie);
  EXPECT_EQ(rev.nodes[0].value, -1);  // a token of length 0 is a gap: no state
  EXPECT_EQ(rev.node_count, 6);       // b, ba, c, cb, cba
  const TokenAutomaton a = automaton_compile(rev, 2);
  EXPECT_EQ(a.states[ix(walk(a, "ba"))].value, 0);
}

// Worked by hand for "ab" = 0, "b" = 1: the root's children go to 1 + 'a' and
// 1 + 'b'; the child of slot 98 cannot use base 1 (99 is taken) and gets 2.
TEST(Compile, HandWorkedLayout) {
  TokenAutomaton a = automaton_compile(trie_of({"ab", "b"}), 7);
  EXPECT_EQ(a.kind, 7);
  ASSERT_EQ(a.size, 512);
  std::vector<int32_t> base(512, 0), check(512, -1);
  base[0] = 1, base[98] = 2;
  check[0] = 0, check[98] = 0, check[99] = 0, check[100] = 98;
  EXPECT_EQ(a.base, base);
  EXPECT_EQ(a.check, check);
  std::map<int32_t, std::vector<int32_t>> want{
      {98, {0, 0, -1, 1}}, {99, {0, 1, 1, 1}}, {100, {99, 2, 0, 2}}};
  for (int32_t s = 0; s < 512; s++) {
    const AutomatonState& st = a.states[ix(s)];
    EXPECT_EQ((std::vector<int32_t>{st.fail, st.output, st.value, st.depth}),
              (want.count(s) ? want[s] : std::vector<int32_t>{0, 0, -1, 0}))
        << s;
  }
  std::vector<std::vector<int32_t>> outputs;
  for (const AutomatonOutput& o : a.outputs) outputs.push_back({o.token, o.length, o.next});
  EXPECT_EQ(outputs, (std::vector<std::vector<int32_t>>{{0, 0, 0}, {1, 1, 0}, {0, 2, 1}}));
  EXPECT_EQ(a.output_count, 3);
}

TEST(Compile, MinimumSizes) {
  for (auto [children, size] : {std::pair{0, 512}, {1, 512}, {255, 512}, {256, 514}}) {
    std::vector<std::string> tokens;
    for (int b = 0; b < children; b++) tokens.push_back(std::string(1, static_cast<char>(b)));
    TokenAutomaton a = automaton_compile(trie_of(tokens), 0);
    EXPECT_EQ(a.size, size);
    EXPECT_EQ(a.state_count, size);
    EXPECT_EQ(std::count(a.check.begin(), a.check.end(), -1), size - 1 - children);
  }
}

// Random tries against a plain scan of every candidate base (with the same
// growth rule), and every state against its meaning: depth, value, failure
// (longest proper suffix in the trie) and outputs (tokens that are suffixes,
// longest first).
TEST(Compile, RandomTriesMatchPlainScanAndMeaning) {
  std::mt19937 rng(1);  // a seed whose round 25 makes the arrays grow
  int grown = 0;
  for (int round = 0; round < 40; round++) {
    const std::string alphabets[] = {"ab", std::string("abcxyz\0\xff", 8),
                                     std::string("\0\1\x7f\x80\xfe\xff", 6)};
    const std::string& alphabet = alphabets[round % 3];
    std::vector<std::string> tokens(1 + rng() % 300, "");
    for (std::string& t : tokens) {
      for (uint32_t n = 1 + static_cast<uint32_t>(rng() % static_cast<uint32_t>(1 + round % 7));
           n > 0; n--)
        t += alphabet[rng() % alphabet.size()];
    }
    const TrieBuilder trie = trie_of(tokens, round % 2 ? kForwardTrie : kReverseTrie);
    const TokenAutomaton a = automaton_compile(trie, 0);

    int32_t size = std::max(2 * trie.node_count, 512), cursor = 1;
    std::vector<int32_t> base(ix(size), 0), check(ix(size), -1), slot(ix(trie.node_count), 0),
        queue{0};
    check[0] = 0;
    for (size_t h = 0; h < queue.size(); h++) {
      const TrieNode& node = trie.nodes[ix(queue[ix(h)])];
      if (node.child_count == 0) continue;
      for (int32_t r = cursor;; r++) {
        while (size < r + 256) {
          base.resize(ix(size *= 2), 0);
          check.resize(ix(size), -1);
        }
        bool fits = true;
        for (int32_t k = 0; k < node.child_count; k++)
          fits &= check[ix(r + node.children[ix(k)].byte)] == -1;
        if (!fits) continue;
        base[ix(slot[ix(queue[ix(h)])])] = r;
        for (int32_t k = 0; k < node.child_count; k++) {
          check[ix(r + node.children[ix(k)].byte)] = slot[ix(queue[ix(h)])];
          slot[ix(node.children[ix(k)].node)] = r + node.children[ix(k)].byte;
          queue.push_back(node.children[ix(k)].node);
        }
        break;
      }
      while (cursor < size && check[ix(cursor)] != -1) cursor++;
    }
    ASSERT_EQ(a.base, base) << round;
    ASSERT_EQ(a.check, check) << round;
    grown += size > std::max(2 * trie.node_count, 512);

    std::map<std::string, int32_t> first;
    std::map<std::string, bool> paths;
    for (size_t i = 0; i < tokens.size(); i++) {
      std::string t = tokens[i];
      if (trie.kind == kReverseTrie) std::reverse(t.begin(), t.end());
      first.emplace(t, static_cast<int32_t>(i));
      for (size_t l = 0; l <= t.size(); l++) paths[t.substr(0, l)] = true;
    }
    for (const auto& [path, unused] : paths) {
      const AutomatonState& st = a.states[ix(walk(a, path))];
      EXPECT_EQ(st.depth, static_cast<int32_t>(path.size()));
      EXPECT_EQ(st.value, path.empty() || !first.count(path) ? -1 : first[path]);
      size_t k = 1;
      while (k < path.size() && !paths.count(path.substr(k))) k++;
      EXPECT_EQ(st.fail, walk(a, path.substr(std::min(k, path.size()))));
      std::vector<int32_t> want, got;
      for (k = 0; k < path.size(); k++) {
        if (first.count(path.substr(k))) want.push_back(first[path.substr(k)]);
      }
      for (int32_t o = st.output; o != 0; o = a.outputs[ix(o)].next)
        got.push_back(a.outputs[ix(o)].token);
      EXPECT_EQ(got, want) << path;
    }
  }
  EXPECT_GT(grown, 0) << "no case grew the double array";
}

TEST(NextMatch, LongestPrefixToken) {
  std::vector<std::string> tokens;
  for (int b = 0; b < 256; b++) tokens.push_back(std::string(1, static_cast<char>(b)));
  tokens.insert(tokens.end(), {"ab", "abcd", "abc", "ab", ""});  // ids 256 to 260
  BytePairEncodingPtr bpe = build(tokens);
  for (auto [text, want] : {std::pair<std::string, int32_t>{"", -1},
                            {"ax", 'a'},
                            {"ab", 256},
                            {"abc", 258},
                            {"abcde", 257},
                            {std::string("\0ab", 3), 0}}) {
    EXPECT_EQ(bpe_next_match(*bpe, u8(text), text.size()), want) << text;
  }
  EXPECT_EQ(bpe_next_match(*build({""}), u8(std::string(3, '\0')), 3), -1);
}

// Without all single bytes: the earliest-starting match, the longest of those.
TEST(NextMatch, EarliestThenLongest) {
  std::mt19937 rng(777);
  for (int round = 0; round < 40; round++) {
    std::vector<std::string> tokens(1 + rng() % 40, "");
    for (std::string& t : tokens) {
      for (uint32_t n = 1 + static_cast<uint32_t>(rng() % 5); n > 0; n--)
        t += static_cast<char>('a' + rng() % 4);
    }
    tokens.push_back("");
    BytePairEncodingPtr bpe = build(tokens);
    for (int k = 0; k < 50; k++) {
      std::string text(1 + rng() % 12, 'a');
      for (char& c : text) c = static_cast<char>('a' + rng() % 5);
      int32_t want = -1;
      for (size_t start = 0; start < text.size() && want == -1; start++) {
        for (size_t len = text.size() - start; len > 0 && want == -1; len--) {
          auto it = std::find(tokens.begin(), tokens.end(), text.substr(start, len));
          if (it != tokens.end()) want = static_cast<int32_t>(it - tokens.begin());
        }
      }
      ASSERT_EQ(bpe_next_match(*bpe, u8(text), text.size()), want) << text;
    }
  }
}

}  // namespace
}  // namespace velkan
