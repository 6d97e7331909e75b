#include <gtest/gtest.h>

// g++ 12 reports a false -Wrestrict on "text" + std::string (GCC bug 105651).
#pragma GCC diagnostic ignored "-Wrestrict"

#include <string>
#include <vector>

#include "literal.hpp"
#include "path_support.hpp"
#include "pretty/change_tree.hpp"
#include "pretty/options.hpp"

// Reports the comparison never writes (odd shapes, paths missing from the trees, a changed root
// with children) and sizes beyond what the Python tests draw. Reports of real comparisons are
// pinned through pretty() in tests/test_pretty.py.
namespace hexalume {
namespace {

using pretty::PrettyOptions;
using testing::joined;
using testing::literal;

const std::string V = "\u2502   ";            // vertical guide
const std::string L = "\u2570\u2500\u2500 ";  // last connector
const std::string B = "    ";                 // blank guide

PrettyOptions plain(bool compact = false) {
  PrettyOptions options;
  options.no_color = true;
  options.compact = compact;
  return options;
}

std::string render(const std::string& report, const char* t1, const char* t2,
                   PrettyOptions options = plain()) {
  value::Value report_value = literal(report);
  value::Value old_value = literal(t1);
  value::Value new_value = literal(t2);
  return pretty::render_pretty(report_value.root(), old_value.root(), new_value.root(), options);
}

struct RenderCase {
  const char* name;
  const char* report;
  std::vector<std::string> lines;
  const char* t1 = "null";
  const char* t2 = "null";
  bool compact = false;
};

void PrintTo(const RenderCase& render_case, std::ostream* out) { *out << render_case.name; }

class render_pretty : public ::testing::TestWithParam<RenderCase> {};

TEST_P(render_pretty, exact_text) {
  const RenderCase& c = GetParam();
  EXPECT_EQ(render(c.report, c.t1, c.t2, plain(c.compact)), joined(c.lines));
}

INSTANTIATE_TEST_SUITE_P(
    odd_reports, render_pretty,
    ::testing::Values(
        RenderCase{"wrong_section_shapes",
                   R"({"values_changed": "root['a']", "type_changes": ["root['a']"],
                       "dictionary_item_added": {"root['a']": 1},
                       "iterable_item_added": ["root[0]"],
                       "iterable_item_removed": {"root['k']": 5}})",
                   {"k", V + "- 5"}},
        RenderCase{"unreadable_paths_skipped",
                   R"({"dictionary_item_added": ["root['a", "Root['b']", "root[-1]", "root['ok']"],
                       "values_changed": {"root[x]": {"new_value": 1, "old_value": 0}}})",
                   {"ok", V + "+ <added>"}},
        RenderCase{"non_string_path_elements_skipped",
                   R"({"values_changed": [1, null, "root['a']", ["root['b']"]],
                       "dictionary_item_removed": [{"root['c']": 1}, "root['d']"]})",
                   {"a", V + "- 1", V + "+ 2", "d", V + "- 7"},
                   R"({"a": 1, "d": 7})",
                   R"({"a": 2})"},
        RenderCase{"path_list_unresolved_is_none",
                   R"({"values_changed": ["root['gone']"]})",
                   {"gone", V + "- None", V + "+ 3"},
                   "{}",
                   R"({"gone": 3})"},
        RenderCase{"missing_type_names_and_entries",
                   R"({"type_changes": {"root['x']": {"new_type": 5, "old_value": 1,
                                                      "new_value": "1"}, "root['z']": 3},
                       "values_changed": {"root['y']": [1, 2]}})",
                   {"x", V + "- (unknown) 1", V + "+ (unknown) '1'", "y", V + "- None",
                    V + "+ None", "z", V + "- (unknown) None", V + "+ (unknown) None"}},
        // An entry's own values are drawn; the trees are read only for what it lacks.
        RenderCase{"report_values_win_over_trees",
                   R"({"values_changed": {"root['a']": {"new_value": "copy", "old_value": "copy"},
                                          "root['b']": {"new_value": "copy"}},
                       "type_changes": {"root['c']": {"old_type": "int", "new_type": "str",
                                                      "old_value": 0}},
                       "iterable_item_added": {"root['l'][0]": "copy"}})",
                   {"a", V + "- 'copy'", V + "+ 'copy'", "b", V + "- 7", V + "+ 'copy'", "c",
                    V + "- (int) 0", V + "+ (str) 'tree'", "l", L + "[0]", B + "+ 'copy'"},
                   R"({"a": null, "b": 7, "c": 1, "l": []})",
                   R"({"a": 2, "b": 8, "c": "tree", "l": ["tree"]})"},
        RenderCase{"report_copy_when_tree_lacks_item",
                   R"({"iterable_item_added": {"root[3]": "copy"},
                       "iterable_item_removed": {"root[5]": null}})",
                   {"[3]", V + "+ 'copy'", "[5]", V + "- None"}},
        RenderCase{"index_beyond_both_lists_not_drawn",
                   R"({"iterable_item_added": {"root[1]": 1, "root[7]": 7}})",
                   {"[1]", V + "+ 1"},
                   "[0]",
                   "[0, 1]"},
        RenderCase{"unknown_key_under_object_not_drawn",
                   R"({"dictionary_item_added": ["root['ghost']", "root[0]", "root['a']"]})",
                   {"a", V + "+ 2"},
                   R"({"a": 1})",
                   R"({"a": 2})"},
        RenderCase{"compact_stops_at_change",
                   R"({"values_changed": {"root['a']": {"new_value": 1, "old_value": 0},
                                          "root['a']['b']": {"new_value": 1, "old_value": 0}}})",
                   {"a", V + "- 0", V + "+ 1", L + "b", B + "- 0", B + "+ 1"},
                   "null",
                   "null",
                   true},
        RenderCase{"root_change_with_children",
                   R"({"type_changes": {"root": {"new_type": "list", "old_type": "dict",
                                                 "new_value": [], "old_value": {}}},
                       "dictionary_item_removed": ["root['k']"]})",
                   {"root", V + "- (dict) {}", V + "+ (list) []", "k", V + "- 1"},
                   R"({"k": 1})",
                   "[]"}),
    [](const ::testing::TestParamInfo<RenderCase>& info) { return std::string(info.param.name); });

