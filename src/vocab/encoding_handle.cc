#include "vocab/encoding_handle.h"

#include "core/small_merge.h"
#include "util/huge_pages.h"

namespace velkan {

void handle_finish(EncodingHandle& handle) {
  const BytePairEncoding& bpe = *handle.encoding;
  handle.pair_filter = pair_filter_build(bpe.pair_table);
  handle.short_tokens.build(bpe);
  // The small merge starts from the single bytes as the root's children.
  // An automaton left to its first use is not compiled for this: the token
  // index tells whether every byte is a token (and the compile asks for
  // huge pages under its own arrays).
  const bool ready = bpe.forward_ready.load(std::memory_order_acquire);
  bool all_bytes = !bpe.merge_by_rank;
  if (!ready) {
    for (int b = 0; all_bytes && b < 256; b++) {
      const auto byte = static_cast<uint8_t>(b);
      all_bytes = token_index_find(bpe.token_index, bpe.token_bytes.data(), bpe.token_starts.data(),
                                   bpe.hash_factor, &byte, 1) >= 0;
    }
  } else {
    const TokenAutomaton& a = bpe_forward_automaton(bpe);
    all_bytes = all_bytes && !a.base.empty() && a.base[0] != 0;
    for (int b = 0; all_bytes && b < 256; b++) {
      const auto t = static_cast<size_t>(a.base[0] + b);
      all_bytes = t < a.check.size() && a.check[t] == 0 && a.states[t].value >= 0;
    }
  }
  // Pieces of 17 bytes or more stay with the backtracking encoder: from there
  // on the merge's quadratic scan loses to it (benchmarks/native/stages.cc).
  handle.small_merge_max = all_bytes ? 16 : 0;
  if (all_bytes) handle.byte_pairs = small_merge_byte_pairs(bpe);
  // The arrays every encode reads at random: the whole-token and longest-
  // prefix walks, the encoder's prefix chain and splits, the pair table.
  // Performance notes: on huge pages, warm passes (coldwarm.py, pinned
  // processes, medians of five) ran 1.00x to 1.16x; collapsing them costs
  // a few milliseconds of the first use.
  const auto advise = [](const auto& array) {
    advise_huge_pages(array.data(), array.size() * sizeof(array[0]));
  };
  if (ready) {
    const TokenAutomaton& a = bpe_forward_automaton(bpe);
    advise(a.base);
    advise(a.check);
    advise(a.states);
    advise(a.outputs);
  }
  advise(bpe.next_prefix);
  advise(bpe.token_starts);
  advise(bpe.split_left);
  advise(bpe.split_right);
  advise(bpe.pair_table.entries);
}

}  // namespace velkan
