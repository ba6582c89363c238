// The pieces of cl100k_base and o200k_base found 64 bytes at a time: the
// bytes are classified into bit masks (letters, digits, whitespace, line
// breaks, spaces, symbols) and the rules become a handful of shifts and ands
// that mark where pieces start, so a walk over the pieces costs a count of
// trailing zeros per piece instead of several hard-to-predict branches.
// Bytes the masks cannot decide end a block, and the scalar rules
// (split_*_rules.h) take over there: the apostrophe that begins
// contractions, and bytes above ASCII, apart from cl100k's two-byte Latin
// letters U+00C0 to U+02BF (o200k would need their case too).
//
// Performance notes: the split alone (benchmarks/native, one core) went from
// 2.3 ns per byte to 0.82-0.87 on English, code and scripts (2.7x-2.9x),
// 1.4 on docs (1.75x) and typographic text (1.6x), and stayed even on
// multilingual text, where blocks rarely help and a walk that keeps failing
// backs off to the scalar rules (piece_walk.h). Classifying the Latin
// letters only in blocks that hold bytes above ASCII kept English at its
// speed (always classifying them cost English 0.85 -> 1.05 ns per byte).
// x86-64 only for now (SSE2 is part of the baseline); elsewhere the scalar
// rules take every piece.

#ifndef VELKAN_PRESPLIT_SPLIT_BLOCKS_H_
#define VELKAN_PRESPLIT_SPLIT_BLOCKS_H_

#include <bit>
#include <cstdint>

// VELKAN_PORTABLE builds (tools/portable.sh) take the byte-at-a-time paths
// that targets without SSE2 (aarch64) compile, so that x86 tests run them.
#if defined(__SSE2__) && !defined(VELKAN_PORTABLE)
#include <emmintrin.h>
#define VELKAN_HAVE_BLOCK_SPLIT 1
#else
#define VELKAN_HAVE_BLOCK_SPLIT 0
#endif

