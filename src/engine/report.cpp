#include "engine/report.hpp"

#include <algorithm>
#include <memory>
#include <string>

#include "value/interrupt.hpp"

namespace hexalume::engine {

namespace {

using value::Arena;
using value::Kind;
using value::Member;
using value::Node;
using value::NumberRep;

using Entry = DiffAccumulator::Entry;

bool path_less(const Node& left, const Node& right) {
  value::poll_interrupt();
  return left.string() < right.string();
}

// Sorts by path bytes; equal paths stay in record order, so the last of each run is the newest.
// The first path recorded twice goes into `collision` unless it already holds one. Duplicates
// are adjacent after the sort, so finding them costs nothing beyond the pass that drops them.
void sort_entries(std::vector<Entry>& entries, std::string_view section,
                  std::optional<PathCollision>* collision) {
  auto by_path = [](const Entry& left, const Entry& right) {
    return path_less(left.path, right.path);
  };
  if (!std::is_sorted(entries.begin(), entries.end(), by_path)) {
    std::stable_sort(entries.begin(), entries.end(), by_path);
  }
  std::size_t kept = 0;
  for (std::size_t i = 0; i < entries.size(); ++i) {
    if (kept > 0 && entries[kept - 1].path.string() == entries[i].path.string()) {
      if (collision != nullptr && !collision->has_value()) {
        *collision = PathCollision{std::string(entries[i].path.string()), section};
      }
      entries[kept - 1] = entries[i];
    } else {
      entries[kept++] = entries[i];
    }
  }
  entries.resize(kept);
}

Node object_section(Arena& arena, std::vector<Entry>& entries, std::string_view section,
                    std::optional<PathCollision>* collision) {
  sort_entries(entries, section, collision);
  Member* members = arena.allocate_members(entries.size());
  for (std::size_t i = 0; i < entries.size(); ++i) {
    members[i].key = entries[i].path;
    members[i].value = entries[i].value;
  }
  return value::make_object(members, entries.size());
}

Node list_section(Arena& arena, const std::vector<Node>& paths) {
  Node* items = arena.allocate_nodes(paths.size());
  std::copy(paths.begin(), paths.end(), items);
  return value::make_list(items, paths.size());
}

Node path_list_section(Arena& arena, std::vector<Node>& paths) {
  if (!std::is_sorted(paths.begin(), paths.end(), path_less)) {
    std::stable_sort(paths.begin(), paths.end(), path_less);
  }
  return list_section(arena, paths);
}

Node entry_paths_section(Arena& arena, std::vector<Entry>& entries, std::string_view section,
                         std::optional<PathCollision>* collision) {
  sort_entries(entries, section, collision);
  Node* items = arena.allocate_nodes(entries.size());
  for (std::size_t i = 0; i < entries.size(); ++i) items[i] = entries[i].path;
  return value::make_list(items, entries.size());
}

}  // namespace

void DiffAccumulator::record_changed_value(std::string_view path, const Node& old_value,
                                           const Node& new_value) {
  // Members in key byte order: "new_value" < "old_value".
  Member* members = arena_.allocate_members(2);
  members[0] = {value::make_string(arena_, "new_value"), value::copy_node(new_value, arena_)};
  members[1] = {value::make_string(arena_, "old_value"), value::copy_node(old_value, arena_)};
  values_changed_.push_back({value::make_string(arena_, path), value::make_object(members, 2)});
}

void DiffAccumulator::record_type_change(std::string_view path, const Node& old_value,
                                         const Node& new_value) {
  // Members in key byte order: "new_type" < "new_value" < "old_type" < "old_value".
  Member* members = arena_.allocate_members(4);
  members[0] = {value::make_string(arena_, "new_type"),
                value::make_string(arena_, type_name(new_value))};
  members[1] = {value::make_string(arena_, "new_value"), value::copy_node(new_value, arena_)};
  members[2] = {value::make_string(arena_, "old_type"),
                value::make_string(arena_, type_name(old_value))};
  members[3] = {value::make_string(arena_, "old_value"), value::copy_node(old_value, arena_)};
  type_changes_.push_back({value::make_string(arena_, path), value::make_object(members, 4)});
}

void DiffAccumulator::record_item_added(std::string_view path, const Node& item) {
  iterable_item_added_.push_back(
      {value::make_string(arena_, path), value::copy_node(item, arena_)});
}

void DiffAccumulator::record_item_removed(std::string_view path, const Node& item) {
  iterable_item_removed_.push_back(
      {value::make_string(arena_, path), value::copy_node(item, arena_)});
}

void DiffAccumulator::record_key_added(std::string_view path) {
  dictionary_item_added_.push_back(value::make_string(arena_, path));
}

void DiffAccumulator::record_key_removed(std::string_view path) {
  dictionary_item_removed_.push_back(value::make_string(arena_, path));
}

bool DiffAccumulator::empty() const {
  return values_changed_.empty() && dictionary_item_added_.empty() &&
         dictionary_item_removed_.empty() && iterable_item_added_.empty() &&
         iterable_item_removed_.empty() && type_changes_.empty();
}

value::Value into_value(DiffAccumulator&& accumulator, std::uint8_t verbose_level,
                        std::optional<PathCollision>* collision) {
  auto arena = std::make_unique<Arena>(std::move(accumulator.arena_));
  Member sections[6];
  std::size_t count = 0;
  auto add = [&](std::string_view key, Node section) {
    sections[count++] = {value::make_string(*arena, key), section};
  };
  // Added in ascending byte order of the report keys, which is the order objects keep.
  if (!accumulator.dictionary_item_added_.empty()) {
    add("dictionary_item_added", path_list_section(*arena, accumulator.dictionary_item_added_));
  }
  if (!accumulator.dictionary_item_removed_.empty()) {
    add("dictionary_item_removed", path_list_section(*arena, accumulator.dictionary_item_removed_));
  }
  if (!accumulator.iterable_item_added_.empty()) {
    add("iterable_item_added",
        object_section(*arena, accumulator.iterable_item_added_, "iterable_item_added", collision));
  }
  if (!accumulator.iterable_item_removed_.empty()) {
    add("iterable_item_removed", object_section(*arena, accumulator.iterable_item_removed_,
                                                "iterable_item_removed", collision));
  }
  if (!accumulator.type_changes_.empty()) {
    add("type_changes",
        object_section(*arena, accumulator.type_changes_, "type_changes", collision));
  }
  if (!accumulator.values_changed_.empty()) {
    add("values_changed",
        verbose_level == 0
            ? entry_paths_section(*arena, accumulator.values_changed_, "values_changed", collision)
            : object_section(*arena, accumulator.values_changed_, "values_changed", collision));
  }
  Member* members = count == 0 ? nullptr : arena->allocate_members(count);
  std::copy(sections, sections + count, members);

  accumulator.values_changed_.clear();
  accumulator.dictionary_item_added_.clear();
  accumulator.dictionary_item_removed_.clear();
  accumulator.iterable_item_added_.clear();
  accumulator.iterable_item_removed_.clear();
  accumulator.type_changes_.clear();
  return value::Value(std::move(arena), value::make_object(members, count));
}

std::string_view type_name(const Node& node) {
  switch (node.kind) {
    case Kind::Null:
      return "null";
    case Kind::Bool:
      return "bool";
    case Kind::Number:
      return node.rep == NumberRep::Float ? "float" : "int";
    case Kind::String:
      return "str";
    case Kind::List:
      return "list";
    case Kind::Object:
      return "dict";
  }
  return "null";
}

}  // namespace hexalume::engine
