#include "vocab/encoding_handle.h"

#include "driver/huge_pages.h"

namespace velkan {

void handle_finish(EncodingHandle& handle) {
  const BytePairEncoding& bpe = *handle.encoding;
  handle.pair_filter = pair_filter_build(bpe.pair_table);
  handle.short_tokens.build(bpe);
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
