// Token automaton: a double-array Aho-Corasick automaton over the byte strings
// of all tokens. It answers one question for the encoder and for construction:
// which is the longest token that is a prefix of these bytes?

#ifndef VELKAN_CORE_AUTOMATON_H_
#define VELKAN_CORE_AUTOMATON_H_

#include <cstdint>
#include <memory>
#include <vector>

#include "core/index.h"

namespace velkan {

struct BytePairEncoding;

// One double-array slot. Failure and output data sit together so that a
// transition needs one 16-byte record besides base and check. Precomputed
// images store the state array in exactly this form.
struct AutomatonState {
  int32_t fail;    // slot of the failure state
  int32_t output;  // first AutomatonOutput of this state, 0 if none
  int32_t value;   // token id ending exactly here, -1 if none
  int32_t depth;   // bytes from the root
};
static_assert(sizeof(AutomatonState) == 16, "image layout");

// One entry of a state's output list; stored in images as three i32.
struct AutomatonOutput {
  int32_t token;   // token id
  int32_t length;  // token length in bytes
  int32_t next;    // next record of the list, 0 at the end
};
static_assert(sizeof(AutomatonOutput) == 12, "image layout");

// A compiled automaton. A transition from slot s on byte b exists exactly when
// check[base[s] + b] == s and then leads to slot base[s] + b; slot 0 is the
// root. state_count and size are always equal, and outputs holds exactly
// output_count records.
struct TokenAutomaton {
  std::vector<AutomatonState> states;    // one per slot
  int32_t state_count = 0;               // == size
  std::vector<AutomatonOutput> outputs;  // record 0 reserved, all zero
  int32_t output_count = 0;              // records in use, record 0 included
  int32_t kind = 0;                      // an AutomatonKind, as compiled
  std::vector<int32_t> base;             // 0 for a slot without children
  std::vector<int32_t> check;            // owner slot, -1 when free, 0 at slot 0
  int32_t size = 0;                      // length of base, check and states
};

// Which of an encoding's three automata one is (TokenAutomaton::kind, an i32
// in images; any other value is refused by the image checks).
enum AutomatonKind : int32_t {
  kForwardAutomaton = 0,     // the forward trie: the one that is queried
  kForwardAltAutomaton = 1,  // the same trie again (see BytePairEncoding)
  kReverseAutomaton = 2,     // the tokens back to front
};

// Kinds of trie: the forward one holds the tokens' bytes as they are, the
// reverse one holds them back to front.
enum TrieKind : int32_t { kForwardTrie = 1, kReverseTrie = 2 };

// One child entry of a trie node.
struct TrieChild {
  uint8_t byte;
  int32_t node;  // index into TrieBuilder::nodes
};

// A trie node. Children stay sorted by byte (unsigned, ascending) so that both
// insertion and failure computation can binary search them.
struct TrieNode {
  std::unique_ptr<TrieChild[]> children;
  int32_t child_count = 0;
  int32_t child_capacity = 0;  // 0, then 4, 8, 16 ...
  int32_t value = -1;          // token ending here, -1 if none
};

// A growable byte trie that receives the tokens one by one and is then
// compiled into a TokenAutomaton. Lives only during construction.
struct TrieBuilder {
  std::vector<TrieNode> nodes;  // node_capacity entries; node 0 is the root
  int32_t node_count = 0;       // nodes in use
  int32_t node_capacity = 0;    // nodes allocated
  TrieKind kind = kForwardTrie;
};

// An empty trie of the given kind: 4096 nodes allocated, the root in use.
TrieBuilder trie_new(TrieKind kind);

// The child of node on byte, added (as a childless node) when missing.
int32_t trie_child(TrieBuilder& trie, int32_t node, uint8_t byte);

// Walks bytes from the root, adding nodes as needed, and marks the last node
// with id unless a token already ended there: of equal byte strings the one
// inserted first keeps the node. A token of length 0 marks the root.
void trie_insert(TrieBuilder& trie, const uint8_t* bytes, uint32_t len, int32_t id);

// trie_insert for either kind of trie: a reverse trie takes the bytes back to
// front.
void trie_insert_token(TrieBuilder& trie, const uint8_t* bytes, uint32_t len, int32_t id);

// The value of the deepest node with one on the path of bytes[0, len) from
// the root (the root itself not counted), or -1: the longest token that is a
// prefix of the bytes, as automaton_longest_prefix finds it in the compiled
// automaton. Reads the trie only, so it may run while the trie is compiled.
int32_t trie_longest_prefix(const TrieBuilder& trie, const uint8_t* bytes, uint64_t len);

// A trie laid out breadth first, each node's children next to each other in
// byte order: what the compile walks. Node 0 is the root; node i's children
// are nodes first_child[i] to first_child[i] + child_count[i] - 1, and byte[i]
// labels the edge into node i (0 for the root).
struct FlatTrie {
  std::vector<uint8_t> byte;
  std::vector<int32_t> first_child;
  std::vector<int32_t> child_count;
  std::vector<int32_t> value;  // token ending here, -1 if none
  int32_t size() const { return static_cast<int32_t>(value.size()); }
};

// The same trie, flat.
FlatTrie flat_trie_of(const TrieBuilder& trie);

// The forward trie of tokens 0 to n - 1 (token i is bytes[starts[i],
// starts[i + 1]); one of length 0 is a gap), as trie_insert_token of each in
// id order would make it, built level by level straight from the list. Also
// fills next_prefix (n entries): for each token, trie_longest_prefix of its
// bytes less the last one (-1 for tokens shorter than two bytes).
FlatTrie flat_trie_build(const uint8_t* bytes, const uint32_t* starts, uint32_t n,
                         int32_t* next_prefix);

// Compiles the trie (left unchanged) into a double-array automaton. The kind
// is only recorded; the arrays depend on the trie alone. The root never gets
// an output, so a token of length 0 is never reported.
TokenAutomaton automaton_compile(const FlatTrie& trie, int32_t kind);
TokenAutomaton automaton_compile(const TrieBuilder& trie, int32_t kind);

// The longest token that is a prefix of bytes, found by plain transitions
// from the root, and its length; token -1 when no prefix is a token (then
// bpe_next_match's general query has the answer). Inline because the driver
// asks it once per piece: when length == len the piece is itself a token.
struct PrefixToken {
  int32_t token;
  uint32_t length;
};

inline PrefixToken automaton_longest_prefix(const TokenAutomaton& a, const uint8_t* bytes,
                                            uint64_t len) {
  const int32_t* base = a.base.data();
  const int32_t* check = a.check.data();
  const AutomatonState* states = a.states.data();
  PrefixToken best{-1, 0};
  // A root without children would let byte 0 lead back to the root.
  if (base[0] == 0) return best;
  int32_t s = 0;
  for (uint64_t i = 0; i < len; i++) {
    const int32_t t = base[s] + bytes[i];
    if (check[t] != s) break;
    s = t;
    const int32_t value = states[t].value;
    if (value != -1) best = {value, static_cast<uint32_t>(i + 1)};
  }
  return best;
}

// The token whose bytes are exactly bytes[0, len), or -1. Reads base and
// check along the path and the state array once at its end, one array fewer
// per byte than automaton_longest_prefix: the walk is bound by cache misses,
// and most pieces of real text are tokens by themselves.
inline int32_t automaton_whole_token(const TokenAutomaton& a, const uint8_t* bytes, uint64_t len) {
  const int32_t* base = a.base.data();
  const int32_t* check = a.check.data();
  if (len == 0 || base[0] == 0) return -1;
  int32_t s = 0;
  for (uint64_t i = 0; i < len; i++) {
    const int32_t t = base[s] + bytes[i];
    if (check[t] != s) return -1;
    s = t;
  }
  return a.states[ix(s)].value;
}

// An automaton without tokens (its root has no children): every walk over it
// finds nothing. Lives as long as the process.
const TokenAutomaton& automaton_none();

// Asks for huge pages under the automaton's arrays, which every encode reads
// at random (util/huge_pages.h); a hint, fine if refused.
void automaton_advise_huge_pages(const TokenAutomaton& a);

// Of the tokens that occur in bytes[0, len), the one that starts first and,
// among those, the longest; -1 when none occurs or len is 0. When every single
// byte is a token this is the longest token that is a prefix of the bytes.
// Reads bpe.forward_automaton only, which must be ready (bpe_forward_automaton
// asked for it).
int32_t bpe_next_match(const BytePairEncoding& bpe, const uint8_t* bytes, uint64_t len);

}  // namespace velkan

#endif  // VELKAN_CORE_AUTOMATON_H_
