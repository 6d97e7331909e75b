#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "engine/comparison.hpp"
#include "engine/report.hpp"
#include "engine/walk.hpp"
#include "guard_support.hpp"

// Options are written with designated initializers; the fields left out keep their defaults.
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"

// The walk, unordered matching and the report stop at the thread's stack limit and answer the
// cancellation hook; a stopped walk leaves its trees as they were.
namespace hexalume {
namespace {

using options::VesperonOptions;
using testing::CountingHook;
using testing::kOverflowDepth;
using testing::kSmallStacks;
using testing::nested_lists;
using testing::outcome_of;
using testing::outcome_on_stack;

std::string walk_outcome(std::size_t stack, const value::Node& t1, const value::Node& t2,
                         const VesperonOptions& options) {
  return outcome_on_stack(stack, [&] {
    engine::DiffAccumulator accumulator;
    engine::diff_values(t1, t2, options, accumulator);
  });
}

class engine_stack : public ::testing::TestWithParam<std::size_t> {};

TEST_P(engine_stack, a_change_at_the_bottom_of_a_deep_chain) {
  value::Arena arena;
  const value::Node t1 = nested_lists(arena, kOverflowDepth, value::make_unsigned(1));
  const value::Node t2 = nested_lists(arena, kOverflowDepth, value::make_unsigned(2));
  EXPECT_EQ(walk_outcome(GetParam(), t1, t2, {}), "stack exhausted");
  EXPECT_EQ(walk_outcome(GetParam(), t1, t2, {.ignore_order = true}), "stack exhausted");
}

TEST_P(engine_stack, a_deep_item_added_or_removed) {
  value::Arena arena;
  value::Node* items = arena.allocate_nodes(1);
  items[0] = nested_lists(arena, kOverflowDepth, value::make_null());
  const value::Node one = value::make_list(items, 1);
  const value::Node none = value::make_list(nullptr, 0);
  EXPECT_EQ(walk_outcome(GetParam(), one, none, {}), "stack exhausted");
  EXPECT_EQ(walk_outcome(GetParam(), none, one, {.ignore_order = true}), "stack exhausted");
}

TEST_P(engine_stack, ordinary_depths_still_compare) {
  value::Arena arena;
  const value::Node t1 = nested_lists(arena, 300, value::make_unsigned(1));
  const value::Node t2 = nested_lists(arena, 300, value::make_unsigned(2));
  EXPECT_EQ(walk_outcome(GetParam(), t1, t2, {}), "ok");
  EXPECT_EQ(walk_outcome(GetParam(), t1, t2, {.ignore_order = true}), "ok");
}

INSTANTIATE_TEST_SUITE_P(sizes, engine_stack, ::testing::ValuesIn(kSmallStacks));

// Two lists of `count` small records, all different between the two sides.
struct Records {
  value::Value t1;
  value::Value t2;
};

Records different_records(std::size_t count) {
  auto build = [count](std::uint64_t offset) {
    value::Arena arena;
    value::Node* items = arena.allocate_nodes(count);
    for (std::size_t i = 0; i < count; ++i) {
      value::Node* pair = arena.allocate_nodes(2);
      pair[0] = value::make_unsigned(i + offset);
      pair[1] = value::make_string(arena, "record");
      items[i] = value::make_list(pair, 2);
    }
    value::Node root = value::make_list(items, count);
    return value::Value(std::move(arena), root);
  };
  return {build(0), build(1)};
}

TEST(engine_interrupt, every_phase_of_a_comparison_can_be_cancelled) {
  const Records records = different_records(20 * value::kPollInterval);
  for (bool ignore_order : {false, true}) {
    // The first stop lands early in the walk; later ones in matching, recording or sorting.
    for (std::size_t stop_at : {1u, 5u, 20u, 60u, 100u}) {
      CountingHook hook(stop_at);
      const std::string outcome = outcome_of(
          [&] { engine::with_options(records.t1, records.t2, {.ignore_order = ignore_order}); });
      EXPECT_EQ(outcome, "cancelled") << "ignore_order " << ignore_order << " stop " << stop_at;
    }
  }
  // The same comparison runs to its end afterwards.
  engine::Vesperon done = engine::with_options(records.t1, records.t2, {});
  engine::finish_report(done);
  EXPECT_EQ(value::find_member(done.report.root(), "values_changed")->size(),
            20 * value::kPollInterval);
}

}  // namespace
}  // namespace hexalume
