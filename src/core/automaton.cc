#include "core/automaton.h"

#include <algorithm>
#include <bit>

#include "core/encoding.h"
#include "core/uninitialized.h"

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

TokenAutomaton automaton_compile(const TrieBuilder& trie, int32_t kind) {
  const int32_t n = trie.node_count;
  const std::vector<TrieNode>& nodes = trie.nodes;
  TokenAutomaton a;
  a.kind = kind;

  // Stage one: place the nodes into the double array, breadth first, each
  // node's children at the lowest base, at or after the first free slot, at
  // which all their slots are free. The first free slot tends to stay at an
  // early hole that only a child on byte 0 could fill, so rather than test
  // every base from there, the search visits only the bases that put the
  // smallest child byte on a free slot; it finds the same base. The queue
  // keeps the breadth-first order, each node with its slot, for stage two.
  struct Placed {
    int32_t node;
    int32_t slot;
  };
  std::vector<Placed> order;
  order.reserve(ix(n));
  int32_t size = std::max(2 * n, kMinAutomatonSize);
  a.base.assign(ix(size), 0);
  a.check.assign(ix(size), -1);
  FreeSlots free_slots(size);
  a.check[0] = 0;
  free_slots.occupy(0);
  int32_t first_free = 1;
  order.push_back({0, 0});
  for (size_t head = 0; head < order.size(); head++) {
    const TrieNode& node = nodes[ix(order[ix(head)].node)];
    if (node.child_count == 0) continue;
    const int32_t s = order[head].slot;
    const int32_t lowest = node.children[0].byte;
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
      for (int32_t k = 1; k < node.child_count; k++) {
        if (!free_slots.is_free(r + node.children[ix(k)].byte)) {
          taken = node.children[ix(k)].byte;
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
    for (int32_t k = 0; k < node.child_count; k++) {
      const int32_t t = r + node.children[ix(k)].byte;
      a.check[ix(t)] = s;
      free_slots.occupy(t);
      order.push_back({node.children[ix(k)].node, t});
    }
    first_free = std::min(free_slots.find(first_free), size);
  }

  // Stage two: failure links, depths and output lists, by slot, in the same
  // breadth-first order, so that a node's failure target is final before its
  // children need it. A node's child on a byte is found through the double
  // array (its slot is base + byte, owned when check names the node), which
  // is what makes this stage fast: no walk over the trie's child lists.
  std::vector<int32_t> fail(ix(size), 0), out_head(ix(size), 0), depth(ix(size), 0);
  a.outputs.assign(kInitialOutputs, AutomatonOutput{0, 0, 0});
  a.output_count = 1;
  const int32_t* base = a.base.data();
  const int32_t* check = a.check.data();
  auto child_slot = [&](int32_t s, uint8_t b) {
    const int32_t t = base[s] + b;
    return base[s] != 0 && check[t] == s ? t : -1;
  };
  const TrieNode& root = nodes[0];
  for (int32_t k = 0; k < root.child_count; k++) {
    const int32_t c = base[0] + root.children[ix(k)].byte;
    fail[ix(c)] = 0;
    depth[ix(c)] = 1;
  }
  for (size_t i = 1; i < order.size(); i++) {
    const TrieNode& node = nodes[ix(order[ix(i)].node)];
    const int32_t v = order[i].slot;
    if (node.value != -1) {
      if (a.output_count == static_cast<int32_t>(a.outputs.size())) {
        a.outputs.resize(a.outputs.size() * 2, AutomatonOutput{0, 0, 0});
      }
      a.outputs[ix(a.output_count)] =
          AutomatonOutput{node.value, depth[ix(v)], out_head[ix(fail[ix(v)])]};
      out_head[ix(v)] = a.output_count++;
    } else {
      out_head[ix(v)] = out_head[ix(fail[ix(v)])];
    }
    for (int32_t k = 0; k < node.child_count; k++) {
      const uint8_t b = node.children[ix(k)].byte;
      const int32_t c = base[v] + b;
      depth[ix(c)] = depth[ix(v)] + 1;
      int32_t f = fail[ix(v)];
      for (;;) {
        const int32_t x = child_slot(f, b);
        if (x >= 0 && x != c) {
          fail[ix(c)] = x;
          break;
        }
        if (f == 0) {
          fail[ix(c)] = 0;
          break;
        }
        f = fail[ix(f)];
      }
    }
  }
  a.outputs.resize(ix(a.output_count));
  a.outputs.shrink_to_fit();

  a.states.assign(ix(size), AutomatonState{0, 0, -1, 0});
  for (const Placed& p : order) {
    a.states[ix(p.slot)] = AutomatonState{fail[ix(p.slot)], out_head[ix(p.slot)],
                                          nodes[ix(p.node)].value, depth[ix(p.slot)]};
  }
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

}  // namespace velkan
