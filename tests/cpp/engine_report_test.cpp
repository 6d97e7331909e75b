#include <gtest/gtest.h>

#include <string>

#include "engine/report.hpp"
#include "engine_report_text.hpp"
#include "literal.hpp"

// Options are written with designated initializers; the fields left out keep their defaults.
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"

namespace hexalume {
namespace {

using engine::DiffAccumulator;
using engine::into_value;
using options::VesperonOptions;
using testing::diff_text;
using testing::literal;
using testing::report_text;

std::string text_of(DiffAccumulator&& accumulator, std::uint8_t verbose_level = 1) {
  return report_text(into_value(std::move(accumulator), verbose_level).root());
}

TEST(report, end_to_end_example) {
  EXPECT_EQ(diff_text(R"({"a": 1, "b": [1, 2]})", R"({"a": 2, "b": [1, 2, 3], "c": null})"),
            "{'dictionary_item_added': [\"root['c']\"], "
            "'iterable_item_added': {\"root['b'][2]\": 3}, "
            "'values_changed': {\"root['a']\": {'new_value': 2, 'old_value': 1}}}");
}

struct ReportCase {
  const char* name;
  const char* old_json;
  const char* new_json;
  std::uint8_t verbose_level;
  const char* report;
};

class report_shape : public ::testing::TestWithParam<ReportCase> {};

TEST_P(report_shape, whole_report) {
  const ReportCase& c = GetParam();
  EXPECT_EQ(diff_text(c.old_json, c.new_json, VesperonOptions{.verbose_level = c.verbose_level}),
            c.report);
}

constexpr const char* kAddedAndChanged =
    "{'dictionary_item_added': [\"root['c']\"], "
    "'values_changed': {\"root['b']\": {'new_value': 3, 'old_value': 2}}}";

INSTANTIATE_TEST_SUITE_P(
    report, report_shape,
    ::testing::Values(
        ReportCase{"identical", R"({"a": [1]})", R"({"a": [1]})", 1, "{}"},
        ReportCase{"entries", R"({"a": 1, "b": 2})", R"({"a": 1, "b": 3, "c": 4})", 1,
                   kAddedAndChanged},
        ReportCase{"any_nonzero_level_gives_entries", R"({"a": 1, "b": 2})",
                   R"({"a": 1, "b": 3, "c": 4})", 7, kAddedAndChanged},
        ReportCase{"level_zero_gives_paths", R"({"a": 1, "b": 2})", R"({"a": 1, "b": 3, "c": 4})",
                   0,
                   "{'dictionary_item_added': [\"root['c']\"], "
                   "'values_changed': [\"root['b']\"]}"},
        ReportCase{"level_zero_keeps_other_sections", "[1, true]", "[2, 1, 3]", 0,
                   "{'iterable_item_added': {'root[2]': 3}, "
                   "'type_changes': {'root[1]': {'new_type': 'int', 'new_value': 1, "
                   "'old_type': 'bool', 'old_value': True}}, "
                   "'values_changed': ['root[0]']}"},
        ReportCase{"paths_sort_by_bytes", "[0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0]",
                   "[0, 0, 1, 0, 0, 0, 0, 0, 0, 0, 1, 0]", 0,
                   "{'values_changed': ['root[10]', 'root[2]']}"},
        ReportCase{"entry_keys_sort_by_bytes", "[0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0]",
                   "[0, 0, 1, 0, 0, 0, 0, 0, 0, 0, 1, 0]", 1,
                   "{'values_changed': {'root[10]': {'new_value': 1, 'old_value': 0}, "
                   "'root[2]': {'new_value': 1, 'old_value': 0}}}"},
        ReportCase{"upper_case_keys_first", R"({"a": 1, "B": 1})", "{}", 1,
                   "{'dictionary_item_removed': [\"root['B']\", \"root['a']\"]}"},
        ReportCase{"type_change", R"({"x": 1})", R"({"x": "1"})", 1,
                   "{'type_changes': {\"root['x']\": {'new_type': 'str', 'new_value': '1', "
                   "'old_type': 'int', 'old_value': 1}}}"},
        ReportCase{"type_change_at_root", "2.5", "null", 0,
                   "{'type_changes': {'root': {'new_type': 'null', 'new_value': None, "
                   "'old_type': 'float', 'old_value': 2.5}}}"},
        ReportCase{"apostrophe_in_key", "{}", R"({"it's": 1})", 1,
                   "{'dictionary_item_added': [\"root['it's']\"]}"},
        ReportCase{"all_six_sections", R"({"a": 1, "b": [1, 2], "c": 1, "d": [1]})",
                   R"({"b": [1], "c": "1", "d": [1, 2], "e": 1, "f": 2})", 1,
                   "{'dictionary_item_added': [\"root['e']\", \"root['f']\"], "
                   "'dictionary_item_removed': [\"root['a']\"], "
                   "'iterable_item_added': {\"root['d'][1]\": 2}, "
                   "'iterable_item_removed': {\"root['b'][1]\": 2}, "
                   "'type_changes': {\"root['c']\": {'new_type': 'str', 'new_value': '1', "
                   "'old_type': 'int', 'old_value': 1}}}"}),
    [](const ::testing::TestParamInfo<ReportCase>& info) { return info.param.name; });

TEST(report, type_names) {
  const std::pair<const char*, const char*> cases[] = {
      {"null", "null"}, {"false", "bool"}, {"0", "int"},   {"-7", "int"},
      {"0.5", "float"}, {"\"\"", "str"},   {"[]", "list"}, {"{}", "dict"}};
  for (auto [json, name] : cases) {
    EXPECT_EQ(engine::type_name(literal(json).root()), name) << json;
  }
}

TEST(report, later_record_under_a_path_replaces_earlier) {
  DiffAccumulator accumulator;
  value::Value one = literal("1");
  value::Value two = literal("2");
  value::Value three = literal("3");
  accumulator.record_changed_value("root['b']", one.root(), two.root());
  accumulator.record_changed_value("root['a']", one.root(), two.root());
  accumulator.record_changed_value("root['b']", two.root(), three.root());
  accumulator.record_item_added("root[1]", one.root());
  accumulator.record_item_added("root[1]", two.root());
  accumulator.record_item_removed("root[0]", three.root());
  accumulator.record_item_removed("root[0]", one.root());
  accumulator.record_type_change("root", one.root(), literal("\"1\"").root());
  accumulator.record_type_change("root", one.root(), literal("null").root());
  EXPECT_EQ(text_of(std::move(accumulator)),
            "{'iterable_item_added': {'root[1]': 2}, "
            "'iterable_item_removed': {'root[0]': 1}, "
            "'type_changes': {'root': {'new_type': 'null', 'new_value': None, "
            "'old_type': 'int', 'old_value': 1}}, "
            "'values_changed': {\"root['a']\": {'new_value': 2, 'old_value': 1}, "
            "\"root['b']\": {'new_value': 3, 'old_value': 2}}}");
}

TEST(report, level_zero_lists_each_changed_path_once) {
  DiffAccumulator accumulator;
  value::Value one = literal("1");
  accumulator.record_changed_value("root[2]", one.root(), one.root());
  accumulator.record_changed_value("root[10]", one.root(), one.root());
  accumulator.record_changed_value("root[2]", one.root(), one.root());
  EXPECT_EQ(text_of(std::move(accumulator), 0), "{'values_changed': ['root[10]', 'root[2]']}");
}

TEST(report, path_lists_keep_duplicates_and_sort_prefix_first) {
  DiffAccumulator accumulator;
  accumulator.record_key_added("root['b']");
  accumulator.record_key_added("root['a']['x']");
  accumulator.record_key_added("root['b']");
  accumulator.record_key_added("root['a']");
  accumulator.record_key_removed("root['\xc3\xa9']");
  accumulator.record_key_removed("root['z']");
  EXPECT_EQ(text_of(std::move(accumulator)),
            "{'dictionary_item_added': [\"root['a']\", \"root['a']['x']\", \"root['b']\", "
            "\"root['b']\"], 'dictionary_item_removed': [\"root['z']\", \"root['\xc3\xa9']\"]}");
}

TEST(report, accumulator_owns_copies) {
  DiffAccumulator accumulator;
  EXPECT_TRUE(accumulator.empty());
  {
    std::string path = "root['k']";
    value::Value old_value = literal(R"({"list": ["a", {"b": "c"}]})");
    value::Value new_value = literal(R"("text")");
    accumulator.record_type_change(path, old_value.root(), new_value.root());
    path.assign("clobbered");
  }
  EXPECT_FALSE(accumulator.empty());
  value::Value report = into_value(std::move(accumulator), 1);
  EXPECT_EQ(report_text(report.root()),
            "{'type_changes': {\"root['k']\": {'new_type': 'str', 'new_value': 'text', "
            "'old_type': 'dict', 'old_value': {'list': ['a', {'b': 'c'}]}}}}");
  // Built sorted, so lookups by key work on every object of the report.
  const value::Node* changes = value::find_member(report.root(), "type_changes");
  ASSERT_NE(changes, nullptr);
  const value::Node* entry = value::find_member(*changes, "root['k']");
  ASSERT_NE(entry, nullptr);
  EXPECT_EQ(value::find_member(*entry, "old_type")->string(), "dict");
}

TEST(report, empty_accumulator_gives_empty_object) {
  value::Value report = into_value(DiffAccumulator{}, 0);
  EXPECT_EQ(report.kind(), value::Kind::Object);
  EXPECT_EQ(report.root().size(), 0u);
}

TEST(report, comparison_keeps_inputs_and_hands_out_copies) {
  engine::Vesperon comparison =
      engine::with_options(literal(R"({"a": [1]})"), literal(R"({"a": [2]})"), {});
  EXPECT_EQ(comparison.t1, literal(R"({"a": [1]})"));
  EXPECT_EQ(comparison.t2, literal(R"({"a": [2]})"));
  value::Value first = engine::to_value(comparison);
  value::Value second = engine::to_value(comparison);
  EXPECT_EQ(first, second);
  EXPECT_EQ(first, comparison.report);
  EXPECT_NE(first.root().members, second.root().members);
  EXPECT_NE(first.root().members, comparison.report.root().members);
  first = literal("null");
  EXPECT_EQ(report_text(second.root()),
            "{'values_changed': {\"root['a'][0]\": {'new_value': 2, 'old_value': 1}}}");
}

}  // namespace
}  // namespace hexalume
