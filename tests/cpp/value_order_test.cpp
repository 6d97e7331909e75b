#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "value/value.hpp"

namespace hexalume {
namespace {

using value::Arena;
using value::Member;

// Keys that agree on a prefix, differ only after eight bytes, hold zero bytes or end early: the
// word-at-a-time comparisons must still give plain byte order and exact equality.
TEST(value, key_order_is_byte_order_at_every_length) {
  const std::vector<std::string> sorted_keys = {
      std::string(""),          std::string("\0", 1),      std::string("a"),
      std::string("a\0", 2),    std::string("a\0\0", 3),   std::string("a\x01"),
      std::string("abcdefg"),   std::string("abcdefgh"),   std::string("abcdefgh\0", 9),
      std::string("abcdefghi"), std::string("abcdefghij"), std::string("abcdefgi"),
      std::string("\x7f"),      std::string("\x80"),       std::string("\xc3\xa9")};
  Arena arena;
  std::vector<Member> members;
  for (auto it = sorted_keys.rbegin(); it != sorted_keys.rend(); ++it) {
    Member member;
    member.key = value::make_string(arena, *it);
    member.value = value::make_unsigned(members.size());
    members.push_back(member);
  }
  std::size_t kept = value::sort_members(members.data(), members.size());
  ASSERT_EQ(kept, sorted_keys.size());
  for (std::size_t i = 0; i < kept; ++i) EXPECT_EQ(members[i].key.string(), sorted_keys[i]) << i;

  for (std::size_t i = 0; i < sorted_keys.size(); ++i) {
    for (std::size_t j = 0; j < sorted_keys.size(); ++j) {
      value::Node left = value::make_string(arena, sorted_keys[i]);
      value::Node right = value::make_string(arena, sorted_keys[j]);
      EXPECT_EQ(value::equal(left, right), i == j) << i << " " << j;
    }
  }
}

}  // namespace
}  // namespace hexalume
