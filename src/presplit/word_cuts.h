// Where a text can be cut so that both sides split as they would together:
// right after a letter or number, before a character that is none of those
// nor a mark nor an apostrophe (a "word cut"). The character before counts
// when it is an ASCII letter or digit or a whole UTF-8 sequence of class
// Letter or Number that is no mark (cl100k's rules take a mark for a
// symbol). The character at the cut is an ASCII byte, or a whole sequence
// in one of the blocks of punctuation that text without ASCII spaces uses
// (Latin-1's, General Punctuation, CJK Symbols and Punctuation, the
// fullwidth forms) whose class is no letter, number or mark. For the rule
// sets that declare kCutsAtWordEnds, every piece that holds the letter or
// digit is a run of letters (with an optional prefix and, in o200k, a
// contraction that begins with an apostrophe) or of digits, and every such
// run stops at that character: a piece starts there, whatever came before,
// and the pieces before it are the same whatever follows. No rule looks
// behind. So the pieces of text[a, b), for two word cuts a and b (or a = 0),
// are those of the bytes text[a, b) split alone, in any text that holds them
// between two word cuts: a cache of whole runs of pieces
// (core/segment_cache.h) is exact.
//
// On any bytes, UTF-8 or not: an ASCII byte is a character of its own
// however the bytes around it decode, and a character above ASCII is only
// taken when its lead byte (which no decoder reads as part of an earlier
// character) decodes to exactly the bytes it should, as the splitters
// decode it.

#ifndef VELKAN_PRESPLIT_WORD_CUTS_H_
#define VELKAN_PRESPLIT_WORD_CUTS_H_

#include <cstdint>

#include "presplit/split_blocks.h"
#include "presplit/split_common.h"
#include "presplit/unicode.h"

