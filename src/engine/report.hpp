#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "engine/change.hpp"
#include "options/record.hpp"
#include "value/inline_stack.hpp"
#include "value/value.hpp"

namespace hexalume::engine {

// Two records under one path in one path-keyed section ("values_changed", "type_changes",
// "iterable_item_added" or "iterable_item_removed"): keys are written into paths verbatim, so
// two positions can share a path text (the key "a']['b" under the root and "b" under "a").
struct PathCollision {
  std::string path;
  std::string_view section;  // the report key of the section
};

// The positions from the root down to the one the walk stands at. A position is interned (copied
// into the log) only when a record is made at it or below it. The chain is kept here, once per
// walk, not in the walk's frames: a level of the walk then costs the stack of its calls only, and
// each frame stays small (a position in a frame would make every level several times larger
// under the address sanitizer). The first levels sit in this object; a deeper chain moves to the
// heap.
class PendingPath {
 public:
  // Starts at the root, whose nodes are t1 and t2.
  PendingPath(const value::Node& t1, const value::Node& t2);
  PendingPath(const PendingPath&) = delete;
  PendingPath& operator=(const PendingPath&) = delete;

  // Goes down to the member of the two objects here (one side may be nullptr).
  void enter_member(const value::Member* old_member, const value::Member* new_member);
  // Goes down to the item at `index` of the two lists here (one side may be nullptr).
  void enter_item(std::size_t index, const value::Node* old_item, const value::Node* new_item);
  // Goes back up to the parent.
  void leave() { levels_.pop(); }

  // The position the walk stands at; its `parent` and `id` are set only once interned.
  const Position& here() const { return levels_.back().fields; }

 private:
  friend class DiffAccumulator;
  struct Level {
    Position fields;
    const Position* interned = nullptr;
  };

  // Sixteen levels are deeper than ordinary documents go.
  value::InlineStack<Level, 16> levels_;
};

// Collects the differences of one walk as records at interned positions. Positions hold views
// into the compared trees, so the trees must outlive the accumulator and the log built from it;
// the values of records are copied into the log, and the report built from it holds views of
// those copies, so the log must outlive the report.
class DiffAccumulator {
 public:
  DiffAccumulator() = default;
  DiffAccumulator(const DiffAccumulator&) = delete;
  DiffAccumulator& operator=(const DiffAccumulator&) = delete;
  DiffAccumulator(DiffAccumulator&&) noexcept = default;
  DiffAccumulator& operator=(DiffAccumulator&&) noexcept = default;

  // The interned position the walk stands at, interning its pending ancestors first where they
  // are not.
  const Position* intern(PendingPath& path);
  // Interns a new position below the interned `parent`, with the step and nodes of `fields`.
  Position* add_position(const Position* parent, const Position& fields);

  // Records a change at a position; its section follows from the kind and the step.
  void record(const Position* at, ChangeRecord::Kind kind);
  void record(PendingPath& path, ChangeRecord::Kind kind) { record(intern(path), kind); }

  // Consumes the accumulator and builds the report, whose values are views of the records'
  // copies. Sections are sorted by path bytes (stable); a later record under the same path
  // replaces an earlier one, and when `collision` is given the first such path (sections in
  // report key order, paths in byte order) is stored there. `verbose_level` 0 turns
  // "values_changed" into a sorted list of its paths. Empty sections are left out, so no
  // difference gives {}. The records move into `changes`, in report order, one per entry.
  friend value::Value into_value(DiffAccumulator&& accumulator, std::uint8_t verbose_level,
                                 std::optional<PathCollision>* collision, ChangeLog& changes);
  // Consumes the accumulator and gives its records, in the order they were made.
  friend ChangeLog take_log(DiffAccumulator&& accumulator) { return std::move(accumulator.log_); }

 private:
  ChangeLog log_;
};

value::Value into_value(DiffAccumulator&& accumulator, std::uint8_t verbose_level,
                        std::optional<PathCollision>* collision, ChangeLog& changes);

// The report of `log` as into_value builds it, its records put in report order in place.
value::Value report_of_log(ChangeLog& log, std::uint8_t verbose_level,
                           std::optional<PathCollision>* collision);

// Whether the report of `log` (records in the order they were made) may be built later, with
// the same result: no section keyed by path holds two records, so no two entries can share a
// path (which must be known when the comparison is made), and there are few records in all.
bool report_can_wait(const ChangeLog& log);

// The report of a log that report_can_wait() allowed to wait. It is built from copies of the
// records, which take report order only at the end, in a step that cannot fail: a call that
// throws (interrupted, out of memory) leaves the log as it was, and a call made while another
// builds the same report (from a signal handler) gives the same result.
value::Value report_of_waiting_log(ChangeLog& log, std::uint8_t verbose_level);

// The type name of a node as recorded in a type change: "null", "bool", "int", "float", "str",
// "list" or "dict".
std::string_view type_name(const value::Node& node);

}  // namespace hexalume::engine
