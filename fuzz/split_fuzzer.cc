// Splitters on any bytes: the PieceSplitter contract at every position, a
// walk like the driver's whose pieces are non-empty, in order and cover the
// input exactly, and the driver's own walk (blocks where a rule set has
// them) giving the same pieces. Every rule set runs on every input.

#include <cstring>
#include <utility>
#include <vector>

#include "driver/piece_walk.h"
#include "fuzz_util.h"
#include "presplit/rule_set.h"
#include "presplit/unicode.h"

namespace velkan::fuzz {
namespace {

// Whether every decoded value is a code point; only then must a splitter
// answer true at every position before the end.
bool all_code_points(const uint8_t* text, size_t n) {
  for (size_t p = 0; p < n;) {
    const DecodedChar c = decode_utf8(text + p, text + n);
    if (c.value > 0x10FFFF) return false;
    p += c.length;
  }
  return true;
}

size_t characters_in(const uint8_t* text, size_t from, size_t to) {
  size_t count = 0;
  for (size_t p = from; p < to; p += decode_utf8(text + p, text + to).length) count++;
  return count;
}

void check_contract(PieceSplitter split, const ExactCopy& text, bool code_points) {
  const size_t n = text.size;
  for (size_t pos = 0; pos <= n + 1; pos++) {
    SplitMatch m;
    std::memset(&m, 0xA5, sizeof m);
    SplitMatch untouched = m;
    const bool found = split(text.data(), n, pos, &m);
    if (pos >= n || !found) {
      FUZZ_CHECK(pos >= n ? !found : !code_points);
      FUZZ_CHECK(std::memcmp(&m, &untouched, sizeof m) == 0);
      continue;
    }
    FUZZ_CHECK(m.start == pos && m.end > m.start && m.end <= n);
    FUZZ_CHECK(m.tag <= 2 && m.drop_last <= 1);
    if (m.drop_last) {
      FUZZ_CHECK(m.tag == 1);
      FUZZ_CHECK(characters_in(text.data(), m.start, m.end) >= 2);
    }
    // The answer depends only on the bytes from pos on: the same tail alone,
    // in a block of its own, gives the same match, and a read before pos
    // would leave that block.
    const ExactCopy tail(text.data() + pos, n - pos);
    SplitMatch t;
    FUZZ_CHECK(split(tail.data(), tail.size, 0, &t));
    FUZZ_CHECK(t.start == 0 && t.end == m.end - pos && t.tag == m.tag &&
               t.drop_last == m.drop_last);
  }
}

// The consumer's walk: a flagged match loses its last character (stepping back
// over continuation bytes, or the last decoded character when that finds
// nothing), and that character starts the next piece.
std::vector<std::pair<size_t, size_t>> check_walk(PieceSplitter split, const ExactCopy& text,
                                                  bool code_points) {
  const size_t n = text.size;
  std::vector<std::pair<size_t, size_t>> pieces;
  size_t pos = 0;
  SplitMatch m;
  while (pos < n && split(text.data(), n, pos, &m)) {
    size_t end = m.end;
    if (m.drop_last) {
      size_t p = end - 1;
      while (p > m.start && (text.data()[p] & 0xC0) == 0x80) p--;
      if (p == m.start) {
        for (size_t q = m.start; q < end;
             q += decode_utf8(text.data() + q, text.data() + end).length)
          p = q;
      }
      if (p > m.start) end = p;
    }
    FUZZ_CHECK(end > pos);  // non-empty and in order
    pieces.emplace_back(pos, end);
    pos = end;
  }
  if (code_points) FUZZ_CHECK(pos == n);  // covered exactly
  return pieces;
}

// The driver's walk (with blocks, for the rule sets that have them) cuts
// exactly where the splitter alone does.
void check_driver_walk(RuleSet rules, const ExactCopy& text,
                       const std::vector<std::pair<size_t, size_t>>& want) {
  std::vector<std::pair<size_t, size_t>> got;
  visit_rule_set(rules, [&](auto r) {
    for_each_piece_with<decltype(r)>(text.data(), text.size, [&](uint64_t start, uint64_t end) {
      got.emplace_back(start, end);
      return true;
    });
  });
  FUZZ_CHECK(got == want);
}

}  // namespace
}  // namespace velkan::fuzz

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace velkan;
  using namespace velkan::fuzz;
  const ExactCopy text(data, size);
  const bool code_points = all_code_points(text.data(), size);
  for (RuleSet rules : {RuleSet::kCl100k, RuleSet::kO200k, RuleSet::kR50k, RuleSet::kCl100kLegacy,
                        RuleSet::kQwen2, RuleSet::kTekken}) {
    const PieceSplitter split = piece_splitter(rules);
    check_contract(split, text, code_points);
    check_driver_walk(rules, text, check_walk(split, text, code_points));
  }
  return 0;
}
