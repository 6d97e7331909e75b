#include <gtest/gtest.h>

// g++ 12 reports a false -Wrestrict on "text" + std::string (GCC bug 105651).
#pragma GCC diagnostic ignored "-Wrestrict"

#include <string>
#include <vector>

#include "literal.hpp"
#include "pretty/change_tree.hpp"
#include "pretty/layout.hpp"
#include "pretty/options.hpp"
#include "pretty_support.hpp"
#include "value/internal_error.hpp"

namespace hexalume {
namespace {

using pretty::PrettyOptions;
using testing::joined;
using testing::literal;

// Guides and connectors, so that expected trees stay readable.
const std::string V = "\u2502   ";            // vertical guide
const std::string T = "\u251c\u2500\u2500 ";  // branch connector
const std::string L = "\u2570\u2500\u2500 ";  // last connector

PrettyOptions plain() {
  PrettyOptions options;
  options.no_color = true;
  return options;
}
PrettyOptions with_context(std::uint64_t context) {
  PrettyOptions options = plain();
  options.context = context;
  return options;
}
PrettyOptions compact() {
  PrettyOptions options = plain();
  options.compact = true;
  return options;
}

std::string render(const char* report, const char* t1, const char* t2, PrettyOptions options) {
  value::Value report_value = literal(report);
  value::Value old_value = literal(t1);
  value::Value new_value = literal(t2);
  return pretty::render_pretty(report_value.root(), old_value.root(), new_value.root(), options);
}

struct RenderCase {
  const char* name;
  const char* report;
  const char* t1;
  const char* t2;
  PrettyOptions options;
  std::vector<std::string> lines;  // empty: the empty text
};

void PrintTo(const RenderCase& render_case, std::ostream* out) { *out << render_case.name; }

class render_pretty : public ::testing::TestWithParam<RenderCase> {};

TEST_P(render_pretty, exact_text) {
  const RenderCase& param = GetParam();
  EXPECT_EQ(render(param.report, param.t1, param.t2, param.options), joined(param.lines));
}

// A report whose values are taken from t1 / t2 ("cfg", "items", "name").
constexpr const char* kWorkedReport =
    R"({"values_changed": {"root['cfg']['a']['b']": {"new_value": 2, "old_value": 1},
                           "root['items'][2]": {"new_value": 30, "old_value": 3},
                           "root['name']": {"new_value": "y", "old_value": "x"}}})";
constexpr const char* kWorkedT1 = R"({"cfg": {"a": {"b": 1}}, "items": [1, 2, 3, 4, 5],
                                      "name": "x"})";
constexpr const char* kWorkedT2 = R"({"cfg": {"a": {"b": 2}}, "items": [1, 2, 30, 4, 5],
                                      "name": "y"})";

// Lists of ten with changes at the positions named in the report.
constexpr const char* kTen = "[0, 1, 2, 3, 4, 5, 6, 7, 8, 9]";

