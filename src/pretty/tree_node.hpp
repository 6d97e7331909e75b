#pragma once

#include <cstddef>
#include <memory>
#include <optional>
#include <unordered_map>
#include <vector>

#include "engine/path.hpp"
#include "pretty/lines.hpp"

namespace hexalume::pretty {

// One position of the tree of changes. A node exists because some change's path passes
// through it or ends at it; no two children of one node have equal segments.
struct PrettyNode {
  std::vector<PrettyNode> children;            // in order of first creation
  std::optional<engine::PathSegment> segment;  // the step from the parent; absent only for the root
  std::vector<ChangeKind> changes;  // every change recorded at exactly this path, in order

  PrettyNode() = default;
  explicit PrettyNode(engine::PathSegment step) : segment(std::move(step)) {}
  PrettyNode(PrettyNode&&) noexcept = default;
  PrettyNode& operator=(PrettyNode&&) noexcept = default;
  // Tears deep chains down with a work list instead of one recursive call per level.
  ~PrettyNode();

  // The child with this segment, appended (with no change) when there is none yet. Found
  // through a hash index once the node has more than a handful of children, so filling one
  // level with n children costs O(n), not O(n^2).
  PrettyNode& child_for(const engine::PathSegment& step);

 private:
  using ChildIndex = std::unordered_map<engine::PathSegment, std::size_t, engine::PathSegmentHash>;
  std::unique_ptr<ChildIndex> child_index_;
  std::size_t indexed_ = 0;  // children[0, indexed_) are in child_index_
};

}  // namespace hexalume::pretty
