#include "driver/budget.h"

#include <algorithm>

#include "core/automaton.h"
#include "core/encoder.h"
#include "driver/piece_ids.h"
#include "driver/piece_walk.h"
#include "driver/piecewise.h"

namespace velkan {
namespace {

struct Piece {
  uint64_t start;
  uint64_t end;
  uint64_t tokens;
};

// Pieces with their token counts, stopping once more than stop_after tokens
// are collected (the piece that passes it is kept).
std::vector<Piece> pieces_of(const EncodingHandle& handle, PieceIds<true>& counter,
                             const uint8_t* text, uint64_t length,
                             uint64_t stop_after = UINT64_MAX) {
  std::vector<Piece> pieces;
  // About one piece per four bytes in most text: growing the array by
  // doubling would copy it about once more. Capped, so that a huge text
  // asks for no more than it will use. (Splitting on demand a batch at a
  // time and dropping the pieces behind the chunk, so that memory follows the
  // budget, made chunking 5 to 10% slower; left out.)
  constexpr uint64_t kMaxReserved = uint64_t{1} << 22;
  if (stop_after == UINT64_MAX) {
    pieces.reserve(static_cast<size_t>(std::min(length / 4 + 16, kMaxReserved)));
  }
  uint64_t total = 0;
  for_each_piece(handle, text, length, [&](uint64_t start, uint64_t end) {
    const uint64_t n = counter.count(text + start, end - start, length - start);
    pieces.push_back({start, end, n});
    total += n;
    return total <= stop_after;
  });
  return pieces;
}

// The token count of text[pieces[first].start, end) encoded alone, if at
// most max (else kOverLimit), where end is the end of some piece. Split alone,
// the span gives the same pieces as the whole text except perhaps near its
// end (a match may look past it); only pieces that differ are encoded.
uint64_t span_count(const EncodingHandle& handle, PieceIds<true>& counter, const uint8_t* text,
                    const std::vector<Piece>& pieces, size_t first, uint64_t end, uint64_t max) {
  const uint64_t base = pieces[first].start;
  size_t k = first;
  uint64_t total = 0;
  for_each_piece(handle, text + base, end - base, [&](uint64_t start, uint64_t stop) {
    while (k < pieces.size() && pieces[k].start < base + start) k++;
    if (k < pieces.size() && pieces[k].start == base + start && pieces[k].end == base + stop) {
      total += pieces[k].tokens;
    } else {
      total += counter.count(text + base + start, stop - start, end - base - start);
    }
    return total <= max;
  });
  return total <= max ? total : kOverLimit;
}

bool char_boundary(const uint8_t* text, uint64_t length, uint64_t p) {
  return p >= length || (text[p] & 0xC0) != 0x80;
}

// True when text[a, b) encoded alone has at most max tokens.
bool fits(const EncodingHandle& handle, const uint8_t* text, uint64_t a, uint64_t b, uint64_t max) {
  return piecewise_count_till_limit(handle, text + a, b - a, max) != kOverLimit;
}

// The longest prefix text[a, c) of the piece text[a, b) (which does not fit)
// that fits, cut at a character boundary. a when not even one character fits.
uint64_t cut_inside_piece(const EncodingHandle& handle, const uint8_t* text, uint64_t length,
                          uint64_t a, uint64_t b, uint64_t max) {
  const BytePairEncoding& bpe = *handle.encoding;
  // Encode only a window at the start that holds more than max tokens, so
  // that cutting a long piece into many chunks stays linear.
  // (Compared before multiplying: a budget near 2^64 / 16 would overflow.)
  uint64_t window = max >= (b - a) / 16 ? b - a : std::min(b - a, max * 16 + 64);
  std::vector<uint32_t> ids = bpe_encode(bpe, text + a, window);
  while (ids.size() <= max && window < b - a) {
    window = std::min(b - a, window * 2);
    ids = bpe_encode(bpe, text + a, window);
  }
  // Token ends, the candidates from the fullest down.
  std::vector<uint64_t> ends;
  uint64_t pos = a;
  for (size_t i = 0; i < ids.size() && i < max; i++) {
    pos += bpe.token_length(ids[i]);
    ends.push_back(pos);
  }
  for (size_t i = ends.size(); i-- > 0;) {
    uint64_t c = ends[i];
    while (c > a && !char_boundary(text, length, c)) c--;
    if (c > a && fits(handle, text, a, c, max)) return c;
  }
  // Only the first character (or nothing) can be left.
  uint64_t c = a + 1;
  while (c < b && !char_boundary(text, length, c)) c++;
  return fits(handle, text, a, c, max) ? c : a;
}

// The longest suffix text[c, b) of text[a, b) that fits, c at a character
// boundary; b when not even one character fits.
uint64_t cut_inside_piece_from_right(const EncodingHandle& handle, const uint8_t* text,
                                     uint64_t length, uint64_t a, uint64_t b, uint64_t max) {
  const BytePairEncoding& bpe = *handle.encoding;
  const std::vector<uint32_t> ids = bpe_encode(bpe, text + a, b - a);
  std::vector<uint64_t> starts;
  uint64_t pos = b;
  for (size_t i = ids.size(); i-- > 0 && starts.size() < max;) {
    pos -= bpe.token_length(ids[i]);
    starts.push_back(pos);
  }
  for (size_t i = starts.size(); i-- > 0;) {
    uint64_t c = starts[i];
    while (c < b && !char_boundary(text, length, c)) c++;
    if (c < b && fits(handle, text, c, b, max)) return c;
  }
  return b;
}

bool is_space(uint8_t c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

bool sentence_end_before(const uint8_t* text, uint64_t b) {
  const uint8_t c = text[b - 1];
  if (c == '.' || c == '!' || c == '?') return true;
  if (b < 3) return false;
  const uint8_t* t = text + b - 3;
  // 。 ！ ？
  return (t[0] == 0xE3 && t[1] == 0x80 && t[2] == 0x82) ||
         (t[0] == 0xEF && t[1] == 0xBC && (t[2] == 0x81 || t[2] == 0x9F));
}

// How good a cut at byte b (0 < b < length) is: 4 blank line, 3 line break,
// 2 sentence end, 1 whitespace, 0 any piece boundary.
int cut_level(const uint8_t* text, uint64_t length, uint64_t b) {
  if (b >= length) return 5;
  if (text[b - 1] == '\n') {
    for (uint64_t p = b - 1; p-- > 0 && b - p < 64;) {
      if (text[p] == '\n') return 4;
      if (text[p] != ' ' && text[p] != '\t' && text[p] != '\r') break;
    }
    return 3;
  }
  if (sentence_end_before(text, b) && is_space(text[b])) return 2;
  if (is_space(text[b - 1]) || is_space(text[b])) return 1;
  return 0;
}

constexpr int kLevels = 5;

}  // namespace

std::vector<ByteSpan> budget_chunks(const EncodingHandle& handle, const uint8_t* text,
                                    uint64_t length, uint64_t max_tokens, uint64_t overlap,
                                    uint64_t* too_small_at) {
  *too_small_at = kBudgetFits;
  std::vector<ByteSpan> out;
  PieceIds<true> counter(handle);
  std::vector<Piece> pieces = pieces_of(handle, counter, text, length);
  const size_t n = pieces.size();
  size_t i = 0;  // first piece of the chunk; pieces[i].start may be a cut inside it
  uint64_t previous_end = 0;
  while (i < n) {
    const uint64_t chunk_start = pieces[i].start;
    // The window: pieces i..j whose counts add up to at most the budget, and
    // for each level the farthest cut of at least that level within it.
    uint64_t total = 0;
    size_t j = i;
    long best[kLevels];
    uint64_t best_total[kLevels];
    std::fill(best, best + kLevels, -1L);
    std::fill(best_total, best_total + kLevels, uint64_t{0});
    bool reached_end = false;
    while (j < n && total + pieces[j].tokens <= max_tokens) {
      total += pieces[j].tokens;
      const int level = cut_level(text, length, pieces[j].end);
      if (level == 5) {
        reached_end = true;
      } else {
        for (int l = 0; l <= level; l++) {
          best[l] = static_cast<long>(j);
          best_total[l] = total;
        }
      }
      j++;
    }
    long cut = -1;  // the last piece of the chunk
    if (reached_end) {
      cut = static_cast<long>(n - 1);
    } else {
      // The strongest level whose farthest cut fills at least half the budget;
      // else the fullest cut.
      for (int l = kLevels - 1; l >= 0; l--) {
        if (best[l] >= 0 && (2 * best_total[l] >= max_tokens || l == 0)) {
          cut = best[l];
          break;
        }
      }
    }
    // Encoded alone, the chunk's end may split differently: back off until it
    // fits (rare, and each try costs one chunk).
    uint64_t tokens = kOverLimit;
    while (cut >= static_cast<long>(i)) {
      tokens = span_count(handle, counter, text, pieces, i, pieces[static_cast<size_t>(cut)].end,
                          max_tokens);
      if (tokens != kOverLimit) break;
      cut--;
    }
    uint64_t chunk_end;
    size_t next;
    if (cut < static_cast<long>(i)) {
      // Not even the first piece fits: cut it between tokens and go on from
      // the rest of it as a piece of its own.
      Piece& head = pieces[i];
      chunk_end = cut_inside_piece(handle, text, length, chunk_start, head.end, max_tokens);
      if (chunk_end == chunk_start) {
        *too_small_at = chunk_start;
        return {};
      }
      head.start = chunk_end;
      // Only whether the rest fits matters for the next window; the limited
      // count stops early, so a long piece cut into many chunks stays linear.
      const uint64_t rest = bpe_count_till_limit(*handle.encoding, text + chunk_end,
                                                 head.end - chunk_end, max_tokens);
      head.tokens = rest == kOverLimit || rest > max_tokens ? max_tokens + 1 : rest;
      tokens = piecewise_count(handle, text + chunk_start, chunk_end - chunk_start);
      next = i;
    } else {
      chunk_end = pieces[static_cast<size_t>(cut)].end;
      next = static_cast<size_t>(cut) + 1;
    }
    if (chunk_end <= previous_end && !out.empty()) {
      // An overlapped start left no room for new text: start after the last chunk.
      while (i < n && pieces[i].start < previous_end) i++;
      continue;
    }
    out.push_back({chunk_start, chunk_end, tokens});
    previous_end = chunk_end;
    if (overlap > 0 && next < n && next > i) {
      // Step back over whole pieces worth at most overlap tokens.
      size_t k = next;
      uint64_t back = 0;
      while (k > i + 1 && back + pieces[k - 1].tokens <= overlap &&
             pieces[k - 1].start >= chunk_start) {
        back += pieces[k - 1].tokens;
        k--;
      }
      next = k;
    }
    i = next;
  }
  return out;
}

uint64_t budget_truncate_right(const EncodingHandle& handle, const uint8_t* text, uint64_t length,
                               uint64_t max_tokens) {
  if (length == 0 || max_tokens == 0) return 0;
  PieceIds<true> counter(handle);
  const std::vector<Piece> pieces = pieces_of(handle, counter, text, length, max_tokens);
  long last = -1;
  uint64_t total = 0;
  for (size_t k = 0; k < pieces.size() && total + pieces[k].tokens <= max_tokens; k++) {
    total += pieces[k].tokens;
    last = static_cast<long>(k);
  }
  while (last >= 0 && span_count(handle, counter, text, pieces, 0,
                                 pieces[static_cast<size_t>(last)].end, max_tokens) == kOverLimit) {
    last--;
  }
  // Split alone, a longer prefix can end differently and need fewer tokens
  // than its pieces in the whole text: take the next piece while it fits.
  while (static_cast<size_t>(last + 1) < pieces.size() &&
         span_count(handle, counter, text, pieces, 0, pieces[static_cast<size_t>(last + 1)].end,
                    max_tokens) != kOverLimit) {
    last++;
  }
  if (last >= 0) return pieces[static_cast<size_t>(last)].end;
  return cut_inside_piece(handle, text, length, 0, pieces[0].end, max_tokens);
}

uint64_t budget_truncate_left(const EncodingHandle& handle, const uint8_t* text, uint64_t length,
                              uint64_t max_tokens) {
  if (length == 0 || max_tokens == 0) return length;
  // Split a window at the end big enough for the budget (a token rarely
  // covers more than 8 bytes), growing it when the whole window fits.
  // (A budget of 2^61 or more would overflow the product; it takes the
  // whole text anyway.)
  uint64_t window = max_tokens >= length / 8 ? length : std::max<uint64_t>(64, max_tokens * 8);
  PieceIds<true> counter(handle);
  for (;;) {
    uint64_t base = window >= length ? 0 : length - window;
    // The whole text (base 0) is never moved: it may start with a stray byte.
    while (base > 0 && !char_boundary(text, length, base)) base++;
    // Split the window, but count only from its end back to the first piece
    // that no longer fits: the work follows the part kept.
    std::vector<Piece> pieces;
    for_each_piece(handle, text + base, length - base, [&](uint64_t start, uint64_t end) {
      pieces.push_back({start, end, 0});
      return true;
    });
    // The window's first piece starts wherever the window does: never a cut
    // unless the window is the whole text.
    const size_t first = base == 0 ? 0 : 1;
    size_t k = pieces.size();
    uint64_t total = 0;
    while (k > first) {
      const Piece& piece = pieces[k - 1];
      const uint64_t n = counter.count(text + base + piece.start, piece.end - piece.start,
                                       length - base - piece.start);
      if (total + n > max_tokens) break;
      total += n;
      k--;
    }
    // Everything after the window's first piece fits (or the window holds
    // no piece after it, as when it starts in a run of stray bytes): grow.
    if (k <= first && base > 0) {
      window *= 2;
      continue;
    }
    // No check of the suffix alone is needed: split from a piece's start to
    // the same end, it gives exactly the window's pieces from there (the
    // walk carries nothing but its position), so it has total tokens.
    if (k < pieces.size()) return base + pieces[k].start;
    const Piece& tail = pieces.back();
    return cut_inside_piece_from_right(handle, text, length, base + tail.start, length, max_tokens);
  }
}

void budget_encode_with_offsets(const EncodingHandle& handle, const uint8_t* text, uint64_t length,
                                std::vector<uint32_t>& ids, std::vector<uint64_t>& starts) {
  const BytePairEncoding& bpe = *handle.encoding;
  for_each_piece(handle, text, length, [&](uint64_t start, uint64_t end) {
    const int32_t whole = automaton_whole_token(bpe.forward_automaton, text + start, end - start);
    if (whole != -1) {
      ids.push_back(static_cast<uint32_t>(whole));
      starts.push_back(start);
      return true;
    }
    uint64_t pos = start;
    for (const uint32_t id : bpe_encode(bpe, text + start, end - start)) {
      ids.push_back(id);
      starts.push_back(pos);
      pos += bpe.token_length(id);
    }
    return true;
  });
}

}  // namespace velkan
