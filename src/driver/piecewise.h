// Tokenizer driver: encodes, counts and limit-counts a whole text piece by
// piece, asking the handle's pre-split rule set for each piece and running the
// backtracking encoder on it. Re-entrant; touches no interpreter object.

#ifndef VELKAN_DRIVER_PIECEWISE_H_
#define VELKAN_DRIVER_PIECEWISE_H_

#include <cstdint>
#include <vector>

#include "vocab/encoding_handle.h"

namespace velkan {

// A way to stop a long call from outside (Ctrl-C, a cancelled batch). The
// driver asks requested(context) between pieces, about once every
// kInterruptEveryBytes of text; when it answers true the call stops at once and
// its result is meaningless (the caller knows, since its own hook said so).
// Texts shorter than the interval are never asked about.
struct Interrupt {
  bool (*requested)(void* context);
  void* context;
};
inline constexpr uint64_t kInterruptEveryBytes = uint64_t{4} << 20;

// Result of piecewise_count_till_limit when the text needs more tokens than
// the limit allows.
inline constexpr uint64_t kOverLimit = UINT64_MAX;

// The token ids of the whole text, the pieces' ids concatenated in text order.
// Text that is not valid UTF-8 is still covered byte for byte.
std::vector<uint32_t> piecewise_encode(const EncodingHandle& handle, const uint8_t* text,
                                       uint64_t length, const Interrupt* interrupt = nullptr);

// The same ids in out, which is emptied first and keeps its capacity: a
// caller that encodes one text after another reuses one buffer.
void piecewise_encode_into(const EncodingHandle& handle, const uint8_t* text, uint64_t length,
                           std::vector<uint32_t>& out, const Interrupt* interrupt = nullptr);

// The number of ids piecewise_encode would return, without building them.
uint64_t piecewise_count(const EncodingHandle& handle, const uint8_t* text, uint64_t length,
                         const Interrupt* interrupt = nullptr);

// piecewise_count if it is at most limit, else kOverLimit. Gives up as soon
// as the count is known to exceed the limit.
uint64_t piecewise_count_till_limit(const EncodingHandle& handle, const uint8_t* text,
                                    uint64_t length, uint64_t limit,
                                    const Interrupt* interrupt = nullptr);

}  // namespace velkan

#endif  // VELKAN_DRIVER_PIECEWISE_H_
