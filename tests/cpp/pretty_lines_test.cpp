#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "guard_support.hpp"
#include "literal.hpp"
#include "path_support.hpp"
#include "pretty/compact.hpp"
#include "pretty/lines.hpp"
#include "value/value.hpp"

// Compact labels, value texts and change lines. How whole trees look (guides, connectors,
// colours of ordinary changes) is pinned through pretty() in tests/test_pretty.py.
namespace hexalume {
namespace {

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
                      IdentifierCase{"Z", true}, IdentifierCase{"9lives", false},
                      IdentifierCase{"my-key", false}, IdentifierCase{"a b", false},
                      IdentifierCase{"", false}, IdentifierCase{"\xc3\xa9", false},
                      IdentifierCase{"a\xc3\xa9", false}, IdentifierCase{"a.b", false},
                      IdentifierCase{std::string("a\0", 2), false}));

struct CompactCase {
  std::vector<testing::Segment> segments;
  std::string text;
};

class compact_text : public ::testing::TestWithParam<CompactCase> {};

TEST_P(compact_text, formats) {
  value::Arena arena;
  const std::vector<engine::Position> chain = testing::positions_of(GetParam().segments, arena);
  std::string text;
  for (std::size_t at = 0; at < chain.size(); ++at) {
    pretty::append_compact_segment(text, chain[at], at <= 1);
  }
  EXPECT_EQ(text, GetParam().text);
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

// What tests/test_pretty.py cannot show: bytes Python text does not hold, and sequences cut
// short at the end of the text.
struct EscapeCase {
  std::string text;
  std::string value;  // between the quotes of a string value
  std::string label;  // as a key in a label
};

class escaping : public ::testing::TestWithParam<EscapeCase> {};

TEST_P(escaping, value_and_label) {
  EXPECT_EQ(pretty::escape_string(GetParam().text), GetParam().value);
  std::string label;
  pretty::append_label_text(label, GetParam().text);
  EXPECT_EQ(label, GetParam().label);
}

INSTANTIATE_TEST_SUITE_P(
    lines, escaping,
    ::testing::Values(
        EscapeCase{"plain caf\xc3\xa9 \xe2\x94\x82", "plain caf\xc3\xa9 \xe2\x94\x82",
                   "plain caf\xc3\xa9 \xe2\x94\x82"},
        EscapeCase{"\t\n\r'\\\"", "\\t\\n\\r\\'\\\\\"", "\\x09\\x0a\\x0d'\\\""},
        EscapeCase{std::string("\0\x01\x1b[2J\x1f\x7f ~", 10), "\\x00\\x01\\x1b[2J\\x1f\\x7f ~",
                   "\\x00\\x01\\x1b[2J\\x1f\\x7f ~"},
        // C1 controls are two bytes, C2 80 to C2 9F; C2 A0 (no-break space) is text.
        EscapeCase{"\xc2\x80\xc2\x9b\xc2\x9f\xc2\xa0", "\\x80\\x9b\\x9f\xc2\xa0",
                   "\\x80\\x9b\\x9f\xc2\xa0"},
        // Bidirectional controls.
        EscapeCase{"\xe2\x80\x8e\xe2\x80\x8f\xe2\x80\xaa\xe2\x80\xae\xe2\x81\xa6\xe2\x81\xa9",
                   "\\u200e\\u200f\\u202a\\u202e\\u2066\\u2069",
                   "\\u200e\\u200f\\u202a\\u202e\\u2066\\u2069"},
        // Format characters and separators in two to four bytes (U+200D, U+2029, U+206A, U+00AD,
        // U+061C, U+FEFF, U+E0041); U+202F, U+061B and U+1F600 around them are text.
        EscapeCase{"\xe2\x80\x8d\xe2\x80\xa9\xe2\x80\xaf\xe2\x81\xaa",
                   "\\u200d\\u2029\xe2\x80\xaf\\u206a", "\\u200d\\u2029\xe2\x80\xaf\\u206a"},
        EscapeCase{"\xc2\xad\xd8\x9b\xd8\x9c\xef\xbb\xbf\xf0\x9f\x98\x80\xf3\xa0\x81\x81",
                   "\\u00ad\xd8\x9b\\u061c\\ufeff\xf0\x9f\x98\x80\\U000e0041",
                   "\\u00ad\xd8\x9b\\u061c\\ufeff\xf0\x9f\x98\x80\\U000e0041"},
        // Not UTF-8: U+200B written in four bytes, a surrogate, a tag character cut short.
        EscapeCase{"\xf0\x82\x80\x8b\xed\xa0\x80\xf3\xa0\x81",
                   "\xf0\x82\x80\x8b\xed\xa0\x80\xf3\xa0\x81",
                   "\xf0\x82\x80\x8b\xed\xa0\x80\xf3\xa0\x81"},
        // Cut short or not UTF-8: copied as they are.
        EscapeCase{"a\xc2", "a\xc2", "a\xc2"}, EscapeCase{"\xe2\x80", "\xe2\x80", "\xe2\x80"},
        EscapeCase{"\x80\x9b\xe2\xc2\x85", "\x80\x9b\xe2\\x85", "\x80\x9b\xe2\\x85"}));

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
    ::testing::Values(ValueCase{"null", "None"}, ValueCase{"false", "False"}, ValueCase{"-7", "-7"},
                      ValueCase{"1.0", "1.0"}, ValueCase{"-0.0", "-0.0"}, ValueCase{"[]", "[]"},
                      ValueCase{"{}", "{}"},
                      ValueCase{"{\"b\": 1, \"a\": [2.5, []], \"B\": {}}",
                                "{'B': {}, 'a': [2.5, []], 'b': 1}"},
                      ValueCase{"{\"it's\": \"\\\\\"}", "{'it\\'s': '\\\\'}"}));

TEST(format_value, deep_nesting_prints_whole) {
  value::Arena arena;
  constexpr std::size_t kDepth = 20000;
  const value::Node node = testing::nested_lists(arena, kDepth, value::make_unsigned(1));
  EXPECT_EQ(pretty::format_value(node), std::string(kDepth, '[') + "1" + std::string(kDepth, ']'));
}

// Placeholders, present nulls and type names as given; a comparison never produces the first two.
TEST(change_lines, placeholders_and_type_names) {
  pretty::Lines lines;
  pretty::append_change_lines(lines, 1, {}, false, pretty::Added{}, false);
  pretty::append_change_lines(lines, 1, {}, true, pretty::Removed{}, false);
  pretty::append_change_lines(lines, 0, {}, false, pretty::Added{value::make_null()}, true);
  const value::Value text = value::Value::string("1");
  pretty::append_change_lines(lines, 2, {false}, false,
                              pretty::TypeChanged{"int", "", value::make_unsigned(1), text.root()},
                              false);
  EXPECT_EQ(lines.text(),
            testing::joined({"    \x1b[32m+ <added>\x1b[0m", "\u2502   \x1b[31m- <removed>\x1b[0m",
                             "\u2502   + None", "        \x1b[31m- (int) 1\x1b[0m",
                             "        \x1b[32m+ () '1'\x1b[0m"}));
  EXPECT_EQ(lines.size(), 5u);
}

}  // namespace
}  // namespace hexalume
