#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "guard_support.hpp"
#include "pretty/change_tree.hpp"
#include "pretty/lines.hpp"
#include "pretty/options.hpp"

// The renderer stops at the thread's stack limit and answers the cancellation hook.
namespace hexalume {
namespace {

using testing::CountingHook;
using testing::kOverflowDepth;
using testing::kSmallStacks;
using testing::nested_lists;
using testing::outcome_of;
using testing::outcome_on_stack;

// A report of one changed value at the bottom of two chains of `depth` lists.
struct DeepChange {
  value::Arena arena;
  value::Node t1;
  value::Node t2;
  value::Node report;

  explicit DeepChange(std::size_t depth) {
    t1 = nested_lists(arena, depth, value::make_unsigned(1));
    t2 = nested_lists(arena, depth, value::make_unsigned(2));
    std::string path = "root";
    for (std::size_t level = 0; level < depth; ++level) path += "[0]";
    value::Member* change = arena.allocate_members(2);
    change[0] = {value::make_string(arena, "new_value"), value::make_unsigned(2)};
    change[1] = {value::make_string(arena, "old_value"), value::make_unsigned(1)};
    value::Member* entries = arena.allocate_members(1);
    entries[0] = {value::make_string(arena, path), value::make_object(change, 2)};
    value::Member* sections = arena.allocate_members(1);
    sections[0] = {value::make_string(arena, "values_changed"), value::make_object(entries, 1)};
    report = value::make_object(sections, 1);
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

TEST_P(pretty_stack, an_unlimited_tree_of_a_deep_change) {
  const DeepChange deep(kOverflowDepth);
  EXPECT_EQ(outcome_on_stack(
                GetParam(),
                [&] { pretty::render_pretty(deep.report, deep.t1, deep.t2, unlimited(false)); }),
            "stack exhausted");
}

TEST_P(pretty_stack, the_text_of_a_deep_value) {
  value::Arena arena;
  const value::Node deep = nested_lists(arena, kOverflowDepth, value::make_null());
  EXPECT_EQ(outcome_on_stack(GetParam(), [&] { pretty::format_value(deep); }), "stack exhausted");
}

TEST_P(pretty_stack, ordinary_depths_still_render) {
  const DeepChange deep(200);
  std::string text;
  EXPECT_EQ(
      outcome_on_stack(
          GetParam(),
          [&] { text = pretty::render_pretty(deep.report, deep.t1, deep.t2, unlimited(false)); }),
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
      EXPECT_EQ(outcome_of([&] {
                  pretty::render_pretty(deep.report, deep.t1, deep.t2, unlimited(compact));
                }),
                "cancelled")
          << "compact " << compact << " stop " << stop_at;
    }
  }
}

TEST(pretty_interrupt, a_long_flat_listing_can_be_cancelled) {
  // The flat listing costs what it prints, so it needs many entries to be long.
  constexpr std::size_t kEntries = 100000;
  value::Arena arena;
  value::Member* entries = arena.allocate_members(kEntries);
  for (std::size_t at = 0; at < kEntries; ++at) {
    value::Member* change = arena.allocate_members(2);
    change[0] = {value::make_string(arena, "new_value"), value::make_unsigned(at + 1)};
    change[1] = {value::make_string(arena, "old_value"), value::make_unsigned(at)};
    std::string path = "root[";
    path += std::to_string(at);
    path += ']';
    entries[at] = {value::make_string(arena, path), value::make_object(change, 2)};
  }
  const std::size_t kept = value::sort_members(entries, kEntries);
  value::Member* sections = arena.allocate_members(1);
  sections[0] = {value::make_string(arena, "values_changed"), value::make_object(entries, kept)};
  const value::Node report = value::make_object(sections, 1);
  pretty::PrettyOptions flat = unlimited(false);
  flat.path_header = true;
  CountingHook hook(2);
  EXPECT_EQ(outcome_of([&] { pretty::render_pretty(report, value::Node{}, value::Node{}, flat); }),
            "cancelled");
}

}  // namespace
}  // namespace hexalume
