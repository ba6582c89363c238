// The layout of a precomputed image, written down once: the writer, the
// reader and the size computation all walk it through the two visitors
// below, so the field order exists only here.
//
// All integers little-endian, nothing aligned, no gaps. n is num_tokens; each
// automaton A uses its own counts from the header.
//
// | offset | type | count                  | field                                   |
// |--------|------|------------------------|-----------------------------------------|
// | 0      | u32  | 1                      | num_tokens (n)                          |
// | 4      | u64  | 1                      | hash_factor                             |
// | 12     | u32  | 1                      | token_index.capacity                    |
// | 16     | u32  | 1                      | token_index.count                       |
// | 20     | u32  | 1                      | pair_table.capacity                     |
// | 24     | u32  | 1                      | pair_table.count                        |
// | 28     | i32  | 3 per automaton        | state_count, output_count, kind of the  |
// |        |      |                        | forward, forward alt, reverse automaton |
// | 64     | u32  | n                      | split_left                              |
// |        | u32  | n                      | split_right                             |
// |        | i32  | n                      | next_prefix (-1: none)                  |
// |        | u32  | n                      | byte_order (every id, gaps first)       |
// |        | 8 B  | token_index.capacity   | token_index.entries (u32 hash, i32 id)  |
// |        | 12 B | pair_table.capacity    | pair_table.entries (u32, u32, i32)      |
// |        | 16 B | A.state_count          | A.states (AutomatonState), then         |
// |        | 12 B | A.output_count         | A.outputs (AutomatonOutput),            |
// |        | i32  | A.state_count          | A.base,                                 |
// |        | i32  | A.state_count          | A.check, for each automaton in order    |
//
// Token bytes and starts are not part of an image: a loader takes them from
// the embedded vocabulary.

#ifndef VELKAN_VOCAB_IMAGE_LAYOUT_H_
#define VELKAN_VOCAB_IMAGE_LAYOUT_H_

#include <bit>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "core/encoding.h"

namespace velkan {

static_assert(std::endian::native == std::endian::little,
              "images are little-endian and copied as they lie in memory");

inline constexpr size_t kImageHeaderSize = 64;

// Calls visit.field(x) for each header field of bpe in image order. Bpe is
// BytePairEncoding or const BytePairEncoding.
template <typename Bpe, typename Visitor>
void visit_image_header(Bpe& bpe, Visitor& visit) {
  visit.field(bpe.num_tokens);
  visit.field(bpe.hash_factor);
  visit.field(bpe.token_index.capacity);
  visit.field(bpe.token_index.count);
  visit.field(bpe.pair_table.capacity);
  visit.field(bpe.pair_table.count);
  auto counts = [&visit](auto& a) {
    visit.field(a.state_count);
    visit.field(a.output_count);
    visit.field(a.kind);
  };
  counts(bpe.forward_automaton);
  counts(bpe.forward_automaton_alt);
  counts(bpe.reverse_automaton);
}

// Calls visit.array(vector, count) for each array of automaton a (Automaton is
// TokenAutomaton or const TokenAutomaton), with the counts a's fields give.
template <typename Automaton, typename Visitor>
void visit_automaton_arrays(Automaton& a, Visitor& visit) {
  const auto states = static_cast<uint64_t>(a.state_count);
  visit.array(a.states, states);
  visit.array(a.outputs, static_cast<uint64_t>(a.output_count));
  visit.array(a.base, states);
  visit.array(a.check, states);
}

// The body comes in two parts. The held part, the tables and the forward
// automaton, is what a loaded record holds and what the known digest covers
// (vocab/image_digest.h); the unheld part after it, the forward automaton's
// copy and the reverse automaton, is what nothing queries: a record loaded
// from the known image holds neither, and an image written from it carries
// the forward arrays and a reverse automaton compiled again in their place.

// Calls visit.array(vector, count) for each array of the held part in image
// order, with the count its header fields give (automaton counts must not
// be negative).
template <typename Bpe, typename Visitor>
void visit_image_held(Bpe& bpe, Visitor& visit) {
  const uint64_t n = bpe.num_tokens;
  visit.array(bpe.split_left, n);
  visit.array(bpe.split_right, n);
  visit.array(bpe.next_prefix, n);
  visit.array(bpe.byte_order, n);
  visit.array(bpe.token_index.entries, uint64_t{bpe.token_index.capacity});
  visit.array(bpe.pair_table.entries, uint64_t{bpe.pair_table.capacity});
  visit_automaton_arrays(bpe.forward_automaton, visit);
}

// The unheld part in image order, after the held part.
template <typename Bpe, typename Visitor>
void visit_image_unheld(Bpe& bpe, Visitor& visit) {
  // The copy of the forward automaton: visit.copy(array, of, count) is told
  // which forward array it should equal, so that a reader can compare it
  // there instead of holding it. A record that does not hold it
  // (alt_shares_forward) is written with the forward arrays in its place.
  auto& alt = bpe.alt_shares_forward ? bpe.forward_automaton : bpe.forward_automaton_alt;
  const auto& forward = bpe.forward_automaton;
  const auto alt_states = static_cast<uint64_t>(bpe.forward_automaton_alt.state_count);
  visit.copy(alt.states, forward.states, alt_states);
  visit.copy(alt.outputs, forward.outputs,
             static_cast<uint64_t>(bpe.forward_automaton_alt.output_count));
  visit.copy(alt.base, forward.base, alt_states);
  visit.copy(alt.check, forward.check, alt_states);
  // The reverse automaton: visit.unheld(a) lets a writer write one compiled
  // again for a record that does not hold it (reverse_held).
  visit.unheld(bpe.reverse_automaton);
}

// Both parts of the body.
template <typename Bpe, typename Visitor>
void visit_image_body(Bpe& bpe, Visitor& visit) {
  visit_image_held(bpe, visit);
  visit_image_unheld(bpe, visit);
}

// The length of the image of a record whose header fields are set, in 64
// bits so that no count can wrap it.
struct ImageSizer {
  uint64_t size = 0;
  template <typename T>
  void field(const T&) {
    size += sizeof(T);
  }
  template <typename T>
  void array(const std::vector<T>&, uint64_t count) {
    size += count * sizeof(T);
  }
  template <typename T>
  void copy(const std::vector<T>&, const std::vector<T>&, uint64_t count) {
    size += count * sizeof(T);
  }
  void unheld(const TokenAutomaton& a) { visit_automaton_arrays(a, *this); }
};

inline uint64_t image_size(const BytePairEncoding& bpe) {
  ImageSizer sizer;
  visit_image_header(bpe, sizer);
  visit_image_body(bpe, sizer);
  return sizer.size;
}

// The length of the header and the held part: the bytes the known digest
// covers.
inline uint64_t image_held_size(const BytePairEncoding& bpe) {
  ImageSizer sizer;
  visit_image_header(bpe, sizer);
  visit_image_held(bpe, sizer);
  return sizer.size;
}

}  // namespace velkan

#endif  // VELKAN_VOCAB_IMAGE_LAYOUT_H_
