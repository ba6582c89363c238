// The table checks of a loaded image (bpe_check_tables): every index in
// range, every walk finite, and the tables exactly those construction makes.

#include <algorithm>
#include <cstring>
#include <exception>
#include <thread>
#include <vector>

#include "core/automaton.h"
#include "core/build.h"
#include "core/byte_order.h"
#include "util/helper_thread.h"
#include "vocab/image.h"

namespace velkan {
namespace {

bool is_power_of_two(uint32_t x) { return x != 0 && (x & (x - 1)) == 0; }

bool same_bytes(const BytePairEncoding& bpe, uint32_t id, const uint8_t* bytes, uint32_t length) {
  return bpe.token_length(id) == length &&
         (length == 0 || std::memcmp(bpe.token_data(id), bytes, length) == 0);
}

// Every token sits in exactly one slot, reachable from its home slot without
// crossing an empty slot, under its true hash; an empty slot exists so that
// every probe ends.
bool check_token_index(const BytePairEncoding& bpe) {
  const TokenIndex& index = bpe.token_index;
  const uint32_t n = bpe.num_tokens;
  uint32_t present = 0;  // gaps (empty tokens) have no slot
  for (uint32_t id = 0; id < n; id++) present += bpe.token_length(id) != 0;
  if (!is_power_of_two(index.capacity) || index.entries.size() != index.capacity ||
      index.count != present || index.count >= index.capacity) {
    return false;
  }
  std::vector<uint8_t> seen(n, 0);
  const uint32_t mask = index.capacity - 1;
  uint32_t occupied = 0;
  for (uint32_t slot = 0; slot < index.capacity; slot++) {
    const TokenIndexEntry& e = index.entries[slot];
    if (e.token == -1) continue;
    if (e.token < 0 || static_cast<uint32_t>(e.token) >= n || seen[ix(e.token)] ||
        bpe.token_length(static_cast<uint32_t>(e.token)) == 0) {
      return false;
    }
    seen[ix(e.token)] = 1;
    occupied++;
    const uint32_t id = static_cast<uint32_t>(e.token);
    if (e.hash != token_hash(bpe.token_data(id), bpe.token_length(id), bpe.hash_factor)) {
      return false;
    }
    for (uint32_t s = e.hash & mask; s != slot; s = (s + 1) & mask) {
      if (index.entries[s].token == -1) return false;
    }
  }
  return occupied == index.count;
}

// Splits are both the token itself or two lower tokens that spell it; the
// pair table holds exactly one findable entry per split token.
bool check_splits_and_pairs(const BytePairEncoding& bpe) {
  const uint32_t n = bpe.num_tokens;
  if (bpe.split_left.size() != n || bpe.split_right.size() != n) return false;
  uint32_t splits = 0;
  for (uint32_t i = 0; i < n; i++) {
    const uint32_t l = bpe.split_left[i], r = bpe.split_right[i];
    if (l == i && r == i) continue;
    if (l >= i || r >= i) return false;
    const uint32_t ll = bpe.token_length(l);
    if (ll + bpe.token_length(r) != bpe.token_length(i) ||
        !same_bytes(bpe, l, bpe.token_data(i), ll) ||
        !same_bytes(bpe, r, bpe.token_data(i) + ll, bpe.token_length(r))) {
      return false;
    }
    splits++;
  }
  const PairTable& table = bpe.pair_table;
  if (!is_power_of_two(table.capacity) || table.entries.size() != table.capacity ||
      table.count != splits || table.count >= table.capacity) {
    return false;
  }
  const uint32_t mask = table.capacity - 1;
  uint32_t occupied = 0;
  for (uint32_t slot = 0; slot < table.capacity; slot++) {
    const PairEntry& e = table.entries[slot];
    if (e.merged == -1) continue;
    if (e.merged < 0 || static_cast<uint32_t>(e.merged) >= n) return false;
    if (bpe.split_left[ix(e.merged)] != e.left || bpe.split_right[ix(e.merged)] != e.right ||
        e.left == static_cast<uint32_t>(e.merged)) {
      return false;
    }
    occupied++;
    // The first entry with this key on the probe path must be this one.
    for (uint32_t s = static_cast<uint32_t>(pair_hash(e.left, e.right) >> 32) & mask; s != slot;
         s = (s + 1) & mask) {
      const PairEntry& o = table.entries[s];
      if (o.merged == -1 || (o.left == e.left && o.right == e.right)) return false;
    }
  }
  return occupied == table.count;
}

// next_prefix points at a strictly shorter token that is a prefix, so the
// encoder's fallback chain always ends.
bool check_next_prefix(const BytePairEncoding& bpe) {
  if (bpe.next_prefix.size() != bpe.num_tokens) return false;
  for (uint32_t i = 0; i < bpe.num_tokens; i++) {
    const int32_t p = bpe.next_prefix[i];
    if (p == -1) continue;
    if (p < 0 || static_cast<uint32_t>(p) >= bpe.num_tokens) return false;
    const uint32_t length = bpe.token_length(static_cast<uint32_t>(p));
    if (length >= bpe.token_length(i) ||
        !same_bytes(bpe, static_cast<uint32_t>(p), bpe.token_data(i), length)) {
      return false;
    }
  }
  return true;
}

// The byte order is every id exactly once, each after the one before it:
// the order is total (equal bytes go by id), so strictly rising entries are
// distinct, and n of them in range are all the ids.
bool check_byte_order(const BytePairEncoding& bpe) {
  const std::vector<uint32_t>& order = bpe.byte_order;
  if (order.size() != bpe.num_tokens) return false;
  for (size_t i = 0; i < order.size(); i++) {
    if (order[i] >= bpe.num_tokens) return false;
    if (i > 0 && !bpe_byte_order_before(bpe, order[i - 1], order[i])) return false;
  }
  return true;
}

bool check_automaton(const BytePairEncoding& bpe, const TokenAutomaton& a, AutomatonKind kind) {
  const int32_t size = a.size;
  const int32_t n = static_cast<int32_t>(bpe.num_tokens);
  if (a.kind != kind || size < 512 || a.state_count != size ||
      a.states.size() != static_cast<size_t>(size) || a.base.size() != a.states.size() ||
      a.check.size() != a.states.size() || a.output_count < 1 ||
      a.outputs.size() != static_cast<size_t>(a.output_count)) {
    return false;
  }
  const AutomatonOutput& zero = a.outputs[0];
  if (zero.token != 0 || zero.length != 0 || zero.next != 0) return false;
  for (int32_t k = 1; k < a.output_count; k++) {
    const AutomatonOutput& o = a.outputs[ix(k)];
    // Lists run towards lower records and shorter tokens, so they end.
    if (o.token < 0 || o.token >= n || o.length < 1 ||
        static_cast<uint32_t>(o.length) != bpe.token_length(static_cast<uint32_t>(o.token)) ||
        o.next < 0 || o.next >= k || (o.next != 0 && a.outputs[ix(o.next)].length >= o.length)) {
      return false;
    }
  }
  if (a.check[0] != 0 || a.states[0].depth != 0 || a.states[0].fail != 0) return false;
  for (int32_t s = 0; s < size; s++) {
    const AutomatonState& st = a.states[ix(s)];
    // A transition reads base[s] + byte, so every base leaves 256 slots.
    if (a.base[ix(s)] < 0 || a.base[ix(s)] > size - 256) return false;
    if (a.check[ix(s)] < -1 || a.check[ix(s)] >= size) return false;
    if (st.fail < 0 || st.fail >= size || st.output < 0 || st.output >= a.output_count ||
        st.value < -1 || st.value >= n || st.depth < 0) {
      return false;
    }
    // Failure links lead to shallower states, so the failure walk ends.
    if (st.depth == 0 ? st.fail != 0 : a.states[ix(st.fail)].depth >= st.depth) return false;
    // A state is one byte deeper than its parent and reports no token longer
    // than the bytes that led to it.
    if (s != 0 && a.check[ix(s)] >= 0 && st.depth != a.states[ix(a.check[ix(s)])].depth + 1)
      return false;
    if (st.output != 0 && a.outputs[ix(st.output)].length > st.depth) return false;
  }
  // The automaton spells every token (reversed for kind 2) and ends it at a
  // state of the right depth holding the token or an equal earlier one.
  std::vector<uint8_t> bytes;
  std::vector<uint8_t> token_end(static_cast<size_t>(size), 0);
  for (uint32_t id = 0; id < bpe.num_tokens; id++) {
    const uint32_t length = bpe.token_length(id);
    if (length == 0) continue;  // a gap: no state
    bytes.assign(bpe.token_data(id), bpe.token_data(id) + length);
    if (kind == kReverseAutomaton) std::reverse(bytes.begin(), bytes.end());
    int32_t s = 0;
    for (uint8_t b : bytes) {
      const int32_t t = a.base[ix(s)] + b;
      if (a.check[ix(t)] != s || t == 0) return false;
      s = t;
    }
    token_end[ix(s)] = 1;
    const int32_t value = a.states[ix(s)].value;
    if (a.states[ix(s)].depth != static_cast<int32_t>(length) || value < 0 ||
        static_cast<uint32_t>(value) > id) {
      return false;
    }
    if (static_cast<uint32_t>(value) != id) {
      std::vector<uint8_t> other(bpe.token_data(static_cast<uint32_t>(value)),
                                 bpe.token_data(static_cast<uint32_t>(value)) + length);
      if (kind == kReverseAutomaton) std::reverse(other.begin(), other.end());
      if (bpe.token_length(static_cast<uint32_t>(value)) != length || other != bytes) return false;
    }
  }
  // Only the states just checked may report a token: a stray state reached by
  // a transition of its own could report one that the bytes read so far do
  // not spell, even one longer than the text, and the encoder would then
  // read past the end of its input.
  for (int32_t s = 0; s < size; s++) {
    if (a.states[ix(s)].value != -1 && !token_end[ix(s)]) return false;
  }
  return true;
}

// next_prefix holds the longest proper prefix token, as construction sets it:
// one that is merely shorter would hide candidates from the encoder, and -1
// where a prefix exists would leave it with none, giving wrong ids. Walks the
// forward automaton, whose token states check_automaton has vouched for.
bool check_prefixes_are_longest(const BytePairEncoding& bpe) {
  const TokenAutomaton& a = bpe_forward_automaton(bpe);
  for (uint32_t i = 0; i < bpe.num_tokens; i++) {
    const uint8_t* bytes = bpe.token_data(i);
    const uint32_t length = bpe.token_length(i);
    uint32_t longest = 0;
    int32_t s = 0;
    for (uint32_t d = 0; d + 1 < length; d++) {
      s = a.base[ix(s)] + bytes[ix(d)];  // the token's own path: every step exists
      if (a.states[ix(s)].value != -1) longest = d + 1;
    }
    const int32_t p = bpe.next_prefix[i];
    if (p == -1 ? longest != 0 : bpe.token_length(static_cast<uint32_t>(p)) != longest) {
      return false;
    }
  }
  return true;
}

// Each split is the one construction picks: the first prefix on the chain
// whose remainder is a token, both older than the token, allowed side by
// side; none means the token stays whole. Any other split that spells the
// token would still pass check_splits_and_pairs but change which pairs the
// encoder accepts. Runs in id order, as construction does, so every split
// the validity test reads has been checked already.
bool check_splits_are_constructions(const BytePairEncoding& bpe) {
  for (uint32_t i = 0; i < bpe.num_tokens; i++) {
    uint32_t left = i, right = i;
    bpe_construction_split(bpe, i, left, right);
    if (bpe.split_left[i] != left || bpe.split_right[i] != right) return false;
  }
  return true;
}

}  // namespace

// Performance notes: checking is most of the time an image load takes, so
// (1) the two automata that need a full check, forward and reverse, are
// checked on a second thread while this one checks the other tables, and (2)
// the kind 1 automaton, when its arrays equal those of kind 0 (as every
// writer makes them) or are kind 0's (alt_shares_forward), passes exactly
// when kind 0 does, since the checks read
// the kind only to compare it; any other kind 1 automaton gets the full
// check. Checks that index by ids another check vouches for still run after
// it: the splits' replay after the index, split and prefix checks, the
// longest-prefix check after the forward automaton's.
namespace {

bool same_arrays(const TokenAutomaton& a, const TokenAutomaton& b) {
  auto same = [](const auto& x, const auto& y) {
    return x.size() == y.size() &&
           (x.empty() || std::memcmp(x.data(), y.data(), x.size() * sizeof(x[0])) == 0);
  };
  return a.size == b.size && a.state_count == b.state_count && a.output_count == b.output_count &&
         same(a.states, b.states) && same(a.outputs, b.outputs) && same(a.base, b.base) &&
         same(a.check, b.check);
}

}  // namespace

bool bpe_check_tables(const BytePairEncoding& bpe) {
  if (bpe.token_starts.size() != static_cast<size_t>(bpe.num_tokens) + 1) return false;
  bool forward_ok = false, reverse_ok = false;
  std::exception_ptr failure;
  auto check_automata = [&] {
    try {
      forward_ok = check_automaton(bpe, bpe_forward_automaton(bpe), kForwardAutomaton);
      // One not held came with the known image, compiled exactly as a
      // build compiles it.
      reverse_ok = forward_ok && (!bpe.reverse_held ||
                                  check_automaton(bpe, bpe.reverse_automaton, kReverseAutomaton));
    } catch (...) {
      failure = std::current_exception();
    }
  };
  bool tables_ok;
  {
    // Joined at the end of this block, on every path.
    JoiningThread worker = try_start_helper_thread(check_automata);
    if (!worker.joinable()) check_automata();  // no thread to be had: check here
    tables_ok = check_token_index(bpe) && check_splits_and_pairs(bpe) && check_next_prefix(bpe) &&
                check_splits_are_constructions(bpe) && check_byte_order(bpe);
  }
  if (failure) std::rethrow_exception(failure);
  if (!tables_ok || !forward_ok || !reverse_ok) return false;
  const TokenAutomaton& alt = bpe.forward_automaton_alt;
  const TokenAutomaton& forward = bpe_forward_automaton(bpe);
  const bool shared = bpe.alt_shares_forward && alt.size == forward.size &&
                      alt.state_count == forward.state_count &&
                      alt.output_count == forward.output_count;
  const bool alt_ok = (shared || same_arrays(alt, forward))
                          ? alt.kind == kForwardAltAutomaton
                          : check_automaton(bpe, alt, kForwardAltAutomaton);
  return alt_ok && check_prefixes_are_longest(bpe);
}

}  // namespace velkan
