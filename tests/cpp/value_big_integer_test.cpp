#include <gtest/gtest.h>

#include <string>

#include "literal.hpp"
#include "value/big_unsigned.hpp"
#include "value/exact_number.hpp"
#include "value/hash.hpp"
#include "value/number_text.hpp"
#include "value/value.hpp"

// Integers beyond 64 bits: the Big representation, its text, equality and hash, and the exact
// arithmetic behind the numeric rules and the Python conversion.
namespace hexalume {
namespace {

using testing::literal;
using value::Arena;
using value::BigUnsigned;
using value::make_big_integer;
using value::Node;
using value::NumberRep;

struct MakerCase {
  const char* text;
  NumberRep rep;
  const char* number_text;
};

class make_big_integer_rep : public ::testing::TestWithParam<MakerCase> {};

// Only integers outside both 64-bit ranges become Big; "-0" is the unsigned zero.
TEST_P(make_big_integer_rep, fits_or_not) {
  Arena arena;
  const Node node = make_big_integer(arena, GetParam().text);
  EXPECT_EQ(node.kind, value::Kind::Number);
  EXPECT_EQ(node.rep, GetParam().rep);
  EXPECT_EQ(value::number_text(node), GetParam().number_text);
}

INSTANTIATE_TEST_SUITE_P(
    value, make_big_integer_rep,
    ::testing::Values(MakerCase{"0", NumberRep::Unsigned, "0"},
                      MakerCase{"-0", NumberRep::Unsigned, "0"},
                      MakerCase{"18446744073709551615", NumberRep::Unsigned,
                                "18446744073709551615"},
                      MakerCase{"18446744073709551616", NumberRep::Big, "18446744073709551616"},
                      MakerCase{"-9223372036854775808", NumberRep::Signed, "-9223372036854775808"},
                      MakerCase{"-9223372036854775809", NumberRep::Big, "-9223372036854775809"},
                      MakerCase{"-18446744073709551615", NumberRep::Big, "-18446744073709551615"}));

struct EqualityCase {
  const char* left;
  const char* right;
  bool equal;
};

class big_equality : public ::testing::TestWithParam<EqualityCase> {};

TEST_P(big_equality, by_value_never_a_float) {
  const value::Value left = literal(GetParam().left);
  const value::Value right = literal(GetParam().right);
  EXPECT_EQ(value::equal(left.root(), right.root()), GetParam().equal);
  if (GetParam().equal) {
    EXPECT_EQ(value::structural_hash(left.root()), value::structural_hash(right.root()));
  }
}

INSTANTIATE_TEST_SUITE_P(
    value, big_equality,
    ::testing::Values(
        EqualityCase{"123456789012345678901234567890", "123456789012345678901234567891", false},
        EqualityCase{"100000000000000000000", "1e20", false},
        EqualityCase{"18446744073709551616", "18446744073709551615", false},
        // Items and member values: texts, identical scalars and the rest each take their own way.
        EqualityCase{"{\"x\": -0.0, \"y\": [0.0]}", "{\"x\": 0.0, \"y\": [-0.0]}", true},
        EqualityCase{"[\"abcdefghij\", true, null]", "[\"abcdefghij\", true, null]", true},
        EqualityCase{"[\"abcdefghij\"]", "[\"abcdefghik\"]", false},
        EqualityCase{"[true]", "[1]", false}, EqualityCase{"[1]", "[1.0]", false},
        EqualityCase{"[-1, 18446744073709551615]", "[-1, 18446744073709551615]", true}));

// Decimal text is written by splitting in halves and multiplying in base 10^9; schoolbook reading
// back must give the same digits at every size around the splits, carries included.
TEST(big_unsigned, decimal_text_reads_back) {
  std::string digits;
  for (std::size_t size : {617u, 618u, 5000u, 20000u}) {
    for (const char fill : {'9', '1', '7'}) {
      digits.assign(size, fill);
      for (std::size_t i = 3; i < size; i += 97) digits[i] = static_cast<char>('0' + i % 10);
      std::string back;
      BigUnsigned::from_decimal(digits).append_decimal(back);
      EXPECT_EQ(back, digits) << size << fill;
    }
  }
  std::string power;
  BigUnsigned::power_of_ten(12000).append_decimal(power);
  EXPECT_EQ(power, "1" + std::string(12000, '0'));
}

TEST(exact_number, decimal_expansion_and_rounding) {
  value::DecimalNumber tenth = value::exact_decimal(value::make_float(0.1));
  EXPECT_EQ(tenth.digits, "1000000000000000055511151231257827021181583404541015625");
  EXPECT_EQ(tenth.exponent, -55);
  // A carry that lengthens the digits: 999 to 2 digits is 100 * 10^1.
  value::DecimalNumber rounded = value::round_to_significant_digits({false, "999", 0}, 2);
  EXPECT_EQ(rounded.digits, "100");
  EXPECT_EQ(rounded.exponent, 1);
  EXPECT_TRUE(value::round_to_significant_digits({false, "49", 0}, 0).digits.empty());
}

}  // namespace
}  // namespace hexalume
