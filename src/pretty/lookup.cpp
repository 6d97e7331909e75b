#include "pretty/lookup.hpp"

#include <algorithm>

namespace hexalume::pretty {

const value::Node* step_into(const value::Node* node, const engine::PathStep& segment) {
  if (node == nullptr) return nullptr;
  if (segment.is_key()) {
    if (node->kind != value::Kind::Object) return nullptr;
    const std::size_t position = member_position(*node, segment.key);
    return position < node->size() ? &node->object()[position].value : nullptr;
  }
  if (node->kind != value::Kind::List || segment.index >= node->size()) return nullptr;
  return &node->list()[segment.index];
}

std::size_t member_position(const value::Node& object, std::string_view key) {
  auto members = object.object();
  auto found = std::lower_bound(members.begin(), members.end(), key,
                                [](const value::Member& member, std::string_view wanted) {
                                  return member.key.string() < wanted;
                                });
  if (found == members.end() || found->key.string() != key) return members.size();
  return static_cast<std::size_t>(found - members.begin());
}

Located descend(Located where, const engine::PathStep& step) {
  return {step_into(where.old_node, step), step_into(where.new_node, step)};
}

}  // namespace hexalume::pretty