INSTANTIATE_TEST_SUITE_P(
    tree, render_pretty,
    ::testing::Values(
        RenderCase{"compact_label_reaches_below_depth_limit",
                   kWorkedReport,
                   kWorkedT1,
                   kWorkedT2,
                   [] {
                     PrettyOptions options = compact();
                     options.max_depth = 0;
                     return options;
                   }(),
                   {"cfg.a.b", V + "- 1", V + "+ 2", "items[2]", V + "- 3", V + "+ 30", "name",
                    V + "- 'x'", V + "+ 'y'"}},
        RenderCase{"list_context_two_with_gap",
                   R"({"values_changed": {"root[1]": {"new_value": 5, "old_value": 1},
                                          "root[8]": {"new_value": 5, "old_value": 8}}})",
                   kTen,
                   kTen,
                   with_context(2),
                   {"[0]", V + "= 0", "[1]", V + "- 1", V + "+ 1", "[2]", V + "= 2", "[3]",
                    V + "= 3", "...", "[6]", V + "= 6", "[7]", V + "= 7", "[8]", V + "- 8",
                    V + "+ 8", "[9]", V + "= 9"}},
        RenderCase{"huge_context_shows_everything",
                   R"({"iterable_item_added": {"root[1]": 0}})",
                   "[7, 8]",
                   "[7, 8]",
                   with_context(UINT64_MAX),
                   {"[0]", V + "= 7", "[1]", V + "+ 8"}},
        RenderCase{"context_value_from_old_list",
                   R"({"iterable_item_removed": {"root['l'][4]": 0}})",
                   R"({"l": [0, 1, 2, "old", 4]})",
                   R"({"l": [0, 1, 2]})",
                   with_context(1),
                   {"l", T + "[3]", V + "= 'old'", L + "[4]", "    - 4"}},
        RenderCase{"index_beyond_both_lists_not_drawn",
                   R"({"iterable_item_added": {"root[1]": 1, "root[7]": 7}})",
                   "[0]",
                   "[0, 1]",
                   plain(),
                   {"[1]", V + "+ 1"}},
        RenderCase{"unknown_key_under_object_not_drawn",
                   R"({"dictionary_item_added": ["root['ghost']", "root[0]", "root['a']"]})",
                   R"({"a": 1})",
                   R"({"a": 2})",
                   plain(),
                   {"a", V + "+ 2"}},
        RenderCase{"fallback_orders_labels_by_bytes",
                   R"({"dictionary_item_added": ["root['x']['a']", "root['x'][2]",
                                                 "root['x']['B']", "root['x'][10]"]})",
                   "{}",
                   "{}",
                   plain(),
                   {"x", T + "B", V + "+ <added>", T + "[10]", V + "+ <added>", T + "[2]",
                    V + "+ <added>", L + "a", "    + <added>"}},
        RenderCase{"compact_stops_at_change",
                   R"({"values_changed": {"root['a']": {"new_value": 1, "old_value": 0},
                                          "root['a']['b']": {"new_value": 1, "old_value": 0}}})",
                   "null",
                   "null",
                   compact(),
                   {"a", V + "- 0", V + "+ 1", L + "b", "    - 0", "    + 1"}},
        RenderCase{"compact_chain_then_tree",
                   R"({"dictionary_item_added": ["root['p']['q']['x']", "root['p']['q']['y']"]})",
                   R"({"p": {"q": {}}})",
                   R"({"p": {"q": {"x": 1, "y": 2}}})",
                   compact(),
                   {"p.q", T + "x", V + "+ 1", L + "y", "    + 2"}},
        RenderCase{"root_change_with_children",
                   R"({"type_changes": {"root": {"new_type": "list", "old_type": "dict",
                                                 "new_value": [], "old_value": {}}},
                       "dictionary_item_removed": ["root['k']"]})",
                   R"({"k": 1})",
                   "[]",
                   plain(),
                   {"root", V + "- (dict) {'k': 1}", V + "+ (list) []", "k", V + "- 1"}}),
    [](const ::testing::TestParamInfo<RenderCase>& info) { return std::string(info.param.name); });

INSTANTIATE_TEST_SUITE_P(
    odd_reports, render_pretty,
    ::testing::Values(
        RenderCase{"not_an_object", R"(["root['a']"])", "null", "null", plain(), {}},
        RenderCase{"empty_object", "{}", "null", "null", plain(), {}},
        RenderCase{"empty_sections",
                   R"({"values_changed": {}, "dictionary_item_added": [], "type_changes": {}})",
                   "null",
                   "null",
                   plain(),
                   {}},
        RenderCase{"wrong_section_shapes",
                   R"({"values_changed": "root['a']", "type_changes": ["root['a']"],
                       "dictionary_item_added": {"root['a']": 1},
                       "iterable_item_added": ["root[0]"],
                       "iterable_item_removed": {"root['k']": 5}})",
                   "null",
                   "null",
                   plain(),
                   {"k", V + "- 5"}},
        RenderCase{"unreadable_paths_skipped",
                   R"({"dictionary_item_added": ["root['a", "Root['b']", "root[-1]", "root['ok']"],
                       "values_changed": {"root[x]": {"new_value": 1, "old_value": 0}}})",
                   "null",
                   "null",
                   plain(),
                   {"ok", V + "+ <added>"}},
        RenderCase{"non_string_path_elements_skipped",
                   R"({"values_changed": [1, null, "root['a']", ["root['b']"]],
                       "dictionary_item_removed": [{"root['c']": 1}, "root['d']"]})",
                   R"({"a": 1, "d": 7})",
                   R"({"a": 2})",
                   plain(),
                   {"a", V + "- 1", V + "+ 2", "d", V + "- 7"}},
        RenderCase{"path_list_unresolved_is_none",
                   R"({"values_changed": ["root['gone']"]})",
                   R"({})",
                   R"({"gone": 3})",
                   plain(),
                   {"gone", V + "- None", V + "+ 3"}},
        RenderCase{"missing_type_names_unknown",
                   R"({"type_changes": {"root['x']": {"new_type": 5, "old_value": 1,
                                                      "new_value": "1"}}})",
                   "null",
                   "null",
                   plain(),
                   {"x", V + "- (unknown) 1", V + "+ (unknown) '1'"}},
        RenderCase{
            "entry_not_an_object",
            R"({"type_changes": {"root['x']": 3},
                       "values_changed": {"root['y']": [1, 2]}})",
            "null",
            "null",
            plain(),
            {"x", V + "- (unknown) None", V + "+ (unknown) None", "y", V + "- None", V + "+ None"}},
        RenderCase{"tree_values_win_over_report_copies",
                   R"({"values_changed": {"root['a']": {"new_value": "copy", "old_value": "copy"}},
                       "iterable_item_added": {"root['l'][0]": "copy"}})",
                   R"({"a": null, "l": []})",
                   R"({"a": 2, "l": ["tree"]})",
                   plain(),
                   {"a", V + "- None", V + "+ 2", "l", L + "[0]", "    + 'tree'"}},
        RenderCase{"report_copy_when_tree_lacks_item",
                   R"({"iterable_item_added": {"root[3]": "copy"},
                       "iterable_item_removed": {"root[5]": null}})",
                   "null",
                   "null",
                   plain(),
                   {"[3]", V + "+ 'copy'", "[5]", V + "- None"}},
        RenderCase{"keys_with_odd_bytes",
                   R"({"dictionary_item_added": ["root['a\tb']", "root['it's']",
                                                 "root['x']['y']"]})",
                   R"({})",
                   R"({"a\tb": "\n", "it's": "\\", "x']['y": 1, "x": {"y": 2}})",
                   plain(),
                   {"a\tb", V + "+ '\\n'", "it's", V + "+ '\\\\'", "x", L + "y", "    + 2"}}),
    [](const ::testing::TestParamInfo<RenderCase>& info) { return std::string(info.param.name); });

