#include "engine/walk.hpp"

#include <string>

#include "engine/numbers.hpp"
#include "engine/path.hpp"
#include "engine/unordered.hpp"
#include "value/interrupt.hpp"
#include "value/stack_limit.hpp"

namespace hexalume::engine {

namespace {

using options::ValueType;
using options::VesperonOptions;
using value::Kind;
using value::Node;

// How deep the equality test of a child looks before the walk descends into it instead. A full
// test at every level would make a change at the bottom of a deep chain cost the square of its
// depth; ordinary documents are shallower than this, so for them nothing changes.
constexpr std::size_t kCheckLevels = 64;

// Everything one walk shares, passed by reference so recursive frames stay small. The path text
// is kept only for the path filters; records are made at positions.
struct Walk {
  const VesperonOptions& options;
  DiffAccumulator& accumulator;
  std::string& path;
  bool filtering;
};

using Record = ChangeRecord::Kind;

PendingPosition member_at(PendingPosition& parent, const value::Member* old_member,
                          const value::Member* new_member) {
  Position here;
  here.step = StepKind::Member;
  here.key = old_member != nullptr ? old_member->key : new_member->key;
  here.old_node = old_member != nullptr ? &old_member->value : nullptr;
  here.new_node = new_member != nullptr ? &new_member->value : nullptr;
  return {&parent, here, nullptr};
}

PendingPosition item_at(PendingPosition& parent, std::size_t index, const Node* old_item,
                        const Node* new_item) {
  Position here;
  here.step = StepKind::Index;
  here.index = index;
  here.old_node = old_item;
  here.new_node = new_item;
  return {&parent, here, nullptr};
}

// Whole-byte prefix tests, no segment boundaries: excluding root['a skips root['ab'] too.
bool filtered_out(std::string_view path, const VesperonOptions& options) {
  for (const std::string& entry : options.exclude_paths) {
    if (path.starts_with(entry)) return true;
  }
  if (options.include_paths.empty()) return false;
  for (const std::string& entry : options.include_paths) {
    if (path.starts_with(entry) || std::string_view(entry).starts_with(path)) return false;
  }
  return true;
}

ValueType value_type(Kind kind) {
  switch (kind) {
    case Kind::Null:
      return ValueType::Null;
    case Kind::Bool:
      return ValueType::Bool;
    case Kind::Number:
      return ValueType::Number;
    case Kind::String:
      return ValueType::String;
    case Kind::List:
      return ValueType::List;
    case Kind::Object:
      return ValueType::Dict;
  }
  return ValueType::Null;
}

bool in_one_group(Kind old_kind, Kind new_kind, const VesperonOptions& options) {
  ValueType old_type = value_type(old_kind);
  ValueType new_type = value_type(new_kind);
  for (const auto& group : options.ignore_type_in_groups) {
    bool has_old = false;
    bool has_new = false;
    for (ValueType member : group) {
      has_old = has_old || member == old_type;
      has_new = has_new || member == new_type;
    }
    if (has_old && has_new) return true;
  }
  return false;
}

void record_kind_change(const Walk& walk, PendingPosition& here) {
  const Kind old_kind = here.here.old_node->kind;
  const Kind new_kind = here.here.new_node->kind;
  walk.accumulator.record(
      here, in_one_group(old_kind, new_kind, walk.options) ? Record::Changed : Record::TypeChanged);
}

void visit(const Walk& walk, PendingPosition& here);

// A child shown equal gets no position and no visit: an equal child cannot record anything,
// whatever the options. A child too deep to be shown equal is visited, and records nothing if
// it is equal after all.
void diff_objects(const Walk& walk, PendingPosition& here) {
  const Node& t1 = *here.here.old_node;
  const Node& t2 = *here.here.new_node;
  // Keys are kept sorted by bytes, so the two objects are compared in one merge pass instead
  // of one lookup per key.
  const value::Member* old_member = t1.members;
  const value::Member* old_end = old_member + t1.size();
  const value::Member* new_member = t2.members;
  const value::Member* new_end = new_member + t2.size();
  std::string& path = walk.path;
  const std::size_t mark = path.size();
  while (old_member != old_end || new_member != new_end) {
    value::poll_interrupt();
    int order;
    if (old_member == old_end) {
      order = 1;
    } else if (new_member == new_end) {
      order = -1;
    } else {
      order = old_member->key.string().compare(new_member->key.string());
    }
    if (order == 0) {
      if (!value::equal_within(old_member->value, new_member->value, kCheckLevels)) {
        PendingPosition child = member_at(here, old_member, new_member);
        if (walk.filtering) append_key_segment(path, old_member->key.string());
        visit(walk, child);
        path.resize(mark);
      }
      ++old_member;
      ++new_member;
    } else if (order < 0) {
      PendingPosition child = member_at(here, old_member, nullptr);
      walk.accumulator.record(child, Record::Removed);
      ++old_member;
    } else {
      PendingPosition child = member_at(here, nullptr, new_member);
      walk.accumulator.record(child, Record::Added);
      ++new_member;
    }
  }
}

void diff_lists(const Walk& walk, PendingPosition& here) {
  const Node& t1 = *here.here.old_node;
  const Node& t2 = *here.here.new_node;
  const std::size_t old_size = t1.size();
  const std::size_t new_size = t2.size();
  const std::size_t common = old_size < new_size ? old_size : new_size;
  std::string& path = walk.path;
  const std::size_t mark = path.size();
  for (std::size_t i = 0; i < common; ++i) {
    value::poll_interrupt();
    if (value::equal_within(t1.items[i], t2.items[i], kCheckLevels)) continue;
    PendingPosition child = item_at(here, i, &t1.items[i], &t2.items[i]);
    if (walk.filtering) append_index_segment(path, i);
    visit(walk, child);
    path.resize(mark);
  }
  for (std::size_t i = common; i < old_size; ++i) {
    PendingPosition child = item_at(here, i, &t1.items[i], nullptr);
    walk.accumulator.record(child, Record::Removed);
  }
  for (std::size_t i = common; i < new_size; ++i) {
    PendingPosition child = item_at(here, i, nullptr, &t2.items[i]);
    walk.accumulator.record(child, Record::Added);
  }
}

// The comparison of one position whose path has passed the filters.
void compare(const Walk& walk, PendingPosition& here) {
  const Node& t1 = *here.here.old_node;
  const Node& t2 = *here.here.new_node;
  if (t1.kind != t2.kind) {
    record_kind_change(walk, here);
    return;
  }
  bool same = true;
  switch (t1.kind) {
    case Kind::Null:
      return;
    case Kind::Bool:
      same = t1.boolean == t2.boolean;
      break;
    case Kind::Number:
      same = numbers_equal(t1, t2, walk.options);
      break;
    case Kind::String:
      same = t1.string() == t2.string();
      break;
    case Kind::List:
      if (walk.options.ignore_order) {
        diff_unordered(here, walk.accumulator);
      } else {
        diff_lists(walk, here);
      }
      return;
    case Kind::Object:
      diff_objects(walk, here);
      return;
  }
  if (!same) walk.accumulator.record(here, Record::Changed);
}

void visit(const Walk& walk, PendingPosition& here) {
  value::check_stack(value::kInComparison);
  if (walk.filtering && filtered_out(walk.path, walk.options)) return;
  compare(walk, here);
}

}  // namespace

void diff_values(const Node& t1, const Node& t2, const VesperonOptions& options,
                 DiffAccumulator& accumulator) {
  std::string path = "root";
  const bool filtering = !options.exclude_paths.empty() || !options.include_paths.empty();
  if (filtering && filtered_out(path, options)) return;
  if (value::equal(t1, t2)) return;
  PendingPosition root;
  root.here.old_node = &t1;
  root.here.new_node = &t2;
  compare(Walk{options, accumulator, path, filtering}, root);
}

}  // namespace hexalume::engine
