#include "driver/stream.h"

#include "driver/piece_ids.h"
#include "driver/piece_walk.h"
#include "presplit/split_common.h"

namespace velkan {
namespace {

// When is a piece's end certain? Every rule of every rule set scans, from
// where its piece starts, an optional first character (a space or a prefix)
// and then runs of one kind: letters (with marks in o200k and Tekken), at
// most three numbers (one in Qwen2 and Tekken), symbols followed by CR, LF and '/', or whitespace;
// after a word, a contraction reads up to three bytes more. Two places stop every scan:
//  (a) a letter or number followed by a symbol that is neither a mark nor
//      an apostrophe: every run that holds the letter stops at the symbol,
//      so a piece ends there, and every run before it stops at the letter
//      at the latest (a symbol run's CR, LF and '/' too);
//  (b) a whitespace run (with any '/' among it) and the character after it,
//      for pieces that start before the run's last whitespace character:
//      their runs either stop before the whitespace or are whitespace, CR,
//      LF or '/' runs, and none of those takes that character.
// The rules that test for the end of the text (`\s+$`) test it only at the
// end of a run, which in both cases lies inside the buffer. Besides, a piece
// that starts with three numbers is certain where numbers go three at a time.

template <typename Rules>
concept NumbersAtMostThree = Rules::kNumbersAtMostThree;

// Bytes read past the character that stops a scan: the rest of that
// character, or a contraction's apostrophe and two letters.
constexpr uint64_t kReadPast = 4;

struct Char {
  uint32_t length;
  uint32_t flags;
  bool valid;  // a whole UTF-8 sequence; a lone byte may grow into one later
};

inline Char char_at(const uint8_t* p, const uint8_t* end) {
  if (p[0] < 0x80) return {1, kAsciiFlags[p[0]], true};
  const DecodedChar c = decode_utf8(p, end);
  return {c.length, char_flags(c.value), c.length > 1};
}

inline bool ends_word(const Char& before, const Char& c, uint8_t byte) {
  return before.valid && (before.flags & (kCharLetter | kCharNumber)) && c.valid &&
         is_symbol_char(c.flags) && !(c.flags & kCharMark) && byte != '\'';
}

// For the piece that starts at s, a position c > s such that every piece that
// starts in [s, c) comes out the same whatever follows the buffer; 0 when
// the buffer cannot tell yet.
uint64_t certain_from(const uint8_t* text, uint64_t length, uint64_t s, bool numbers_by_three) {
  const uint8_t* const end = text + length;
  const uint8_t* p = text + s;
  if (numbers_by_three) {
    // `\p{N}{1,3}` reads no further than three numbers: a long number comes
    // out three at a time however it goes on.
    int n = 0;
    const uint8_t* q = p;
    for (; n < 3 && q < end; n++) {
      const Char c = char_at(q, end);
      if (!c.valid || !(c.flags & kCharNumber)) break;
      q += c.length;
    }
    if (n == 3) return static_cast<uint64_t>(q - text);
  }
  Char before = char_at(p, end);
  p += before.length;
  // The first character may be a prefix of any kind: whitespace counts from
  // the second one on.
  while (p < end) {
    const Char c = char_at(p, end);
    if (c.flags & kCharWhite) break;
    if (ends_word(before, c, *p)) return static_cast<uint64_t>(p - text);
    before = c;
    p += c.length;
  }
  const uint8_t* last_white = p;
  while (p < end) {
    const Char c = char_at(p, end);
    if (c.flags & kCharWhite) {
      last_white = p;
    } else if (*p != '/') {
      break;
    }
    p += c.length;
  }
  if (static_cast<uint64_t>(end - p) < kReadPast) return 0;
  return static_cast<uint64_t>(last_white - text);
}

// A quick first answer for the bulk of a buffer, from its end backwards: the
// last place where (a) or (b) holds between ASCII bytes. An ASCII byte starts
// a character wherever decoding began, so no forward decoding is needed;
// every piece that starts before the answer is certain, and the forward scan
// above runs only for the pieces after it. 0 when there is none.
uint64_t certain_before_ascii_end(const uint8_t* text, uint64_t length) {
  if (length < kReadPast + 1) return 0;
  for (uint64_t x = length - kReadPast; x > 0; x--) {
    const uint8_t c = text[x];
    const uint8_t b = text[x - 1];
    if (c >= 0x80 || b >= 0x80) continue;
    const uint32_t before = kAsciiFlags[b];
    const uint32_t flags = kAsciiFlags[c];
    // (b): pieces that start before this whitespace character.
    if ((before & kCharWhite) && !(flags & kCharWhite) && c != '/') return x - 1;
    // (a): a symbol right after a letter or number ends a piece.
    if ((before & (kCharLetter | kCharNumber)) && flags == 0 && c != '\'') return x;
  }
  return 0;
}

// Two places where a piece starts whatever the rule set and whatever
// follows, with every piece before them certain:
//  - a symbol right after a letter or number, by (a);
//  - a lone space between a character that is no whitespace and a letter:
//    every run that holds the character stops at the space, which begins
//    the letter's piece as its optional first character.
// A walk that only wants the certain end may start at the last of them
// instead of at the start of the buffer; this finds it from the end
// backwards, 0 when there is none. A byte that is no continuation byte
// starts a character wherever decoding began, so the characters found
// backwards are the ones found forwards.
uint64_t last_sure_piece_start(const uint8_t* text, uint64_t length) {
  const uint8_t* const end = text + length;
  // Whether a whole character ends at x, and which.
  const auto whole_char_before = [text](uint64_t x, Char& out) {
    uint64_t q = x - 1;
    while (q > 0 && x - q < 4 && (text[q] & 0xC0) == 0x80) q--;
    out = char_at(text + q, text + x);
    return out.valid && out.length == x - q;
  };
  for (uint64_t x = length; x-- > 1;) {
    const uint8_t byte = text[x];
    if ((byte & 0xC0) == 0x80) continue;
    Char before{};
    if (byte == ' ') {
      if (x + 1 == length) continue;
      const Char next = char_at(text + x + 1, end);
      if (next.valid && (next.flags & kCharLetter) && whole_char_before(x, before) &&
          !(before.flags & kCharWhite)) {
        return x;
      }
      continue;
    }
    const Char c = char_at(text + x, end);
    if (c.valid && is_symbol_char(c.flags) && whole_char_before(x, before) &&
        ends_word(before, c, byte)) {
      return x;
    }
  }
  return 0;
}

// Walks the certain pieces of text[0, length) and returns where they end.
// on_piece(start, end) returns false to stop (then the answer means nothing).
template <typename OnPiece>
uint64_t walk_certain(RuleSet rule_set, const uint8_t* text, uint64_t length, OnPiece on_piece) {
  if (rule_set == RuleSet::kWhole) return 0;
  uint64_t covered = certain_before_ascii_end(text, length);
  uint64_t stop = length;
  visit_rule_set(rule_set, [&](auto rules) {
    using Rules = decltype(rules);
    // Three numbers end every piece that starts among them where the rules
    // take numbers at most three at a time (r50k's take any number of them).
    constexpr bool numbers_by_three = NumbersAtMostThree<Rules>;
    for_each_piece_with<Rules>(text, length, [&](uint64_t start, uint64_t end) {
      if (start >= covered) {
        covered = certain_from(text, length, start, numbers_by_three);
        if (covered == 0) {
          stop = start;
          return false;
        }
      }
      return on_piece(start, end);
    });
  });
  return stop;
}

}  // namespace

uint64_t stream_certain_end(RuleSet rule_set, const uint8_t* text, uint64_t length) {
  if (rule_set == RuleSet::kWhole) return 0;
  // Only the pieces after the last sure piece start need walking: a buffer
  // of megabytes costs a backward search over its last few bytes, not a split.
  const uint64_t from = last_sure_piece_start(text, length);
  return from + walk_certain(rule_set, text + from, length - from,
                             [](uint64_t, uint64_t) { return true; });
}

uint64_t stream_encode_prefix(const EncodingHandle& handle, const uint8_t* text, uint64_t length,
                              bool last, std::vector<uint32_t>* ids, uint64_t* count,
                              const Interrupt* interrupt) {
  if (last) {
    if (ids != nullptr) {
      std::vector<uint32_t> all = piecewise_encode(handle, text, length, interrupt);
      ids->insert(ids->end(), all.begin(), all.end());
    } else {
      *count += piecewise_count(handle, text, length, interrupt);
    }
    return length;
  }
  PieceIds<true> encoder(handle);
  uint64_t next_check = interrupt != nullptr ? kInterruptEveryBytes : UINT64_MAX;
  return walk_certain(handle.rule_set, text, length, [&](uint64_t start, uint64_t end) {
    if (start >= next_check) {
      next_check = start + kInterruptEveryBytes;
      if (interrupt->requested(interrupt->context)) return false;
    }
    encoder.encode(text + start, end - start, length - start,
                   [&](const uint32_t* piece_ids, uint64_t n) {
                     if (ids != nullptr) {
                       ids->insert(ids->end(), piece_ids, piece_ids + n);
                     } else {
                       *count += n;
                     }
                   });
    return true;
  });
}

}  // namespace velkan