TEST(render_pretty, nothing_to_show_is_the_empty_text) {
  for (const char* report :
       {R"(["root['a']"])", "{}",
        R"({"values_changed": {}, "dictionary_item_added": [], "type_changes": {}})"}) {
    EXPECT_EQ(render(report, "null", "null"), "") << report;
  }
}

// A path far deeper than Python inputs may nest: the tree is built and torn down without
// recursing per level, the layout stops at the depth limit and a compact label holds it all.
TEST(render_pretty, very_deep_path) {
  constexpr int kDepth = 10000;
  std::string path = "root";
  for (int level = 0; level < kDepth; ++level) path += "['k']";
  std::string report = R"({"dictionary_item_added": [")" + path + R"("]})";
  std::vector<std::string> lines = {"k"};
  for (int level = 1; level <= 6; ++level) {
    lines.push_back(std::string(4 * (level - 1), ' ') + L + (level == 6 ? "..." : "k"));
  }
  EXPECT_EQ(render(report, "null", "null"), joined(lines));

  std::string label = "k";
  for (int level = 1; level < kDepth; ++level) label += ".k";
  EXPECT_EQ(render(report, "null", "null", plain(true)), label + "\n" + V + "+ <added>");
}

// One list level with many changed items stays linear: each item is found through the index.
TEST(render_pretty, wide_list) {
  constexpr int kItems = 20000;
  std::string report = R"({"iterable_item_added": {)";
  std::string list = "[";
  std::vector<std::string> lines;
  for (int item = 0; item < kItems; ++item) {
    const std::string at = std::to_string(item);
    report += (item ? ", \"root[" : "\"root[") + at + "]\": " + at;
    list += (item ? ", " : "") + at;
    lines.push_back("[" + at + "]");
    lines.push_back(V + "+ " + at);
  }
  // Compared without printing both texts on a failure: they are a megabyte each.
  EXPECT_TRUE(render(report + "}}", "[]", (list + "]").c_str()) == joined(lines));
}

}  // namespace
}  // namespace hexalume
