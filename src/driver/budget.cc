#include "driver/budget.h"

#include <algorithm>
#include <deque>

#include "core/automaton.h"
#include "core/encoder.h"
#include "driver/piece_ids.h"
#include "driver/piece_walk.h"
#include "driver/piecewise.h"
#include "driver/stream.h"

// How often the budget functions ask their interrupt hook, in bytes of work.
// Fuzz builds ask every few bytes, so that short inputs reach every path an
// interrupt can take.
#ifndef VELKAN_BUDGET_ASK_EVERY_BYTES
#define VELKAN_BUDGET_ASK_EVERY_BYTES kInterruptEveryBytes
#endif

namespace velkan {
namespace {

constexpr uint64_t kAskEveryBytes = VELKAN_BUDGET_ASK_EVERY_BYTES;

// The caller's interrupt hook, asked about once every kAskEveryBytes of
// work (splitting and counting alike, however often a span is walked), and
// never again once it said stop: the binding's hook must not be asked twice
// after a handler raised. hook() hands the same check to the driver's own
// walks.
class Checkpoint {
 public:
  explicit Checkpoint(const Interrupt* outer) : outer_(outer) {}
  Checkpoint(const Checkpoint&) = delete;
  Checkpoint& operator=(const Checkpoint&) = delete;

  // Adds bytes of work; true when the call must stop (and from then on).
  bool stop_after(uint64_t bytes) {
    if (stopped_) return true;
    if (outer_ == nullptr) return false;
    done_ += bytes;
    if (done_ < next_) return false;
    next_ = done_ + kAskEveryBytes;
    return ask(this);
  }
  bool stopped() const { return stopped_; }
  const Interrupt* hook() const { return outer_ == nullptr ? nullptr : &hook_; }

 private:
  static bool ask(void* self) {
    auto* check = static_cast<Checkpoint*>(self);
    if (!check->stopped_) check->stopped_ = check->outer_->requested(check->outer_->context);
    return check->stopped_;
  }

