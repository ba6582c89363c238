// Token budgets: chunks of at most N tokens, truncation to N tokens and the
// byte where each token starts. Offsets are UTF-8 byte offsets into the text;
// budgets count ordinary text (no special tokens). Re-entrant; touches no
// interpreter object.

#ifndef VELKAN_DRIVER_BUDGET_H_
#define VELKAN_DRIVER_BUDGET_H_

#include <cstdint>
#include <vector>

#include "vocab/encoding_handle.h"

namespace velkan {

// What budget_chunks leaves in *too_small_at when every cut respects the
// budget.
inline constexpr uint64_t kBudgetFits = UINT64_MAX;

struct ByteSpan {
  uint64_t start;
  uint64_t end;
  uint64_t tokens;  // of text[start, end) encoded alone
};

// Cuts text into spans whose text, encoded alone, has at most max_tokens
// tokens. With overlap 0 the spans tile the text. Requires
// 0 <= overlap < max_tokens. When a single character needs more tokens than
// the budget, so that no cut between characters can respect it, returns no
// spans and sets *too_small_at to that character's first byte; otherwise sets
// it to kBudgetFits. (No exception: the core throws nothing but bad_alloc.)
std::vector<ByteSpan> budget_chunks(const EncodingHandle& handle, const uint8_t* text,
                                    uint64_t length, uint64_t max_tokens, uint64_t overlap,
                                    uint64_t* too_small_at);

// End of the longest prefix (at a character boundary) that encodes to at most
// max_tokens tokens. Work is proportional to the prefix.
uint64_t budget_truncate_right(const EncodingHandle& handle, const uint8_t* text, uint64_t length,
                               uint64_t max_tokens);

// Start of the longest suffix (at a character boundary) that encodes to at
// most max_tokens tokens. Work is proportional to the suffix.
uint64_t budget_truncate_left(const EncodingHandle& handle, const uint8_t* text, uint64_t length,
                              uint64_t max_tokens);

// The ids of the text (as piecewise_encode) and the byte where each starts.
void budget_encode_with_offsets(const EncodingHandle& handle, const uint8_t* text, uint64_t length,
                                std::vector<uint32_t>& ids, std::vector<uint64_t>& starts);

}  // namespace velkan

#endif  // VELKAN_DRIVER_BUDGET_H_
