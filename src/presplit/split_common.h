// Parts shared by the cl100k and o200k rule sets (and their variants): the character flags that
// the rules test (with an ASCII fast path), the symbol-run rule both adapt,
// and the number and whitespace rules that both use unchanged.

#ifndef VELKAN_PRESPLIT_SPLIT_COMMON_H_
#define VELKAN_PRESPLIT_SPLIT_COMMON_H_

#include <array>
#include <bit>
#include <cstdint>
#include <cstring>

#include "presplit/split_match.h"
#include "presplit/unicode.h"

namespace velkan {

// What the rules ask of a character, as bits.
inline constexpr uint32_t kCharWhite = 1;   // White_Space
inline constexpr uint32_t kCharBreak = 2;   // CR or LF
inline constexpr uint32_t kCharLetter = 4;  // class Letter
inline constexpr uint32_t kCharNumber = 8;  // class Number
inline constexpr uint32_t kCharMark = 16;   // class Mark
inline constexpr uint32_t kCharUpper = 32;  // o200k upper: Lu, Lt, Lm, Lo or a Mark
inline constexpr uint32_t kCharLower = 64;  // o200k lower: Ll, Lm, Lo or a Mark

inline constexpr uint32_t kFlagsOfCategory[kGeneralCategoryCount] = {
    0,
    0,
    0,
    0,
    0,                                      // Cc Cf Cn Co Cs
    kCharLetter | kCharLower,               // Ll
    kCharLetter | kCharUpper | kCharLower,  // Lm
    kCharLetter | kCharUpper | kCharLower,  // Lo
    kCharLetter | kCharUpper,               // Lt
    kCharLetter | kCharUpper,               // Lu
    kCharMark | kCharUpper | kCharLower,    // Mc
    kCharMark | kCharUpper | kCharLower,    // Me
    kCharMark | kCharUpper | kCharLower,    // Mn
    kCharNumber,
    kCharNumber,
    kCharNumber,  // Nd Nl No
    0,
    0,
    0,
    0,
    0,
    0,
    0,  // Pc Pd Pe Pf Pi Po Ps
    0,
    0,
    0,
    0,  // Sc Sk Sm So
    kCharWhite,
    kCharWhite,
    kCharWhite,  // Zl Zp Zs
};

inline constexpr std::array<uint8_t, 128> kAsciiFlags = [] {
  std::array<uint8_t, 128> flags{};
  for (int c = 0; c < 128; ++c) {
    uint32_t f = 0;
    if (c == ' ' || (c >= 0x09 && c <= 0x0D)) f |= kCharWhite;
    if (c == '\r' || c == '\n') f |= kCharBreak;
    if (c >= 'A' && c <= 'Z') f |= kCharLetter | kCharUpper;
    if (c >= 'a' && c <= 'z') f |= kCharLetter | kCharLower;
    if (c >= '0' && c <= '9') f |= kCharNumber;
    flags[static_cast<size_t>(c)] = static_cast<uint8_t>(f);
  }
  return flags;
}();

// The flags of any value from its category. Every Zs, Zl and Zp character is
// White_Space, and the only other one above ASCII is U+0085, so this agrees
// with is_whitespace.
inline uint32_t char_flags_of_category(uint32_t value) {
  const uint32_t flags = kFlagsOfCategory[static_cast<int>(char_category(value))];
  return value == 0x85 ? flags | kCharWhite : flags;
}

// The flags of every code point of the Basic Multilingual Plane, a byte each
// (64 KiB, made when the library is loaded, in well under a millisecond):
// text in other scripts then costs one load per character where the
// category tables cost three that depend on each other.
inline const std::array<uint8_t, 0x10000> kBmpFlags = [] {
  std::array<uint8_t, 0x10000> flags{};
  for (uint32_t v = 0; v < 0x10000; v++) {
    flags[v] = static_cast<uint8_t>(v < 0x80 ? kAsciiFlags[v] : char_flags_of_category(v));
  }
  return flags;
}();

// The flags of any value.
inline uint32_t char_flags(uint32_t value) {
  if (value < 0x10000) return kBmpFlags[value];
  return char_flags_of_category(value);
}

struct ScannedChar {
  uint32_t length;  // bytes, as decode_utf8 delimits the character
  uint32_t flags;   // kChar* bits
};

// Decodes and classifies the character at p (p < end).
inline ScannedChar scan_char(const uint8_t* p, const uint8_t* end) {
  if (p[0] < 0x80) return {1, kAsciiFlags[p[0]]};
  const DecodedChar c = decode_utf8(p, end);
  return {c.length, char_flags(c.value)};
}

// `[^\r\n\p{L}\p{N}]`: may stand before a word.
inline bool is_prefix_char(uint32_t flags) {
  return (flags & (kCharBreak | kCharLetter | kCharNumber)) == 0;
}

// `[^\s\p{L}\p{N}]`: punctuation, symbols, marks, controls and the like.
inline bool is_symbol_char(uint32_t flags) {
  return (flags & (kCharWhite | kCharLetter | kCharNumber)) == 0;
}

// The ASCII members of a flag set that skip_chars runs over eight bytes at a
// time: the bytes b with lo <= (b | fold) <= hi.
struct AsciiRange {
  uint8_t lo, hi, fold;
};

inline constexpr AsciiRange ascii_range_of(uint32_t flags) {
  if (flags == kCharLetter) return {'a', 'z', 0x20};
  if (flags == kCharLower) return {'a', 'z', 0};
  if (flags == kCharUpper) return {'A', 'Z', 0};
  return {1, 0, 0};  // empty: no fast path
}

// True when the range holds exactly the ASCII characters with those flags.
inline constexpr bool ascii_range_exact(uint32_t flags) {
  const AsciiRange r = ascii_range_of(flags);
  for (int c = 0; c < 0x80; ++c) {
    const bool in = (c | r.fold) >= r.lo && (c | r.fold) <= r.hi;
    if (in != ((kAsciiFlags[static_cast<size_t>(c)] & flags) != 0)) return false;
  }
  return true;
}

// Moves p past the characters that have any of the flags AnyOf. Words are
// mostly ASCII, so the range of AnyOf's ASCII members is skipped a word at a
// time: one test per eight bytes instead of a hard-to-predict branch per
// byte.
template <uint32_t AnyOf>
inline const uint8_t* skip_chars(const uint8_t* p, const uint8_t* end) {
  constexpr AsciiRange r = ascii_range_of(AnyOf);
  constexpr bool kFast = r.lo <= r.hi && std::endian::native == std::endian::little;
  static_assert(!kFast || ascii_range_exact(AnyOf));
  while (p < end) {
    if (p[0] >= 0x80) {
      const ScannedChar c = scan_char(p, end);
      if (!(c.flags & AnyOf)) break;
      p += c.length;
      continue;
    }
    if constexpr (kFast) {
      if (end - p >= 8) {
        constexpr uint64_t kOnes = 0x0101010101010101ull, kHigh = kOnes * 0x80;
        uint64_t v;
        std::memcpy(&v, p, 8);
        const uint64_t x = (v | kOnes * r.fold) & ~kHigh;
        // Per byte, bit 7 of x + (0x80 - lo) is x >= lo, of x + (0x7F - hi)
        // is x > hi; no sum carries into the next byte.
        const uint64_t in = (x + kOnes * (0x80 - r.lo)) & ~(x + kOnes * (0x7F - r.hi)) & ~v;
        const uint64_t out = ~in & kHigh;
        if (out == 0) {
          p += 8;
          continue;
        }
        p += std::countr_zero(out) / 8;
        if (p[0] < 0x80) break;  // an ASCII byte outside the range
        continue;
      }
    }
    if (!(kAsciiFlags[p[0]] & AnyOf)) break;
    ++p;
  }
  return p;
}

// Length of the contraction `'(?i:s|t|re|ve|m|ll|d)` at p, 0 if there is
// none. Only the ASCII apostrophe counts (U+2019 does not). Letters match
// under simple case folding: ASCII either case, and U+017F LATIN SMALL LETTER
// LONG S for s, the one non-ASCII character that folds to any of them. What
// follows the contraction is not looked at.
inline uint32_t contraction_length(const uint8_t* p, const uint8_t* end) {
  const auto left = end - p;
  if (left < 2 || p[0] != '\'') return 0;
  switch (p[1] | 0x20) {
  case 's':
  case 't':
  case 'm':
  case 'd':
    return 2;
  case 'l':
    return left > 2 && (p[2] | 0x20) == 'l' ? 3 : 0;
  case 'r':
  case 'v':
    return left > 2 && (p[2] | 0x20) == 'e' ? 3 : 0;
  }
  return left > 2 && p[1] == 0xC5 && p[2] == 0xBF ? 3 : 0;  // U+017F
}

inline bool set_match(const uint8_t* text, uint64_t pos, const uint8_t* end, SplitMatch* out,
                      MatchTag tag = kTagOther, DropLast drop_last = kKeepAll) {
  out->start = pos;
  out->end = static_cast<uint64_t>(end - text);
  out->tag = tag;
  out->drop_last = drop_last;
  return true;
}

// ` ?[^\s\p{L}\p{N}]+` and then CR and LF bytes, and '/' bytes too when
// slash is set. Taking a leading space at once is safe: without it the run
// would begin with the space, which is not a symbol character.
inline bool match_symbol_run(const uint8_t* text, uint64_t length, uint64_t pos, bool slash,
                             SplitMatch* out) {
  const uint8_t* const end = text + length;
  const uint8_t* const run = text + pos + (text[pos] == ' ');
  const uint8_t* q = run;
  while (q < end) {
    const ScannedChar c = scan_char(q, end);
    if (!is_symbol_char(c.flags)) break;
    q += c.length;
  }
  if (q == run) return false;
  while (q < end && (*q == '\r' || *q == '\n' || (slash && *q == '/'))) ++q;
  return set_match(text, pos, q, out);
}

// `\p{N}{1,3}`: longer numbers come out in pieces of three from the left.
// With kMost 1, `\p{N}`: a piece per number (Qwen2's and Tekken's rules).
template <int kMost = 3>
inline bool match_numbers(const uint8_t* text, uint64_t length, uint64_t pos, SplitMatch* out) {
  const uint8_t* q = text + pos;
  const uint8_t* const end = text + length;
  for (int n = 0; n < kMost && q < end; ++n) {
    const ScannedChar c = scan_char(q, end);
    if (!(c.flags & kCharNumber)) break;
    q += c.length;
  }
  if (q == text + pos) return false;
  return set_match(text, pos, q, out);
}

// The run of whitespace that begins at a position. The split functions scan
// it once and hand it to each whitespace rule in turn.
struct WhitespaceRun {
  const uint8_t* end;         // one past the run
  const uint8_t* last_start;  // first byte of its last character
  const uint8_t* break_end;   // one past its last CR or LF; null when it has none
  uint64_t chars;             // characters in the run
};

inline WhitespaceRun scan_whitespace(const uint8_t* p, const uint8_t* end) {
  WhitespaceRun run{p, p, nullptr, 0};
  while (p < end) {
    const ScannedChar c = scan_char(p, end);
    if (!(c.flags & kCharWhite)) break;
    run.last_start = p;
    p += c.length;
    if (c.flags & kCharBreak) run.break_end = p;
    ++run.chars;
  }
  run.end = p;
  return run;
}

// `\s*[\r\n]` (cl100k) and `\s*[\r\n]+` (o200k): both backtrack to the last
// CR or LF of the run, so the piece ends there and not at the end of the
// first stretch of line breaks.
inline bool match_line_breaks(const uint8_t* text, uint64_t pos, const WhitespaceRun& run,
                              SplitMatch* out) {
  if (run.break_end == nullptr) return false;
  return set_match(text, pos, run.break_end, out);
}

// Whitespace up to the end of the text is one piece.
inline bool match_trailing_whitespace(const uint8_t* text, uint64_t length, uint64_t pos,
                                      const WhitespaceRun& run, SplitMatch* out) {
  if (run.chars == 0 || run.end != text + length) return false;
  return set_match(text, pos, run.end, out);
}

// `\s+(?!\S)` before a non-space: the run but its last character, which then
// begins the next piece (a word's prefix, or the space before symbols).
inline bool match_whitespace_but_last(const uint8_t* text, uint64_t pos, const WhitespaceRun& run,
                                      SplitMatch* out) {
  if (run.chars < 2) return false;
  // A lone 0x85 or 0xA0 byte is a whitespace character to the decoder but a
  // continuation byte to the consumer's backward scan, which would drop more
  // than it. End the match before it instead, which gives the same piece.
  if ((*run.last_start & 0xC0) == 0x80)
    return set_match(text, pos, run.last_start, out, kTagWhitespaceButLast);
  return set_match(text, pos, run.end, out, kTagWhitespaceButLast, kDropLastCharacter);
}

// The whole run; reached only by a single whitespace character before a
// non-space, as the rules before it take every other run.
inline bool match_whitespace(const uint8_t* text, uint64_t pos, const WhitespaceRun& run,
                             SplitMatch* out) {
  if (run.chars == 0) return false;
  return set_match(text, pos, run.end, out, kTagWhitespace);
}

}  // namespace velkan

#endif  // VELKAN_PRESPLIT_SPLIT_COMMON_H_
