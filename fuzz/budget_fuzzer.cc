// The budget functions on any bytes, most of them not UTF-8: chunks keep the
// budget (each span's text encoded alone has the count the span reports, at
// most the budget), tile the text without overlap and follow on with it, a
// refusal names a character that is over the budget by itself, a chunk that
// ends inside a piece could not keep one more character, truncation keeps
// the budget and could not keep one more character, and the token offsets
// follow the ids. Then each function again with an interrupt hook (asked
// every 64 bytes of work in fuzz builds) that says stop at its n-th question:
// no crash, no question after the stop, and a hook that never stops changes
// nothing. The first byte picks the vocabulary, the next two the budget and
// the overlap (and the question to stop at).

#include <algorithm>

#include "driver/budget.h"
#include "driver/piece_walk.h"
#include "driver/piecewise.h"
#include "fuzz_util.h"

namespace velkan::fuzz {
namespace {

uint64_t count_of(const EncodingHandle& handle, const uint8_t* text, uint64_t a, uint64_t b) {
  return piecewise_count(handle, text + a, b - a);
}

bool valid_utf8(const uint8_t* text, uint64_t n) {
  for (uint64_t p = 0; p < n;) {
    const uint8_t c = text[p];
    const uint64_t len = c < 0x80         ? 1
                         : (c >> 5) == 6  ? 2
                         : (c >> 4) == 14 ? 3
                         : (c >> 3) == 30 ? 4
                                          : 0;
    if (len == 0 || p + len > n) return false;
    for (uint64_t k = 1; k < len; k++)
      if ((text[p + k] & 0xC0) != 0x80) return false;
    p += len;
  }
  return true;
}

// As the budget functions cut: before a byte that is not a continuation byte,
// at the start and at the end.
bool char_boundary(const uint8_t* text, uint64_t n, uint64_t p) {
  return p == 0 || p >= n || (text[p] & 0xC0) != 0x80;
}

uint64_t next_boundary(const uint8_t* t, uint64_t n, uint64_t p) {
  do p++;
  while (!char_boundary(t, n, p));
  return p;
}

uint64_t previous_boundary(const uint8_t* t, uint64_t n, uint64_t p) {
  do p--;
  while (!char_boundary(t, n, p));
  return p;
}

struct Piece {
  uint64_t start;
  uint64_t end;
};

// The whole text's pieces, in order.
std::vector<Piece> pieces_of(const EncodingHandle& handle, const uint8_t* t, uint64_t n) {
  std::vector<Piece> pieces;
  for_each_piece(handle, t, n, [&](uint64_t start, uint64_t end) {
    pieces.push_back({start, end});
    return true;
  });
  return pieces;
}

// The tokens of the whole text's pieces that lie inside [a, b).
uint64_t piece_sum(const EncodingHandle& handle, const uint8_t* t, const std::vector<Piece>& pieces,
                   uint64_t a, uint64_t b) {
  uint64_t total = 0;
  for (const Piece& p : pieces) {
    if (p.start >= a && p.end <= b) total += count_of(handle, t, p.start, p.end);
  }
  return total;
}

void check_chunks(const EncodingHandle& handle, const ExactCopy& text, uint64_t max_tokens,
                  uint64_t overlap, bool utf8) {
  const uint8_t* t = text.data();
  const uint64_t n = text.size;
  uint64_t too_small_at = 0;
  const std::vector<ByteSpan> spans =
      budget_chunks(handle, t, n, max_tokens, overlap, &too_small_at);
  if (too_small_at != kBudgetFits) {
    // The refused character, encoded alone, needs more than the budget.
    // (A character is a byte and the continuation bytes after it; on
    // invalid UTF-8 a piece may start with a stray one.)
    FUZZ_CHECK(spans.empty() && too_small_at < n);
    if (utf8) FUZZ_CHECK(char_boundary(t, n, too_small_at));
    uint64_t end = too_small_at + 1;
    while (!char_boundary(t, n, end)) end++;
    FUZZ_CHECK(count_of(handle, t, too_small_at, end) > max_tokens);
    return;
  }
  FUZZ_CHECK(spans.empty() == (n == 0));
  if (spans.empty()) return;
  FUZZ_CHECK(spans.front().start == 0 && spans.back().end == n);
  std::vector<Piece> pieces;  // split when first needed
  for (size_t i = 0; i < spans.size(); i++) {
    const ByteSpan& s = spans[i];
    FUZZ_CHECK(s.start < s.end && s.end <= n);
    FUZZ_CHECK(s.tokens == count_of(handle, t, s.start, s.end) && s.tokens <= max_tokens);
    if (utf8) FUZZ_CHECK(char_boundary(t, n, s.start) && char_boundary(t, n, s.end));
    // A chunk that ends inside a piece of the whole text is as long as the
    // budget lets it be, to the character.
    if (s.end < n) {
      if (pieces.empty()) pieces = pieces_of(handle, t, n);
      const bool piece_end =
          std::any_of(pieces.begin(), pieces.end(), [&](const Piece& p) { return p.end == s.end; });
      if (!piece_end) {
        FUZZ_CHECK(count_of(handle, t, s.start, next_boundary(t, n, s.end)) > max_tokens);
      }
    }
    if (i == 0) continue;
    const ByteSpan& prev = spans[i - 1];
    if (overlap == 0) {
      FUZZ_CHECK(s.start == prev.end);
    } else {
      // Each starts inside the previous one or at its end, adds text, and
      // repeats whole pieces worth at most the overlap.
      FUZZ_CHECK(prev.start < s.start && s.start <= prev.end && prev.end < s.end);
      if (pieces.empty()) pieces = pieces_of(handle, t, n);
      FUZZ_CHECK(piece_sum(handle, t, pieces, s.start, prev.end) <= overlap);
    }
  }
}

void check_truncate(const EncodingHandle& handle, const ExactCopy& text, uint64_t max_tokens,
                    bool utf8) {
  const uint8_t* t = text.data();
  const uint64_t n = text.size;
  const uint64_t right = budget_truncate_right(handle, t, n, max_tokens);
  FUZZ_CHECK(right <= n && count_of(handle, t, 0, right) <= max_tokens);
  if (utf8) FUZZ_CHECK(char_boundary(t, n, right));
  // Maximal: the prefix up to the next character does not fit, nor the one
  // up to the next end of a piece. (Only ends on a character boundary: in
  // invalid UTF-8 a piece may end before a stray continuation byte, where the
  // budget functions never cut.)
  if (right < n) FUZZ_CHECK(count_of(handle, t, 0, next_boundary(t, n, right)) > max_tokens);
  const std::vector<Piece> pieces = pieces_of(handle, t, n);
  const auto next = std::find_if(pieces.begin(), pieces.end(), [&](const Piece& p) {
    return p.end > right && char_boundary(t, n, p.end);
  });
  if (next != pieces.end()) FUZZ_CHECK(count_of(handle, t, 0, next->end) > max_tokens);

  const uint64_t left = budget_truncate_left(handle, t, n, max_tokens);
  FUZZ_CHECK(left <= n && count_of(handle, t, left, n) <= max_tokens);
  if (utf8) FUZZ_CHECK(char_boundary(t, n, left));
  if (left > 0) FUZZ_CHECK(count_of(handle, t, previous_boundary(t, n, left), n) > max_tokens);
  // Maximal too, where the text is short enough to be split whole (longer
  // texts are split in a window at the end, whose pieces may differ).
  if (n <= 64 || n / 8 <= max_tokens) {
    const auto earlier = std::find_if(pieces.rbegin(), pieces.rend(), [&](const Piece& p) {
      return p.start < left && char_boundary(t, n, p.start);
    });
    if (earlier != pieces.rend()) FUZZ_CHECK(count_of(handle, t, earlier->start, n) > max_tokens);
  }
  if (max_tokens == 0) FUZZ_CHECK(right == 0 && left == n);
}

void check_offsets(const EncodingHandle& handle, const ExactCopy& text) {
  std::vector<uint32_t> ids;
  std::vector<uint64_t> starts;
  budget_encode_with_offsets(handle, text.data(), text.size, ids, starts);
  FUZZ_CHECK(ids == piecewise_encode(handle, text.data(), text.size));
  FUZZ_CHECK(starts.size() == ids.size());
  uint64_t pos = 0;
  for (size_t i = 0; i < ids.size(); i++) {
    FUZZ_CHECK(starts[i] == pos);
    pos += handle.encoding->token_length(ids[i]);
  }
  FUZZ_CHECK(pos == text.size);
}

// An interrupt hook that says stop at its stop_at-th question (never when 0)
// and fails the run if asked again after that.
struct StopAt {
  uint64_t stop_at;
  uint64_t asked = 0;
  bool said_stop = false;
  Interrupt hook{[](void* self) {
                   auto* s = static_cast<StopAt*>(self);
                   FUZZ_CHECK(!s->said_stop);
                   s->asked++;
                   s->said_stop = s->stop_at != 0 && s->asked >= s->stop_at;
                   return s->said_stop;
                 },
                 this};
  explicit StopAt(uint64_t n) : stop_at(n) {}
  StopAt(const StopAt&) = delete;
  StopAt& operator=(const StopAt&) = delete;
};

void check_interrupts(const EncodingHandle& handle, const ExactCopy& text, uint64_t max_tokens,
                      uint64_t overlap, uint64_t stop_at) {
  const uint8_t* t = text.data();
  const uint64_t n = text.size;
  uint64_t plain_too_small = 0;
  const std::vector<ByteSpan> plain =
      budget_chunks(handle, t, n, max_tokens, overlap, &plain_too_small);
  std::vector<uint32_t> plain_ids;
  std::vector<uint64_t> plain_starts;
  budget_encode_with_offsets(handle, t, n, plain_ids, plain_starts);
  for (const uint64_t at : {stop_at, uint64_t{0}}) {
    // at 0: never stops, so the results are those without a hook.
    uint64_t too_small = 0;
    StopAt chunks(at);
    const std::vector<ByteSpan> spans =
        budget_chunks(handle, t, n, max_tokens, overlap, &too_small, &chunks.hook);
    StopAt right(at);
    const uint64_t r = budget_truncate_right(handle, t, n, max_tokens, &right.hook);
    StopAt left(at);
    const uint64_t l = budget_truncate_left(handle, t, n, max_tokens, &left.hook);
    StopAt offsets(at);
    std::vector<uint32_t> ids;
    std::vector<uint64_t> starts;
    budget_encode_with_offsets(handle, t, n, ids, starts, &offsets.hook);
    FUZZ_CHECK(r <= n && l <= n);
    if (at != 0) continue;
    FUZZ_CHECK(too_small == plain_too_small && spans.size() == plain.size());
    for (size_t i = 0; i < spans.size(); i++) {
      FUZZ_CHECK(spans[i].start == plain[i].start && spans[i].end == plain[i].end &&
                 spans[i].tokens == plain[i].tokens);
    }
    FUZZ_CHECK(r == budget_truncate_right(handle, t, n, max_tokens));
    FUZZ_CHECK(l == budget_truncate_left(handle, t, n, max_tokens));
    FUZZ_CHECK(ids == plain_ids && starts == plain_starts);
  }
}

}  // namespace
}  // namespace velkan::fuzz

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace velkan;
  using namespace velkan::fuzz;
  if (size < 3) return 0;
  const EncodingHandle& handle = embedded_handle(data[0] & 1);
  // Small budgets most of the time, where cuts inside pieces and refusals
  // happen; now and then one larger than the text.
  const uint64_t max_tokens = data[1] == 0xFF ? UINT64_MAX / 2 : uint64_t{1} + data[1] % 48;
  const uint64_t overlap = (data[0] & 2) ? data[2] % max_tokens : 0;
  const ExactCopy text(data + 3, size - 3);
  const bool utf8 = valid_utf8(text.data(), text.size);
  check_chunks(handle, text, max_tokens, overlap, utf8);
  check_truncate(handle, text, max_tokens, utf8);
  check_truncate(handle, text, data[2] % 8, utf8);
  check_offsets(handle, text);
  check_interrupts(handle, text, max_tokens, overlap, uint64_t{1} + data[2] % 16);
  return 0;
}
