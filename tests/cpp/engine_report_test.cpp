#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "engine/comparison.hpp"
#include "engine/path.hpp"
#include "literal.hpp"

// Options are written with designated initializers; the fields left out keep their defaults.
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"

// Whole reports of comparisons, in both shapes of values_changed and in byte order, are pinned
// through to_dict() in tests/test_report.py; these check the records behind them.
namespace hexalume {
namespace {

using engine::Section;
using testing::literal;

engine::Vesperon compare(const char* t1, const char* t2, options::VesperonOptions options = {}) {
  return engine::with_options(literal(t1), literal(t2), std::move(options));
}

std::vector<std::string> record_paths(const engine::Vesperon& comparison, Section section) {
  std::vector<std::string> paths;
  std::string path;
  std::vector<const engine::Position*> chain;
  for (const engine::ChangeRecord& record : comparison.changes.section(section)) {
    engine::write_path(path, *record.position, chain);
    paths.push_back(path);
  }
  return paths;
}

std::vector<std::string> report_paths(const engine::Vesperon& comparison, const char* key) {
  std::vector<std::string> paths;
  const value::Node* section = value::find_member(comparison.report.root(), key);
  if (section == nullptr) return paths;
  if (section->kind == value::Kind::List) {
    for (const value::Node& path : section->list()) paths.emplace_back(path.string());
  } else {
    for (const value::Member& member : section->object()) paths.emplace_back(member.key.string());
  }
  return paths;
}

// Each section's records stand in the order of its report entries, one per entry, also where a
// collision dropped the earlier of two records under one path.
TEST(change_log, records_follow_the_report) {
  const char* t1 = R"({"a": {"b": 1, "x": 1}, "l": [1, 2, 3], "m": {"1": [0], "2": 2},
                      "a']['b": 1, "s": [1, 1, 2], "k": 1})";
  const char* t2 = R"({"a": {"b": 2, "y": 1}, "l": [1, 5], "m": {"1": [1, 0], "2": "2"},
                      "a']['b": 5, "s": [3, 1], "n": null})";
  const std::pair<Section, const char*> sections[] = {
      {Section::ValuesChanged, "values_changed"},
      {Section::TypeChanges, "type_changes"},
      {Section::DictionaryItemAdded, "dictionary_item_added"},
      {Section::DictionaryItemRemoved, "dictionary_item_removed"},
      {Section::IterableItemAdded, "iterable_item_added"},
      {Section::IterableItemRemoved, "iterable_item_removed"},
  };
  for (std::uint8_t level : {std::uint8_t{0}, std::uint8_t{1}}) {
    for (bool ignore_order : {false, true}) {
      const engine::Vesperon comparison =
          compare(t1, t2, {.ignore_order = ignore_order, .verbose_level = level});
      ASSERT_TRUE(comparison.collision.has_value());
      EXPECT_EQ(comparison.collision->path, "root['a']['b']");
      for (const auto& [section, key] : sections) {
        EXPECT_EQ(record_paths(comparison, section), report_paths(comparison, key)) << key;
      }
    }
  }
}

}  // namespace
}  // namespace hexalume
