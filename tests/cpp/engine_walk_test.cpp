#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "engine/report.hpp"
#include "engine/walk.hpp"
#include "engine_report_text.hpp"
#include "literal.hpp"

// Options are written with designated initializers; the fields left out keep their defaults.
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"

namespace hexalume {
namespace {

using options::ValueType;
using options::VesperonOptions;
using testing::diff_text;
using testing::literal;

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

struct WalkCase {
  const char* name;
  const char* old_json;
  const char* new_json;
  VesperonOptions options;
  const char* report;
};

std::string case_name(const ::testing::TestParamInfo<WalkCase>& info) { return info.param.name; }

class walk_report : public ::testing::TestWithParam<WalkCase> {};

TEST_P(walk_report, whole_report) {
  const WalkCase& c = GetParam();
  EXPECT_EQ(diff_text(c.old_json, c.new_json, c.options), c.report)
      << c.old_json << " -> " << c.new_json;
}

constexpr const char* kNothing = "{}";
constexpr const char* kOneToOnePointZero =
    "{'values_changed': {'root': {'new_value': 1.0, 'old_value': 1}}}";

INSTANTIATE_TEST_SUITE_P(
    walk_scalars, walk_report,
    ::testing::Values(WalkCase{"negative_zero_equals_zero", "0.0", "-0.0", {}, kNothing},
                      WalkCase{"object_key_order_plays_no_part",
                               R"({"a": [1, {"b": null}], "c": "d"})",
                               R"({"c": "d", "a": [1, {"b": null}]})",
                               {},
                               kNothing},
                      WalkCase{
                          "int_and_float_are_a_changed_value", "1", "1.0", {}, kOneToOnePointZero},
                      WalkCase{"signed_and_unsigned",
                               "-1",
                               "1",
                               {},
                               "{'values_changed': {'root': {'new_value': 1, 'old_value': -1}}}"}),
    case_name);

// Each numeric rule in its order; the first rule that finds the numbers equal decides, a rule
// that does not passes on, significant digits always decide, and the exact test comes last.
INSTANTIATE_TEST_SUITE_P(
    walk_numbers, walk_report,
    ::testing::Values(
        WalkCase{"type_change_epsilon_int_float", "1", "1.0",
                 VesperonOptions{.ignore_numeric_type_changes = true}, kNothing},
        WalkCase{"type_change_epsilon_rounding", "0.30000000000000004", "0.3",
                 VesperonOptions{.ignore_numeric_type_changes = true}, kNothing},
        WalkCase{"type_change_epsilon_is_tight", "1.0", "1.0000000000000004",
                 VesperonOptions{.ignore_numeric_type_changes = true},
                 "{'values_changed': {'root': {'new_value': 1.0000000000000004, "
                 "'old_value': 1.0}}}"},
        WalkCase{"atol_within", "1.0", "1.4", VesperonOptions{.atol = 0.5}, kNothing},
        WalkCase{"atol_beyond", "1.0", "1.6", VesperonOptions{.atol = 0.5},
                 "{'values_changed': {'root': {'new_value': 1.6, 'old_value': 1.0}}}"},
        WalkCase{"math_epsilon_alone", "1.0", "1.4", VesperonOptions{.math_epsilon = 0.5},
                 kNothing},
        WalkCase{"atol_wins_over_math_epsilon", "1.0", "1.4",
                 VesperonOptions{.math_epsilon = 0.5, .atol = 0.1},
                 "{'values_changed': {'root': {'new_value': 1.4, 'old_value': 1.0}}}"},
        WalkCase{"zero_atol_still_wins", "1.0", "1.4",
                 VesperonOptions{.math_epsilon = 0.5, .atol = 0.0},
                 "{'values_changed': {'root': {'new_value': 1.4, 'old_value': 1.0}}}"},
        WalkCase{"rtol_within", "100", "109", VesperonOptions{.rtol = 0.1}, kNothing},
        WalkCase{"rtol_beyond", "100", "112", VesperonOptions{.rtol = 0.1},
                 "{'values_changed': {'root': {'new_value': 112, 'old_value': 100}}}"},
        WalkCase{"rtol_uses_larger_side", "109", "100", VesperonOptions{.rtol = 0.0826}, kNothing},
        WalkCase{"negative_atol_adds_nothing", "1", "1.0", VesperonOptions{.atol = -1.0},
                 kOneToOnePointZero},
        WalkCase{"negative_atol_with_rtol", "100", "109",
                 VesperonOptions{.atol = -1.0, .rtol = 0.1}, kNothing},
        WalkCase{"nan_atol_adds_nothing", "1", "1.0", VesperonOptions{.atol = kNaN},
                 kOneToOnePointZero},
        WalkCase{"nan_rtol_leaves_atol", "1.0", "1.4", VesperonOptions{.atol = 0.5, .rtol = kNaN},
                 kNothing},
        WalkCase{"nan_atol_leaves_rtol", "100", "109", VesperonOptions{.atol = kNaN, .rtol = 0.1},
                 kNothing},
        WalkCase{"infinite_atol_takes_all", "-1.7976931348623157e308", "1.7976931348623157e308",
                 VesperonOptions{.atol = kInf}, kNothing},
        WalkCase{"infinite_rtol_takes_all", "0", "5.0", VesperonOptions{.rtol = kInf}, kNothing},
        WalkCase{"infinite_rtol_on_zeros", "0", "0.0", VesperonOptions{.rtol = kInf}, kNothing},
        WalkCase{"tolerance_fails_then_digits_decide", "1.0", "1.2",
                 VesperonOptions{.significant_digits = 1u, .atol = 0.001}, kNothing},
        WalkCase{"digits_equal", "3.14159", "3.14201", VesperonOptions{.significant_digits = 3u},
                 kNothing},
        WalkCase{"digits_differ", "3.14159", "3.146", VesperonOptions{.significant_digits = 3u},
                 "{'values_changed': {'root': {'new_value': 3.146, 'old_value': 3.14159}}}"},
        WalkCase{"digits_replace_exact_test", "5", "5.0", VesperonOptions{.significant_digits = 3u},
                 kNothing},
        WalkCase{"digits_zero_within_bound", "0", "0.0004",
                 VesperonOptions{.significant_digits = 3u}, kNothing},
        WalkCase{"digits_zero_beyond_bound", "0", "0.002",
                 VesperonOptions{.significant_digits = 3u},
                 "{'values_changed': {'root': {'new_value': 0.002, 'old_value': 0}}}"},
        WalkCase{"digits_zero_negative_side", "-0.0004", "0.0",
                 VesperonOptions{.significant_digits = 3u}, kNothing},
        WalkCase{"no_digits_zero_bound_is_one", "0", "0.9",
                 VesperonOptions{.significant_digits = 0u}, kNothing},
        WalkCase{"no_digits_zero_beyond_one", "0", "1.5", VesperonOptions{.significant_digits = 0u},
                 "{'values_changed': {'root': {'new_value': 1.5, 'old_value': 0}}}"},
        WalkCase{"no_digits_both_round_to_zero", "4", "0.3",
                 VesperonOptions{.significant_digits = 0u}, kNothing},
        WalkCase{"no_digits_half_rounds_up", "5", "4", VesperonOptions{.significant_digits = 0u},
                 "{'values_changed': {'root': {'new_value': 4, 'old_value': 5}}}"},
        WalkCase{"many_digits_same_number", "2", "2.0", VesperonOptions{.significant_digits = 400u},
                 kNothing},
        WalkCase{"many_digits_large_integer", "10000000000000000000", "1e19",
                 VesperonOptions{.significant_digits = 4000000000u}, kNothing}),

    case_name);

// Lists by position, objects by key; a kind change ends the walk at that path. Everyday shapes
// are checked against a plain model in tests/test_report.py and tests/test_properties.py.
INSTANTIATE_TEST_SUITE_P(
    walk_kinds, walk_report,
    ::testing::Values(
        WalkCase{"later_group_counts", "null", "0",
                 VesperonOptions{.ignore_type_in_groups = {{ValueType::String},
                                                           {ValueType::Number, ValueType::Null}}},
                 "{'values_changed': {'root': {'new_value': 0, 'old_value': None}}}"},
        WalkCase{"group_of_bool_and_number", "true", "1",
                 VesperonOptions{.ignore_type_in_groups = {{ValueType::Bool, ValueType::Number}}},
                 "{'values_changed': {'root': {'new_value': 1, 'old_value': True}}}"},
        WalkCase{"container_type_change_copies_both",
                 R"({"k": [1, "x"]})",
                 R"({"k": "x"})",
                 {},
                 "{'type_changes': {\"root['k']\": {'new_type': 'str', 'new_value': 'x', "
                 "'old_type': 'list', 'old_value': [1, 'x']}}}"},
        WalkCase{"insert_at_front_shifts_everything",
                 "[1]",
                 "[0, 1]",
                 {},
                 "{'iterable_item_added': {'root[1]': 1}, "
                 "'values_changed': {'root[0]': {'new_value': 0, 'old_value': 1}}}"},
        WalkCase{"removed_subtree_is_not_walked",
                 R"({"a": {"x": 1}})",
                 "{}",
                 {},
                 "{'dictionary_item_removed': [\"root['a']\"]}"}),
    case_name);

INSTANTIATE_TEST_SUITE_P(
    walk_filters, walk_report,
    ::testing::Values(
        WalkCase{"exclude_reaches_below", R"({"a": {"x": 1}, "b": 1})",
                 R"({"a": {"x": 2}, "b": 2})", VesperonOptions{.exclude_paths = {"root['a']"}},
                 "{'values_changed': {\"root['b']\": {'new_value': 2, 'old_value': 1}}}"},
        WalkCase{"exclude_is_a_byte_prefix", R"({"a": 1, "ab": 1, "b": 1})",
                 R"({"a": 2, "ab": 2, "b": 2})", VesperonOptions{.exclude_paths = {"root['a"}},
                 "{'values_changed': {\"root['b']\": {'new_value': 2, 'old_value': 1}}}"},
        WalkCase{"empty_exclude_entry_skips_everything", "1", "2",
                 VesperonOptions{.exclude_paths = {""}}, kNothing},
        WalkCase{"exclude_does_not_stop_added_keys", R"({"a": 1})", R"({"a": 1, "c": 1})",
                 VesperonOptions{.exclude_paths = {"root['c']"}},
                 "{'dictionary_item_added': [\"root['c']\"]}"},
        WalkCase{"exclude_does_not_stop_surplus_items", "[1]", "[1, 2]",
                 VesperonOptions{.exclude_paths = {"root[1]"}},
                 "{'iterable_item_added': {'root[1]': 2}}"},
        WalkCase{"include_member_and_added_keys", R"({"a": {"x": 1}, "b": 1})",
                 R"({"a": {"x": 2}, "b": 2, "c": 3})",
                 VesperonOptions{.include_paths = {"root['a']"}},
                 "{'dictionary_item_added': [\"root['c']\"], "
                 "'values_changed': {\"root['a']['x']\": {'new_value': 2, 'old_value': 1}}}"},
        WalkCase{"include_passes_ancestors_only_on_the_way", R"({"a": {"x": 1, "y": 1}})",
                 R"({"a": {"x": 2, "y": 2}})", VesperonOptions{.include_paths = {"root['a']['x']"}},
                 "{'values_changed': {\"root['a']['x']\": {'new_value': 2, 'old_value': 1}}}"},
        WalkCase{"include_is_a_byte_prefix", R"({"a": 1, "ab": 1, "b": 1})",
                 R"({"a": 2, "ab": 2, "b": 2})", VesperonOptions{.include_paths = {"root['a"}},
                 "{'values_changed': {\"root['a']\": {'new_value': 2, 'old_value': 1}, "
                 "\"root['ab']\": {'new_value': 2, 'old_value': 1}}}"},
        WalkCase{
            "exclude_beats_include", R"({"a": {"x": 1, "y": 1}})", R"({"a": {"x": 2, "y": 2}})",
            VesperonOptions{.include_paths = {"root['a']"}, .exclude_paths = {"root['a']['x']"}},
            "{'values_changed': {\"root['a']['y']\": {'new_value': 2, 'old_value': 1}}}"},
        WalkCase{"filters_hold_under_ignore_order", R"({"a": [1], "b": [1]})",
                 R"({"a": [2], "b": [2]})",
                 VesperonOptions{.ignore_order = true, .exclude_paths = {"root['a']"}},
                 "{'iterable_item_added': {\"root['b'][0]\": 2}, "
                 "'iterable_item_removed': {\"root['b'][0]\": 1}}"}),
    case_name);

// Filters compare bytes, but a path never matches a longer index: root[1] leaves root[10] alone.
TEST(walk, excluding_an_index_skips_only_that_index) {
  const std::string old_list = "[0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0]";
  const std::string new_list = "[1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1]";
  EXPECT_EQ(diff_text(old_list, new_list,
                      VesperonOptions{.exclude_paths = {"root[1]"}, .verbose_level = 0}),
            "{'values_changed': ['root[0]', 'root[10]', 'root[11]', 'root[2]', 'root[3]', "
            "'root[4]', 'root[5]', 'root[6]', 'root[7]', 'root[8]', 'root[9]']}");
  EXPECT_EQ(diff_text(old_list, new_list,
                      VesperonOptions{.include_paths = {"root[1]"}, .verbose_level = 0}),
            "{'values_changed': ['root[1]']}");
}

// Significant digits where the scale 10^(d-1-e) leaves the float range: equal numbers must stay
// equal and different ones must still be found.
struct DigitsCase {
  double old_number;
  double new_number;
  std::uint32_t digits;
  bool equal;
};

class walk_digits : public ::testing::TestWithParam<DigitsCase> {};

TEST_P(walk_digits, out_of_range_scales) {
  const DigitsCase& c = GetParam();
  VesperonOptions options{.significant_digits = c.digits};
  EXPECT_EQ(engine::numbers_equal(value::make_float(c.old_number), value::make_float(c.new_number),
                                  options),
            c.equal)
      << c.old_number << " vs " << c.new_number << " with " << c.digits << " digits";
}

INSTANTIATE_TEST_SUITE_P(
    walk, walk_digits,
    ::testing::Values(DigitsCase{1e-320, 1e-320, 3, true}, DigitsCase{5e-324, 5e-324, 3, true},
                      DigitsCase{-1e-300, -1e-300, 16, true}, DigitsCase{1.5, 1.5, 400, true},
                      DigitsCase{0.1, 0.1, 4294967295u, true}, DigitsCase{1e308, 1e308, 3, true},
                      DigitsCase{1.7976931348623157e308, 1.7976931348623157e308, 1, true},
                      DigitsCase{1.7976931348623157e308, 1.7976931348623157e308, 17, true},
                      DigitsCase{1e308, 1e308, 0, true},
                      // both round past the largest float, to the same 2e308
                      DigitsCase{1.7976931348623157e308, 1.6e308, 1, true},
                      DigitsCase{1.7976931348623157e308, 1e308, 1, false},
                      DigitsCase{1e308, 1.01e308, 3, false}, DigitsCase{1e-320, 1e-3, 3, false},
                      DigitsCase{-1e-320, 1e-3, 3, false}, DigitsCase{1.5, 1.6, 400, false},
                      DigitsCase{1.0, 1.0000000000000004, 400, false},
                      DigitsCase{1e300, 1.0000000000000002e300, 400, false},
                      DigitsCase{1e300, 1.0000000000000002e300, 15, true}));

TEST(walk, numeric_rules_on_integers_beyond_float_precision) {
  // 2^64-1 and 2^64-2 are one float apart from nothing: both convert to 2^64.
  value::Node largest = value::make_unsigned(std::numeric_limits<std::uint64_t>::max());
  value::Node next = value::make_unsigned(std::numeric_limits<std::uint64_t>::max() - 1);
  EXPECT_FALSE(engine::numbers_equal(largest, next, {}));
  EXPECT_TRUE(engine::numbers_equal(largest, next, {.ignore_numeric_type_changes = true}));
  EXPECT_TRUE(engine::numbers_equal(value::make_signed(-3), value::make_float(-3.0),
                                    {.significant_digits = 1u}));
  EXPECT_FALSE(engine::numbers_equal(value::make_signed(-3), value::make_unsigned(3),
                                     {.significant_digits = 1u}));
}

// A chain of `depth` levels, each a one-item list holding {"a": level, "k": next level}, with a
// float `leaf` at the bottom. The level number is an integer or, with `float_levels`, a float.
value::Value nested(double leaf, std::size_t depth, bool float_levels) {
  auto arena = std::make_unique<value::Arena>();
  value::Node node = value::make_float(leaf);
  for (std::size_t i = 0; i < depth; ++i) {
    value::Member* members = arena->allocate_members(2);
    members[0] = {value::make_string(*arena, "a"),
                  float_levels ? value::make_float(double(i)) : value::make_unsigned(i)};
    members[1] = {value::make_string(*arena, "k"), node};
    value::Node* item = arena->allocate_nodes(1);
    *item = value::make_object(members, 2);
    node = value::make_list(item, 1);
  }
  return value::Value(std::move(arena), node);
}

TEST(walk, deep_nesting_reports_the_deepest_change) {
  // As deep as the converters let trees get. Every level differs by representation only, so
  // the walk goes down level by level without recording, to the one change at the bottom.
  constexpr std::size_t kDepth = 10000;
  engine::Vesperon comparison = engine::with_options(
      nested(1.0, kDepth, false), nested(2.0, kDepth, true), {.ignore_numeric_type_changes = true});
  std::string path = "root";
  for (std::size_t i = 0; i < kDepth; ++i) path += "[0]['k']";
  EXPECT_EQ(comparison.report.root().size(), 1u);
  const value::Node* changes = value::find_member(comparison.report.root(), "values_changed");
  ASSERT_NE(changes, nullptr);
  ASSERT_EQ(changes->size(), 1u);
  EXPECT_EQ(changes->members[0].key.string(), path);
  EXPECT_EQ(testing::report_text(changes->members[0].value),
            "{'new_value': 2.0, 'old_value': 1.0}");
}

}  // namespace
}  // namespace hexalume
