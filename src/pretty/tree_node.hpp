#pragma once

#include <cstddef>
#include <limits>
#include <vector>

#include "engine/change.hpp"
#include "pretty/lines.hpp"

namespace hexalume::pretty {

inline constexpr std::size_t kNone = std::numeric_limits<std::size_t>::max();

// One drawn position: its children (in order of first appearance among the records) and its
// own records (in the order the report sections are read), as chains of indices.
struct PrettyNode {
  const engine::Position* position = nullptr;
  std::size_t first_child = kNone;  // into ChangeTree::node
  std::size_t last_child = kNone;
  std::size_t next_sibling = kNone;
  std::size_t first_change = kNone;  // into ChangeTree::change
  std::size_t last_change = kNone;

  bool has_changes() const { return first_change != kNone; }
  bool has_children() const { return first_child != kNone; }
  // Exactly one child: a compact chain goes on through it.
  bool has_one_child() const { return first_child != kNone && first_child == last_child; }
};

// The tree of the positions that hold records or lead to them, with the records in the order of
// gather_records. Node 0 is the root, present whenever there is a record.
class ChangeTree {
 public:
  explicit ChangeTree(const engine::ChangeLog& log);

  bool empty() const { return nodes_.empty(); }
  const PrettyNode& node(std::size_t at) const { return nodes_[at]; }
  const PrettyNode& root() const { return nodes_.front(); }

  // The records in gathering order, and the next record at the same node (kNone after the last).
  std::size_t change_count() const { return changes_.size(); }
  const engine::ChangeRecord& change(std::size_t at) const { return *changes_[at]; }
  std::size_t next_change(std::size_t at) const { return next_change_[at]; }

 private:
  std::size_t node_for(const engine::Position* position, std::vector<std::size_t>& node_of);

  std::vector<PrettyNode> nodes_;
  std::vector<const engine::ChangeRecord*> changes_;
  std::vector<std::size_t> next_change_;
  std::vector<const engine::Position*> missing_;  // scratch of node_for
};

// Every record of the log in the order the report sections are read: "values_changed",
// "type_changes", "dictionary_item_added", "dictionary_item_removed", "iterable_item_added",
// "iterable_item_removed", each in report order.
std::vector<const engine::ChangeRecord*> gather_records(const engine::ChangeLog& log);

// The change a record shows: its position's old and new nodes, and for a type change the type
// names of both.
ChangeKind resolve(const engine::ChangeRecord& record);

}  // namespace hexalume::pretty
