#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <string>

#include "engine/comparison.hpp"
#include "engine/unordered.hpp"
#include "value/value.hpp"

// Options are written with designated initializers; the fields left out keep their defaults.
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"

// Which items match and which are reported: tests/test_exactness.py and tests/test_properties.py,
// through the public API. What they cannot arrange is where the items lie in memory.
namespace hexalume {
namespace {

// A list whose items lie in memory in the reverse of their order (as after conversion reads a
// shuffled list by address) is counted in memory order: the report must not show it. Items are
// texts "item-<k>" with k = index / 2, so each occurs twice.
value::Value texts(std::size_t count, bool reversed_memory, std::size_t changed = SIZE_MAX) {
  value::Arena arena;
  value::Node* items = arena.allocate_nodes(count);
  for (std::size_t step = 0; step < count; ++step) {
    const std::size_t i = reversed_memory ? count - 1 - step : step;
    const std::string text = i == changed ? "changed-item" : "item-" + std::to_string(i / 2);
    items[i] = value::make_string(arena, text);
  }
  return value::Value(std::move(arena), value::make_list(items, count));
}

TEST(unordered, the_memory_order_of_the_new_list_never_shows) {
  constexpr std::size_t kCount = 6000;
  for (std::size_t changed : {SIZE_MAX, std::size_t{0}, std::size_t{4321}, kCount - 1}) {
    value::Value reports[2];
    for (bool reversed : {false, true}) {
      engine::Vesperon comparison = engine::with_options(
          texts(kCount, false), texts(kCount, reversed, changed), {.ignore_order = true});
      engine::finish_report(comparison);
      reports[reversed] = value::Value::copy_of(comparison.report.root());
    }
    EXPECT_EQ(reports[0], reports[1]) << changed;
    // The changed item shows as one item added and one removed.
    EXPECT_EQ(reports[1].root().size(), changed == SIZE_MAX ? 0u : 2u) << changed;
  }
}

}  // namespace
}  // namespace hexalume