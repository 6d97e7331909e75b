#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine/comparison.hpp"
#include "engine/report.hpp"
#include "literal.hpp"
#include "pretty/change_tree.hpp"
#include "pretty/options.hpp"
#include "value/internal_error.hpp"

// Positions are written with designated initializers; the fields left out keep their defaults.
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"

// Positions deeper than Python inputs reach, dense list levels, and records that no walk makes.
// Renderings of ordinary comparisons are pinned through pretty() in tests/test_pretty.py.
namespace hexalume {
namespace {

using pretty::PrettyOptions;
using testing::literal;

const std::string V = "\u2502   ";            // vertical guide
const std::string L = "\u2570\u2500\u2500 ";  // last connector

// Lines joined by line feeds, to write expected renderings one line per argument.
std::string joined(const std::vector<std::string>& lines) {
  std::string text;
  for (const std::string& line : lines) {
    if (&line != &lines.front()) text += '\n';
    text += line;
  }
  return text;
}

PrettyOptions plain(bool compact = false) {
  PrettyOptions options;
  options.no_color = true;
  options.compact = compact;
  return options;
}

// {"k": {"k": ... leaf}} with `depth` members "k".
value::Node nested_members(value::Arena& arena, int depth, value::Node leaf) {
  for (int level = 0; level < depth; ++level) {
    value::Member* member = arena.allocate_members(1);
    *member = {value::make_string(arena, "k"), leaf};
    leaf = value::make_object(member, 1);
  }
  return leaf;
}

// A change at the bottom of a chain far deeper than the layout draws, recorded without a walk:
// the layout stops at the depth limit, and a compact label holds the whole chain.
TEST(render_pretty, very_deep_position) {
  constexpr int kDepth = 10000;
  value::Arena arena;
  const value::Node t1 = nested_members(arena, kDepth, value::make_unsigned(1));
  const value::Node t2 = nested_members(arena, kDepth, value::make_unsigned(2));
  engine::DiffAccumulator accumulator;
  engine::Position at{.old_node = &t1, .new_node = &t2};
  const engine::Position* parent = accumulator.add_position(nullptr, at);
  for (int level = 0; level < kDepth; ++level) {
    const value::Member& old_member = at.old_node->members[0];
    at = {.old_node = &old_member.value,
          .new_node = &at.new_node->members[0].value,
          .key = old_member.key,
          .step = engine::StepKind::Member};
    parent = accumulator.add_position(parent, at);
  }
  accumulator.record(parent, engine::ChangeRecord::Kind::Changed);
  engine::ChangeLog changes;
  engine::into_value(std::move(accumulator), 1, nullptr, changes);

  std::vector<std::string> lines = {"k"};
  for (int level = 1; level <= 6; ++level) {
    lines.push_back(std::string(4 * static_cast<std::size_t>(level - 1), ' ') + L +
                    (level == 6 ? "..." : "k"));
  }
  EXPECT_EQ(pretty::render_pretty(changes, plain()), joined(lines));
  std::string label = "k";
  for (int level = 1; level < kDepth; ++level) label += ".k";
  EXPECT_EQ(pretty::render_pretty(changes, plain(true)), joined({label, V + "- 1", V + "+ 2"}));
}

// A record outside the containers of its parent was not made by a walk of them: the renderer
// refuses it instead of drawing it anywhere.
TEST(render_pretty, a_misplaced_record_is_an_internal_error) {
  const value::Value list = literal("[1]");
  engine::DiffAccumulator accumulator;
  const engine::Position* root =
      accumulator.add_position(nullptr, {.old_node = &list.root(), .new_node = &list.root()});
  const engine::Position* beyond = accumulator.add_position(
      root, {.new_node = &list.root().items[0], .index = 5, .step = engine::StepKind::Index});
  accumulator.record(beyond, engine::ChangeRecord::Kind::Added);
  engine::ChangeLog changes;
  engine::into_value(std::move(accumulator), 1, nullptr, changes);
  EXPECT_THROW(pretty::render_pretty(changes, plain()), value::InternalError);
}

// Many changed items fill the list, so they are ordered through the positions instead of a sort;
// context neighbours and gaps stay as for a few.
TEST(render_pretty, dense_list) {
  std::string old_list = "[";
  std::string new_list = "[";
  std::vector<std::string> lines;
  for (int item = 0; item < 100; ++item) {
    const bool changed = item < 90 && item % 3 != 0;
    old_list += (item ? ", " : "") + std::to_string(item);
    new_list += (item ? ", " : "") + std::to_string(changed ? -item : item);
    if (item > 90) continue;
    lines.push_back("[" + std::to_string(item) + "]");
    if (changed) {
      lines.push_back(V + "- " + std::to_string(item));
      lines.push_back(V + "+ " + std::to_string(-item));
    } else {
      lines.push_back(V + "= " + std::to_string(item));
    }
  }
  PrettyOptions options = plain();
  options.context = 1;
  engine::Vesperon comparison =
      engine::with_options(literal(old_list + "]"), literal(new_list + "]"), {});
  engine::finish_report(comparison);
  EXPECT_EQ(pretty::render_pretty(comparison.changes, options), joined(lines));
}

}  // namespace
}  // namespace hexalume
