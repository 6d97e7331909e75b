#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

#include "engine/path.hpp"
#include "pretty/lines.hpp"
#include "pretty/lookup.hpp"
#include "value/value.hpp"

namespace hexalume::pretty {

// A change as one report entry gives it, as views into the report. A value the entry does not
// carry (nullptr) is the value at the entry's own position in t1 (old) or t2 (new).
struct PendingChange {
  enum class Kind : std::uint8_t { Changed, TypeChanged, Added, Removed };
  Kind kind = Kind::Changed;
  const value::Node* old_value = nullptr;
  const value::Node* new_value = nullptr;
  const value::Node* types = nullptr;  // TypeChanged: the entry holding "old_type", "new_type"

  // Whether drawing it needs the values at its position: a value it shows but does not carry.
  bool needs_lookup() const {
    switch (kind) {
      case Kind::Added:
        return new_value == nullptr;
      case Kind::Removed:
        return old_value == nullptr;
      default:
        return old_value == nullptr || new_value == nullptr;
    }
  }
};

// The change to draw, given where the entry's path leads. A value that is neither carried nor
// found is null for Changed / TypeChanged and absent (a placeholder) for Added / Removed; a type
// name that is missing or not a string is "unknown".
ChangeKind resolve(const PendingChange& change, Located here);

// Where a change's values are, given where its path (`path`, the text after "root") led by its
// first reading: `here` itself, unless the change needs a lookup and the path may name another
// position; then the one position that the path can name for that change, or none.
Located settle(const PendingChange& change, Located here, const value::Node& t1,
               const value::Node& t2, std::string_view path);

// One report entry: its path text after "root" and its change.
struct ReportEntry {
  std::string_view path;
  PendingChange change;
  std::size_t cursor = 0;  // where the next unread segment of `path` starts
};

// One position of the tree of changes: the entries whose paths pass through it or end at it,
// as a range of the tree's entry order. A node exists because some entry's path reaches it.
struct PrettyNode {
  engine::PathStep segment;  // the step from the parent; unused for the root
  std::size_t first = 0;     // entries [first, split) end here: its changes, in report order
  std::size_t split = 0;     // entries [split, last) continue below, in report order
  std::size_t last = 0;

  bool has_changes() const { return first != split; }
  bool has_children() const { return split != last; }
};

// The tree of changes, built only as far as it is looked at: `expand` reads one more path
// segment of each entry below a node. Nothing below the drawn levels is ever parsed.
class ChangeTree {
 public:
  // Takes the entries in report order. An entry whose path cannot be read within its first
  // `checked_segments` segments is dropped; deeper segments are read only when expanded, and an
  // entry whose path turns out unreadable there is dropped from that level on.
  ChangeTree(std::vector<ReportEntry> entries, std::uint64_t checked_segments);

  const PrettyNode& root() const { return root_; }
  bool empty() const { return root_.first == root_.last; }

  // Appends the children of `node` to `out`, in order of first appearance in the report, no two
  // with equal segments. Each child's entries keep report order. Call once per node, after its
  // parent was expanded. Costs one segment scan per entry below `node`.
  void expand(const PrettyNode& node, std::vector<PrettyNode>& out);

  const PendingChange& change(std::size_t at) const { return entries_[order_[at]].change; }
  std::string_view path(std::size_t at) const { return entries_[order_[at]].path; }

 private:
  std::size_t child_for(const engine::PathStep& step, std::vector<PrettyNode>& out,
                        std::size_t base);

  std::vector<ReportEntry> entries_;
  std::vector<std::size_t> order_;  // entry indices; every node's entries are one range of it
  PrettyNode root_;
  // Scratch of `expand`, kept for the whole rendering so that a level allocates nothing.
  std::vector<std::size_t> placed_;
  std::vector<std::size_t> child_of_;  // per entry of the expanded range: its child and a flag
  std::vector<std::size_t> by_index_;  // child + 1 by list position below direct_limit_, 0 free
  std::size_t direct_limit_ = 0;
  std::vector<std::size_t> slots_;  // open-addressing index of many children: child + 1, 0 free
  std::vector<std::size_t> write_end_;
  std::vector<std::size_t> write_continue_;
};

}  // namespace hexalume::pretty
