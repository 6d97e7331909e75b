#include <gtest/gtest.h>

#include <string>

#include "guard_support.hpp"
#include "literal.hpp"
#include "pretty/compact.hpp"
#include "pretty/lines.hpp"
#include "value/value.hpp"

// Identifiers of compact labels and value texts. How whole trees look (compact labels, escapes,
// guides, connectors, colours) is pinned through pretty() in tests/test_pretty.py.
namespace hexalume {
namespace {

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
    ::testing::Values(IdentifierCase{"_x9", true}, IdentifierCase{"9lives", false},
                      IdentifierCase{"", false}, IdentifierCase{"a\xc3\xa9", false},
                      IdentifierCase{"a.b", false}, IdentifierCase{std::string("a\0", 2), false}));

// What tests/test_pretty.py cannot show (it pins the escapes of every kind of character): bytes
// Python text does not hold, and sequences cut short at the end of the text.
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

INSTANTIATE_TEST_SUITE_P(lines, format_value,
                         ::testing::Values(ValueCase{"-0.0", "-0.0"}, ValueCase{"[]", "[]"},
                                           ValueCase{"{\"b\": 1, \"a\": [2.5, []], \"B\": {}}",
                                                     "{'B': {}, 'a': [2.5, []], 'b': 1}"},
                                           ValueCase{"{\"it's\": \"\\\\\"}",
                                                     "{'it\\'s': '\\\\'}"}));

TEST(format_value, deep_nesting_prints_whole) {
  value::Arena arena;
  constexpr std::size_t kDepth = 20000;
  const value::Node node = testing::nested_lists(arena, kDepth, value::make_unsigned(1));
  EXPECT_EQ(pretty::format_value(node), std::string(kDepth, '[') + "1" + std::string(kDepth, ']'));
}

}  // namespace
}  // namespace hexalume
