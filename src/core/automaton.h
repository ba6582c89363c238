// Token automaton: a double-array Aho-Corasick automaton over the byte strings
// of all tokens. It answers one question for the encoder and for construction:
// which is the longest token that is a prefix of these bytes?

#ifndef VELKAN_CORE_AUTOMATON_H_
#define VELKAN_CORE_AUTOMATON_H_

#include <cstdint>
#include <vector>

namespace velkan {

// One double-array slot. Failure and output data sit together so that a
// transition needs one 16-byte record besides base and check. Precomputed
// images store the state array in exactly this form.
struct AutomatonState {
  int32_t fail;    // slot of the failure state
  int32_t output;  // first AutomatonOutput of this state, 0 if none
  int32_t value;   // token id ending exactly here, -1 if none
  int32_t depth;   // bytes from the root
};
static_assert(sizeof(AutomatonState) == 16, "image layout");

// One entry of a state's output list; stored in images as three i32.
struct AutomatonOutput {
  int32_t token;   // token id
  int32_t length;  // token length in bytes
  int32_t next;    // next record of the list, 0 at the end
};
static_assert(sizeof(AutomatonOutput) == 12, "image layout");

// A compiled automaton. A transition from slot s on byte b exists exactly when
// check[base[s] + b] == s and then leads to slot base[s] + b; slot 0 is the
// root. state_count and size are always equal.
struct TokenAutomaton {
  std::vector<AutomatonState> states;    // one per slot
  int32_t state_count = 0;               // == size
  std::vector<AutomatonOutput> outputs;  // record 0 reserved, all zero
  int32_t output_count = 0;              // records in use, record 0 included
  int32_t kind = 0;                      // 0, 1 or 2 as compiled
  std::vector<int32_t> base;             // 0 for a slot without children
  std::vector<int32_t> check;            // owner slot, -1 when free, 0 at slot 0
  int32_t size = 0;                      // length of base, check and states
};

}  // namespace velkan

#endif  // VELKAN_CORE_AUTOMATON_H_
