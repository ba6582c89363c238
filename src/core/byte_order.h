// The tokens of an encoding in byte order (token_byte_values): the order of
// tiktoken's sorted list of token bytes.

#ifndef VELKAN_CORE_BYTE_ORDER_H_
#define VELKAN_CORE_BYTE_ORDER_H_

#include <cstddef>
#include <cstdint>
#include <vector>

#include "core/encoding.h"

namespace velkan {

// The ids of every token (gaps left out) whose first byte is in [first,
// end), sorted by their bytes, unsigned and shorter first on a common
// prefix; equal bytes by id. Ranges side by side give runs of one order.
std::vector<uint32_t> bpe_ids_in_byte_order(const BytePairEncoding& bpe, uint32_t first = 0,
                                            uint32_t end = 256);

// A first byte that cuts the tokens into two ranges, [0, cut) and [cut, 256),
// of about equal numbers of tokens, and the number of tokens (gaps left out).
struct ByteOrderCut {
  uint32_t cut;
  size_t tokens;
};
ByteOrderCut bpe_byte_order_cut(const BytePairEncoding& bpe);

// Every id: the gaps (empty tokens, which sort first) by id, then the
// tokens as bpe_ids_in_byte_order gives them. Construction stores it in the
// record (BytePairEncoding::byte_order) for the images to carry.
std::vector<uint32_t> bpe_byte_order(const BytePairEncoding& bpe);

// True when a comes strictly before b in that order: the bytes compared
// unsigned, a shorter token first on a common prefix, equal bytes by id.
bool bpe_byte_order_before(const BytePairEncoding& bpe, uint32_t a, uint32_t b);

}  // namespace velkan

#endif  // VELKAN_CORE_BYTE_ORDER_H_
