#include "pretty/tree_node.hpp"

namespace hexalume::pretty {

namespace {

// Below this many children a scan is cheaper than hashing the segment.
constexpr std::size_t kIndexFrom = 8;

}  // namespace

PrettyNode::~PrettyNode() {
  if (children.empty()) return;
  std::vector<PrettyNode> pending = std::move(children);
  while (!pending.empty()) {
    PrettyNode node = std::move(pending.back());
    pending.pop_back();
    for (PrettyNode& child : node.children) pending.push_back(std::move(child));
    node.children.clear();
  }
}

PrettyNode& PrettyNode::child_for(const engine::PathSegment& step) {
  if (children.size() < kIndexFrom) {
    for (PrettyNode& child : children) {
      if (child.segment == step) return child;
    }
  } else {
    if (!child_index_) child_index_ = std::make_unique<ChildIndex>();
    // Children may also have been appended directly; index those first.
    for (; indexed_ < children.size(); ++indexed_) {
      if (children[indexed_].segment)
        child_index_->try_emplace(*children[indexed_].segment, indexed_);
    }
    auto found = child_index_->find(step);
    if (found != child_index_->end()) return children[found->second];
    child_index_->emplace(step, children.size());
    ++indexed_;
  }
  children.emplace_back(step);
  return children.back();
}

}  // namespace hexalume::pretty
