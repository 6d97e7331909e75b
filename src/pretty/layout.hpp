#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "pretty/lines.hpp"
#include "pretty/lookup.hpp"
#include "pretty/options.hpp"
#include "pretty/tree_node.hpp"
#include "value/value.hpp"

namespace hexalume::pretty {

// One planned row of a level.
struct RenderItem {
  enum class Kind : std::uint8_t { Node, Gap, Context };
  Kind kind = Kind::Gap;
  std::uint64_t index = 0;  // Node: the child's index in RenderContext::nodes; Context: the
                            // list position shown
  Located where;            // Node only: where the child leads in t1 and t2
};

// A child being ordered within its level: its rank there, its index in RenderContext::nodes
// and where it leads.
struct RankedChild {
  std::uint64_t rank = 0;
  std::size_t node = 0;
  Located where;
};

// What the layout reads and the memory it reuses for the whole rendering. `nodes` and `items`
// are stacks: each level appends its children and its planned rows and removes them when done,
// so a level allocates nothing once they have grown.
struct RenderContext {
  const value::Node& t1;
  const value::Node& t2;
  const PrettyOptions& options;
  ChangeTree& tree;
  std::vector<PrettyNode> nodes;
  std::vector<RenderItem> items;
  // Planning scratch of one level.
  std::vector<RankedChild> ranked;
  std::vector<std::size_t> positions;
};

// The node drawn for one row: `end` is its index in RenderContext::nodes (the last node of a
// compact chain, whose changes and children are drawn), `where` where it leads in t1 and t2.
// When `expanded`, its children were already read and are RenderContext::nodes from
// `children_from` on. `restore` is the size RenderContext::nodes had before the row was drawn.
struct DrawnNode {
  std::size_t end = 0;
  std::size_t children_from = 0;
  std::size_t restore = 0;
  Located where;
  bool expanded = false;
};

// Follows the node `drawn.end` down while a node has no change and exactly one child, keeping
// each step on RenderContext::nodes, and appends the compact label of the whole chain to
// `label`. Never splits a chain.
void compact_chain(DrawnNode& drawn, RenderContext& context, std::string& label);

// Plans and draws the children `context.nodes[first, last)` of one node at `depth`, whose own
// position leads to `parent`, appending the lines of the whole subtree. Object members follow
// the keys of t2 then t1, list items their positions (with `context` neighbours and "..."
// gaps), anything else its labels in byte order. `ancestors` is restored before returning.
void render_children(std::size_t first, std::size_t last, std::uint64_t depth, Ancestors& ancestors,
                     Located parent, RenderContext& context, Lines& lines);

// Draws the planned rows `context.items[first, last)` in order and recurses into every drawn
// node until `max_depth`.
void render_entries(std::size_t first, std::size_t last, std::uint64_t depth, Ancestors& ancestors,
                    Located parent, RenderContext& context, Lines& lines);

}  // namespace hexalume::pretty
