// The generated registry and rule-set names against what the code relies
// on: names that find one entry each, token data that ends where the counts
// say, and one name per rule set.

#include "vocab/registry.h"

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <string_view>

#include "embedded_encodings.h"
#include "vocab/rule_set_names.h"

namespace velkan {
namespace {

TEST(Registry, EachNameAndShortNameFindsItsEntry) {
  const auto all = vocabularies();
  ASSERT_FALSE(all.empty());
  std::set<std::string_view> seen;
  for (size_t i = 0; i < all.size(); i++) {
    EXPECT_TRUE(seen.insert(all[i].name).second) << all[i].name;
    EXPECT_TRUE(seen.insert(all[i].short_name).second) << all[i].short_name;
    EXPECT_EQ(find_vocabulary(all[i].name), static_cast<int>(i));
    EXPECT_EQ(find_vocabulary(all[i].short_name), static_cast<int>(i));
    EXPECT_EQ(all[i].image_file, "precomputed_" + std::string(all[i].short_name) + ".bin");
    EXPECT_NE(all[i].rule_set, RuleSet::kWhole) << all[i].name;
  }
  EXPECT_EQ(find_vocabulary("cl100k_base_"), -1);
  EXPECT_EQ(find_vocabulary(""), -1);
}

TEST(RuleSetNames, OneNamePerRuleSetAndBack) {
  std::set<RuleSet> rule_sets;
  std::set<std::string_view> names;
  for (const RuleSetName& entry : kRuleSetNames) {
    EXPECT_TRUE(names.insert(entry.name).second) << entry.name;
    EXPECT_TRUE(rule_sets.insert(entry.rule_set).second) << entry.name;
    EXPECT_EQ(rule_set_named(entry.name), entry.rule_set);
    std::string quoted(1, '\'');
    quoted.append(entry.name).push_back('\'');
    EXPECT_NE(std::string_view(kRuleSetChoices).find(quoted), std::string_view::npos) << entry.name;
  }
  // Every enumerator up to the last has a name.
  EXPECT_EQ(rule_sets.size(), static_cast<size_t>(RuleSet::kTekken) + 1);
  EXPECT_EQ(rule_set_named("whole"), RuleSet::kWhole);
  EXPECT_EQ(rule_set_named("R50K"), std::nullopt);
  EXPECT_EQ(rule_set_named(""), std::nullopt);
}

// Every vocabulary, through the fixture the other suites share.
class EveryVocabulary : public ::testing::TestWithParam<std::string_view> {};
INSTANTIATE_TEST_SUITE_P(Registry, EveryVocabulary,
                         ::testing::ValuesIn(embedded_vocabulary_names()),
                         [](const auto& param_info) { return std::string(param_info.param); });

TEST_P(EveryVocabulary, FixtureIsTheRegistryEntry) {
  const VocabularyInfo& info = vocabularies()[embedded_index(GetParam())];
  const EncodingHandle& split = embedded_handle(GetParam());
  const EncodingHandle& whole = embedded_handle(GetParam(), /*split=*/false);
  EXPECT_EQ(split.rule_set, info.rule_set);
  EXPECT_EQ(whole.rule_set, RuleSet::kWhole);
  EXPECT_EQ(split.encoding, whole.encoding);
  EXPECT_EQ(split.encoding, &embedded_encoding(info.name));
  ASSERT_EQ(split.encoding->num_tokens, info.num_tokens);
  // The token data: starts rise, the single bytes come first.
  EXPECT_EQ(info.token_starts[0], 0u);
  for (uint32_t i = 0; i < info.num_tokens; i++) {
    ASSERT_LE(info.token_starts[i], info.token_starts[i + 1]) << i;
  }
  for (uint32_t b = 0; b < 256; b++) {
    ASSERT_EQ(info.token_starts[b + 1] - info.token_starts[b], 1u) << b;
  }
}

}  // namespace
}  // namespace velkan
