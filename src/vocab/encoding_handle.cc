#include "vocab/encoding_handle.h"

#include "core/small_merge.h"
#include "util/huge_pages.h"

namespace velkan {

void handle_finish(EncodingHandle& handle) {
  const BytePairEncoding& bpe = *handle.encoding;
  handle.pair_filter = pair_filter_build(bpe.pair_table);
  handle.short_tokens.build(bpe);
  // The small merge starts from the single bytes as the root's children.
  bool all_bytes = !bpe.merge_by_rank && !bpe.forward_automaton.base.empty() &&
                   bpe.forward_automaton.base[0] != 0;
  for (int b = 0; all_bytes && b < 256; b++) {
    const auto t = static_cast<size_t>(bpe.forward_automaton.base[0] + b);
    all_bytes = t < bpe.forward_automaton.check.size() && bpe.forward_automaton.check[t] == 0 &&
                bpe.forward_automaton.states[t].value >= 0;
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
  advise(bpe.forward_automaton.base);
  advise(bpe.forward_automaton.check);
  advise(bpe.forward_automaton.states);
  advise(bpe.forward_automaton.outputs);
  advise(bpe.next_prefix);
  advise(bpe.token_starts);
  advise(bpe.split_left);
  advise(bpe.split_right);
  advise(bpe.pair_table.entries);
}

}  // namespace velkan
