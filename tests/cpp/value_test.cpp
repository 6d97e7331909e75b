#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "literal.hpp"
#include "value/address_order.hpp"
#include "value/hash.hpp"
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

TEST(arena, rewinding_gives_back_what_was_allocated_since_the_mark) {
  value::Arena arena;
  void* first = arena.allocate(64, 8);
  const value::Arena::Mark mark = arena.mark();
  void* second = arena.allocate(64, 8);
  arena.rewind(mark);
  EXPECT_EQ(arena.allocate(64, 8), second);
  EXPECT_NE(first, second);
  // Once a later block was started, the mark's block is left as it is.
  const value::Arena::Mark old = arena.mark();
  void* big = arena.allocate(std::size_t{1} << 24, 8);
  arena.rewind(old);
  EXPECT_NE(arena.allocate(8, 8), old.cursor);
  EXPECT_NE(big, nullptr);
}

// Addresses over narrow and full 64-bit ranges, with repeats: the order is by address, and
// equal addresses keep their positions' order.
TEST(address_order, sorts_by_address_and_keeps_ties_in_order) {
  std::mt19937_64 random(20240611);
  for (std::uint64_t span : {std::uint64_t{1}, std::uint64_t{15}, std::uint64_t{1} << 20,
                             std::uint64_t{1} << 40, ~std::uint64_t{0}}) {
    for (std::size_t count : {0u, 1u, 2u, 3000u}) {
      std::vector<value::Placed> placed(count);
      for (std::size_t i = 0; i < count; ++i) {
        const std::uint64_t offset = span == ~std::uint64_t{0} ? random() : random() % (span + 1);
        placed[i] = {static_cast<std::uintptr_t>(0x7f0000000000ull + offset), i};
      }
      std::vector<value::Placed> expected = placed;
      std::stable_sort(expected.begin(), expected.end(),
                       [](const auto& a, const auto& b) { return a.address < b.address; });
      value::sort_by_address(placed);
      ASSERT_EQ(placed.size(), expected.size());
      for (std::size_t i = 0; i < count; ++i) {
        ASSERT_EQ(placed[i].address, expected[i].address) << span << " " << i;
        ASSERT_EQ(placed[i].index, expected[i].index) << span << " " << i;
      }
    }
  }
}

// Values that differ early and agree later hash apart, whatever comes later. The old mix let a
// last word equal to its key word wipe out everything before it (under the fixed key then, any
// record ending in 16646288086500911323), and xored a member's key word with the key's length,
// so {"a": 0} and {"`\u0000": 0} hashed alike under every key.
TEST(structural_hash, no_word_cancels_what_came_before) {
  const value::HashKey known{1, 2, 3};
  for (const value::HashKey* key : {&known, &value::process_hash_key()}) {
    const std::string tail = key == &known ? "2" : "16646288086500911323";
    std::set<std::uint64_t> hashes;
    for (int i = 0; i < 1024; ++i) {
      const std::string number = std::to_string(i);
      std::string swapped_keys = "{";
      for (int bit = 0; bit < 10; ++bit) {
        const char letter = static_cast<char>('a' + 2 * bit);
        swapped_keys +=
            (bit > 0 ? ", \"" : "\"") +
            ((i >> bit & 1) != 0 ? std::string{static_cast<char>(letter - 1)} + "\\u0000"
                                 : std::string{letter}) +
            "\": 0";
      }
      for (const std::string& json :
           {"[" + number + ", " + tail + "]", "{\"id\": " + number + ", \"z\": " + tail + "}",
            swapped_keys + "}"}) {
        hashes.insert(value::structural_hash(literal(json).root(), *key));
      }
    }
    EXPECT_EQ(hashes.size(), 3u * 1024);
  }
}

}  // namespace
}  // namespace hexalume
