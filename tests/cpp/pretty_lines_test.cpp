#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "literal.hpp"
#include "pretty/compact.hpp"
#include "pretty/lines.hpp"
#include "pretty_support.hpp"
#include "value/value.hpp"

namespace hexalume {
namespace {

using pretty::Added;
using pretty::Ancestors;
using pretty::Changed;
using pretty::ChangeKind;
using pretty::Lines;
using pretty::PathSegment;
using pretty::Removed;
using pretty::TypeChanged;
using testing::index;
using testing::key;
using testing::literal;

struct IdentifierCase {
  std::string key;
  bool simple;
};

class simple_identifier : public ::testing::TestWithParam<IdentifierCase> {};

TEST_P(simple_identifier, classifies) {
  EXPECT_EQ(pretty::is_simple_identifier(GetParam().key), GetParam().simple) << GetParam().key;
}

INSTANTIATE_TEST_SUITE_P(
    compact, simple_identifier,
    ::testing::Values(IdentifierCase{"user_id", true}, IdentifierCase{"_x9", true},
                      IdentifierCase{"_", true}, IdentifierCase{"Z", true},
                      IdentifierCase{"9lives", false}, IdentifierCase{"my-key", false},
                      IdentifierCase{"a b", false}, IdentifierCase{"", false},
                      IdentifierCase{"\xc3\xa9", false}, IdentifierCase{"a\xc3\xa9", false},
                      IdentifierCase{"a.b", false}, IdentifierCase{"a$", false},
                      IdentifierCase{std::string("a\0", 2), false}));

struct CompactCase {
  std::vector<PathSegment> segments;
  std::string text;
};

class compact_text : public ::testing::TestWithParam<CompactCase> {};

TEST_P(compact_text, formats) {
  EXPECT_EQ(pretty::format_compact_segments(GetParam().segments), GetParam().text);
}

INSTANTIATE_TEST_SUITE_P(compact, compact_text,
                         ::testing::Values(CompactCase{{key("a"), index(0), key("b")}, "a[0].b"},
                                           CompactCase{{key("my key"), index(2)}, "['my key'][2]"},
                                           CompactCase{{index(3)}, "[3]"},
                                           CompactCase{{key("a"), key("b c")}, "a['b c']"},
                                           CompactCase{{key("it's")}, "['it's']"},
                                           CompactCase{{key("a\\b']")}, "['a\\b']']"},
                                           CompactCase{{index(0), key("x"), key("y")}, "[0].x.y"},
                                           CompactCase{{key(""), key("_")}, "['']._"},
                                           CompactCase{{index(18446744073709551615ULL)},
                                                       "[18446744073709551615]"},
                                           CompactCase{{}, ""}));

struct EscapeCase {
  std::string text;
  std::string escaped;
};

class escape_string : public ::testing::TestWithParam<EscapeCase> {};

TEST_P(escape_string, escapes_five_characters) {
  EXPECT_EQ(pretty::escape_string(GetParam().text), GetParam().escaped);
}

INSTANTIATE_TEST_SUITE_P(
    lines, escape_string,
    ::testing::Values(EscapeCase{"a'b\t\n", "a\\'b\\t\\n"}, EscapeCase{"\r", "\\r"},
                      EscapeCase{"\\", "\\\\"}, EscapeCase{"say \"hi\"", "say \"hi\""},
                      EscapeCase{"\f\v\x01", "\f\v\x01"}, EscapeCase{"", ""},
                      EscapeCase{"caf\xc3\xa9 \xe2\x94\x82", "caf\xc3\xa9 \xe2\x94\x82"},
                      EscapeCase{std::string("a\0b", 3), std::string("a\0b", 3)},
                      EscapeCase{"''", "\\'\\'"}));

struct ValueCase {
  const char* json;
  std::string text;
};

class format_value : public ::testing::TestWithParam<ValueCase> {};

TEST_P(format_value, literal_text) {
  EXPECT_EQ(pretty::format_value(literal(GetParam().json).root()), GetParam().text);
}

INSTANTIATE_TEST_SUITE_P(
    lines, format_value,
    ::testing::Values(ValueCase{"null", "None"}, ValueCase{"true", "True"},
                      ValueCase{"false", "False"}, ValueCase{"-7", "-7"},
                      ValueCase{"18446744073709551615", "18446744073709551615"},
                      ValueCase{"1.0", "1.0"}, ValueCase{"0.001", "0.001"},
                      ValueCase{"1e16", "1e+16"}, ValueCase{"1.5e-7", "1.5e-7"},
                      ValueCase{"-0.0", "-0.0"}, ValueCase{"\"a'b\\t\\n\"", "'a\\'b\\t\\n'"},
                      ValueCase{"[1, \"x\", {\"k\": null}]", "[1, 'x', {'k': None}]"},
                      ValueCase{"[]", "[]"}, ValueCase{"{}", "{}"},
                      ValueCase{"{\"b\": 1, \"a\": [2.5, []], \"B\": {}}",
                                "{'B': {}, 'a': [2.5, []], 'b': 1}"},
                      ValueCase{"{\"it's\": \"\\\\\"}", "{'it\\'s': '\\\\'}"}));

TEST(format_value, deep_nesting_prints_whole) {
  value::Value tree;
  value::Arena& arena = tree.arena();
  constexpr std::size_t kDepth = 20000;
  value::Node node = value::make_unsigned(1);
  for (std::size_t level = 0; level < kDepth; ++level) {
    value::Node* item = arena.allocate_nodes(1);
    *item = node;
    node = value::make_list(item, 1);
  }
  std::string text = pretty::format_value(node);
  EXPECT_EQ(text, std::string(kDepth, '[') + "1" + std::string(kDepth, ']'));
}

TEST(node_line, guides_and_connectors) {
  EXPECT_EQ(pretty::format_node_line(0, {true, false}, false, "top"), "top");
  EXPECT_EQ(pretty::format_node_line(1, {}, true, "a"), "\u2570\u2500\u2500 a");
  EXPECT_EQ(pretty::format_node_line(1, {}, false, "a"), "\u251c\u2500\u2500 a");
  EXPECT_EQ(pretty::format_node_line(3, {true, false}, true, "[2]"),
            "\u2502       \u2570\u2500\u2500 [2]");
}

TEST(branch_indent, continues_only_while_siblings_follow) {
  EXPECT_EQ(pretty::branch_indent(0, {}, false), "\u2502   ");
  EXPECT_EQ(pretty::branch_indent(0, {}, true), "\u2502   ");
  EXPECT_EQ(pretty::branch_indent(1, {}, false), "    ");
  EXPECT_EQ(pretty::branch_indent(1, {}, true), "\u2502   ");
  EXPECT_EQ(pretty::branch_indent(3, {false, true}, false), "    \u2502       ");
}

struct ChangeCase {
  const char* name;
  ChangeKind change;
  std::uint64_t depth;
  bool more_siblings;
  bool no_color;
  std::vector<std::string> lines;
};

void PrintTo(const ChangeCase& change, std::ostream* out) { *out << change.name; }

class change_lines : public ::testing::TestWithParam<ChangeCase> {};

TEST_P(change_lines, exact_text) {
  Lines lines;
  const ChangeCase& param = GetParam();
  pretty::append_change_lines(lines, param.depth, {}, param.more_siblings, param.change,
                              param.no_color);
  EXPECT_EQ(lines.text(), testing::joined(param.lines));
  EXPECT_EQ(lines.size(), param.lines.size());
}

const value::Node kOne = value::make_unsigned(1);
const value::Node kTwo = value::make_unsigned(2);
const value::Value kText = value::Value::string("1");

INSTANTIATE_TEST_SUITE_P(
    lines, change_lines,
    ::testing::Values(
        ChangeCase{"coloured_last_node",
                   Changed{kOne, kTwo},
                   1,
                   false,
                   false,
                   {"    \x1b[31m- 1\x1b[0m", "    \x1b[32m+ 2\x1b[0m"}},
        ChangeCase{"plain_last_node", Changed{kOne, kTwo}, 1, false, true, {"    - 1", "    + 2"}},
        ChangeCase{"top_level_last",
                   Changed{kOne, kTwo},
                   0,
                   false,
                   true,
                   {"\u2502   - 1", "\u2502   + 2"}},
        ChangeCase{
            "more_siblings", Changed{kOne, kTwo}, 2, true, true, {"\u2502   - 1", "\u2502   + 2"}},
        ChangeCase{"type_change",
                   TypeChanged{"int", "str", kOne, kText.root()},
                   0,
                   false,
                   true,
                   {"\u2502   - (int) 1", "\u2502   + (str) '1'"}},
        ChangeCase{"type_change_coloured",
                   TypeChanged{"int", "", kOne, kText.root()},
                   1,
                   false,
                   false,
                   {"    \x1b[31m- (int) 1\x1b[0m", "    \x1b[32m+ () '1'\x1b[0m"}},
        ChangeCase{"added_placeholder", Added{}, 1, false, false, {"    \x1b[32m+ <added>\x1b[0m"}},
        ChangeCase{
            "removed_placeholder", Removed{}, 1, false, false, {"    \x1b[31m- <removed>\x1b[0m"}},
        ChangeCase{"added_null", Added{value::make_null()}, 1, false, true, {"    + None"}},
        ChangeCase{"removed_value", Removed{kTwo}, 1, false, true, {"    - 2"}}),
    [](const ::testing::TestParamInfo<ChangeCase>& info) { return std::string(info.param.name); });

TEST(context_line, never_coloured) {
  Lines lines;
  pretty::append_context_line(lines, 1, {true}, true, kTwo);
  pretty::append_context_line(lines, 0, {}, false, kText.root());
  EXPECT_EQ(lines.text(), "\u2502   \u2502   = 2\n\u2502   = '1'");
}

}  // namespace
}  // namespace hexalume
