#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "pretty/change_tree.hpp"
#include "pretty/lines.hpp"
#include "pretty/options.hpp"
#include "pretty/tree_node.hpp"

namespace hexalume::pretty {

// One planned row of a level.
struct RenderItem {
  enum class Kind : std::uint8_t { Node, Gap, Context };
  Kind kind = Kind::Gap;
  std::uint64_t index = 0;  // Node: the child's node in the ChangeTree; Context: the list
                            // position shown
};

// A child being ordered within its level: its rank there and its node.
struct RankedChild {
  std::uint64_t rank = 0;
  std::size_t node = 0;
};

// What the layout reads and the memory it reuses for the whole rendering. `items` is a stack:
// each level appends its planned rows and removes them when done, so a level allocates nothing
// once it has grown.
struct RenderContext {
  const PrettyOptions& options;
  const ChangeTree& tree;
  const DeferredItem* deferred;  // nullptr: the trees hold no Deferred node
  std::vector<RenderItem> items;
  // Planning scratch of one level.
  std::vector<RankedChild> ranked;
  std::vector<std::size_t> positions;
};

// Follows the node `end` down while a node has no change and exactly one child, appending the
// compact label of the whole chain to `label`; returns the last node of the chain, whose
// changes and children are drawn. Never splits a chain.
std::size_t compact_chain(std::size_t end, const RenderContext& context, std::string& label);

// Plans and draws the children of the node `parent` at `depth`, appending the lines of the whole
// subtree. Object members follow the keys of t2 then t1, list items their positions (with
// `context` neighbours and "..." gaps). `ancestors` is restored before returning.
void render_children(std::size_t parent, std::uint64_t depth, Ancestors& ancestors,
                     RenderContext& context, Lines& lines);

// Draws the planned rows `context.items[first, last)` of the children of `parent` in order and
// recurses into every drawn node until `max_depth`.
void render_entries(std::size_t first, std::size_t last, std::size_t parent, std::uint64_t depth,
                    Ancestors& ancestors, RenderContext& context, Lines& lines);

}  // namespace hexalume::pretty
