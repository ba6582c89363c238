#include "core/rank_merge.h"

#include <functional>
#include <queue>
#include <tuple>

#include "core/index.h"

namespace velkan {

bool bpe_needs_rank_merge(const BytePairEncoding& bpe) {
  for (uint32_t id = 0; id < bpe.num_tokens; id++) {
    if (bpe.token_length(id) > 1 && bpe.split_left[id] == id) return true;
  }
  return false;
}

namespace {

int32_t find_token(const BytePairEncoding& bpe, const uint8_t* bytes, uint64_t len) {
  return token_index_find(bpe.token_index, bpe.token_bytes.data(), bpe.token_starts.data(),
                          bpe.hash_factor, bytes, static_cast<size_t>(len));
}

}  // namespace

void rank_merge_piece(const BytePairEncoding& bpe, const uint8_t* piece, uint64_t len,
                      std::vector<uint32_t>& out) {
  if (len == 0) return;
  const int32_t whole = find_token(bpe, piece, len);
  if (whole != -1) {
    out.push_back(static_cast<uint32_t>(whole));
    return;
  }
  // Parts are named by their first byte; next[p] is where part p ends, and
  // alive[p] whether p still starts a part. A queued pair (rank, p, end)
  // joins part p with the part after it, spanning p to end; parts only grow,
  // so it is stale exactly when p is gone or the pair's end has moved.
  std::vector<uint64_t> next(len), prev(len);
  std::vector<uint8_t> alive(len, 1);
  for (uint64_t p = 0; p < len; p++) {
    next[p] = p + 1;
    prev[p] = p - 1;  // wraps for p = 0, never read there
  }
  using Pair = std::tuple<int32_t, uint64_t, uint64_t>;
  std::priority_queue<Pair, std::vector<Pair>, std::greater<>> queue;
  auto offer = [&](uint64_t p) {
    if (next[p] >= len) return;
    const uint64_t end = next[next[p]];
    const int32_t rank = find_token(bpe, piece + p, end - p);
    if (rank != -1) queue.emplace(rank, p, end);
  };
  for (uint64_t p = 0; p + 1 < len; p++) offer(p);
  while (!queue.empty()) {
    const auto [rank, p, end] = queue.top();
    queue.pop();
    if (!alive[p] || next[p] >= len || next[next[p]] != end) continue;
    const uint64_t q = next[p];
    alive[q] = 0;
    next[p] = end;
    if (end < len) prev[end] = p;
    offer(p);
    if (p > 0) offer(prev[p]);
  }
  for (uint64_t p = 0; p < len; p = next[p]) {
    const int32_t id = find_token(bpe, piece + p, next[p] - p);
    out.push_back(static_cast<uint32_t>(id));  // a single byte or a merge: a token
  }
}

}  // namespace velkan