  const Interrupt* outer_;
  Interrupt hook_{ask, this};
  uint64_t done_ = 0;
  uint64_t next_ = kAskEveryBytes;
  bool stopped_ = false;
};

// A piece of the whole text and its token count; a count above the budget
// may be any number above it (long pieces are counted only that far). A
// piece ends where the next starts (or the text does): pieces tile the text.
struct Piece {
  uint64_t start;
  uint64_t tokens;
};

// The whole text's pieces. A deque: one piece per four or five bytes of most
// text, and a vector growing by doubling touched up to twice its final size
// while it copied (chunk_spans held 9.1x an English text of 20 MB at its
// peak with 24-byte pieces in a vector; 16-byte pieces in a deque, 2.6x).
using Pieces = std::deque<Piece>;

uint64_t end_of(const Pieces& pieces, size_t k, uint64_t length) {
  return k + 1 < pieces.size() ? pieces[k + 1].start : length;
}

// A piece of a window at a text's end (truncate_left), with the tokens from
// its start to the end.
struct WindowPiece {
  uint64_t start;
  uint64_t end;
  uint64_t tokens;
};

// The piece's tokens if at most allowance, else allowance + 1 (or more): a
// piece longer than the allowance is counted only until it passes it, so
// that a huge piece costs what the budget does, not what it holds.
uint64_t limited_count(const EncodingHandle& handle, PieceIds<true>& counter, const uint8_t* text,
                       uint64_t start, uint64_t end, uint64_t length, uint64_t allowance) {
  // At most one token per byte: a piece this short fits whatever its count.
  if (end - start <= allowance) return counter.count(text + start, end - start, length - start);
  const uint64_t n = bpe_count_till_limit(*handle.encoding, text + start, end - start, allowance);
  return n == kOverLimit || n > allowance ? allowance + 1 : n;
}

// The whole text's pieces with their token counts. (Splitting on demand a
// batch at a time and dropping the pieces behind the chunk, so that memory
// follows the budget, made chunking 5 to 10% slower; left out.)
Pieces pieces_of(const EncodingHandle& handle, PieceIds<true>& counter, const uint8_t* text,
                 uint64_t length, uint64_t max_tokens, Checkpoint& check) {
  Pieces pieces;
  for_each_piece(handle, text, length, [&](uint64_t start, uint64_t end) {
    if (check.stop_after(end - start)) return false;
    pieces.push_back({start, limited_count(handle, counter, text, start, end, length, max_tokens)});
    return true;
  });
  return pieces;
}

// The token count of text[pieces[first].start, end) encoded alone, if at
// most max (else kOverLimit), where end is the end of some piece. Split alone,
// the span gives the same pieces as the whole text except perhaps near its
// end (a match may look past it); only pieces that differ are encoded.
uint64_t span_count(const EncodingHandle& handle, PieceIds<true>& counter, const uint8_t* text,
                    uint64_t length, const Pieces& pieces, size_t first, uint64_t end, uint64_t max,
                    Checkpoint& check) {
  const uint64_t base = pieces[first].start;
  size_t k = first;
  uint64_t total = 0;
  for_each_piece(handle, text + base, end - base, [&](uint64_t start, uint64_t stop) {
    if (check.stop_after(stop - start)) return false;
    while (k < pieces.size() && pieces[k].start < base + start) k++;
    if (k < pieces.size() && pieces[k].start == base + start &&
        end_of(pieces, k, length) == base + stop) {
      total += pieces[k].tokens;
    } else {
      total += limited_count(handle, counter, text + base, start, stop, end - base, max - total);
    }
    return total <= max;
  });
  return total <= max && !check.stopped() ? total : kOverLimit;
}

bool char_boundary(const uint8_t* text, uint64_t length, uint64_t p) {
  return p == 0 || p >= length || (text[p] & 0xC0) != 0x80;
}

// The search at character granularity that every cut inside a piece shares.
// Kept parts are measured by a length k (a prefix's end, or a suffix's
// length); at(k) is the byte where such a part is cut. good is a kept length
// that fits, bad one that does not (or one past the largest allowed, which
// is never tried); fits(k) says whether a length between them fits. Returns
// a length that fits such that the next character boundary toward bad does
// not: the part cannot keep one more character. The first try is guess (a
// length estimated from the tokens of one encode), then steps that double
// away from it, then bisection, so a close guess costs a few counts of the
// part kept and a far one a logarithm of the distance.
template <typename At, typename Fits>
uint64_t longest_fit(const uint8_t* text, uint64_t length, uint64_t good, uint64_t bad,
                     uint64_t guess, At at, Fits fits, const Checkpoint& check) {
  auto boundary = [&](uint64_t k) { return char_boundary(text, length, at(k)); };
  // The next boundary after k (bad at the latest), and k moved back to one
  // (good at the earliest).
  auto next = [&](uint64_t k) {
    do k++;
    while (k < bad && !boundary(k));
    return k;
  };
  auto snap = [&](uint64_t k) {
    while (k > good && !boundary(k)) k--;
    return k;
  };
  bool from_good = true;  // whether to step up from good or down from bad
  if (guess > good && guess < bad) {
    const uint64_t k = snap(guess);
    if (k > good) {
      from_good = fits(k);
      (from_good ? good : bad) = k;
    }
  }
  for (uint64_t step = 1; !check.stopped(); step *= 2) {
    if (from_good) {
      const uint64_t k = std::max(snap(std::min(bad, good + step)), next(good));
      if (k >= bad) break;
      if (!fits(k)) {
        bad = k;
        break;
      }
      good = k;
    } else {
      if (bad - good <= step) break;
      const uint64_t k = snap(bad - step);
      if (k <= good) break;
      if (fits(k)) {
        good = k;
        break;
      }
      bad = k;
    }
  }
  while (!check.stopped()) {
    if (next(good) >= bad) break;
    uint64_t k = snap(good + (bad - good) / 2);
    if (k <= good) k = next(good);
    (fits(k) ? good : bad) = k;
  }
  return good;
}

struct Cut {
  uint64_t end;
  uint64_t tokens;  // of text[from, end) encoded alone
};

// The longest prefix text[from, c) with c in [good, cap] at a character
// boundary that encodes alone to at most max tokens (the cut can keep no
// more characters), when text[from, good) fits; else {good, kOverLimit}.
// Counts start at the last place before good where the pieces are certain
// whatever follows (as a stream finds it, counting the pieces before it in
// the same pass), so a cut deep in a long piece costs counts of about the
// piece's part kept.
Cut longest_prefix(const EncodingHandle& handle, const uint8_t* text, uint64_t length,
                   uint64_t from, uint64_t good, uint64_t cap, uint64_t max, Checkpoint& check) {
  // The pieces of any text[from, c) with c >= good that start before anchor
  // are those of text[from, good), with before tokens.
  uint64_t before = 0;
  const uint64_t anchor = from + stream_encode_prefix(handle, text + from, good - from, false,
                                                      nullptr, &before, check.hook());
  if (check.stopped() || before > max) return {good, kOverLimit};
  const uint64_t rest =
      piecewise_count_till_limit(handle, text + anchor, good - anchor, max - before, check.hook());
  if (rest == kOverLimit || check.stopped()) return {good, kOverLimit};
  const uint64_t good_tokens = before + rest;
  if (good >= cap) return {good, good_tokens};
  // A first guess: where the tokens the budget has left end in the encoding
  // of what follows good alone (a token rarely spans more than 16 bytes; the
  // window grows when it holds too few).
  const BytePairEncoding& bpe = *handle.encoding;
  const uint64_t need = max - good_tokens;
  uint64_t guess = good;
  if (need > 0) {
    const uint64_t room = cap - good;
    uint64_t window = need >= room / 16 ? room : std::min(room, need * 16 + 64);
    std::vector<uint32_t> ids = bpe_encode(bpe, text + good, window);
    while (ids.size() <= need && window < room && !check.stop_after(window)) {
      window = std::min(room, window * 2);
      ids = bpe_encode(bpe, text + good, window);
    }
    for (size_t i = 0; i < ids.size() && i < need; i++) guess += bpe.token_length(ids[i]);
  }
  uint64_t found_tokens = good_tokens;
  uint64_t found_at = good;
  auto fits = [&](uint64_t c) {
    if (check.stop_after(c - anchor)) return false;
    const uint64_t n =
        piecewise_count_till_limit(handle, text + anchor, c - anchor, max - before, check.hook());
    if (n == kOverLimit || check.stopped()) return false;
    if (c > found_at) {
      found_at = c;
      found_tokens = before + n;
    }
    return true;
  };
  const uint64_t end = longest_fit(
      text, length, good, cap + 1, guess, [](uint64_t k) { return k; }, fits, check);
  if (end == found_at) return {end, found_tokens};
  return {end, end == good ? good_tokens : piecewise_count(handle, text + from, end - from)};
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

// How good a cut at byte b (0 < b <= length) is (budget.h). Internal, so
// that the chunk loop inlines it; budget_cut_level offers it outside.
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

int budget_cut_level(const uint8_t* text, uint64_t length, uint64_t b) {
  return cut_level(text, length, b);
}

std::vector<ByteSpan> budget_chunks(const EncodingHandle& handle, const uint8_t* text,
                                    uint64_t length, uint64_t max_tokens, uint64_t overlap,
                                    uint64_t* too_small_at, const Interrupt* interrupt) {
  *too_small_at = kBudgetFits;
  std::vector<ByteSpan> out;
  Checkpoint check(interrupt);
  PieceIds<true> counter(handle);
  Pieces pieces = pieces_of(handle, counter, text, length, max_tokens, check);
  const size_t n = pieces.size();
  size_t i = 0;  // first piece of the chunk; pieces[i].start may be a cut inside it
  uint64_t previous_end = 0;
  while (i < n && !check.stopped()) {
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
    while (j < n && pieces[j].tokens <= max_tokens - total) {
      total += pieces[j].tokens;
      const int level = cut_level(text, length, end_of(pieces, j, length));
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
    uint64_t cut_total = 0;
    if (reached_end) {
      cut = static_cast<long>(n - 1);
      cut_total = total;
    } else {
      // The strongest level whose farthest cut fills at least half the budget;
      // else the fullest cut.
      for (int l = kLevels - 1; l >= 0; l--) {
        if (best[l] >= 0 && (2 * best_total[l] >= max_tokens || l == 0)) {
          cut = best[l];
          cut_total = best_total[l];
          break;
        }
      }
    }
    uint64_t chunk_end = 0;
    uint64_t tokens = kOverLimit;
    size_t next = 0;
    size_t cut_piece = n;  // the piece the chunk ends inside, if it does
    // A chunk less than half full before a piece longer than the budget
    // takes the head of that piece: the piece is cut inside anyway, and
    // there a cut may go at any character.
    if (!reached_end && j < n && pieces[j].tokens > max_tokens &&
        (cut < static_cast<long>(i) || 2 * cut_total < max_tokens)) {
      const uint64_t head = pieces[j].start;
      const Cut c = longest_prefix(handle, text, length, chunk_start, head,
                                   end_of(pieces, j, length), max_tokens, check);
      if (c.tokens != kOverLimit && c.end > head) {
        chunk_end = c.end;
        tokens = c.tokens;
        cut_piece = j;
      }
    }
    if (cut_piece == n) {
      // Encoded alone, the chunk's end may split differently: back off until
      // it fits (rare, and each try costs one chunk).
      while (cut >= static_cast<long>(i) && !check.stopped()) {
        tokens = span_count(handle, counter, text, length, pieces, i,
                            end_of(pieces, static_cast<size_t>(cut), length), max_tokens, check);
        if (tokens != kOverLimit) break;
        cut--;
      }
      if (cut >= static_cast<long>(i)) {
        chunk_end = end_of(pieces, static_cast<size_t>(cut), length);
        next = static_cast<size_t>(cut) + 1;
      } else {
        // Not even the first piece fits: cut it inside.
        const Cut c = longest_prefix(handle, text, length, chunk_start, chunk_start,
                                     end_of(pieces, i, length), max_tokens, check);
        if (check.stopped()) break;
        if (c.end == chunk_start) {
          *too_small_at = chunk_start;
          return {};
        }
        chunk_end = c.end;
        tokens = c.tokens;
        cut_piece = i;
      }
    }
    if (check.stopped()) break;
    if (cut_piece < n) {
      // Go on from the rest of the piece as a piece of its own. Only whether
      // the rest fits matters for the next window; the limited count stops
      // early, so a long piece cut into many chunks stays linear.
      // (The piece before it now seems to end there too; no later step
      // looks back at it.)
      const uint64_t rest_end = end_of(pieces, cut_piece, length);
      next = cut_piece + 1;
      if (chunk_end < rest_end) {
        Piece& rest = pieces[cut_piece];
        rest.start = chunk_end;
        rest.tokens = limited_count(handle, counter, text, chunk_end, rest_end, length, max_tokens);
        next = cut_piece;
      }
    }
    if (chunk_end <= previous_end && !out.empty()) {
      // An overlapped start left no room for new text: start after the last chunk.
      while (i < n && pieces[i].start < previous_end) i++;
      continue;
    }
    out.push_back({chunk_start, chunk_end, tokens});
    previous_end = chunk_end;
    if (overlap > 0 && cut_piece == n && next < n && next > i) {
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
  if (check.stopped()) return {};
  return out;
}

uint64_t budget_truncate_right(const EncodingHandle& handle, const uint8_t* text, uint64_t length,
                               uint64_t max_tokens, const Interrupt* interrupt) {
  if (length == 0 || max_tokens == 0) return 0;
  Checkpoint check(interrupt);
  PieceIds<true> counter(handle);
  // The whole text's pieces up to the first that passes the budget.
  uint64_t total = 0;
  uint64_t fit_end = 0;
  bool over = false;
  for_each_piece(handle, text, length, [&](uint64_t start, uint64_t end) {
    if (check.stop_after(end - start)) return false;
    const uint64_t allowance = max_tokens - total;
    const uint64_t n = limited_count(handle, counter, text, start, end, length, allowance);
    if (n > allowance) {
      over = true;
      return false;
    }
    total += n;
    fit_end = end;
    return true;
  });
  if (check.stopped()) return 0;
  if (!over) return length;
  // Encoded alone, the prefix may end differently and not fit (then the
  // search starts from nothing); either way it goes on inside the piece that
  // passed the budget, and further while the prefix still fits.
  Cut cut = longest_prefix(handle, text, length, 0, fit_end, length, max_tokens, check);
  if (cut.tokens == kOverLimit) {
    cut = longest_prefix(handle, text, length, 0, 0, length, max_tokens, check);
  }
  return check.stopped() ? 0 : cut.end;
}

uint64_t budget_truncate_left(const EncodingHandle& handle, const uint8_t* text, uint64_t length,
                              uint64_t max_tokens, const Interrupt* interrupt) {
  if (length == 0 || max_tokens == 0) return length;
  // Split a window at the end big enough for the budget (a token rarely
  // covers more than 8 bytes), growing it when the whole window fits.
  // (A budget of 2^61 or more would overflow the product; it takes the
  // whole text anyway.)
  uint64_t window = max_tokens >= length / 8 ? length : std::max<uint64_t>(64, max_tokens * 8);
  Checkpoint check(interrupt);
  PieceIds<true> counter(handle);
  for (;;) {
    uint64_t base = window >= length ? 0 : length - window;
    // The whole text (base 0) is never moved: it may start with a stray byte.
    while (base > 0 && !char_boundary(text, length, base)) base++;
    // Split the window, but count only from its end back to the first piece
    // that no longer fits: the work follows the part kept.
    std::vector<WindowPiece> pieces;
    for_each_piece(handle, text + base, length - base, [&](uint64_t start, uint64_t end) {
      if (check.stop_after(end - start)) return false;
      pieces.push_back({base + start, base + end, 0});
      return true;
    });
    // The window's first piece starts wherever the window does: never a cut
    // unless the window is the whole text.
    const size_t first = base == 0 ? 0 : 1;
    size_t k = pieces.size();
    uint64_t total = 0;
    while (k > first && !check.stopped()) {
      WindowPiece& piece = pieces[k - 1];
      const uint64_t allowance = max_tokens - total;
      const uint64_t n =
          limited_count(handle, counter, text, piece.start, piece.end, length, allowance);
      if (n > allowance || check.stop_after(piece.end - piece.start)) break;
      total += n;
      piece.tokens = total;  // from here to the end
      k--;
    }
    if (check.stopped()) return length;
    // Everything after the window's first piece fits (or the window holds
    // no piece after it, as when it starts in a run of stray bytes): grow.
    if (k <= first && base > 0) {
      window *= 2;
      continue;
    }
    if (k == 0) return 0;
    // No check of the suffix from a piece's start is needed: split from
    // there to the same end, it gives exactly the window's pieces (the walk
    // carries nothing but its position), so it has their tokens. The suffix
    // from pieces[k].start (or nothing) fits and the one from
    // pieces[k - 1].start does not: cut inside that piece, at the longest
    // suffix that fits, searched by its length.
    const uint64_t good = k < pieces.size() ? pieces[k].start : length;
    const uint64_t bad = pieces[k - 1].start;
    // A suffix from inside the piece splits alike once it reaches a start
    // of the window's pieces: the rest are their tokens.
    auto fits = [&](uint64_t kept) {
      const uint64_t c = length - kept;
      uint64_t sum = 0;
      bool over_budget = false;
      size_t idx = k;
      for_each_piece(handle, text + c, length - c, [&](uint64_t start, uint64_t end) {
        if (check.stop_after(end - start)) return false;
        while (idx < pieces.size() && pieces[idx].start < c + start) idx++;
        if (idx < pieces.size() && pieces[idx].start == c + start) {
          over_budget = pieces[idx].tokens > max_tokens - sum;
          return false;
        }
        const uint64_t allowance = max_tokens - sum;
        const uint64_t count =
            limited_count(handle, counter, text + c, start, end, length - c, allowance);
        if (count > allowance) {
          over_budget = true;
          return false;
        }
        sum += count;
        return true;
      });
      return !over_budget && !check.stopped();
    };
    // The first guess: where the last tokens the budget has left start in
    // the encoding of the piece's end alone.
    const BytePairEncoding& bpe = *handle.encoding;
    const uint64_t need = max_tokens - total;
    uint64_t guess = good;
    if (need > 0) {
      const uint64_t room = good - bad;
      uint64_t span = need >= room / 16 ? room : std::min(room, need * 16 + 64);
      std::vector<uint32_t> ids;
      for (;;) {
        uint64_t from = good - span;
        while (from < good && !char_boundary(text, length, from)) from++;
        ids = bpe_encode(bpe, text + from, good - from);
        if (ids.size() > need || span == room || check.stop_after(span)) break;
        span = std::min(room, span * 2);
      }
      for (size_t t = ids.size(); t-- > 0 && ids.size() - t <= need;) {
        guess -= bpe.token_length(ids[t]);
      }
    }
    const uint64_t kept = longest_fit(
        text, length, length - good, length - bad, length - guess,
        [&](uint64_t kept_length) { return length - kept_length; }, fits, check);
    return check.stopped() ? length : length - kept;
  }
}

void budget_encode_with_offsets(const EncodingHandle& handle, const uint8_t* text, uint64_t length,
                                std::vector<uint32_t>& ids, std::vector<uint64_t>& starts,
                                const Interrupt* interrupt) {
  const BytePairEncoding& bpe = *handle.encoding;
  Checkpoint check(interrupt);
  PieceIds<true> encoder(handle);
  for_each_piece(handle, text, length, [&](uint64_t start, uint64_t end) {
    if (check.stop_after(end - start)) return false;
    uint64_t pos = start;
    encoder.encode(text + start, end - start, length - start,
                   [&](const uint32_t* piece_ids, uint64_t n) {
                     for (uint64_t t = 0; t < n; t++) {
                       ids.push_back(piece_ids[t]);
                       starts.push_back(pos);
                       pos += bpe.token_length(piece_ids[t]);
                     }
                   });
    return true;
  });
}

}  // namespace velkan
