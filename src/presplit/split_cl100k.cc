#include "presplit/split_cl100k.h"

#include "presplit/split_common.h"

namespace velkan {
namespace {

bool match_contraction(const uint8_t* text, uint64_t length, uint64_t pos, SplitMatch* out) {
  const uint32_t n = contraction_length(text + pos, text + length);
  if (n == 0) return false;
  return set_match(text, pos, text + pos + n, 0, 0, out);
}

// `[^\r\n\p{L}\p{N}]?+\p{L}++`: the prefix is possessive, so a prefix
// character not followed by a letter fails the rule.
bool match_letters(const uint8_t* text, uint64_t length, uint64_t pos, SplitMatch* out) {
  const uint8_t* const end = text + length;
  const uint8_t* run = text + pos;
  const ScannedChar first = scan_char(run, end);
  if (is_prefix_char(first.flags)) run += first.length;
  const uint8_t* q = skip_chars<kCharLetter>(run, end);
  if (q == run) return false;
  return set_match(text, pos, q, 0, 0, out);
}

// ` ?[^\s\p{L}\p{N}]++[\r\n]*+`
bool match_punctuation(const uint8_t* text, uint64_t length, uint64_t pos, SplitMatch* out) {
  return match_symbol_run(text, length, pos, /*slash=*/false, out);
}

}  // namespace

// Runs the rules in order, leaving out those that cannot begin with the
// character at pos. The pattern tries `\s++$` before `\s*[\r\n]`, so
// whitespace that runs to the end of the text stays whole even when it holds
// line breaks.
bool split_cl100k(const uint8_t* text, uint64_t length, uint64_t pos, SplitMatch* out) {
  if (pos >= length) return false;
  // Rules 1 and 2 fail on a number at once.
  if (scan_char(text + pos, text + length).flags & kCharNumber) {
    return match_numbers(text, length, pos, out);
  }
  if (match_contraction(text, length, pos, out) || match_letters(text, length, pos, out) ||
      match_punctuation(text, length, pos, out)) {
    return true;
  }
  // Rule 4 takes every character that is not whitespace.
  const WhitespaceRun run = scan_whitespace(text + pos, text + length);
  return match_trailing_whitespace(text, length, pos, run, out) ||
         match_line_breaks(text, pos, run, out) || match_whitespace_but_last(text, pos, run, out) ||
         match_whitespace(text, pos, run, out);
}

}  // namespace velkan
