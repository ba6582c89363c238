#include "core/automaton.h"

#include <algorithm>
#include <bit>
#include <iterator>
#include <new>
#include <utility>

#include "core/encoding.h"
#include "core/uninitialized.h"
#include "util/huge_pages.h"

namespace velkan {
namespace {

constexpr int32_t kInitialTrieNodes = 4096;
constexpr int32_t kInitialOutputs = 1024;
constexpr int32_t kMinAutomatonSize = 512;

// The child of node on byte, or -1 with *insert_at set to the position where
// an entry for the byte belongs.
int32_t search_children(const TrieNode& node, uint8_t byte, int32_t* insert_at) {
  int32_t lo = 0, hi = node.child_count;
  while (lo < hi) {
    const int32_t mid = (lo + hi) / 2;
    const uint8_t found = node.children[ix(mid)].byte;
    if (found == byte) return node.children[ix(mid)].node;
    if (found < byte) {
      lo = mid + 1;
    } else {
      hi = mid;
    }
  }
  *insert_at = lo;
  return -1;
}

// The free double-array slots as a bitmap with summary levels above it (a
// bit per word below: set while that word has a free slot), so that the
// lowest free slot at or after a given one takes a few word scans. Slots at
// or past the end are free. Performance notes: placement asks this for every
// node and tests each child's slot; a union-find over an int per slot (and
// the check array for the tests) missed the cache on most calls, while the
// bitmap of a 433,000-slot array is 54 KB.
class FreeSlots {
 public:
  explicit FreeSlots(int32_t size) { grow(size); }

  // Slots from the old size up to size become free.
  void grow(int32_t size) {
    std::vector<uint64_t>& bits = levels_.empty() ? levels_.emplace_back() : levels_[0];
    bits.resize((static_cast<size_t>(size) + 63) / 64, 0);
    for (int32_t i = size_; i < size; i++) bits[ix(i >> 6)] |= uint64_t{1} << (i & 63);
    size_ = size;
    // Rebuild the summaries (rare: the array only doubles).
    levels_.resize(1);
    while (levels_.back().size() > 1) {
      const std::vector<uint64_t>& below = levels_.back();
      std::vector<uint64_t> above((below.size() + 63) / 64, 0);
      for (size_t w = 0; w < below.size(); w++) {
        if (below[w] != 0) above[w >> 6] |= uint64_t{1} << (w & 63);
      }
      levels_.push_back(std::move(above));
    }
  }

  bool is_free(int32_t slot) const {
    return slot >= size_ || ((levels_[0][ix(slot >> 6)] >> (slot & 63)) & 1) != 0;
  }

  void occupy(int32_t slot) {
    size_t index = static_cast<size_t>(slot);
    for (std::vector<uint64_t>& bits : levels_) {
      bits[index >> 6] &= ~(uint64_t{1} << (index & 63));
      if (bits[index >> 6] != 0) break;  // the word still has a free slot
      index >>= 6;
    }
  }

  int32_t find(int32_t slot) const {
    if (slot >= size_) return slot;
    const int64_t found = next_set(0, slot);
    return found < 0 ? size_ : static_cast<int32_t>(found);
  }

 private:
  // The lowest set bit at or after pos in a level, or -1.
  int64_t next_set(size_t level, int64_t pos) const {
    const std::vector<uint64_t>& bits = levels_[level];
    const int64_t w = pos >> 6;
    if (w >= static_cast<int64_t>(bits.size())) return -1;
    const uint64_t here = bits[ix(w)] & (~uint64_t{0} << (pos & 63));
    if (here != 0) return (w << 6) + std::countr_zero(here);
    if (level + 1 == levels_.size()) return -1;  // the top level is one word
    const int64_t next = next_set(level + 1, w + 1);
    return next < 0 ? -1 : (next << 6) + std::countr_zero(bits[ix(next)]);
  }

