// The tokens of an encoding in byte order (token_byte_values): the order of
// tiktoken's sorted list of token bytes.

#ifndef VELKAN_CORE_BYTE_ORDER_H_
#define VELKAN_CORE_BYTE_ORDER_H_

#include <cstdint>
#include <vector>

#include "core/encoding.h"

namespace velkan {

// The ids of every token (gaps left out) sorted by their bytes, unsigned and
// shorter first on a common prefix; equal bytes by id.
std::vector<uint32_t> bpe_ids_in_byte_order(const BytePairEncoding& bpe);

}  // namespace velkan

#endif  // VELKAN_CORE_BYTE_ORDER_H_
