#include "pretty/lookup.hpp"

#include "value/interrupt.hpp"

namespace hexalume::pretty {

const value::Node* step_into(const value::Node* node, const engine::PathSegment& segment) {
  if (node == nullptr) return nullptr;
  if (segment.is_key()) {
    if (node->kind != value::Kind::Object) return nullptr;
    return value::find_member(*node, segment.key);
  }
  if (node->kind != value::Kind::List || segment.index >= node->size()) return nullptr;
  return &node->list()[segment.index];
}

const value::Node* lookup(const value::Node& top, std::span<const engine::PathSegment> path) {
  const value::Node* node = &top;
  for (const engine::PathSegment& segment : path) {
    value::poll_interrupt();
    node = step_into(node, segment);
    if (node == nullptr) return nullptr;
  }
  return node;
}

}  // namespace hexalume::pretty