TEST(render_pretty, node_without_segment_is_internal_error) {
  std::vector<pretty::PrettyNode> children(1);
  const value::Node null;
  const PrettyOptions options = plain();
  const pretty::RenderContext context{null, null, options};
  pretty::Ancestors ancestors;
  pretty::Lines lines;
  try {
    pretty::render_children(children, 0, ancestors, {&null, &null}, context, lines);
    FAIL() << "no error raised";
  } catch (const value::InternalError& error) {
    EXPECT_STREQ(error.what(), "non-root node must have a segment");
  }
}

TEST(render_pretty, compact_chain_skips_missing_segments) {
  pretty::PrettyNode start(pretty::PathSegment::make_key("a"));
  start.children.emplace_back();  // no segment
  start.children.back().children.emplace_back(pretty::PathSegment::make_index(4));
  start.children.back().children.back().changes.push_back(pretty::Added{});
  pretty::CompactChain chain = pretty::compact_chain(start, {});
  EXPECT_EQ(chain.label, "a[4]");
  EXPECT_EQ(chain.end, &start.children.back().children.back());
}

// A path as deep as the deepest documents: the tree is built and torn down without
// recursing per level, and the layout stops at the depth limit.
TEST(render_pretty, very_deep_path) {
  constexpr int kDepth = 10000;
  std::string path = "root";
  for (int level = 0; level < kDepth; ++level) path += "['k']";
  std::string report = R"({"dictionary_item_added": [")" + path + R"("]})";
  std::string text = render(report.c_str(), "null", "null", plain());
  EXPECT_EQ(text,
            joined({"k", L + "k", "    " + L + "k", "        " + L + "k", "            " + L + "k",
                    "                " + L + "k", "                    " + L + "..."}));

  std::string label = "k";
  for (int level = 1; level < kDepth; ++level) label += ".k";
  EXPECT_EQ(render(report.c_str(), "null", "null", compact()), label + "\n" + V + "+ <added>");
}

// One list level with many changed items stays linear: each item is found through the index.
TEST(render_pretty, wide_list) {
  constexpr int kItems = 20000;
  std::string report = R"({"iterable_item_added": {)";
  std::string list = "[";
  for (int item = 0; item < kItems; ++item) {
    if (item != 0) {
      report += ", ";
      list += ", ";
    }
    report += "\"root[" + std::to_string(item) + "]\": 0";
    list += std::to_string(item);
  }
  report += "}}";
  list += "]";
  std::string text = render(report.c_str(), "[]", list.c_str(), plain());
  std::vector<std::string> lines;
  for (int item = 0; item < kItems; ++item) {
    lines.push_back("[" + std::to_string(item) + "]");
    lines.push_back(V + "+ " + std::to_string(item));
  }
  EXPECT_EQ(text, joined(lines));
}

TEST(build_change_tree, children_found_by_segment) {
  std::vector<pretty::ChangeEntry> entries;
  for (int round = 0; round < 2; ++round) {
    for (std::uint64_t at = 0; at < 50; ++at) {
      entries.push_back({{pretty::PathSegment::make_index(at)}, pretty::Added{}});
      entries.push_back({{pretty::PathSegment::make_key(std::to_string(at))}, pretty::Removed{}});
    }
  }
  pretty::PrettyNode root = pretty::build_change_tree(entries);
  ASSERT_EQ(root.children.size(), 100u);
  for (std::size_t at = 0; at < 100; ++at) {
    const pretty::PrettyNode& child = root.children[at];
    EXPECT_EQ(*child.segment, at % 2 == 0 ? pretty::PathSegment::make_index(at / 2)
                                          : pretty::PathSegment::make_key(std::to_string(at / 2)));
    EXPECT_EQ(child.changes.size(), 2u);
  }
}

}  // namespace
}  // namespace hexalume
