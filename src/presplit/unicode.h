// What the pre-split rules stand on: a lenient UTF-8 decoder that never fails,
// the White_Space list, and the Unicode 16.0.0 general category and coarse
// class of a character. Everything is pure and reads only constant tables.

#ifndef VELKAN_PRESPLIT_UNICODE_H_
#define VELKAN_PRESPLIT_UNICODE_H_

#include <cstdint>

#include "presplit/category_tables.h"

namespace velkan {

// One decoded character: its value and its length in bytes (1 to 4).
struct DecodedChar {
  uint32_t value;
  uint32_t length;
};

// General_Category values, numbered in alphabetical order of their codes.
enum class GeneralCategory : uint8_t {
  Cc,
  Cf,
  Cn,
  Co,
  Cs,
  Ll,
  Lm,
  Lo,
  Lt,
  Lu,
  Mc,
  Me,
  Mn,
  Nd,
  Nl,
  No,
  Pc,
  Pd,
  Pe,
  Pf,
  Pi,
  Po,
  Ps,
  Sc,
  Sk,
  Sm,
  So,
  Zl,
  Zp,
  Zs,
};
inline constexpr int kGeneralCategoryCount = 30;

enum class CharClass : uint32_t {
  Other = 0,
  Letter = 1,
  Mark = 2,
  Number = 3,
  Punctuation = 4,
  Symbol = 5,
  Separator = 6,
};

// The class of each category, indexed by GeneralCategory.
extern const CharClass class_of_category[kGeneralCategoryCount];

// Decodes the character at p; requires p < end and reads nothing at or past
// end. Well-formed sequences give their code point. Anything else (a stray
// continuation byte, a byte F8..FF, a sequence cut short by a non-continuation
// byte or by end) gives the value of its first byte with length 1, so every
// byte string decodes. Overlong forms, surrogates and values up to 0x1FFFFF
// from F4..F7 leads are not rejected.
inline DecodedChar decode_utf8(const uint8_t* p, const uint8_t* end) {
  const uint32_t b0 = p[0];
  if (b0 < 0x80) return {b0, 1};
  const auto cont = [](uint8_t b) { return (b & 0xC0) == 0x80; };
  const auto left = end - p;
  if (b0 >= 0xF0) {
    if (b0 < 0xF8 && left > 3 && cont(p[1]) && cont(p[2]) && cont(p[3])) {
      return {((b0 & 0x07) << 18) | ((p[1] & 0x3Fu) << 12) | ((p[2] & 0x3Fu) << 6) | (p[3] & 0x3Fu),
              4};
    }
  } else if (b0 >= 0xE0) {
    if (left > 2 && cont(p[1]) && cont(p[2])) {
      return {((b0 & 0x0F) << 12) | ((p[1] & 0x3Fu) << 6) | (p[2] & 0x3Fu), 3};
    }
  } else if (b0 >= 0xC0) {
    if (left > 1 && cont(p[1])) return {((b0 & 0x1F) << 6) | (p[1] & 0x3Fu), 2};
  }
  return {b0, 1};
}

// True for the 25 code points of the White_Space property (what `\s` means
// to the vocabularies' reference patterns): U+0009..U+000D, U+0020, U+0085,
// U+00A0, U+1680, U+2000..U+200A, U+2028, U+2029, U+202F, U+205F, U+3000.
// U+180E has not been White_Space since Unicode 6.3, and U+001C..U+001F and
// U+200B never were.
inline bool is_whitespace(uint32_t value) {
  if (value < 0x80) return value == 0x20 || value - 0x09 <= 0x0D - 0x09;
  if (value < 0x2000) return value == 0x85 || value == 0xA0 || value == 0x1680;
  // Bits 0..10 (U+2000..U+200A), 40, 41 (U+2028, U+2029) and 47 (U+202F).
  if (value <= 0x202F) return (0x8300000007FFull >> (value - 0x2000)) & 1;
  return value == 0x205F || value == 0x3000;
}

// The category of a value. Values above 0x10FFFF (which the lenient decoder
// can produce) are unassigned, Cn, and never index the tables.
inline GeneralCategory char_category(uint32_t value) {
  if (value > 0x10FFFF) return GeneralCategory::Cn;
  const uint32_t block = category_stage1[value / kCategoryBlockSize];
  const uint32_t record = category_stage2[block * kCategoryBlockSize + value % kCategoryBlockSize];
  return static_cast<GeneralCategory>(category_records[record]);
}

inline CharClass char_class(uint32_t value) {
  return class_of_category[static_cast<int>(char_category(value))];
}

}  // namespace velkan

#endif  // VELKAN_PRESPLIT_UNICODE_H_
