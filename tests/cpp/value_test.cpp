#include <gtest/gtest.h>

#include <string>
#include <vector>

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

struct FloatCase {
  double number;
  const char* text;
};

class float_text : public ::testing::TestWithParam<FloatCase> {};

TEST_P(float_text, shortest_round_trip_layout) {
  EXPECT_EQ(number_text(make_float(GetParam().number)), GetParam().text);
}

// Values of every size are checked against Python's repr by tests/test_properties.py; these are
// the edges of the positional range (decimal exponents -5 and 15) and of the double range.
INSTANTIATE_TEST_SUITE_P(number_text, float_text,
                         ::testing::Values(FloatCase{0.00001, "0.00001"},
                                           FloatCase{9.999999999999999e-6, "9.999999999999999e-6"},
                                           FloatCase{1e15, "1000000000000000.0"},
                                           FloatCase{1e16, "1e+16"},
                                           FloatCase{9999999999999998.0, "9999999999999998.0"},
                                           FloatCase{-0.0, "-0.0"}, FloatCase{5e-324, "5e-324"}));

// make_signed keeps the invariant that non-negative integers are unsigned.
TEST(equality, signed_maker_of_a_non_negative_integer) {
  EXPECT_TRUE(value::equal(make_signed(7), make_unsigned(7)));
}

// Keys that agree in size or in their first eight bytes, on both sides of the size at which
// lookups stop scanning and search: every key is found by its exact bytes, read from a buffer
// that ends where the key ends, and near misses are not.
TEST(value, members_are_found_by_their_exact_bytes) {
  const std::vector<std::string> keys = {"",         "a",         "ab",        "abcdefg",
                                         "abcdefgh", "abcdefgi",  "abcdefghi", "abcdefghij",
                                         "b",        "abcdefgh1", "abcdefgh2", "zzzzzzzzzzzz"};
  for (std::size_t count : {1u, 5u, 12u}) {
    for (std::size_t copies : {1u, 3u}) {
      std::string json = "{";
      std::vector<std::string> present;
      for (std::size_t copy = 0; copy < copies; ++copy) {
        for (std::size_t i = 0; i < count; ++i) {
          present.push_back(keys[i] + (copy == 0 ? "" : std::string(copy, '~')));
          json += (json.size() > 1 ? ",\"" : "\"") + present.back() +
                  "\": " + std::to_string(present.size());
        }
      }
      const value::Value object = literal(json + "}");
      ASSERT_EQ(object.root().size(), present.size());
      for (std::size_t i = 0; i < present.size(); ++i) {
        const std::vector<char> exact(present[i].begin(), present[i].end());
        const value::Member* found =
            value::find_entry(object.root(), std::string_view(exact.data(), exact.size()));
        ASSERT_NE(found, nullptr) << present[i];
        EXPECT_EQ(found->key.string(), present[i]);
        EXPECT_EQ(found->value.unsigned_int, i + 1);
        EXPECT_TRUE(value::text_equals(found->key, present[i]));
        EXPECT_FALSE(value::text_equals(found->key, present[i] + "x"));
      }
      for (const char* absent : {"abcdefgh0", "abcdefg ", "c", "abcdefghijk", "a~~~~"}) {
        EXPECT_EQ(value::find_entry(object.root(), absent), nullptr) << absent << " " << count;
      }
    }
  }
}

}  // namespace
}  // namespace hexalume
