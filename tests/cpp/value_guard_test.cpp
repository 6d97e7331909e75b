#include <gtest/gtest.h>

#include <string>

#include "guard_support.hpp"
#include "literal.hpp"
#include "value/canonical.hpp"
#include "value/value.hpp"

// The value layer's recursions stop at the thread's stack limit, and its long loops ask the
// cancellation hook.
namespace hexalume {
namespace {

using testing::CountingHook;
using testing::kOverflowDepth;
using testing::kSmallStacks;
using testing::literal;
using testing::nested_lists;
using testing::outcome_of;
using testing::outcome_on_stack;

class value_stack : public ::testing::TestWithParam<std::size_t> {};

TEST_P(value_stack, deep_trees_exhaust_the_stack_instead_of_overflowing_it) {
  value::Arena arena;
  const value::Node left = nested_lists(arena, kOverflowDepth, value::make_unsigned(1));
  const value::Node right = nested_lists(arena, kOverflowDepth, value::make_unsigned(1));
  const std::size_t stack = GetParam();
  EXPECT_EQ(outcome_on_stack(stack, [&] { value::equal(left, right); }), "stack exhausted");
  EXPECT_EQ(outcome_on_stack(stack, [&] { value::canonical_string(left); }), "stack exhausted");
}

INSTANTIATE_TEST_SUITE_P(sizes, value_stack, ::testing::ValuesIn(kSmallStacks));

TEST(value_stack, a_tiny_stack_keeps_half_for_recursion) {
  // 64 KiB is less than the usual margin; shallow trees must still compare there.
  const value::Value tree = literal(R"({"a": [1, {"b": [2, 3]}], "c": "text"})");
  bool equal = false;
  EXPECT_EQ(outcome_on_stack(std::size_t{64} << 10, [&] { equal = tree == tree; }), "ok");
  EXPECT_TRUE(equal);
}

// A list of `count` one-item lists: each container counts its items as steps, so the hook runs
// once for the outer list and then once per kPollInterval inner lists.
value::Value wide_tree(value::Arena& arena, std::size_t count) {
  value::Node* items = arena.allocate_nodes(count);
  for (std::size_t i = 0; i < count; ++i) {
    value::Node* item = arena.allocate_nodes(1);
    item[0] = value::make_unsigned(i);
    items[i] = value::make_list(item, 1);
  }
  return value::Value::copy_of(value::make_list(items, count));
}

TEST(value_interrupt, the_hook_runs_every_few_thousand_steps_and_may_cancel) {
  value::Arena arena;
  const value::Value tree = wide_tree(arena, 40 * value::kPollInterval);
  const value::Value copy = tree;  // a tree compared with itself is equal at once
  {
    CountingHook hook(0);
    EXPECT_EQ(outcome_of([&] { value::equal(tree.root(), copy.root()); }), "ok");
    EXPECT_GE(hook.calls(), 40u);
    EXPECT_LE(hook.calls(), 42u);
  }
  {
    CountingHook hook(3);
    EXPECT_EQ(outcome_of([&] { value::equal(tree.root(), copy.root()); }), "cancelled");
    EXPECT_EQ(hook.calls(), 3u);
  }
  CountingHook hook(3);
  EXPECT_EQ(outcome_of([&] { value::canonical_string(tree.root()); }), "cancelled");
}

TEST(value_interrupt, sorting_many_members_asks_the_hook) {
  value::Arena arena;
  const std::size_t count = 20 * value::kPollInterval;
  value::Member* members = arena.allocate_members(count);
  for (std::size_t i = 0; i < count; ++i) {
    members[i].key = value::make_string(arena, std::to_string(count - i));
    members[i].value = value::make_null();
  }
  CountingHook hook(2);
  EXPECT_EQ(outcome_of([&] { value::sort_members(members, count); }), "cancelled");
}

}  // namespace
}  // namespace hexalume
