// Token budgets: chunks of at most N tokens, truncation to N tokens and the
// byte where each token starts. Offsets are UTF-8 byte offsets into the text;
// budgets count ordinary text (no special tokens). Re-entrant; touches no
// interpreter object. Each function asks its interrupt hook (when not null)
// about once every kInterruptEveryBytes of work; when the hook says stop, the
// call returns at once and its result is meaningless.

#ifndef VELKAN_DRIVER_BUDGET_H_
#define VELKAN_DRIVER_BUDGET_H_

#include <cstdint>
#include <vector>

#include "driver/piecewise.h"
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
// 0 <= overlap < max_tokens. Cuts go between pieces; a piece longer than the
// budget is cut inside, at the longest character boundary that fits, and so
// is the piece after a chunk that would otherwise be less than half full.
// When a single character needs more tokens than the budget, so that no cut
// between characters can respect it, returns no spans and sets *too_small_at
// to that character's first byte; otherwise sets it to kBudgetFits. (No
// exception: the core throws nothing but bad_alloc.) Memory: 16 bytes per
// piece of the text (about 2.5 bytes per byte of English).
std::vector<ByteSpan> budget_chunks(const EncodingHandle& handle, const uint8_t* text,
                                    uint64_t length, uint64_t max_tokens, uint64_t overlap,
                                    uint64_t* too_small_at, const Interrupt* interrupt = nullptr);

// End of a longest prefix that encodes to at most max_tokens tokens, cut at
// a character boundary: one more character would not fit. Work is
// proportional to the prefix (and the split of the piece it ends in).
uint64_t budget_truncate_right(const EncodingHandle& handle, const uint8_t* text, uint64_t length,
                               uint64_t max_tokens, const Interrupt* interrupt = nullptr);

// Start of a longest suffix that encodes to at most max_tokens tokens, cut
// at a character boundary: one more character would not fit. Work is
// proportional to the suffix (and the split of the piece it starts in).
uint64_t budget_truncate_left(const EncodingHandle& handle, const uint8_t* text, uint64_t length,
                              uint64_t max_tokens, const Interrupt* interrupt = nullptr);

// How good a cut at byte b (0 < b <= length) of the text is, as
// budget_chunks ranks the piece boundaries it may cut at: 5 the text's end,
// 4 after a blank line (a line break with only spaces, tabs and carriage
// returns since the line break before, within 64 bytes), 3 after a line
// break, 2 after a sentence end (. ! ? or their full-width forms) before
// whitespace, 1 next to whitespace, 0 anything else.
int budget_cut_level(const uint8_t* text, uint64_t length, uint64_t b);

// Appends the ids of the text (as piecewise_encode) and the byte where each
// starts.
void budget_encode_with_offsets(const EncodingHandle& handle, const uint8_t* text, uint64_t length,
                                std::vector<uint32_t>& ids, std::vector<uint64_t>& starts,
                                const Interrupt* interrupt = nullptr);

}  // namespace velkan

#endif  // VELKAN_DRIVER_BUDGET_H_
