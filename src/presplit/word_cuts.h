// Where a text can be cut so that both sides split as they would together:
// before an ASCII byte that is neither a letter, a digit nor an apostrophe,
// right after a letter or number (a "word cut"; a character above ASCII
// counts when it is a whole UTF-8 sequence of class Letter or Number, not a
// mark, which cl100k's rules take for a symbol). For the rule sets
// that declare kCutsAtWordEnds, every piece that holds the letter or digit
// is a run of letters (with an optional prefix and, in o200k, a contraction
// that begins with an apostrophe) or of digits, and every such run stops at
// that byte: a piece starts there, whatever came before, and the pieces
// before it are the same whatever follows. No rule looks behind. So the
// pieces of text[a, b), for two word cuts a and b (or a = 0), are those of
// the bytes text[a, b) split alone, in any text that holds them between two
// word cuts: a cache of whole runs of pieces (core/segment_cache.h) is
// exact.
//
// On any bytes, UTF-8 or not: an ASCII byte is a character of its own
// however the bytes around it decode, and a character above ASCII is only
// taken when its lead byte (which no decoder reads as part of an earlier
// character) decodes to exactly the bytes before the cut, as the splitters
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

inline bool is_cut(const uint8_t* text, uint64_t x) {
  if (!(kClass.of[text[x]] & 2)) return false;
  if (kClass.of[text[x - 1]] & 1) return true;
  return text[x - 1] >= 0x80 && wide_word_char_before(text, x);
}

// The first word cut x with from <= x < length (x > 0), or kNone.
inline uint64_t next(const uint8_t* text, uint64_t length, uint64_t from) {
  uint64_t x = from == 0 ? 1 : from;
#if VELKAN_HAVE_BLOCK_SPLIT
  // Sixteen places at a time: the bytes at x - 1 .. x + 14 and x .. x + 15.
  const __m128i lower = _mm_set1_epi8(0x20);
  while (x + 16 <= length) {
    const __m128i prev = _mm_loadu_si128(reinterpret_cast<const __m128i*>(text + x - 1));
    const __m128i cur = _mm_loadu_si128(reinterpret_cast<const __m128i*>(text + x));
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
    const __m128i cut_byte =
        _mm_andnot_si128(_mm_or_si128(alnum(cur), _mm_cmpeq_epi8(cur, _mm_set1_epi8('\''))), ascii);
    const uint32_t cuts = static_cast<uint32_t>(_mm_movemask_epi8(cut_byte));
    const uint32_t word = static_cast<uint32_t>(_mm_movemask_epi8(alnum(prev)));
    // Bytes above ASCII before a cut byte: maybe the end of a letter.
    uint32_t wide = cuts & static_cast<uint32_t>(_mm_movemask_epi8(prev));
    const uint32_t sure = cuts & word;
    // The first sure cut, unless a wide candidate before it holds.
    const uint32_t before_sure = sure != 0 ? (sure & (0u - sure)) - 1 : 0xFFFFu;
    for (wide &= before_sure; wide != 0; wide &= wide - 1) {
      const uint64_t at = x + static_cast<uint64_t>(std::countr_zero(wide));
      if (wide_word_char_before(text, at)) return at;
    }
    if (sure != 0) return x + static_cast<uint64_t>(std::countr_zero(sure));
    x += 16;
  }
#endif
  for (; x < length; x++) {
    if (is_cut(text, x)) return x;
  }
  return kNone;
}

}  // namespace word_cuts
}  // namespace velkan

#endif  // VELKAN_PRESPLIT_WORD_CUTS_H_
