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
const std::string T = "\u251c\u2500\u2500 ";  // branch connector

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
        // Segments the parent cannot hold come from keys holding "']"; they are drawn after
        // the others, in label order, so that no change goes undrawn.
        RenderCase{"unknown_key_under_object_drawn_last",
                   R"({"dictionary_item_added": ["root['ghost']", "root[0]", "root['a']"]})",
                   {"a", V + "+ 2", "[0]", V + "+ <added>", "ghost", V + "+ <added>"},
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

// Children of one node found again in later sections, under other spellings of one position,
// and beyond the positions kept in the direct array: each is one child, drawn once, with its
// changes in report order. Sixteen keys put the level past the scan into the hash index.
TEST(render_pretty, children_found_again_are_one_child) {
  std::string changed;
  std::string added;
  for (char letter = 'a'; letter < 'a' + 16; ++letter) {
    changed += std::string(changed.empty() ? "" : ", ") + "\"root['" + letter +
               "']\": {\"new_value\": 1, \"old_value\": 0}";
    added += std::string(", \"root['") + letter + "']\"";
  }
  const std::string report = "{\"values_changed\": {" + changed +
                             ", \"root[3]\": {\"new_value\": 3, \"old_value\": 0}, "
                             "\"root[99999999]\": {\"new_value\": 9, \"old_value\": 0}}, "
                             "\"dictionary_item_added\": [\"root[03]\", \"root[+99999999]\"" +
                             added + "]}";
  std::vector<std::string> lines;
  for (const char* position : {"[3]", "[99999999]"}) {
    const bool nine = position[1] == '9';
    lines.insert(lines.end(), {position, V + "- 0", V + (nine ? "+ 9" : "+ 3"), V + "+ <added>"});
  }
  for (char letter = 'a'; letter < 'a' + 16; ++letter) {
    lines.insert(lines.end(), {std::string(1, letter), V + "- 0", V + "+ 1", V + "+ <added>"});
  }
  // Neither tree has these positions: labels in byte order ("[" sorts before small letters).
  EXPECT_EQ(render(report, "null", "null"), joined(lines));
}

// Paths are read only as deep as the levels drawn (and one more, for the "..." line). An
// unreadable segment there drops its entry; one further down is never read, so its entry still
// counts as something below the limit.
TEST(render_pretty, paths_read_only_as_deep_as_drawn) {
  const std::string report =
      R"({"dictionary_item_added": ["root['a'][x][0]", "root['c']['d'][x]"]})";
  PrettyOptions options = plain();
  options.max_depth = 0;
  EXPECT_EQ(render(report, "null", "null", options), joined({"c", L + "..."}));
  options.max_depth = 1;
  EXPECT_EQ(render(report, "null", "null", options), "");
}

// Many changed items fill the list, so they are ordered through the positions; items beyond
// both lists are not drawn but still show their neighbours inside the list.
TEST(render_pretty, dense_list_with_items_beyond_it) {
  constexpr int kLength = 100;
  auto changed = [](int item) { return (item < 90 && item % 3 != 0) || item == 100 || item > 101; };
  std::string report = R"({"iterable_item_added": {)";
  bool first = true;
  for (int item = kLength + 5; item >= 0; --item) {
    if (!changed(item)) continue;
    report += std::string(first ? "" : ", ") + "\"root[" + std::to_string(item) + "]\": 7";
    first = false;
  }
  std::string list = "[";
  for (int item = 0; item < kLength; ++item) list += (item ? ", " : "") + std::to_string(item);
  // Context 1: positions 0 to 90 are changed or next to a change, 99 is next to item 100.
  std::vector<std::string> lines;
  for (int item = 0; item <= 90; ++item) {
    lines.push_back("[" + std::to_string(item) + "]");
    lines.push_back(V + (changed(item) ? "+ 7" : "= " + std::to_string(item)));
  }
  lines.insert(lines.end(), {"...", "[99]", V + "= 99"});
  PrettyOptions options = plain();
  options.context = 1;
  EXPECT_EQ(render(report + "}}", "[]", (list + "]").c_str(), options), joined(lines));
}

// The flat listing sorts headers from several sections, each already sorted, by their bytes;
// equal headers keep the order of the sections.
TEST(render_pretty, flat_listing_merges_sections) {
  const std::string report = R"({"values_changed": {"root['b']": {"new_value": 2, "old_value": 1},
                                                     "root['d']": {"new_value": 4, "old_value": 3}},
                                 "type_changes": {"root[3]": {"new_value": "x", "old_value": 1,
                                                  "new_type": "str", "old_type": "int"}},
                                 "dictionary_item_added": ["root['a']", "root['c']", "root[03]"],
                                 "iterable_item_removed": {"root['e']": 5, "root['B']": 6}})";
  PrettyOptions options = plain();
  options.path_header = true;
  EXPECT_EQ(render(report, R"({"a": 0})", R"({"a": 1, "c": 2})", options),
            joined({"B", V + "- 6", "[3]", V + "- (int) 1", V + "+ (str) 'x'", "[3]",
                    V + "+ <added>", "a", V + "+ 1", "b", V + "- 1", V + "+ 2", "c", V + "+ 2", "d",
                    V + "- 3", V + "+ 4", "e", V + "- 5"}));
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
