#include <gtest/gtest.h>

#include <charconv>
#include <cmath>
#include <limits>

#include "literal.hpp"
#include "value/number_text.hpp"
#include "value/value.hpp"

namespace hexalume {
namespace {

using testing::literal;
using value::make_float;
using value::make_signed;
using value::make_unsigned;
using value::number_text;

TEST(number_text, integers) {
  EXPECT_EQ(number_text(make_unsigned(0)), "0");
  EXPECT_EQ(number_text(make_unsigned(9007199254740992ULL)), "9007199254740992");
  EXPECT_EQ(number_text(make_unsigned(std::numeric_limits<std::uint64_t>::max())),
            "18446744073709551615");
  EXPECT_EQ(number_text(make_signed(-5)), "-5");
  EXPECT_EQ(number_text(make_signed(std::numeric_limits<std::int64_t>::min())),
            "-9223372036854775808");
}

struct FloatCase {
  double number;
  const char* text;
};

class float_text : public ::testing::TestWithParam<FloatCase> {};

TEST_P(float_text, shortest_round_trip_layout) {
  EXPECT_EQ(number_text(make_float(GetParam().number)), GetParam().text);
}

INSTANTIATE_TEST_SUITE_P(
    number_text, float_text,
    ::testing::Values(
        FloatCase{1.0, "1.0"}, FloatCase{0.5, "0.5"}, FloatCase{123.25, "123.25"},
        FloatCase{0.00001, "0.00001"}, FloatCase{1e15, "1000000000000000.0"},
        FloatCase{1e16, "1e+16"}, FloatCase{1.5e-7, "1.5e-7"}, FloatCase{1e-6, "1e-6"},
        FloatCase{1e-7, "1e-7"}, FloatCase{1.7976931348623157e308, "1.7976931348623157e+308"},
        FloatCase{0.0, "0.0"}, FloatCase{-0.0, "-0.0"}, FloatCase{-2.5, "-2.5"},
        FloatCase{0.1 + 0.2, "0.30000000000000004"},
        FloatCase{9007199254740992.0, "9007199254740992.0"},
        FloatCase{18446744073709551616.0, "1.8446744073709552e+19"}, FloatCase{5e-324, "5e-324"},
        FloatCase{123456789012345.6, "123456789012345.6"},
        // the edges of the positional range, decimal exponents -5 and 15
        FloatCase{0.000012345, "0.000012345"},
        FloatCase{9.999999999999999e-6, "9.999999999999999e-6"},
        FloatCase{9999999999999998.0, "9999999999999998.0"},
        FloatCase{1234500000000000.0, "1234500000000000.0"}, FloatCase{-0.000025, "-0.000025"},
        FloatCase{-1e-7, "-1e-7"}, FloatCase{1e100, "1e+100"}, FloatCase{-2.5e-100, "-2.5e-100"},
        FloatCase{2.2250738585072014e-308, "2.2250738585072014e-308"},
        FloatCase{123456.789, "123456.789"}, FloatCase{100.0, "100.0"}));

TEST(number_text, float_reads_back) {
  for (double number :
       {0.1, 1.0 / 3.0, 2.0 / 3.0 * 1e-300, 6.02214076e23, 4.9406564584124654e-324}) {
    std::string text = number_text(make_float(number));
    double read_back = 0;
    std::from_chars(text.data(), text.data() + text.size(), read_back);
    EXPECT_EQ(read_back, number) << text;
  }
}

TEST(equality, numbers_need_same_representation) {
  EXPECT_NE(literal("1"), literal("1.0"));
  EXPECT_EQ(literal("0.0"), literal("-0.0"));
  EXPECT_EQ(literal("-3"), literal("-3"));
  EXPECT_NE(literal("true"), literal("1"));
  EXPECT_EQ(literal("null"), literal("null"));
}

TEST(equality, integers_by_representation_and_value) {
  EXPECT_FALSE(value::equal(make_unsigned(5), make_signed(-5)));
  EXPECT_FALSE(value::equal(make_unsigned(9007199254740992ULL), make_float(9007199254740992.0)));
  EXPECT_FALSE(value::equal(make_unsigned(std::numeric_limits<std::uint64_t>::max()),
                            make_unsigned(std::numeric_limits<std::uint64_t>::max() - 1)));
  // make_signed keeps the invariant that non-negative integers are unsigned.
  EXPECT_TRUE(value::equal(make_signed(7), make_unsigned(7)));
  EXPECT_TRUE(value::equal(make_signed(std::numeric_limits<std::int64_t>::min()),
                           make_signed(std::numeric_limits<std::int64_t>::min())));
}

TEST(equality, strings_by_bytes_and_containers_deeply) {
  EXPECT_EQ(literal("\"\""), literal("\"\""));
  EXPECT_NE(literal("\"ab\""), literal("\"abc\""));
  EXPECT_NE(literal("\"a\\0b\""), literal("\"a\\0c\""));
  EXPECT_NE(literal("[1, 2]"), literal("[1, 2, 3]"));
  EXPECT_NE(literal(R"({"a": 1})"), literal(R"({"b": 1})"));
  EXPECT_NE(literal(R"({"a": [1.0]})"), literal(R"({"a": [1]})"));
  EXPECT_EQ(literal("\"\\0a\""), literal("\"\\0a\""));
  EXPECT_NE(literal("\"\\0a\""), literal("\"\\0b\""));
  EXPECT_NE(literal("\"a\""), literal("\"A\""));
  EXPECT_EQ(literal(R"({"b": [1, {"c": null}], "a": 2})"),
            literal(R"({"a": 2, "b": [1, {"c": null}]})"));
  EXPECT_NE(literal(R"({"a": 2})"), literal(R"({"a": 2, "b": 1})"));
  EXPECT_NE(literal("[1, 2]"), literal("[2, 1]"));
}

TEST(value, objects_iterate_keys_in_byte_order_and_keep_last_duplicate) {
  value::Value object = literal(R"({"b": 1, "a": 2, "B": 3, "é": 4, "a": 5})");
  std::vector<std::string> keys;
  for (const auto& member : object.root().object()) keys.emplace_back(member.key.string());
  EXPECT_EQ(keys, (std::vector<std::string>{"B", "a", "b", "é"}));
  EXPECT_EQ(value::find_member(object.root(), "a")->unsigned_int, 5u);
  EXPECT_EQ(value::find_member(object.root(), "c"), nullptr);
}

TEST(value, copies_are_deep_and_independent) {
  value::Value original = literal(R"({"k": ["text", {"x": 1.5}]})");
  value::Value copy = original;
  EXPECT_EQ(copy, original);
  EXPECT_NE(copy.root().members, original.root().members);
  value::Value moved = std::move(copy);
  EXPECT_EQ(moved, original);
  value::Value holder = value::Value::string("root");
  value::Node adopted = holder.adopt(std::move(moved));
  EXPECT_TRUE(value::equal(adopted, original.root()));
}

TEST(value, large_sorted_object_uses_stable_sort) {
  std::string json = "{";
  for (int i = 40; i >= 0; --i)
    json += "\"k" + std::to_string(i) + "\": " + std::to_string(i) + ",";
  json += "\"k7\": 99}";
  value::Value object = literal(json);
  EXPECT_EQ(object.root().size(), 41u);
  EXPECT_EQ(value::find_member(object.root(), "k7")->unsigned_int, 99u);
  EXPECT_EQ(object.root().object()[0].key.string(), "k0");
  EXPECT_EQ(object.root().object()[1].key.string(), "k1");
  EXPECT_EQ(object.root().object()[2].key.string(), "k10");
}

}  // namespace
}  // namespace hexalume
