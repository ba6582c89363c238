#include "driver/added_tokens.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <deque>
#include <map>

namespace velkan {

SpecialSet SpecialSet::all(size_t count) {
  SpecialSet set(count);
  std::fill(set.words_.begin(), set.words_.end(), ~uint64_t{0});
  if (count % 64 != 0) set.words_.back() = (uint64_t{1} << (count % 64)) - 1;
  set.members_ = count;
  return set;
}

void SpecialSet::insert(size_t index) {
  if (index >= count_ || contains(index)) return;
  words_[index / 64] |= uint64_t{1} << (index % 64);
  ++members_;
}

SpecialSet SpecialSet::minus(const SpecialSet& other) const {
  SpecialSet out = *this;
  out.members_ = 0;
  for (size_t w = 0; w < out.words_.size(); ++w) {
    if (w < other.words_.size()) out.words_[w] &= ~other.words_[w];
    out.members_ += static_cast<size_t>(std::popcount(out.words_[w]));
  }
  return out;
}

std::unique_ptr<const SpecialTokenFinder> SpecialTokenFinder::build(
    const std::vector<std::string>& tokens, std::string* error) {
  if (tokens.size() >= kNoToken) {
    *error = "too many special tokens: " + std::to_string(tokens.size());
    return nullptr;
  }
  std::map<std::string_view, size_t> seen;
  for (size_t i = 0; i < tokens.size(); ++i) {
    if (tokens[i].empty()) {
      *error = "special token " + std::to_string(i) + " is empty";
      return nullptr;
    }
    const auto [it, fresh] = seen.emplace(tokens[i], i);
    if (!fresh) {
      *error = "special token " + std::to_string(i) + " repeats special token " +
               std::to_string(it->second);
      return nullptr;
    }
  }
  return std::make_unique<const SpecialTokenFinder>(Private{}, tokens);
}

SpecialTokenFinder::SpecialTokenFinder(Private, const std::vector<std::string>& tokens)
    : tokens_(tokens) {
  // A plain trie first, then laid out breadth-first so that each node's
  // edges are contiguous and sorted.
  struct Building {
    std::map<uint8_t, uint32_t> children;
    uint32_t token = kNoToken;
  };
  std::vector<Building> trie(1);
  for (size_t i = 0; i < tokens_.size(); ++i) {
    uint32_t node = 0;
    for (const char c : tokens_[i]) {
      const auto byte = static_cast<uint8_t>(c);
      const auto found = trie[node].children.find(byte);
      if (found != trie[node].children.end()) {
        node = found->second;
        continue;
      }
      const auto next = static_cast<uint32_t>(trie.size());
      trie[node].children.emplace(byte, next);
      trie.emplace_back();
      node = next;
    }
    trie[node].token = static_cast<uint32_t>(i);
    max_length_ = std::max(max_length_, tokens_[i].size());
    first_byte_[static_cast<uint8_t>(tokens_[i][0])] = true;
  }

  nodes_.reserve(trie.size());
  edge_bytes_.reserve(trie.size() - 1);
  edge_targets_.reserve(trie.size() - 1);
  std::deque<uint32_t> queue{0};  // trie nodes in the order of their new numbers
  uint32_t numbered = 1;
  while (!queue.empty()) {
    const Building& b = trie[queue.front()];
    queue.pop_front();
    nodes_.push_back({static_cast<uint32_t>(edge_bytes_.size()),
                      static_cast<uint32_t>(b.children.size()), b.token});
    for (const auto& [byte, next] : b.children) {
      edge_bytes_.push_back(byte);
      edge_targets_.push_back(numbered++);
      queue.push_back(next);
    }
  }

  const Node& root = nodes_[0];
  if (root.edge_count == 1) shared_first_byte_ = edge_bytes_[root.first_edge];
  if (root.edge_count >= 2 && root.edge_count <= 4) {
    few_first_bytes_ = true;
    for (uint32_t i = 0; i < 4; ++i) {
      const uint8_t byte = edge_bytes_[root.first_edge + std::min(i, root.edge_count - 1)];
      first_byte_words_[i] = byte * 0x0101010101010101ull;
    }
  }
}

uint32_t SpecialTokenFinder::child(uint32_t node, uint8_t byte) const {
  const Node& n = nodes_[node];
  const uint8_t* const first = edge_bytes_.data() + n.first_edge;
  const uint8_t* const last = first + n.edge_count;
  // Most nodes of real lists have one edge, or ten digits at most.
  const uint8_t* e =
      n.edge_count <= 16 ? std::find(first, last, byte) : std::lower_bound(first, last, byte);
  if (e == last || *e != byte) return 0;  // the root is nobody's child
  return edge_targets_[n.first_edge + static_cast<uint32_t>(e - first)];
}

std::optional<SpecialMatch> SpecialTokenFinder::match_at(const uint8_t* text, uint64_t length,
                                                         uint64_t pos,
                                                         const SpecialSet& allowed) const {
  std::optional<SpecialMatch> best;
  uint32_t node = 0;
  for (uint64_t q = pos; q < length;) {
    node = child(node, text[q++]);
    if (node == 0) break;
    const uint32_t token = nodes_[node].token;
    if (token != kNoToken && allowed.contains(token)) best = SpecialMatch{pos, q, token};
  }
  return best;
}

uint64_t SpecialTokenFinder::next_candidate(const uint8_t* text, uint64_t length,
                                            uint64_t pos) const {
  // memchr's word-wide scan when all tokens begin alike (the usual "<|").
  if (shared_first_byte_ >= 0) {
    const void* hit = std::memchr(text + pos, shared_first_byte_, length - pos);
    return hit ? static_cast<uint64_t>(static_cast<const uint8_t*>(hit) - text) : length;
  }
  // With a few first bytes, skip eight bytes at a time while none of them is
  // there: a byte of v ^ word is zero where v holds that word's byte.
  if (few_first_bytes_ && std::endian::native == std::endian::little) {
    constexpr uint64_t kOnes = 0x0101010101010101ull, kHigh = kOnes * 0x80;
    while (length - pos >= 8) {
      uint64_t v;
      std::memcpy(&v, text + pos, 8);
      uint64_t zero = 0;
      for (const uint64_t word : first_byte_words_) {
        const uint64_t x = v ^ word;
        zero |= (x - kOnes) & ~x & kHigh;
      }
      if (zero != 0) break;
      pos += 8;
    }
  }
  while (pos < length && !first_byte_[text[pos]]) ++pos;
  return pos;
}

std::optional<SpecialMatch> SpecialTokenFinder::find(const uint8_t* text, uint64_t length,
                                                     uint64_t pos,
                                                     const SpecialSet& allowed) const {
  if (allowed.empty() || tokens_.empty()) return std::nullopt;
  for (; pos < length; ++pos) {
    pos = next_candidate(text, length, pos);
    if (pos == length) break;
    if (std::optional<SpecialMatch> m = match_at(text, length, pos, allowed)) return m;
  }
  return std::nullopt;
}

void encode_with_specials(const EncodingHandle& handle, const SpecialTokenFinder& finder,
                          const uint32_t* ids, const SpecialSet& allowed, const uint8_t* text,
                          uint64_t length, std::vector<uint32_t>& out, const Interrupt* interrupt) {
  const auto append = [&](uint64_t from, uint64_t to) {
    if (to <= from) return;
    std::vector<uint32_t> part = piecewise_encode(handle, text + from, to - from, interrupt);
    if (out.empty()) {
      out = std::move(part);
    } else {
      // Grown, then filled: g++ 14 warns (-Wstringop-overflow, a false
      // positive) on insert() of a whole vector at this place.
      const size_t old_size = out.size();
      out.resize(old_size + part.size());
      std::copy(part.begin(), part.end(), out.begin() + static_cast<std::ptrdiff_t>(old_size));
    }
  };
  uint64_t pos = 0;
  while (std::optional<SpecialMatch> m = finder.find(text, length, pos, allowed)) {
    append(pos, m->start);
    out.push_back(ids[m->index]);
    pos = m->end;
  }
  append(pos, length);
}

}  // namespace velkan
