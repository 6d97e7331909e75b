#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

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

// Collects the differences of one walk. Every recorded path and value is copied into the
// accumulator's own arena; `into_value` moves that arena into the report without copying.
class DiffAccumulator {
 public:
  struct Entry {
    value::Node path;   // a String node in `arena_`
    value::Node value;  // a copy in `arena_`
  };

  DiffAccumulator() = default;
  DiffAccumulator(const DiffAccumulator&) = delete;
  DiffAccumulator& operator=(const DiffAccumulator&) = delete;
  DiffAccumulator(DiffAccumulator&&) noexcept = default;
  DiffAccumulator& operator=(DiffAccumulator&&) noexcept = default;

  // Keyed records: a later record under the same path replaces an earlier one in the report,
  // and `into_value` reports the collision.
  void record_changed_value(std::string_view path, const value::Node& old_value,
                            const value::Node& new_value);
  void record_type_change(std::string_view path, const value::Node& old_value,
                          const value::Node& new_value);
  void record_item_added(std::string_view path, const value::Node& item);
  void record_item_removed(std::string_view path, const value::Node& item);
  // Path-only records: every record is kept, duplicates included.
  void record_key_added(std::string_view path);
  void record_key_removed(std::string_view path);

  bool empty() const;

  // Consumes the accumulator. Sections are sorted by path bytes (stable); a later record under
  // the same path replaces an earlier one, and when `collision` is given the first such path
  // (sections in report key order, paths in byte order) is stored there. `verbose_level` 0
  // turns "values_changed" into a sorted list of its paths. Empty sections are left out, so no
  // difference gives {}.
  friend value::Value into_value(DiffAccumulator&& accumulator, std::uint8_t verbose_level,
                                 std::optional<PathCollision>* collision);

 private:
  value::Arena arena_;
  std::vector<Entry> values_changed_;
  std::vector<value::Node> dictionary_item_added_;
  std::vector<value::Node> dictionary_item_removed_;
  std::vector<Entry> iterable_item_added_;
  std::vector<Entry> iterable_item_removed_;
  std::vector<Entry> type_changes_;
};

value::Value into_value(DiffAccumulator&& accumulator, std::uint8_t verbose_level,
                        std::optional<PathCollision>* collision = nullptr);

// The type name of a node as recorded in a type change: "null", "bool", "int", "float", "str",
// "list" or "dict".
std::string_view type_name(const value::Node& node);

}  // namespace hexalume::engine
