#include <gtest/gtest.h>

#include <limits>
#include <ostream>
#include <string>

#include "engine/numbers.hpp"
#include "engine/report.hpp"
#include "engine/walk.hpp"
#include "literal.hpp"
#include "report_support.hpp"

// Options are written with designated initializers; the fields left out keep their defaults.
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"

// The numeric rules, path filters and kind groups of the walk. Everyday reports are checked
// against a plain model in tests/test_report.py and tests/test_properties.py.
namespace hexalume {
namespace {

using options::ValueType;
using options::VesperonOptions;
using testing::literal;
using testing::report_of;

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

struct NumberCase {
  const char* old_number;
  const char* new_number;
  VesperonOptions options;
  bool equal;
};

void PrintTo(const NumberCase& c, std::ostream* out) {
  *out << c.old_number << " vs " << c.new_number;
}

class numbers_equal : public ::testing::TestWithParam<NumberCase> {};

TEST_P(numbers_equal, decides) {
  const NumberCase& c = GetParam();
  const value::Value old_number = literal(c.old_number);
  const value::Value new_number = literal(c.new_number);
  EXPECT_EQ(engine::numbers_equal(old_number.root(), new_number.root(), c.options), c.equal);
}

// Each rule in its order: the first rule that finds the numbers equal decides, a rule that does
// not passes on, significant digits always decide, and the exact test comes last.
// clang-format off
INSTANTIATE_TEST_SUITE_P(
    walk, numbers_equal,
    ::testing::Values(
        // exact: the same representation and value; 0.0 equals -0.0
        NumberCase{"0.0", "-0.0", {}, true}, NumberCase{"1", "1.0", {}, false},
        // type-change epsilon
        NumberCase{"0.30000000000000004", "0.3", {.ignore_numeric_type_changes = true}, true},
        NumberCase{"1.0", "1.0000000000000004", {.ignore_numeric_type_changes = true}, false},
        // both integers have the double 2^64, but differ by 1
        NumberCase{"18446744073709551615", "18446744073709551614", {.ignore_numeric_type_changes = true}, false},
        // tolerances: atol wins over math_epsilon, even at zero; negative or NaN ones add nothing
        NumberCase{"1.0", "1.4", {.math_epsilon = 0.5, .atol = 0.0}, false},
        NumberCase{"109", "100", {.rtol = 0.0826}, true},  // relative to the larger side
        NumberCase{"100", "109", {.atol = -1.0, .rtol = 0.1}, true},
        NumberCase{"1", "1.0", {.atol = kNaN}, false},
        NumberCase{"-1.7976931348623157e308", "1.7976931348623157e308", {.atol = kInf}, true},
        NumberCase{"0", "5.0", {.rtol = kInf}, true},
        NumberCase{"1.0", "1.2", {.significant_digits = 1u, .atol = 0.001}, true},
        // significant digits, in place of the exact test (rounding of floats at 1 to 25 digits:
        // tests/test_exactness.py)
        NumberCase{"-3", "-3.0", {.significant_digits = 1u}, true},
        NumberCase{"-3", "3", {.significant_digits = 1u}, false},
        NumberCase{"0", "0.0004", {.significant_digits = 3u}, true},
        NumberCase{"0", "-1", {.significant_digits = 0u}, true},
        NumberCase{"5", "4", {.significant_digits = 0u}, false},  // a half rounds up
        NumberCase{"10000000000000000000", "1e19", {.significant_digits = 4000000000u}, true},
        // scales 10^(d-1-e) beyond the float range: equal numbers stay equal, others differ
        NumberCase{"5e-324", "5e-324", {.significant_digits = 3u}, true},
        // both round past the largest float, to the same 2e308
        NumberCase{"1.7976931348623157e308", "1.6e308", {.significant_digits = 1u}, true},
        NumberCase{"1.7976931348623157e308", "1e308", {.significant_digits = 1u}, false},
        NumberCase{"1e-320", "1e-3", {.significant_digits = 3u}, false},
        NumberCase{"1.0", "1.0000000000000004", {.significant_digits = 400u}, false},
        // integers keep their true values: 2^60 + 1 has no double of its own, and the
        // difference of two integers is exact (64-bit pairs in 128 bits, others as rationals)
        NumberCase{"1152921504606846976", "1152921504606846977", {.atol = 1.0}, true},
        NumberCase{"1152921504606846977", "1152921504606846976.0", {.ignore_numeric_type_changes = true}, false},
        NumberCase{"1152921504606846977", "1152921504606846976.5", {.atol = 0.25}, false},
        NumberCase{"-9223372036854775808", "9223372036854775807", {.atol = 0x1p64}, true},
        NumberCase{"-9223372036854775808", "9223372036854775807", {.atol = 0x1p64 - 2048}, false},
        // rtol times the larger side, exactly: 1e-16 * (2^53 + 1) is below 1
        NumberCase{"9007199254740993", "9007199254740992", {.rtol = 1e-16}, false},
        // the double 1e-19 is a little below 10^-19, so the tolerance falls short of 10
        NumberCase{"100000000000000000000", "100000000000000000010", {.rtol = 1e-19}, false},
        NumberCase{"100000000000000000001", "1e20", {.ignore_numeric_type_changes = true}, false},
        // significant digits on true values where a double would round
        NumberCase{"1152921504606846977", "1152921504606846976", {.significant_digits = 19u}, false},
        NumberCase{"12500000000000000001", "13000000000000000000", {.significant_digits = 2u}, true},
        NumberCase{"123456789012345678901234567890", "123456789012345678901234567891", {.significant_digits = 30u}, false},
        NumberCase{"99999999999999999999", "100000000000000000000", {.significant_digits = 5u}, true}));
// clang-format on

// Integers beyond the float range: their doubles would be infinities.
TEST(numbers_equal, integers_beyond_the_float_range) {
  const std::string huge = "1" + std::string(400, '0');
  const value::Value a = literal(huge);
  const value::Value b = literal(huge.substr(0, 400) + "1");  // 10^400 + 1
  const value::Value largest = literal("1.7976931348623157e308");
  EXPECT_FALSE(engine::numbers_equal(a.root(), b.root(), {.atol = 0.5}));
  EXPECT_TRUE(engine::numbers_equal(a.root(), b.root(), {.rtol = 1e-300}));
  EXPECT_FALSE(engine::numbers_equal(a.root(), largest.root(), {.atol = 1.7976931348623157e308}));
  EXPECT_TRUE(engine::numbers_equal(a.root(), largest.root(), {.atol = kInf}));
  EXPECT_FALSE(engine::numbers_equal(a.root(), b.root(), {.significant_digits = 401u}));
  EXPECT_TRUE(engine::numbers_equal(a.root(), b.root(), {.significant_digits = 400u}));
}

struct WalkCase {
  const char* name;
  const char* old_json;
  const char* new_json;
  VesperonOptions options;
  const char* report;
};

class walk_report : public ::testing::TestWithParam<WalkCase> {};

TEST_P(walk_report, whole_report) {
  const WalkCase& c = GetParam();
  EXPECT_EQ(report_of(c.old_json, c.new_json, c.options), literal(c.report));
}

constexpr const char* kAB1 = R"({"a": 1, "ab": 1, "b": 1})";
constexpr const char* kAB2 = R"({"a": 2, "ab": 2, "b": 2})";
constexpr const char* kXY1 = R"({"a": {"x": 1, "y": 1}})";
constexpr const char* kXY2 = R"({"a": {"x": 2, "y": 2}})";
constexpr const char* kOnlyB =
    R"({"values_changed": {"root['b']": {"new_value": 2, "old_value": 1}}})";

// clang-format off
INSTANTIATE_TEST_SUITE_P(
    walk, walk_report,
    ::testing::Values(
        WalkCase{"later_group_counts", "null", "0", {.ignore_type_in_groups = {{ValueType::String}, {ValueType::Number, ValueType::Null}}}, R"({"values_changed": {"root": {"new_value": 0, "old_value": null}}})"},
        WalkCase{"group_of_bool_and_number", "true", "1", {.ignore_type_in_groups = {{ValueType::Bool, ValueType::Number}}}, R"({"values_changed": {"root": {"new_value": 1, "old_value": true}}})"},
        WalkCase{"container_type_change_copies_both", R"({"k": [1, "x"]})", R"({"k": "x"})", {}, R"({"type_changes": {"root['k']": {"new_type": "str", "new_value": "x", "old_type": "list", "old_value": [1, "x"]}}})"},
        WalkCase{"exclude_is_a_byte_prefix", kAB1, kAB2, {.exclude_paths = {"root['a"}}, kOnlyB},
        WalkCase{"empty_exclude_entry_skips_everything", "1", "2", {.exclude_paths = {""}}, R"({})"},
        WalkCase{"exclude_does_not_stop_added_keys", R"({"a": 1})", R"({"a": 1, "c": 1})", {.exclude_paths = {"root['c']"}}, R"({"dictionary_item_added": ["root['c']"]})"},
        WalkCase{"include_lets_added_keys_through", R"({"a": {"x": 1}, "b": 1})", R"({"a": {"x": 2}, "b": 2, "c": 3})", {.include_paths = {"root['a']"}}, R"({"dictionary_item_added": ["root['c']"], "values_changed": {"root['a']['x']": {"new_value": 2, "old_value": 1}}})"},
        WalkCase{"include_is_a_byte_prefix", kAB1, kAB2, {.include_paths = {"root['a"}}, R"({"values_changed": {"root['a']": {"new_value": 2, "old_value": 1}, "root['ab']": {"new_value": 2, "old_value": 1}}})"},
        WalkCase{"exclude_beats_include", kXY1, kXY2, {.include_paths = {"root['a']"}, .exclude_paths = {"root['a']['x']"}}, R"({"values_changed": {"root['a']['y']": {"new_value": 2, "old_value": 1}}})"},
        WalkCase{"filters_hold_under_ignore_order", R"({"a": [1], "b": [1]})", R"({"a": [2], "b": [2]})", {.ignore_order = true, .exclude_paths = {"root['a']"}}, R"({"iterable_item_added": {"root['b'][0]": 2}, "iterable_item_removed": {"root['b'][0]": 1}})"}),
    [](const ::testing::TestParamInfo<WalkCase>& info) { return std::string(info.param.name); });
// clang-format on

// Filters compare bytes, but a path never matches a longer index: root[1] leaves root[10] alone.
TEST(walk, excluding_an_index_skips_only_that_index) {
  const char* old_list = "[0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0]";
  const char* new_list = "[1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1]";
  EXPECT_EQ(report_of(old_list, new_list, {.exclude_paths = {"root[1]"}, .verbose_level = 0}),
            literal(R"({"values_changed": ["root[0]", "root[10]", "root[11]", "root[2]", "root[3]",
                        "root[4]", "root[5]", "root[6]", "root[7]", "root[8]", "root[9]"]})"));
  EXPECT_EQ(report_of(old_list, new_list, {.include_paths = {"root[1]"}, .verbose_level = 0}),
            literal(R"({"values_changed": ["root[1]"]})"));
}

// A chain of `depth` levels, each a one-item list holding {"a": level, "k": next level}, with a
// float `leaf` at the bottom. The level number is an integer or, with `float_levels`, a float.
value::Value nested(double leaf, std::size_t depth, bool float_levels) {
  value::Arena arena;
  value::Node node = value::make_float(leaf);
  for (std::size_t i = 0; i < depth; ++i) {
    value::Member* members = arena.allocate_members(2);
    members[0] = {value::make_string(arena, "a"),
                  float_levels ? value::make_float(double(i)) : value::make_unsigned(i)};
    members[1] = {value::make_string(arena, "k"), node};
    value::Node* item = arena.allocate_nodes(1);
    *item = value::make_object(members, 2);
    node = value::make_list(item, 1);
  }
  return value::Value(std::move(arena), node);
}

// As deep as the converters let trees get, with one change at the bottom: reached whether every
// level differs by representation only (the walk goes down without recording) or the levels are
// identical (each level's equality test looks only so deep, so the walk stays linear).
TEST(walk, deep_nesting_reports_the_deepest_change) {
  constexpr std::size_t kDepth = 10000;
  std::string path = "root";
  for (std::size_t i = 0; i < kDepth; ++i) path += "[0]['k']";
  const value::Value expected =
      literal(R"({"values_changed": {")" + path + R"(": {"new_value": 2.0, "old_value": 1.0}}})");
  for (bool float_levels : {true, false}) {
    engine::Vesperon comparison =
        engine::with_options(nested(1.0, kDepth, false), nested(2.0, kDepth, float_levels),
                             {.ignore_numeric_type_changes = true});
    engine::finish_report(comparison);
    EXPECT_TRUE(value::equal(comparison.report.root(), expected.root())) << float_levels;
  }
}

}  // namespace
}  // namespace hexalume
