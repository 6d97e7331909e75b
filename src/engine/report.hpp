#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "engine/change.hpp"
#include "options/record.hpp"
#include "value/value.hpp"

namespace hexalume::engine {

// Two records under one path in one path-keyed section ("values_changed", "type_changes",
// "iterable_item_added" or "iterable_item_removed"): keys are written into paths verbatim, so
// two positions can share a path text (the key "a']['b" under the root and "b" under "a").
struct PathCollision {
  std::string path;
  std::string_view section;  // the report key of the section
};

// A position the walk stands at, not interned yet: its fields and its pending parent. It is
// interned (copied into the log) only when a record is made at it or below it.
struct PendingPosition {
  PendingPosition* parent = nullptr;
  Position here;  // `parent` and `id` are filled in when interned
  const Position* interned = nullptr;
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

  // The interned position of `at`, interning its pending ancestors first where they are not.
  const Position* intern(PendingPosition& at);
  // Interns a new position below the interned `parent`, with the step and nodes of `fields`.
  Position* add_position(const Position* parent, const Position& fields);

  // Records a change at a position; its section follows from the kind and the step.
  void record(const Position* at, ChangeRecord::Kind kind);
  void record(PendingPosition& at, ChangeRecord::Kind kind) { record(intern(at), kind); }

  bool empty() const;

  // Consumes the accumulator and builds the report, whose values are views of the records'
  // copies. Sections are sorted by path bytes (stable); a later record under the same path
  // replaces an earlier one, and when `collision` is given the first such path (sections in
  // report key order, paths in byte order) is stored there. `verbose_level` 0 turns
  // "values_changed" into a sorted list of its paths. Empty sections are left out, so no
  // difference gives {}. The records move into `changes`, in report order, one per entry.
  friend value::Value into_value(DiffAccumulator&& accumulator, std::uint8_t verbose_level,
                                 std::optional<PathCollision>* collision, ChangeLog& changes);

 private:
  ChangeLog log_;
  std::vector<PendingPosition*> pending_;  // scratch of `intern`
};

value::Value into_value(DiffAccumulator&& accumulator, std::uint8_t verbose_level,
                        std::optional<PathCollision>* collision, ChangeLog& changes);

// The type name of a node as recorded in a type change: "null", "bool", "int", "float", "str",
// "list" or "dict".
std::string_view type_name(const value::Node& node);

}  // namespace hexalume::engine
