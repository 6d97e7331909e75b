#include "pretty/tree_node.hpp"

#include "engine/report.hpp"
#include "value/interrupt.hpp"

namespace hexalume::pretty {

namespace {

constexpr engine::Section kGatheringOrder[] = {
    engine::Section::ValuesChanged,       engine::Section::TypeChanges,
    engine::Section::DictionaryItemAdded, engine::Section::DictionaryItemRemoved,
    engine::Section::IterableItemAdded,   engine::Section::IterableItemRemoved,
};

}  // namespace

ChangeKind resolve(const engine::ChangeRecord& record) {
  switch (record.kind) {
    case engine::ChangeRecord::Kind::Changed:
      return Changed{record.old_value, record.new_value};
    case engine::ChangeRecord::Kind::TypeChanged:
      return TypeChanged{engine::type_name(record.old_value), engine::type_name(record.new_value),
                         record.old_value, record.new_value};
    case engine::ChangeRecord::Kind::Added:
      return Added{record.new_value};
    case engine::ChangeRecord::Kind::Removed:
      return Removed{record.old_value};
  }
  return Changed{};
}

std::vector<const engine::ChangeRecord*> gather_records(const engine::ChangeLog& log) {
  std::size_t count = 0;
  for (const auto& section : log.sections) count += section.size();
  std::vector<const engine::ChangeRecord*> records;
  records.reserve(count);
  for (engine::Section section : kGatheringOrder) {
    for (const engine::ChangeRecord& record : log.section(section)) records.push_back(&record);
  }
  return records;
}

ChangeTree::ChangeTree(const engine::ChangeLog& log) : changes_(gather_records(log)) {
  if (changes_.empty()) return;
  next_change_.assign(changes_.size(), kNone);
  // The tree node of each position by its id; positions are few beyond the records themselves.
  std::vector<std::size_t> node_of(log.position_count, kNone);
  for (std::size_t at = 0; at < changes_.size(); ++at) {
    value::poll_interrupt();
    PrettyNode& node = nodes_[node_for(changes_[at]->position, node_of)];
    if (node.last_change == kNone) {
      node.first_change = at;
    } else {
      next_change_[node.last_change] = at;
    }
    node.last_change = at;
  }
}

// The node of `position`, made with those of its ancestors that have none yet (without
// recursion: a path may be thousands of levels deep). Each is appended as its parent's last child.
std::size_t ChangeTree::node_for(const engine::Position* position,
                                 std::vector<std::size_t>& node_of) {
  if (node_of[position->id] != kNone) return node_of[position->id];
  missing_.clear();
  const engine::Position* top = position;
  while (top != nullptr && node_of[top->id] == kNone) {
    missing_.push_back(top);
    top = top->parent;
  }
  for (auto level = missing_.rbegin(); level != missing_.rend(); ++level) {
    const engine::Position* made = *level;
    const std::size_t at = nodes_.size();
    nodes_.push_back(PrettyNode{made});
    node_of[made->id] = at;
    if (made->parent == nullptr) continue;
    PrettyNode& parent = nodes_[node_of[made->parent->id]];
    if (parent.last_child == kNone) {
      parent.first_child = at;
    } else {
      nodes_[parent.last_child].next_sibling = at;
    }
    parent.last_child = at;
  }
  return node_of[position->id];
}

}  // namespace hexalume::pretty
