#include "core/encoding.h"

#include <cstring>

namespace velkan {

void bpe_alt_from_forward(BytePairEncoding& bpe) {
  TokenAutomaton& alt = bpe.forward_automaton_alt;
  const TokenAutomaton& forward = bpe.forward_automaton;
  alt = TokenAutomaton{};
  alt.size = forward.size;
  alt.state_count = forward.state_count;
  alt.output_count = forward.output_count;
  alt.kind = kForwardAltAutomaton;
  bpe.alt_shares_forward = true;
}

uint32_t hash_table_capacity(uint32_t num_tokens) {
  uint32_t capacity = 16;
  while (capacity < 4 * num_tokens) capacity *= 2;
  return capacity;
}

uint32_t token_hash(const uint8_t* bytes, size_t length, uint64_t factor) {
  uint64_t h = 0xcbf29ce484222325ULL;
  for (size_t i = 0; i < length; i++) {
    h ^= bytes[i];
    h *= 0x100000001b3ULL;
  }
  return static_cast<uint32_t>((h * factor) >> 32);
}

bool bpe_store_tokens(BytePairEncoding& bpe, const uint8_t* bytes, const uint32_t* starts,
                      uint32_t n) {
  bpe.num_tokens = n;
  bpe.hash_factor = kHashFactor;
  bpe.token_bytes.assign(bytes, bytes + starts[n]);  // starts[n] may be 0
  bpe.token_starts.assign(starts, starts + n + 1);

  TokenIndex& index = bpe.token_index;
  index.capacity = hash_table_capacity(n);
  index.count = 0;
  index.entries.assign(index.capacity, TokenIndexEntry{0, -1});
  const uint32_t mask = index.capacity - 1;
  bool equal_tokens = false;
  for (uint32_t id = 0; id < n; id++) {
    const uint32_t length = bpe.token_length(id);
    if (length == 0) continue;  // a gap in the ranks
    const uint8_t* data = bpe.token_data(id);
    uint32_t h = token_hash(data, length, bpe.hash_factor);
    uint32_t slot = h & mask;
    for (; index.entries[slot].token != -1; slot = (slot + 1) & mask) {
      // An earlier equal token sits on the probe path, under the same hash.
      const TokenIndexEntry& e = index.entries[slot];
      if (e.hash != h || equal_tokens) continue;
      const auto other = static_cast<uint32_t>(e.token);
      equal_tokens = bpe.token_length(other) == length &&
                     std::memcmp(bpe.token_data(other), data, length) == 0;
    }
    index.entries[slot] = TokenIndexEntry{h, static_cast<int32_t>(id)};
    index.count++;
  }
  return equal_tokens;
}

int32_t token_index_find(const TokenIndex& index, const uint8_t* token_bytes,
                         const uint32_t* token_starts, uint64_t hash_factor, const uint8_t* key,
                         size_t key_length) {
  const uint32_t h = token_hash(key, key_length, hash_factor);
  const uint32_t mask = index.capacity - 1;
  // The table is at most a quarter full, so an empty slot always ends the probe.
  for (uint32_t slot = h & mask;; slot = (slot + 1) & mask) {
    const TokenIndexEntry& e = index.entries[slot];
    if (e.token == -1) return -1;
    if (e.hash != h) continue;
    const uint32_t start = token_starts[e.token];
    const uint32_t length = token_starts[e.token + 1] - start;
    if (length == key_length &&
        (key_length == 0 || std::memcmp(token_bytes + start, key, key_length) == 0)) {
      return e.token;
    }
  }
}

std::optional<uint64_t> bpe_decoded_length(const BytePairEncoding& bpe, const uint32_t* ids,
                                           uint64_t count) {
  for (uint64_t i = 0; i < count; i++) {
    if (ids[i] >= bpe.num_tokens || bpe.token_length(ids[i]) == 0) return std::nullopt;
  }
  uint64_t total = 0;
  for (uint64_t i = 0; i < count; i++) total += bpe.token_length(ids[i]);
  return total;
}

void bpe_decode_into(const BytePairEncoding& bpe, const uint32_t* ids, uint64_t count,
                     uint8_t* out) {
  for (uint64_t i = 0; i < count; i++) {
    const uint32_t length = bpe.token_length(ids[i]);
    if (length == 0) continue;  // memcpy wants valid pointers even for 0 bytes
    std::memcpy(out, bpe.token_data(ids[i]), length);
    out += length;
  }
}

std::optional<std::string> bpe_decode_tokens(const BytePairEncoding& bpe, const uint32_t* ids,
                                             uint64_t count) {
  std::optional<uint64_t> total = bpe_decoded_length(bpe, ids, count);
  if (!total) return std::nullopt;
  std::string out(*total, '\0');
  bpe_decode_into(bpe, ids, count, reinterpret_cast<uint8_t*>(out.data()));
  return out;
}

}  // namespace velkan
