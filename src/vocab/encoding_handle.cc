#include "vocab/encoding_handle.h"

#include "core/automaton.h"
#include "core/small_merge.h"
#include "util/huge_pages.h"

namespace velkan {

void handle_finish(EncodingHandle& handle) {
  const BytePairEncoding& bpe = *handle.encoding;
  handle.pair_filter = pair_filter_build(bpe.pair_table);
  handle.short_tokens.build(bpe);
  // The small merge starts from the single bytes as the root's children, so
  // every byte must be a token. The token index says so whether or not the
  // automaton is compiled yet (one left to its first use stays so).
  bool all_bytes = !bpe.merge_by_rank;
  for (int b = 0; all_bytes && b < 256; b++) {
    const auto byte = static_cast<uint8_t>(b);
    all_bytes = token_index_find(bpe.token_index, bpe.token_bytes.data(), bpe.token_starts.data(),
                                 bpe.hash_factor, &byte, 1) >= 0;
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
  // An automaton loaded ready (an image's) is asked for here; one compiled
  // later asks for its own (bpe_compile_forward).
  if (bpe.forward_ready.load(std::memory_order_acquire)) {
    automaton_advise_huge_pages(bpe_forward_automaton(bpe));
  }
  advise(bpe.next_prefix);
  advise(bpe.token_starts);
  advise(bpe.split_left);
  advise(bpe.split_right);
  advise(bpe.pair_table.entries);
}

}  // namespace velkan
