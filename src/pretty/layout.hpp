#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "pretty/lines.hpp"
#include "pretty/options.hpp"
#include "pretty/tree_node.hpp"
#include "value/value.hpp"

namespace hexalume::pretty {

// What the layout reads besides the tree: both compared trees and the options.
struct RenderContext {
  const value::Node& t1;
  const value::Node& t2;
  const PrettyOptions& options;
};

// Where a tree position leads in t1 and t2; nullptr where it does not exist.
struct Located {
  const value::Node* old_node = nullptr;
  const value::Node* new_node = nullptr;
};

Located descend(Located where, const engine::PathSegment& step);

// One planned row of a level.
struct RenderItem {
  enum class Kind : std::uint8_t { Node, Gap, Context };
  Kind kind = Kind::Gap;
  const PrettyNode* node = nullptr;  // Node only
  std::uint64_t position = 0;        // Context only: the list position shown
};

// The label of a compact chain, the node at its end (whose changes and children are drawn)
// and where that node leads in t1 and t2.
struct CompactChain {
  std::string label;
  const PrettyNode* end = nullptr;
  Located where;
};

// Follows `start` down while a node has no change and exactly one child. `parent` is where
// the parent of `start` leads. Never splits a chain; a node without a segment adds no text.
CompactChain compact_chain(const PrettyNode& start, Located parent);

// Plans and draws the children of one node at `depth`, whose own position leads to `parent`,
// appending the lines of the whole subtree. Object members follow the keys of t2 then t1, list
// items their positions (with `context` neighbours and "..." gaps), anything else its labels
// in byte order. `ancestors` is restored before returning. Throws InternalError for a node
// below the root that has no segment.
void render_children(const std::vector<PrettyNode>& children, std::uint64_t depth,
                     Ancestors& ancestors, Located parent, const RenderContext& context,
                     Lines& lines);

// Draws planned rows in order and recurses into every drawn node until `max_depth`.
void render_entries(const std::vector<RenderItem>& items, std::uint64_t depth, Ancestors& ancestors,
                    Located parent, const RenderContext& context, Lines& lines);

}  // namespace hexalume::pretty
