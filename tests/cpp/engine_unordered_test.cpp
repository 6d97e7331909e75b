#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <string>

#include "engine/unordered.hpp"
#include "literal.hpp"
#include "report_support.hpp"

// Options are written with designated initializers; the fields left out keep their defaults.
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"

// Reordered lists that hold the same items: tests/test_properties.py; items that match only as
// equal values (never through a shared text, int against float, big integers):
// tests/test_exactness.py.
namespace hexalume {
namespace {

using options::VesperonOptions;
using testing::literal;

struct UnorderedCase {
  const char* name;
  const char* old_json;
  const char* new_json;
  const char* report;
};

class unordered_report : public ::testing::TestWithParam<UnorderedCase> {};

TEST_P(unordered_report, whole_report) {
  const UnorderedCase& c = GetParam();
  EXPECT_EQ(testing::report_of(c.old_json, c.new_json, {.ignore_order = true}), literal(c.report));
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(
    unordered, unordered_report,
    ::testing::Values(
        UnorderedCase{"surplus_is_last_occurrences", "[1, 1, 1]", "[1]", R"({"iterable_item_removed": {"root[1]": 1, "root[2]": 1}})"},
        UnorderedCase{"removed_interleaved", "[1, 2, 1]", "[1]", R"({"iterable_item_removed": {"root[1]": 2, "root[2]": 1}})"},
        UnorderedCase{"matched_are_earliest", "[2, 1, 2, 1]", "[1, 2]", R"({"iterable_item_removed": {"root[2]": 2, "root[3]": 1}})"},
        UnorderedCase{"both_sides", "[1, 2, 3, 2]", "[3, 4, 1, 4]", R"({"iterable_item_added": {"root[1]": 4, "root[3]": 4}, "iterable_item_removed": {"root[1]": 2, "root[3]": 2}})"},
        UnorderedCase{"same_texts_other_counts", "[1, 1, 2]", "[1, 2, 2]", R"({"iterable_item_added": {"root[2]": 2}, "iterable_item_removed": {"root[1]": 1}})"},
        UnorderedCase{"order_inside_items_counts", "[[1, 2]]", "[[2, 1]]", R"({"iterable_item_added": {"root[0]": [2, 1]}, "iterable_item_removed": {"root[0]": [1, 2]}})"},
        UnorderedCase{"inside_an_object", R"({"x": [1, 2, 3], "y": 1})", R"({"x": [3, 2], "y": 2})", R"({"iterable_item_removed": {"root['x'][0]": 1}, "values_changed": {"root['y']": {"new_value": 2, "old_value": 1}}})"}),
    [](const ::testing::TestParamInfo<UnorderedCase>& info) { return info.param.name; });
// clang-format on

TEST(unordered, numeric_options_play_no_part) {
  VesperonOptions options{
      .ignore_order = true,
      .ignore_numeric_type_changes = true,
      .ignore_type_in_groups = {{options::ValueType::Number, options::ValueType::Null}},
      .significant_digits = 1u,
      .atol = 10.0};
  EXPECT_EQ(testing::report_of("[1, null]", "[1.0, 2]", options),
            literal(R"({"iterable_item_added": {"root[0]": 1.0, "root[1]": 2},
                        "iterable_item_removed": {"root[0]": 1, "root[1]": null}})"));
}

TEST(unordered, large_permutation_matches_and_one_change_is_found) {
  std::string old_json = "[";
  std::string new_json = "[";
  constexpr int kCount = 2000;
  for (int i = 0; i < kCount; ++i) {
    const char* separator = i == 0 ? "" : ",";
    int j = (i * 7919) % kCount;  // 7919 is prime, so this visits every id once
    old_json.append(separator).append(R"({"id": )").append(std::to_string(i)).append("}");
    new_json.append(separator).append(R"({"id": )").append(std::to_string(j)).append("}");
  }
  old_json += "]";
  new_json += "]";
  VesperonOptions options{.ignore_order = true};
  EXPECT_EQ(testing::report_of(old_json, new_json, options), literal("{}"));
  new_json.replace(new_json.rfind("}]"), 2, R"(}, {"id": 5}])");
  EXPECT_EQ(testing::report_of(old_json, new_json, options),
            literal(R"({"iterable_item_added": {"root[2000]": {"id": 5}}})"));
}

// A list whose items lie in memory in the reverse of their order (as after conversion reads a
// shuffled list by address) is counted in memory order: the report must not show it. Items are
// texts "item-<k>" with k = index / 2, so each occurs twice.
value::Value texts(std::size_t count, bool reversed_memory, std::size_t changed = SIZE_MAX) {
  auto arena = std::make_unique<value::Arena>();
  value::Node* items = arena->allocate_nodes(count);
  for (std::size_t step = 0; step < count; ++step) {
    const std::size_t i = reversed_memory ? count - 1 - step : step;
    const std::string text = i == changed ? "changed-item" : "item-" + std::to_string(i / 2);
    items[i] = value::make_string(*arena, text);
  }
  return value::Value(std::move(arena), value::make_list(items, count));
}

TEST(unordered, the_memory_order_of_the_new_list_never_shows) {
  constexpr std::size_t kCount = 6000;
  for (std::size_t changed : {SIZE_MAX, std::size_t{0}, std::size_t{4321}, kCount - 1}) {
    value::Value reports[2];
    for (bool reversed : {false, true}) {
      const engine::Vesperon comparison = engine::with_options(
          texts(kCount, false), texts(kCount, reversed, changed), {.ignore_order = true});
      reports[reversed] = value::Value::copy_of(comparison.report.root());
    }
    EXPECT_EQ(reports[0], reports[1]) << changed;
    // The changed item shows as one item added and one removed.
    EXPECT_EQ(reports[1].root().size(), changed == SIZE_MAX ? 0u : 2u) << changed;
  }
}

}  // namespace
}  // namespace hexalume