// The special-token finder against a plain search, on lists and texts made
// from the input: build refuses exactly the lists with an empty or a repeated
// token; find gives, from every position, the leftmost allowed token and of
// those the longest, reading nothing before the position nor past the end;
// contains_any agrees. A flag folds bytes into a small alphabet, so that
// tokens share prefixes and first bytes and occur in the text often.

#include <optional>
#include <set>
#include <string>

#include "driver/added_tokens.h"
#include "fuzz_util.h"

namespace velkan::fuzz {
namespace {

struct Reader {
  const uint8_t* data;
  size_t size;
  size_t pos = 0;
  bool fold;
  bool more() const { return pos < size; }
  uint8_t byte() {
    if (pos >= size) return 0;
    const uint8_t b = data[pos++];
    static const uint8_t kAlphabet[] = {'a', 'b', '<', '|', 0xE2, 0x80};
    return fold ? kAlphabet[b % sizeof kAlphabet] : b;
  }
  uint8_t raw() { return pos < size ? data[pos++] : 0; }
};

std::optional<SpecialMatch> plain_find(const std::vector<std::string>& tokens, const uint8_t* text,
                                       uint64_t n, uint64_t from, const SpecialSet& allowed) {
  for (uint64_t pos = from; pos < n; pos++) {
    std::optional<SpecialMatch> best;
    for (uint32_t i = 0; i < tokens.size(); i++) {
      const std::string& t = tokens[i];
      if (!allowed.contains(i) || t.size() > n - pos) continue;
      if (t.compare(0, t.size(), reinterpret_cast<const char*>(text + pos), t.size()) != 0)
        continue;
      if (!best || t.size() > best->end - best->start) best = SpecialMatch{pos, pos + t.size(), i};
    }
    if (best) return best;
  }
  return std::nullopt;
}

bool same(const std::optional<SpecialMatch>& a, const std::optional<SpecialMatch>& b,
          uint64_t shift) {
  if (a.has_value() != b.has_value()) return false;
  return !a || (a->start == b->start + shift && a->end == b->end + shift && a->index == b->index);
}

}  // namespace
}  // namespace velkan::fuzz

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace velkan;
  using namespace velkan::fuzz;
  if (size < 3) return 0;
  Reader in{data, size, 0, (data[0] & 1) != 0};
  in.pos = 1;
  // Up to 70 tokens: sets of more than one 64-bit word.
  const size_t count = 1 + in.raw() % 70;
  std::vector<std::string> tokens;
  bool refused = false;
  std::set<std::string> seen;
  for (size_t i = 0; i < count && in.more(); i++) {
    std::string token(in.raw() % 8, '\0');
    for (char& c : token) c = static_cast<char>(in.byte());
    refused = refused || token.empty() || !seen.insert(token).second;
    tokens.push_back(std::move(token));
  }
  std::string error;
  const std::unique_ptr<const SpecialTokenFinder> finder =
      SpecialTokenFinder::build(tokens, &error);
  FUZZ_CHECK((finder == nullptr) == refused);
  FUZZ_CHECK(refused != error.empty());
  if (finder == nullptr) return 0;
  FUZZ_CHECK(finder->size() == tokens.size());

  // The allowed set: all, none, or those whose bit in the mask is set.
  const uint8_t mask = in.raw();
  SpecialSet allowed = mask == 0xFF ? SpecialSet::all(tokens.size()) : SpecialSet(tokens.size());
  if (mask != 0xFF && mask != 0) {
    for (size_t i = 0; i < tokens.size(); i++) {
      if ((mask >> (i % 8)) & 1) allowed.insert(i);
    }
  }
  std::string bytes;
  while (in.more()) bytes += static_cast<char>(in.byte());
  const ExactCopy text(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
  const uint64_t n = text.size;

  FUZZ_CHECK(finder->contains_any(text.data(), n, allowed) ==
             plain_find(tokens, text.data(), n, 0, allowed).has_value());
  for (uint64_t pos = 0; pos <= n; pos++) {
    const std::optional<SpecialMatch> got = finder->find(text.data(), n, pos, allowed);
    FUZZ_CHECK(same(got, plain_find(tokens, text.data(), n, pos, allowed), 0));
    // From the same bytes in a block that starts at pos: the same answer,
    // and a read before pos would leave the block.
    const ExactCopy tail(text.data() + pos, n - pos);
    FUZZ_CHECK(same(got, finder->find(tail.data(), tail.size, 0, allowed), pos));
  }
  return 0;
}
