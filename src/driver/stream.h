// Encoding a text that arrives in parts: the pieces at the start of a buffer
// whose ends no later text can move, and where they stop. A stream hands in
// what it holds, takes the ids of that certain prefix and keeps only the
// rest, so no byte is split twice and memory stays near the longest piece.

#ifndef VELKAN_DRIVER_STREAM_H_
#define VELKAN_DRIVER_STREAM_H_

#include <cstdint>
#include <vector>

#include "driver/piecewise.h"
#include "vocab/encoding_handle.h"

namespace velkan {

// Where the certain prefix of text[0, length) ends, as the rule set cuts it:
// every piece that starts before the answer comes out the same whatever
// bytes follow length, and the answer is the start of a piece (or 0). A text
// of one piece (no pre-split rules) is never certain before its end.
// text[0, answer) split and encoded alone gives the same pieces and ids as
// within the whole text, and so does the rest from the answer on, so a long
// input may be cut there into parts encoded or counted apart.
uint64_t stream_certain_end(RuleSet rule_set, const uint8_t* text, uint64_t length);

// Appends the ids of the certain prefix of text[0, length) to ids (or, when
// ids is null, adds their number to *count) and returns the prefix's length.
// With last set the text is complete: all of it is encoded and length is
// returned. On an interrupt the result is meaningless (the caller's hook
// said so).
uint64_t stream_encode_prefix(const EncodingHandle& handle, const uint8_t* text, uint64_t length,
                              bool last, std::vector<uint32_t>* ids, uint64_t* count,
                              const Interrupt* interrupt = nullptr);

}  // namespace velkan

#endif  // VELKAN_DRIVER_STREAM_H_
