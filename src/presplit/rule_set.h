// The pre-split rule sets, named by an enum, and the one place that turns the
// enum into a rule set's inline split: visit_rule_set calls its visitor with
// a value of the rule set's type, so every caller is instantiated once per
// rule set and each split is inlined where the pieces are consumed (a call
// through a pointer per piece of five bytes is a cost worth avoiding).
//
// A rule set type has
//   static bool split(const uint8_t* text, uint64_t length, uint64_t pos, SplitMatch* out);
// with the PieceSplitter contract (split_match.h), and may have
//   static constexpr uint64_t kBlockBytes;
//   static uint64_t block_starts(const uint8_t* block);
// which marks the piece starts of kBlockBytes bytes at a piece start at once
// (split_blocks.h gives the contract); the walk over a text's pieces
// (driver/piece_walk.h) then uses it where it can. And
//   static constexpr bool kCutsAtWordEnds = true;
// when word_cuts.h's argument holds for its rules (whole-text encodes then
// cache runs of pieces), and
//   static constexpr bool kNumbersAtMostThree = true;
// when its rules take numbers at most three at a time (`\p{N}{1,3}`, or one
// at a time): a piece that starts with three numbers ends among them, which
// the certain end of a stream (driver/stream.cc) relies on. Adding one: its
// rules header, an enumerator, a case below, and in velkan/_encodings_data.py
// its name in RULE_SETS (the enumerator of "name_x" is kNameX; the build maps
// names to enumerators) and its pattern in PATTERN_RULE_SETS.

#ifndef VELKAN_PRESPLIT_RULE_SET_H_
#define VELKAN_PRESPLIT_RULE_SET_H_

#include <cstdint>
#include <string_view>

#include "presplit/split_blocks.h"
#include "presplit/split_cl100k_legacy_rules.h"
#include "presplit/split_cl100k_rules.h"
#include "presplit/split_match.h"
#include "presplit/split_o200k_rules.h"
#include "presplit/split_qwen2_rules.h"
#include "presplit/split_r50k_rules.h"
#include "presplit/split_tekken_rules.h"

namespace velkan {

enum class RuleSet : uint8_t {
  kWhole,         // no pre-split: a text is one piece
  kCl100k,        // split_cl100k_rules.h
  kO200k,         // split_o200k_rules.h
  kR50k,          // split_r50k_rules.h: r50k_base, p50k_base
  kCl100kLegacy,  // split_cl100k_legacy_rules.h: cl100k's older spelling
  kQwen2,         // split_qwen2_rules.h: Qwen's vocabularies
  kTekken,        // split_tekken_rules.h: Mistral's Tekken vocabularies
};

struct WholeTextRules {
  [[gnu::always_inline]] static bool split(const uint8_t*, uint64_t length, uint64_t pos,
                                           SplitMatch* out) {
    if (pos >= length) return false;
    *out = SplitMatch{pos, length, kTagOther, kKeepAll};
    return true;
  }
};

struct Cl100kRules {
  static constexpr bool kCutsAtWordEnds = true;  // word_cuts.h
  static constexpr bool kNumbersAtMostThree = true;
  [[gnu::always_inline]] static bool split(const uint8_t* text, uint64_t length, uint64_t pos,
                                           SplitMatch* out) {
    return cl100k_rules::split(text, length, pos, out);
  }
#if VELKAN_HAVE_BLOCK_SPLIT
  static constexpr uint64_t kBlockBytes = split_blocks::kBlockBytes;
  [[gnu::always_inline]] static uint64_t block_starts(const uint8_t* block) {
    return split_blocks::piece_starts<false>(split_blocks::classify<true>(block));
  }
#endif
};

struct O200kRules {
  static constexpr bool kCutsAtWordEnds = true;  // word_cuts.h
  static constexpr bool kNumbersAtMostThree = true;
  [[gnu::always_inline]] static bool split(const uint8_t* text, uint64_t length, uint64_t pos,
                                           SplitMatch* out) {
    return o200k_rules::split(text, length, pos, out);
  }
#if VELKAN_HAVE_BLOCK_SPLIT
  static constexpr uint64_t kBlockBytes = split_blocks::kBlockBytes;
  [[gnu::always_inline]] static uint64_t block_starts(const uint8_t* block) {
    return split_blocks::piece_starts<true>(split_blocks::classify<false>(block));
  }
#endif
};

struct R50kRules {
  static constexpr bool kCutsAtWordEnds = true;  // word_cuts.h
  // Not kNumbersAtMostThree: `\p{N}+` takes a number whole.
  [[gnu::always_inline]] static bool split(const uint8_t* text, uint64_t length, uint64_t pos,
                                           SplitMatch* out) {
    return r50k_rules::split(text, length, pos, out);
  }
};

struct Cl100kLegacyRules {
  static constexpr bool kCutsAtWordEnds = true;  // word_cuts.h
  static constexpr bool kNumbersAtMostThree = true;
  [[gnu::always_inline]] static bool split(const uint8_t* text, uint64_t length, uint64_t pos,
                                           SplitMatch* out) {
    return cl100k_legacy_rules::split(text, length, pos, out);
  }
};

struct Qwen2Rules {
  static constexpr bool kCutsAtWordEnds = true;  // word_cuts.h
  static constexpr bool kNumbersAtMostThree = true;
  [[gnu::always_inline]] static bool split(const uint8_t* text, uint64_t length, uint64_t pos,
                                           SplitMatch* out) {
    return qwen2_rules::split(text, length, pos, out);
  }
};

struct TekkenRules {
  static constexpr bool kCutsAtWordEnds = true;  // word_cuts.h
  static constexpr bool kNumbersAtMostThree = true;
  [[gnu::always_inline]] static bool split(const uint8_t* text, uint64_t length, uint64_t pos,
                                           SplitMatch* out) {
    return tekken_rules::split(text, length, pos, out);
  }
};

template <typename Visitor>
decltype(auto) visit_rule_set(RuleSet rule_set, Visitor&& visit) {
  switch (rule_set) {
  case RuleSet::kCl100k:
    return visit(Cl100kRules{});
  case RuleSet::kO200k:
    return visit(O200kRules{});
  case RuleSet::kR50k:
    return visit(R50kRules{});
  case RuleSet::kCl100kLegacy:
    return visit(Cl100kLegacyRules{});
  case RuleSet::kQwen2:
    return visit(Qwen2Rules{});
  case RuleSet::kTekken:
    return visit(TekkenRules{});
  case RuleSet::kWhole:
    break;
  }
  return visit(WholeTextRules{});
}

// The rule set as a PieceSplitter (split_match.h), for callers that walk
// pieces one call at a time (tests, fuzzers).
inline PieceSplitter piece_splitter(RuleSet rule_set) {
  return visit_rule_set(rule_set, [](auto rules) -> PieceSplitter {
    return [](const uint8_t* text, uint64_t length, uint64_t pos, SplitMatch* out) {
      return decltype(rules)::split(text, length, pos, out);
    };
  });
}

}  // namespace velkan

#endif  // VELKAN_PRESPLIT_RULE_SET_H_
