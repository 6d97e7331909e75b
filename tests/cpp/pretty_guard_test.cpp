#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>

#include "engine/comparison.hpp"
#include "guard_support.hpp"
#include "pretty/change_tree.hpp"
#include "pretty/options.hpp"

// Options and positions are written with designated initializers; the fields left out keep
// their defaults.
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"

// The renderer answers the cancellation hook, and its stack guard leaves ordinary depths alone.
// (Deep changes and values on a small thread's stack: tests/test_interrupts.py, through pretty().)
namespace hexalume {
namespace {

using testing::CountingHook;
using testing::kSmallStacks;
using testing::nested_lists;
using testing::outcome_of;
using testing::outcome_on_stack;

// The records of one changed value at the bottom of two chains of `depth` lists, made without
// a walk, whose recursion would need more stack than the renderer's.
struct DeepChange {
  value::Arena arena;
  value::Node t1;
  value::Node t2;
  engine::ChangeLog changes;

  explicit DeepChange(std::size_t depth) {
    t1 = nested_lists(arena, depth, value::make_unsigned(1));
    t2 = nested_lists(arena, depth, value::make_unsigned(2));
    engine::DiffAccumulator accumulator;
    engine::Position at{.old_node = &t1, .new_node = &t2};
    const engine::Position* parent = accumulator.add_position(nullptr, at);
    for (std::size_t level = 0; level < depth; ++level) {
      at = {.old_node = at.old_node->items,
            .new_node = at.new_node->items,
            .step = engine::StepKind::Index};
      parent = accumulator.add_position(parent, at);
    }
    accumulator.record(parent, engine::ChangeRecord::Kind::Changed);
    engine::into_value(std::move(accumulator), 1, nullptr, changes);
  }
};

pretty::PrettyOptions unlimited(bool compact) {
  pretty::PrettyOptions options;
  options.max_depth = UINT64_MAX;
  options.compact = compact;
  options.no_color = true;
  return options;
}

class pretty_stack : public ::testing::TestWithParam<std::size_t> {};

TEST_P(pretty_stack, ordinary_depths_still_render) {
  const DeepChange deep(200);
  std::string text;
  EXPECT_EQ(outcome_on_stack(GetParam(),
                             [&] { text = pretty::render_pretty(deep.changes, unlimited(false)); }),
            "ok");
  // One label line per level and the two change lines.
  EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 200 + 1);
}

INSTANTIATE_TEST_SUITE_P(sizes, pretty_stack, ::testing::ValuesIn(kSmallStacks));

TEST(pretty_interrupt, rendering_a_large_report_can_be_cancelled) {
  const DeepChange deep(20000);
  for (bool compact : {false, true}) {
    for (std::size_t stop_at : {1u, 3u}) {
      CountingHook hook(stop_at);
      EXPECT_EQ(outcome_of([&] { pretty::render_pretty(deep.changes, unlimited(compact)); }),
                "cancelled")
          << "compact " << compact << " stop " << stop_at;
    }
  }
}

TEST(pretty_interrupt, a_long_flat_listing_can_be_cancelled) {
  // The flat listing costs what it prints, so it needs many entries to be long.
  constexpr std::size_t kEntries = 100000;
  auto numbers = [](std::uint64_t offset) {
    value::Arena arena;
    value::Node* items = arena.allocate_nodes(kEntries);
    for (std::size_t at = 0; at < kEntries; ++at) items[at] = value::make_unsigned(at + offset);
    return value::Value(std::move(arena), value::make_list(items, kEntries));
  };
  engine::Vesperon comparison = engine::with_options(numbers(0), numbers(1), {});
  engine::finish_report(comparison);
  pretty::PrettyOptions flat = unlimited(false);
  flat.path_header = true;
  CountingHook hook(2);
  EXPECT_EQ(outcome_of([&] { pretty::render_pretty(comparison.changes, flat); }), "cancelled");
}

}  // namespace
}  // namespace hexalume
