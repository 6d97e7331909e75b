#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "engine/report.hpp"
#include "engine_report_text.hpp"
#include "literal.hpp"

namespace hexalume {
namespace {

using engine::DiffAccumulator;
using engine::into_value;
using testing::literal;
using testing::report_text;

std::string text_of(DiffAccumulator&& accumulator, std::uint8_t verbose_level = 1) {
  return report_text(into_value(std::move(accumulator), verbose_level).root());
}

// Whole reports of comparisons, in both shapes of values_changed and in byte order, are pinned
// through to_dict() in tests/test_report.py; these are the accumulator's own rules.
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
}

// A second record under a path in one keyed section is a collision; the first one in report order
// (sections by key, paths by bytes) is named. Path lists and one path in two sections are not.
TEST(report, collisions_are_detected_per_keyed_section) {
  value::Value one = literal("1");
  value::Value two = literal("2");
  auto collision_of = [](DiffAccumulator&& accumulator, std::uint8_t verbose_level) {
    std::optional<engine::PathCollision> collision;
    into_value(std::move(accumulator), verbose_level, &collision);
    return collision ? collision->path + " in " + std::string(collision->section) : "none";
  };
  for (std::uint8_t level : {0, 1}) {
    DiffAccumulator accumulator;
    accumulator.record_changed_value("root['b']", one.root(), two.root());
    accumulator.record_changed_value("root['a']['b']", one.root(), two.root());
    accumulator.record_changed_value("root['b']", two.root(), one.root());
    accumulator.record_changed_value("root['a']['b']", two.root(), one.root());
    EXPECT_EQ(collision_of(std::move(accumulator), level), "root['a']['b'] in values_changed");
  }
  DiffAccumulator mixed;
  mixed.record_changed_value("root['x']", one.root(), two.root());
  mixed.record_changed_value("root['x']", one.root(), two.root());
  mixed.record_item_removed("root['y'][0]", one.root());
  mixed.record_item_removed("root['y'][0]", one.root());
  EXPECT_EQ(collision_of(std::move(mixed), 1), "root['y'][0] in iterable_item_removed");
  DiffAccumulator type_changes;
  type_changes.record_type_change("root['t']", one.root(), literal("null").root());
  type_changes.record_type_change("root['t']", one.root(), literal("null").root());
  EXPECT_EQ(collision_of(std::move(type_changes), 1), "root['t'] in type_changes");
  DiffAccumulator added;
  added.record_item_added("root[0]", one.root());
  added.record_item_added("root[0]", two.root());
  EXPECT_EQ(collision_of(std::move(added), 1), "root[0] in iterable_item_added");
  DiffAccumulator apart;
  apart.record_key_added("root['k']");
  apart.record_key_added("root['k']");
  apart.record_changed_value("root['k']", one.root(), two.root());
  apart.record_type_change("root['k']", one.root(), literal("null").root());
  apart.record_item_added("root['k']", one.root());
  EXPECT_EQ(collision_of(std::move(apart), 1), "none");
}

}  // namespace
}  // namespace hexalume
