// The contract between a pre-split rule set and the driver that consumes it:
// the SplitMatch a rule set fills and the PieceSplitter function type that
// each vocabulary provides.

#ifndef VELKAN_PRESPLIT_SPLIT_MATCH_H_
#define VELKAN_PRESPLIT_SPLIT_MATCH_H_

#include <cstdint>

namespace velkan {

// Which rule made a match (SplitMatch::tag).
enum MatchTag : uint32_t {
  kTagOther = 0,
  kTagWhitespaceButLast = 1,  // \s+(?!\S): a whitespace run less its last character
  kTagWhitespace = 2,         // \s+
};

// Whether the consumer drops the match's last character (SplitMatch::drop_last).
enum DropLast : uint8_t { kKeepAll = 0, kDropLastCharacter = 1 };

// A piece found at a position of a text. Offsets count from the text's start.
struct SplitMatch {
  uint64_t start;  // always the position asked for
  uint64_t end;    // one past the last byte; start < end <= length
  // A MatchTag. No consumer reads it; it stays so that tests can tell which
  // rule matched.
  uint32_t tag;
  uint8_t drop_last;  // a DropLast: kDropLastCharacter, encode without the last character
};

// Finds the piece that begins at pos. Answers false, leaving out untouched,
// exactly when pos >= length; never reads before pos or at/after length.
using PieceSplitter = bool (*)(const uint8_t* text, uint64_t length, uint64_t pos, SplitMatch* out);

}  // namespace velkan

#endif  // VELKAN_PRESPLIT_SPLIT_MATCH_H_