  std::vector<std::vector<uint64_t>> levels_;  // [0]: a bit per slot, 1 = free
  int32_t size_ = 0;
};

// The general query: every output is considered, so a text whose first bytes
// start no token still gets the earliest match.
int32_t earliest_longest_match(const TokenAutomaton& a, const uint8_t* bytes, uint64_t len) {
  const int32_t* base = a.base.data();
  const int32_t* check = a.check.data();
  const AutomatonState* states = a.states.data();
  const AutomatonOutput* outputs = a.outputs.data();

  // The span of the current state, i + 1 - depth, never moves back, and every
  // later match starts inside a later span; so once the span starts after the
  // best start nothing can beat the best and the scan stops. (That includes
  // falling back to the root.) Output lists run from longest to shortest, so
  // only the head of each list can improve the best.
  int32_t best = -1;
  uint64_t best_start = 0;
  int32_t s = 0;
  for (uint64_t i = 0; i < len; i++) {
    const uint8_t b = bytes[i];
    for (;;) {
      const int32_t t = base[s] + b;
      if (check[t] == s) {
        s = t;
        break;
      }
      if (s == 0) break;
      s = states[s].fail;
    }
    const AutomatonState& st = states[s];
    if (best >= 0 && i + 1 - static_cast<uint64_t>(st.depth) > best_start) return best;
    if (st.output != 0) {
      const AutomatonOutput& o = outputs[st.output];
      const uint64_t start = i + 1 - static_cast<uint64_t>(o.length);
      if (best < 0 || start <= best_start) {
        best = o.token;
        best_start = start;
      }
    }
  }
  return best;
}

}  // namespace

TrieBuilder trie_new(TrieKind kind) {
  TrieBuilder trie;
  trie.nodes.resize(kInitialTrieNodes);
  trie.node_count = 1;
  trie.node_capacity = kInitialTrieNodes;
  trie.kind = kind;
  return trie;
}

int32_t trie_child(TrieBuilder& trie, int32_t node, uint8_t byte) {
  int32_t lo = 0;
  const int32_t existing = search_children(trie.nodes[ix(node)], byte, &lo);
  if (existing != -1) return existing;
  if (trie.node_count == trie.node_capacity) {
    trie.node_capacity *= 2;
    trie.nodes.resize(ix(trie.node_capacity));  // new nodes: no children, value -1
  }
  const int32_t child = trie.node_count++;

  TrieNode& n = trie.nodes[ix(node)];  // fetched after the resize above
  if (n.child_count == n.child_capacity) {
    const int32_t capacity = n.child_capacity == 0 ? 4 : n.child_capacity * 2;
    auto grown = make_uninitialized_array<TrieChild>(ix(capacity));
    std::copy(n.children.get(), n.children.get() + n.child_count, grown.get());
    n.children = std::move(grown);
    n.child_capacity = capacity;
  }
  std::copy_backward(n.children.get() + lo, n.children.get() + n.child_count,
                     n.children.get() + n.child_count + 1);
  n.children[ix(lo)] = TrieChild{byte, child};
  n.child_count++;
  return child;
}

int32_t trie_longest_prefix(const TrieBuilder& trie, const uint8_t* bytes, uint64_t len) {
  int32_t best = -1;
  int32_t node = 0;
  for (uint64_t i = 0; i < len; i++) {
    int32_t unused = 0;
    node = search_children(trie.nodes[ix(node)], bytes[i], &unused);
    if (node == -1) break;
    const int32_t value = trie.nodes[ix(node)].value;
    if (value != -1) best = value;
  }
  return best;
}

void trie_insert(TrieBuilder& trie, const uint8_t* bytes, uint32_t len, int32_t id) {
  int32_t node = 0;
  for (uint32_t i = 0; i < len; i++) node = trie_child(trie, node, bytes[i]);
  if (trie.nodes[ix(node)].value == -1) trie.nodes[ix(node)].value = id;
}

void trie_insert_token(TrieBuilder& trie, const uint8_t* bytes, uint32_t len, int32_t id) {
  if (len == 0) return;  // a gap in the ranks, not a token
  if (trie.kind != kReverseTrie) {
    trie_insert(trie, bytes, len, id);
    return;
  }
  // Walking the bytes back to front builds the same trie as inserting a
  // reversed copy, without the copy.
  int32_t node = 0;
  for (uint32_t i = len; i > 0; i--) node = trie_child(trie, node, bytes[i - 1]);
  if (trie.nodes[ix(node)].value == -1) trie.nodes[ix(node)].value = id;
}

FlatTrie flat_trie_of(const TrieBuilder& trie) {
  FlatTrie flat;
  const auto n = ix(trie.node_count);
  flat.byte.reserve(n);
  flat.first_child.reserve(n);
  flat.child_count.reserve(n);
  flat.value.reserve(n);
  std::vector<int32_t> order;  // trie node of each flat node
  order.reserve(n);
  order.push_back(0);
  flat.byte.push_back(0);
  for (size_t head = 0; head < order.size(); head++) {
    const TrieNode& node = trie.nodes[ix(order[head])];
    flat.value.push_back(node.value);
    flat.first_child.push_back(static_cast<int32_t>(order.size()));
    flat.child_count.push_back(node.child_count);
    for (int32_t k = 0; k < node.child_count; k++) {
      order.push_back(node.children[ix(k)].node);
      flat.byte.push_back(node.children[ix(k)].byte);
    }
  }
  return flat;
}

FlatTrie flat_trie_build(const uint8_t* bytes, const uint32_t* starts, uint32_t n,
                         int32_t* next_prefix) {
  // Level by level: a node's tokens (those it is a prefix of, in id order)
  // end at it or go, by their next byte, to its children, which are the next
  // level's nodes in the breadth-first order. Each token is looked at once
  // per byte, and no node is ever allocated on its own. Performance notes: on
  // cl100k_base's ranks plus 3,000 the pointer trie this replaces (a child
  // array per node, then a walk per token for the prefix chain) cost about a
  // third of a forward-only build.
  FlatTrie flat;
  std::fill(next_prefix, next_prefix + n, -1);
  // Each token with its place in bytes, so that a level reads its tokens in
  // order rather than the start array at random.
  // The byte at the level's depth is read once per level into next: the
  // sorts and the grouping then read only the entries. Performance notes:
  // reading it from the token bytes in each of them (a cache miss apiece on
  // a vocabulary's megabytes) was most of this function.
  struct Entry {
    uint32_t id, start, length;
    uint32_t next;
  };
  std::vector<Entry> ids, next_ids, rest;
  ids.reserve(n);
  for (uint32_t id = 0; id < n; id++) {
    // Length 0: a gap.
    if (starts[id + 1] != starts[id])
      ids.push_back({id, starts[id], starts[id + 1] - starts[id], 0});
  }
  const size_t estimate = ids.size() * 3 + 1;  // nodes: about two per token
  flat.byte.reserve(estimate);
  flat.first_child.reserve(estimate);
  flat.child_count.reserve(estimate);
  flat.value.reserve(estimate);
  next_ids.reserve(ids.size());
  // One per node of the level: its tokens in ids, and the deepest token on
  // the path above it (the root not counted).
  struct Group {
    uint32_t begin, end;
    int32_t above;
  };
  std::vector<Group> groups{{0, static_cast<uint32_t>(ids.size()), -1}}, next_groups;
  flat.byte.push_back(0);
  flat.value.push_back(-1);
  flat.first_child.push_back(0);
  flat.child_count.push_back(0);
  int32_t level_first = 0;
  uint32_t counts[256];
  constexpr size_t kAhead = 16;  // entries whose next byte is fetched early
  for (uint32_t depth = 0; !groups.empty(); depth++) {
    next_ids.clear();
    next_groups.clear();
    for (size_t k = 0; k < groups.size(); k++) {
      const auto node = ix(level_first + static_cast<int32_t>(k));
      const Group g = groups[k];
      int32_t value = -1;
      rest.clear();
      for (uint32_t j = g.begin; j < g.end; j++) {
        if (j + kAhead < ids.size() && ids[j + kAhead].length > depth) {
          __builtin_prefetch(bytes + ids[j + kAhead].start + depth);
        }
        Entry e = ids[j];
        if (e.length == depth) {
          if (value == -1) value = static_cast<int32_t>(e.id);  // the first keeps the node
          next_prefix[e.id] = g.above;  // the deepest token on the path less this byte
        } else {
          e.next = bytes[e.start + depth];
          rest.push_back(e);
        }
      }
      flat.value[node] = value;
      const int32_t above = value != -1 ? value : g.above;
      flat.first_child[node] = flat.size();
      if (rest.empty()) continue;
      // The children in byte order, each with its tokens still in id order.
      const auto next_byte = [](const Entry& e) { return static_cast<uint8_t>(e.next); };
      const size_t from = next_ids.size();
      if (rest.size() < 64) {
        for (size_t a = 1; a < rest.size(); a++) {  // insertion sort: stable
          const Entry e = rest[a];
          const uint8_t b = next_byte(e);
          size_t c = a;
          for (; c > 0 && next_byte(rest[c - 1]) > b; c--) rest[c] = rest[c - 1];
          rest[c] = e;
        }
        next_ids.insert(next_ids.end(), rest.begin(), rest.end());
      } else {
        std::fill(std::begin(counts), std::end(counts), 0u);
        for (const Entry& e : rest) counts[next_byte(e)]++;
        uint32_t at = 0;
        for (uint32_t& c : counts) at += std::exchange(c, at);
        next_ids.resize(from + rest.size());
        for (const Entry& e : rest) next_ids[from + counts[next_byte(e)]++] = e;
      }
      int32_t children = 0;
      for (size_t j = from; j < next_ids.size(); j++) {
        const uint8_t b = next_byte(next_ids[j]);
        if (j == from || b != next_byte(next_ids[j - 1])) {
          if (!next_groups.empty()) next_groups.back().end = static_cast<uint32_t>(j);
          next_groups.push_back({static_cast<uint32_t>(j), 0, above});
          flat.byte.push_back(b);
          flat.value.push_back(-1);
          flat.first_child.push_back(0);
          flat.child_count.push_back(0);
          children++;
        }
      }
      next_groups.back().end = static_cast<uint32_t>(next_ids.size());
      flat.child_count[node] = children;
    }
    level_first += static_cast<int32_t>(groups.size());
    std::swap(ids, next_ids);
    std::swap(groups, next_groups);
  }
  return flat;
}

TokenAutomaton automaton_compile(const TrieBuilder& trie, int32_t kind) {
  return automaton_compile(flat_trie_of(trie), kind);
}

TokenAutomaton automaton_compile(const FlatTrie& trie, int32_t kind) {
  const int32_t n = trie.size();
  const uint8_t* bytes = trie.byte.data();
  const int32_t* first_child = trie.first_child.data();
  const int32_t* child_count = trie.child_count.data();
  TokenAutomaton a;
  a.kind = kind;

  // Stage one: place the nodes into the double array, breadth first (the
  // flat trie's order), each node's children at the lowest base, at or after
  // the first free slot, at which all their slots are free. The first free
  // slot tends to stay at an early hole that only a child on byte 0 could
  // fill, so rather than test every base from there, the search visits only
  // the bases that put the smallest child byte on a free slot; it finds the
  // same base. slot[i] is where node i went, for stage two.
  std::vector<int32_t> slot(ix(n), 0);
  int32_t size = std::max(2 * n, kMinAutomatonSize);
  a.base.assign(ix(size), 0);
  a.check.assign(ix(size), -1);
  FreeSlots free_slots(size);
  a.check[0] = 0;
  free_slots.occupy(0);
  int32_t first_free = 1;
  for (int32_t i = 0; i < n; i++) {
    const int32_t count = child_count[ix(i)];
    if (count == 0) continue;
    const int32_t s = slot[ix(i)];
    const uint8_t* children = bytes + first_child[ix(i)];
    const int32_t lowest = children[0];
    int32_t r = first_free;
    for (;;) {
      r = free_slots.find(r + lowest) - lowest;
      if (size < r + 256) {
        while (size < r + 256) size *= 2;
        a.base.resize(ix(size), 0);
        a.check.resize(ix(size), -1);
        free_slots.grow(size);
      }
      int32_t taken = -1;  // a child byte whose slot is occupied at this base
      for (int32_t k = 1; k < count; k++) {
        if (!free_slots.is_free(r + children[k])) {
          taken = children[k];
          break;
        }
      }
      if (taken < 0) break;
      // No base below the one that puts that child on a free slot can work,
      // so jump there rather than try every base in between; the search
      // still finds the lowest base that fits (construction time was mostly
      // this search).
      r = free_slots.find(r + taken) - taken;
    }
    a.base[ix(s)] = r;
    for (int32_t k = 0; k < count; k++) {
      const int32_t t = r + children[k];
      a.check[ix(t)] = s;
      free_slots.occupy(t);
      slot[ix(first_child[ix(i)] + k)] = t;
    }
    first_free = std::min(free_slots.find(first_free), size);
  }

  // Stage two: failure links, depths and output lists, written straight into
  // the states by slot, in the same breadth-first order, so that a node's
  // failure target is final before its children need it. A node's child on a
  // byte is found through the double array (its slot is base + byte, owned
  // when check names the node), which is what makes this stage fast: no walk
  // over the trie's child lists.
  a.states.assign(ix(size), AutomatonState{0, 0, -1, 0});
  AutomatonState* states = a.states.data();
  a.outputs.assign(kInitialOutputs, AutomatonOutput{0, 0, 0});
  a.output_count = 1;
  const int32_t* base = a.base.data();
  const int32_t* check = a.check.data();
  auto child_slot = [&](int32_t s, uint8_t b) {
    const int32_t t = base[s] + b;
    return base[s] != 0 && check[t] == s ? t : -1;
  };
  states[0].value = n > 0 ? trie.value[0] : -1;
  for (int32_t k = 0; k < (n > 0 ? child_count[0] : 0); k++) {
    states[base[0] + bytes[first_child[0] + k]].depth = 1;  // failing to the root
  }
  for (int32_t i = 1; i < n; i++) {
    const int32_t v = slot[ix(i)];
    AutomatonState& sv = states[v];
    const int32_t value = trie.value[ix(i)];
    sv.value = value;
    if (value != -1) {
      if (a.output_count == static_cast<int32_t>(a.outputs.size())) {
        a.outputs.resize(a.outputs.size() * 2, AutomatonOutput{0, 0, 0});
      }
      a.outputs[ix(a.output_count)] = AutomatonOutput{value, sv.depth, states[sv.fail].output};
      sv.output = a.output_count++;
    } else {
      sv.output = states[sv.fail].output;
    }
    const int32_t count = child_count[ix(i)];
    const uint8_t* children = bytes + first_child[ix(i)];
    for (int32_t k = 0; k < count; k++) {
      const uint8_t b = children[k];
      const int32_t c = base[v] + b;
      states[c].depth = sv.depth + 1;
      int32_t f = sv.fail;
      for (;;) {
        const int32_t x = child_slot(f, b);
        if (x >= 0 && x != c) {
          states[c].fail = x;
          break;
        }
        if (f == 0) {
          states[c].fail = 0;
          break;
        }
        f = states[f].fail;
      }
    }
  }
  a.outputs.resize(ix(a.output_count));
  a.outputs.shrink_to_fit();
  a.state_count = size;
  a.size = size;
  return a;
}

int32_t bpe_next_match(const BytePairEncoding& bpe, const uint8_t* bytes, uint64_t len) {
  // Fast path: follow plain transitions from the root and keep the deepest
  // token on the way. Once a match starting at 0 is known, a failure
  // transition could only lead to later starts, so the walk's answer is
  // final. Without one, ask the general query.
  const PrefixToken prefix = automaton_longest_prefix(bpe.forward_automaton, bytes, len);
  if (prefix.token != -1) return prefix.token;
  if (bpe.forward_automaton.base[0] == 0) return -1;
  return len == 0 ? -1 : earliest_longest_match(bpe.forward_automaton, bytes, len);
}

const TokenAutomaton& automaton_none() {
  // Never destroyed: a walk on a thread still running at exit may read it.
  alignas(TokenAutomaton) static unsigned char storage[sizeof(TokenAutomaton)];
  static const TokenAutomaton* const none = ::new (storage) TokenAutomaton([] {
    TokenAutomaton a;
    a.states.assign(1, AutomatonState{0, 0, -1, 0});
    a.outputs.assign(1, AutomatonOutput{0, 0, 0});
    a.output_count = 1;
    a.base.assign(1, 0);  // base[0] == 0: the root has no children
    a.check.assign(1, 0);
    a.state_count = a.size = 1;
    return a;
  }());
  return *none;
}

void automaton_advise_huge_pages(const TokenAutomaton& a) {
  const auto advise = [](const auto& array) {
    advise_huge_pages(array.data(), array.size() * sizeof(array[0]));
  };
  advise(a.base);
  advise(a.check);
  advise(a.states);
  advise(a.outputs);
}

}  // namespace velkan