namespace velkan {
namespace split_blocks {

inline constexpr uint64_t kBlockBytes = 64;

#if VELKAN_HAVE_BLOCK_SPLIT

// Bit i describes byte i of the block.
struct Classes {
  uint64_t letter;  // ASCII letters, and with latin both bytes of a two-byte Latin letter
  uint64_t upper;   // A-Z
  uint64_t digit;   // 0-9
  uint64_t white;   // \t \n \v \f \r and space
  uint64_t brk;     // \r \n
  uint64_t space;   // ' '
  uint64_t symbol;  // every other ASCII byte: `[^\s\p{L}\p{N}]`
  uint64_t slash;   // '/'
  uint64_t hard;    // what the masks cannot decide; the first one ends the block
};

namespace detail {

inline uint64_t mask16(__m128i m) { return static_cast<uint32_t>(_mm_movemask_epi8(m)); }

// Bytes from lo to hi, compared as signed bytes (both in ASCII, or both above).
inline __m128i in_range(__m128i v, int lo, int hi) {
  return _mm_and_si128(_mm_cmpgt_epi8(v, _mm_set1_epi8(static_cast<char>(lo - 1))),
                       _mm_cmplt_epi8(v, _mm_set1_epi8(static_cast<char>(hi + 1))));
}

inline __m128i load(const uint8_t* p) {
  return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
}

}  // namespace detail

// Classifies the 64 bytes at p; with kLatin the two-byte Latin letters are
// letters, else hard.
template <bool kLatin>
[[gnu::always_inline]] inline Classes classify(const uint8_t* p) {
  using namespace detail;
  uint64_t letter = 0, upper = 0, digit = 0, white = 0, brk = 0, space = 0, slash = 0, high = 0,
           apostrophe = 0;
  for (int k = 0; k < 4; k++) {
    const __m128i v = load(p + 16 * k);
    const int shift = 16 * k;
    letter |= mask16(in_range(_mm_or_si128(v, _mm_set1_epi8(0x20)), 'a', 'z')) << shift;
    upper |= mask16(in_range(v, 'A', 'Z')) << shift;
    slash |= mask16(_mm_cmpeq_epi8(v, _mm_set1_epi8('/'))) << shift;
    digit |= mask16(in_range(v, '0', '9')) << shift;
    const __m128i sp = _mm_cmpeq_epi8(v, _mm_set1_epi8(' '));
    space |= mask16(sp) << shift;
    white |= mask16(_mm_or_si128(sp, in_range(v, 0x09, 0x0D))) << shift;
    brk |= mask16(_mm_or_si128(_mm_cmpeq_epi8(v, _mm_set1_epi8('\n')),
                               _mm_cmpeq_epi8(v, _mm_set1_epi8('\r'))))
           << shift;
    high |= mask16(v) << shift;
    apostrophe |= mask16(_mm_cmpeq_epi8(v, _mm_set1_epi8('\''))) << shift;
  }
  uint64_t hard = high | apostrophe;
  if (kLatin && high != 0) {
    // Two-byte letters: a lead byte 0xC3 to 0xCA before a continuation byte
    // (U+00C0 to U+02BF, every one a letter but U+00D7 and U+00F7, which are
    // 0xC3 0x97 and 0xC3 0xB7).
    uint64_t lead = 0, continuation = 0, c3 = 0, sign = 0;
    for (int k = 0; k < 4; k++) {
      const __m128i v = load(p + 16 * k);
      const int shift = 16 * k;
      lead |= mask16(in_range(v, 0xC3 - 256, 0xCA - 256)) << shift;
      continuation |= mask16(_mm_cmplt_epi8(v, _mm_set1_epi8(static_cast<char>(0xC0)))) << shift;
      c3 |= mask16(_mm_cmpeq_epi8(v, _mm_set1_epi8(static_cast<char>(0xC3)))) << shift;
      sign |= mask16(_mm_or_si128(_mm_cmpeq_epi8(v, _mm_set1_epi8(static_cast<char>(0x97))),
                                  _mm_cmpeq_epi8(v, _mm_set1_epi8(static_cast<char>(0xB7)))))
              << shift;
    }
    continuation &= high;
    const uint64_t latin = lead & (continuation >> 1) & ~(c3 & (sign >> 1));
    const uint64_t both = latin | (latin << 1);
    letter |= both;
    hard = (high & ~both) | apostrophe;
  }
  return {letter, upper, digit, white, brk, space, ~(letter | digit | white | hard), slash, hard};
}

// The starts of the pieces in a block that begins at a piece start (bit 0
// is always set). Only bytes before the first hard one count; whatever is
// undecided there (a run that may go on past the block or its hard byte)
// belongs to the last start, whose piece may therefore be unfinished:
// callers take the pieces between two consecutive starts, and begin the
// next block at the last start. kO200k: o200k_base's rules, which differ in
// two places: a word ends where a lower-case letter meets an upper-case one
// (`P?U*L+|P?U+L*`), and a symbol run takes slashes as well as line breaks
// after it (`[\r\n/]*`).
template <bool kO200k>
[[gnu::always_inline]] inline uint64_t piece_starts(const Classes& c) {
  const uint32_t end = c.hard == 0 ? 64 : static_cast<uint32_t>(std::countr_zero(c.hard));
  const uint64_t valid = end >= 64 ? ~uint64_t{0} : (uint64_t{1} << end) - 1;
  const uint64_t letter = c.letter & valid, digit = c.digit & valid, white = c.white & valid,
                 brk = c.brk & valid, space = c.space & valid, raw_symbol = c.symbol & valid;
  // ` ?[^\s\p{L}\p{N}]++[\r\n]*+`: a symbol run takes the line breaks right
  // after it (o200k: and slashes among them), and a space right before it
  // (which therefore starts it).
  const uint64_t seeds = (raw_symbol << 1) & ~raw_symbol & brk;
  uint64_t taken;
  if constexpr (kO200k) {
    // A slash so taken is no symbol of its own. The runs may hold several
    // seeds, which the sum below would add twice: walked seed by seed (a
    // few per block).
    const uint64_t tail = brk | (c.slash & valid);
    taken = 0;
    for (uint64_t rest = seeds; rest != 0; rest &= rest - 1) {
      const uint32_t s = static_cast<uint32_t>(std::countr_zero(rest));
      const uint32_t n = static_cast<uint32_t>(std::countr_zero(~(tail >> s)));
      taken |=
          (n + s >= 64 ? ~uint64_t{0} : (uint64_t{1} << (s + n)) - 1) & ~((uint64_t{1} << s) - 1);
    }
  } else {
    // Each seed begins its run of line breaks (a symbol stands before it).
    taken = ((brk + seeds) ^ brk) & brk;
  }
  const uint64_t symbol = raw_symbol & ~taken;
  const uint64_t symbol_start = symbol & ~(symbol << 1);
  const uint64_t single_symbol = symbol_start & ~(symbol >> 1);
  // The whitespace runs that the whitespace rules see.
  const uint64_t w = white & ~taken;
  const uint64_t w_start = w & ~(w << 1);
  // `[^\r\n\p{L}\p{N}]?+\p{L}++`: a letter run takes the character before it
  // when that begins a piece and may stand before a word: the last character
  // of a whitespace run that is no line break, or a lone symbol that no
  // space took.
  const uint64_t prefix = ((white & ~brk) | (single_symbol & ~(space << 1))) << 1;
  uint64_t starts =
      1 | (letter & ~(letter << 1) & ~prefix) | (symbol_start & ~(space << 1)) | w_start;
  if constexpr (kO200k) {
    const uint64_t upper = c.upper & valid;
    starts |= upper & ((letter & ~upper) << 1);
  }
  // `\p{N}{1,3}+`: three digits at a time from the left (numbers are rare
  // enough for a loop).
  for (uint64_t runs = digit & ~(digit << 1); runs != 0; runs &= runs - 1) {
    const uint32_t a = static_cast<uint32_t>(std::countr_zero(runs));
    const uint32_t b = a + static_cast<uint32_t>(std::countr_zero(~(digit >> a)));
    for (uint32_t s = a; s < b; s += 3) starts |= uint64_t{1} << s;
  }
  // Whitespace runs of two or more characters: `\s*[\r\n]` ends at the last
  // line break, and `\s+(?!\S)` leaves the last character of what remains
  // to the next piece. A run that reaches the block's end is undecided.
  for (uint64_t runs = w_start & (w >> 1); runs != 0; runs &= runs - 1) {
    const uint32_t a = static_cast<uint32_t>(std::countr_zero(runs));
    const uint32_t b = a + static_cast<uint32_t>(std::countr_zero(~(w >> a)));
    if (b >= end) break;  // the last run of the block
    const uint64_t run = ((uint64_t{1} << b) - 1) & ~((uint64_t{1} << a) - 1);
    const uint64_t breaks = brk & run;
    uint32_t rest = a;
    if (breaks != 0) {
      rest = 64 - static_cast<uint32_t>(std::countl_zero(breaks));
      if (rest < b) starts |= uint64_t{1} << rest;
    }
    if (b - rest >= 2) starts |= uint64_t{1} << (b - 1);
  }
  return starts & valid;
}

#endif  // VELKAN_HAVE_BLOCK_SPLIT

}  // namespace split_blocks
}  // namespace velkan

#endif  // VELKAN_PRESPLIT_SPLIT_BLOCKS_H_