namespace velkan {

template <typename Rules>
concept CutsAtWordEnds = Rules::kCutsAtWordEnds;

namespace word_cuts {

inline constexpr uint64_t kNone = UINT64_MAX;

// Bit 1: an ASCII letter or digit; bit 2: a byte a word cut may precede.
inline constexpr auto kClass = [] {
  struct Table {
    uint8_t of[256] = {};
  } t;
  for (int c = 0; c < 128; c++) {
    const bool alnum = (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
    t.of[c] = alnum ? 1 : c == '\'' ? 0 : 2;
  }
  return t;
}();

// Whether the character that ends right before x is a letter or number
// above ASCII (the byte before x is above ASCII).
inline bool wide_word_char_before(const uint8_t* text, uint64_t x) {
  uint64_t lead = x - 1;
  for (int back = 0; back < 3 && lead > 0 && (text[lead] & 0xC0) == 0x80; back++) lead--;
  if ((text[lead] & 0xC0) != 0xC0) return false;
  const DecodedChar c = decode_utf8(text + lead, text + x);
  if (c.length < 2 || c.length != x - lead) return false;
  const uint32_t flags = char_flags(c.value);
  return (flags & (kCharLetter | kCharNumber)) != 0 && (flags & kCharMark) == 0;
}

// Whether text[x] leads a sequence in the punctuation blocks above: U+0080
// to U+00BF (C2), U+2000 to U+207F (E2 80, E2 81), U+3000 to U+303F (E3 80),
// U+FF00 to U+FF7F (EF BC, EF BD). Bytes past the text read as 0.
inline bool wide_cut_lead(const uint8_t* text, uint64_t length, uint64_t x) {
  const uint8_t lead = text[x];
  const uint8_t second = x + 1 < length ? text[x + 1] : 0;
  return lead == 0xC2 || (lead == 0xE2 && (second & 0xFE) == 0x80) ||
         (lead == 0xE3 && second == 0x80) || (lead == 0xEF && (second & 0xFE) == 0xBC);
}

// Whether the character at x is a whole sequence in those blocks that is
// no letter, number or mark.
inline bool wide_cut_char_at(const uint8_t* text, uint64_t length, uint64_t x) {
  if (!wide_cut_lead(text, length, x)) return false;
  const DecodedChar c = decode_utf8(text + x, text + length);
  if (c.length < 2) return false;
  return (char_flags(c.value) & (kCharLetter | kCharNumber | kCharMark)) == 0;
}

inline bool is_cut(const uint8_t* text, uint64_t length, uint64_t x) {
  const uint8_t at = text[x];
  if (at < 0x80 ? !(kClass.of[at] & 2) : !wide_cut_char_at(text, length, x)) return false;
  if (kClass.of[text[x - 1]] & 1) return true;
  return text[x - 1] >= 0x80 && wide_word_char_before(text, x);
}

// The first word cut x with from <= x < length (x > 0), or kNone.
inline uint64_t next(const uint8_t* text, uint64_t length, uint64_t from) {
  uint64_t x = from == 0 ? 1 : from;
#if VELKAN_HAVE_BLOCK_SPLIT
  // Sixteen places at a time: the bytes at x - 1 .. x + 15 and x .. x + 16.
  const __m128i lower = _mm_set1_epi8(0x20);
  const auto eq = [](__m128i v, int c) {
    return _mm_cmpeq_epi8(v, _mm_set1_epi8(static_cast<char>(c)));
  };
  while (x + 17 <= length) {
    const __m128i prev = _mm_loadu_si128(reinterpret_cast<const __m128i*>(text + x - 1));
    const __m128i cur = _mm_loadu_si128(reinterpret_cast<const __m128i*>(text + x));
    const __m128i after = _mm_loadu_si128(reinterpret_cast<const __m128i*>(text + x + 1));
    const auto alnum = [&](__m128i v) {
      const __m128i folded = _mm_or_si128(v, lower);
      const __m128i letter = _mm_and_si128(_mm_cmpgt_epi8(folded, _mm_set1_epi8('a' - 1)),
                                           _mm_cmplt_epi8(folded, _mm_set1_epi8('z' + 1)));
      const __m128i digit = _mm_and_si128(_mm_cmpgt_epi8(v, _mm_set1_epi8('0' - 1)),
                                          _mm_cmplt_epi8(v, _mm_set1_epi8('9' + 1)));
      return _mm_or_si128(letter, digit);
    };
    // Bytes above ASCII are negative as signed bytes: neither letters (the
    // fold keeps them negative) nor cut bytes.
    const __m128i ascii = _mm_cmpgt_epi8(cur, _mm_set1_epi8(-1));
    const __m128i cut_byte = _mm_andnot_si128(_mm_or_si128(alnum(cur), eq(cur, '\'')), ascii);
    // Lead bytes of the punctuation blocks (wide_cut_lead).
    const __m128i after_even = _mm_and_si128(after, _mm_set1_epi8(static_cast<char>(0xFE)));
    const __m128i wide_lead = _mm_or_si128(
        _mm_or_si128(eq(cur, 0xC2), _mm_and_si128(eq(cur, 0xE2), eq(after_even, 0x80))),
        _mm_or_si128(_mm_and_si128(eq(cur, 0xE3), eq(after, 0x80)),
                     _mm_and_si128(eq(cur, 0xEF), eq(after_even, 0xBC))));
    const uint32_t cuts = static_cast<uint32_t>(_mm_movemask_epi8(cut_byte));
    const uint32_t word = static_cast<uint32_t>(_mm_movemask_epi8(alnum(prev)));
    const uint32_t high = static_cast<uint32_t>(_mm_movemask_epi8(prev));
    // Sure: an ASCII cut byte after an ASCII letter or digit. The others
    // (a character above ASCII on either side) are decoded to be sure.
    const uint32_t sure = cuts & word;
    const uint32_t maybe =
        ((cuts & high) | (static_cast<uint32_t>(_mm_movemask_epi8(wide_lead)) & (word | high))) &
        ~sure;
    const uint32_t before_sure = sure != 0 ? (sure & (0u - sure)) - 1 : 0xFFFFu;
    for (uint32_t m = maybe & before_sure; m != 0; m &= m - 1) {
      const uint64_t at = x + static_cast<uint64_t>(std::countr_zero(m));
      if (is_cut(text, length, at)) return at;
    }
    if (sure != 0) return x + static_cast<uint64_t>(std::countr_zero(sure));
    x += 16;
  }
#endif
  for (; x < length; x++) {
    if (is_cut(text, length, x)) return x;
  }
  return kNone;
}

}  // namespace word_cuts
}  // namespace velkan

#endif  // VELKAN_PRESPLIT_WORD_CUTS_H_
