#include "core/byte_order.h"

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <utility>

namespace velkan {
namespace {

// A token's first eight bytes as one big-endian word, zero-padded: words
// compare as the bytes do, up to a tie (a shorter token, or zero bytes).
uint64_t head_word(const BytePairEncoding& bpe, uint32_t id) {
  const uint32_t length = bpe.token_length(id);
  const uint8_t* data = bpe.token_data(id);
  if (bpe.token_starts[id] + uint64_t{8} <= bpe.token_bytes.size()) {
    uint64_t word;
    std::memcpy(&word, data, 8);
    word = __builtin_bswap64(word);  // images and hosts are little-endian
    return length >= 8 ? word : word & ~(~uint64_t{0} >> (8 * length));
  }
  uint64_t word = 0;
  for (uint32_t k = 0; k < length && k < 8; k++) word |= uint64_t{data[k]} << (56 - 8 * k);
  return word;
}

}  // namespace

bool bpe_byte_order_before(const BytePairEncoding& bpe, uint32_t a, uint32_t b) {
  const uint32_t la = bpe.token_length(a), lb = bpe.token_length(b);
  const uint32_t common = std::min(la, lb);
  const int order = common == 0 ? 0 : std::memcmp(bpe.token_data(a), bpe.token_data(b), common);
  if (order != 0) return order < 0;
  return la != lb ? la < lb : a < b;
}

ByteOrderCut bpe_byte_order_cut(const BytePairEncoding& bpe) {
  size_t counts[256] = {};
  size_t tokens = 0;
  for (uint32_t id = 0; id < bpe.num_tokens; id++) {
    if (bpe.token_length(id) == 0) continue;
    counts[bpe.token_data(id)[0]]++;
    tokens++;
  }
  uint32_t cut = 0;
  for (size_t below = 0; cut < 256 && 2 * (below + counts[cut]) <= tokens; cut++) {
    below += counts[cut];
  }
  return {cut, tokens};
}

std::vector<uint32_t> bpe_ids_in_byte_order(const BytePairEncoding& bpe, uint32_t first,
                                            uint32_t end) {
  // Each token's first eight bytes as a word beside its id, radix sorted by
  // the word, eleven bits a pass from the lowest (LSD; the counts of all
  // passes made in one read, passes where all keys share the digit skipped),
  // then each run of equal words sorted by the full bytes. Performance notes:
  // on o200k_base, 16-byte keys (the second word beside) sorted a byte a
  // pass took 7 to 10 ms, most of it the passes; a radix sort from the first
  // byte down (MSD, buckets of up to 24 by insertion) 10 ms, and a walk of
  // the prefix chain (each token placed after its longest prefix token,
  // siblings sorted) 18 to 20 ms, both reading at random where this streams
  // (thread CPU time, the loaded two-core development machine).
  struct Keyed {
    uint64_t word;
    uint32_t id;
  };
  std::vector<Keyed> keyed, scratch;
  keyed.reserve(bpe.num_tokens);
  for (uint32_t id = 0; id < bpe.num_tokens; id++) {
    if (bpe.token_length(id) == 0) continue;  // a gap
    const uint8_t head = bpe.token_data(id)[0];
    if (head < first || head >= end) continue;
    keyed.push_back({head_word(bpe, id), id});
  }
  constexpr int kBits = 11, kPasses = (64 + kBits - 1) / kBits;
  constexpr uint64_t kMask = (uint64_t{1} << kBits) - 1;
  std::vector<uint32_t> counts(size_t{kPasses} << kBits, 0);
  for (const Keyed& e : keyed) {
    for (int p = 0; p < kPasses; p++)
      counts[(size_t{static_cast<unsigned>(p)} << kBits) | ((e.word >> (p * kBits)) & kMask)]++;
  }
  scratch.resize(keyed.size());
  for (int p = 0; p < kPasses; p++) {
    uint32_t* c = counts.data() + (size_t{static_cast<unsigned>(p)} << kBits);
    if (std::find(c, c + (size_t{1} << kBits), keyed.size()) != c + (size_t{1} << kBits)) continue;
    uint32_t at = 0;
    for (size_t d = 0; d < (size_t{1} << kBits); d++) at += std::exchange(c[d], at);
    for (const Keyed& e : keyed) scratch[c[(e.word >> (p * kBits)) & kMask]++] = e;
    keyed.swap(scratch);
  }
  // Equal bytes keep id order: the passes are stable and the tie goes by id.
  const auto before = [&bpe](const Keyed& a, const Keyed& b) {
    return bpe_byte_order_before(bpe, a.id, b.id);
  };
  for (size_t i = 0; i < keyed.size();) {
    size_t j = i + 1;
    while (j < keyed.size() && keyed[j].word == keyed[i].word) j++;
    if (j - i > 1) {
      std::sort(keyed.begin() + static_cast<std::ptrdiff_t>(i),
                keyed.begin() + static_cast<std::ptrdiff_t>(j), before);
    }
    i = j;
  }
  std::vector<uint32_t> ids(keyed.size());
  for (size_t i = 0; i < keyed.size(); i++) ids[i] = keyed[i].id;
  return ids;
}

std::vector<uint32_t> bpe_byte_order(const BytePairEncoding& bpe) {
  std::vector<uint32_t> order;
  order.reserve(bpe.num_tokens);
  for (uint32_t id = 0; id < bpe.num_tokens; id++) {
    if (bpe.token_length(id) == 0) order.push_back(id);
  }
  const std::vector<uint32_t> tokens = bpe_ids_in_byte_order(bpe);
  order.insert(order.end(), tokens.begin(), tokens.end());
  return order;
}

}  // namespace velkan
