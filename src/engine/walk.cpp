#include "engine/walk.hpp"

#include <string>

#include "engine/numbers.hpp"
#include "engine/path.hpp"
#include "engine/unordered.hpp"
#include "value/internal_error.hpp"
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

// Everything one walk shares, passed by reference so recursive frames stay small: the recursion
// keeps no object of its own in its frames (the pending positions are on the heap). The path text
// is kept only for the path filters; records are made at positions.
struct Walk {
  const VesperonOptions& options;
  DiffAccumulator& accumulator;
  PendingPath& pending;
  std::string& path;
  bool filtering;
  // Wherever the inputs agree they hold one shared node, so a child that is not shared nearly
  // always differs and is visited without a test for equality first.
  bool shared_parts;
};

// Whether a child pair can be passed over: the same node, or (unless equal parts are shared)
// equal to the depth the test looks.
bool passed_over(const Walk& walk, const Node& old_child, const Node& new_child) {
  return value::same_node(old_child, new_child) ||
         (!walk.shared_parts && value::equal_within(old_child, new_child, kCheckLevels));
}

using Record = ChangeRecord::Kind;

// An added or removed member or item, recorded below the position the walk stands at. Out of
// line: its position fields would otherwise take room in every level of the recursion.
[[gnu::noinline]] void record_member(const Walk& walk, const value::Member* old_member,
                                     const value::Member* new_member, Record kind) {
  walk.pending.enter_member(old_member, new_member);
  walk.accumulator.record(walk.pending, kind);
  walk.pending.leave();
}

[[gnu::noinline]] void record_item(const Walk& walk, std::size_t index, const Node* old_item,
                                   const Node* new_item, Record kind) {
  walk.pending.enter_item(index, old_item, new_item);
  walk.accumulator.record(walk.pending, kind);
  walk.pending.leave();
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
    case Kind::Deferred:  // never compared with another kind: it stands only for equal parts
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

void record_kind_change(const Walk& walk, const Node& t1, const Node& t2) {
  walk.accumulator.record(walk.pending, in_one_group(t1.kind, t2.kind, walk.options)
                                            ? Record::Changed
                                            : Record::TypeChanged);
}

void visit(const Walk& walk, const Node& t1, const Node& t2);

// Members paired from both inputs share one key text: those compare without reading it.
int key_order(std::string_view old_key, std::string_view new_key) {
  if (old_key.data() == new_key.data() && old_key.size() == new_key.size()) return 0;
  return old_key.compare(new_key);
}

// A child shown equal gets no position and no visit: an equal child cannot record anything,
// whatever the options. A child too deep to be shown equal is visited, and records nothing if
// it is equal after all.
void diff_objects(const Walk& walk, const Node& t1, const Node& t2) {
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
      order = key_order(old_member->key.string(), new_member->key.string());
    }
    if (order == 0) {
      // Parts both inputs hold equally are mostly one shared node: no call for those.
      if (!passed_over(walk, old_member->value, new_member->value)) {
        walk.pending.enter_member(old_member, new_member);
        if (walk.filtering) append_key_segment(path, old_member->key.string());
        visit(walk, old_member->value, new_member->value);
        path.resize(mark);
        walk.pending.leave();
      }
      ++old_member;
      ++new_member;
    } else if (order < 0) {
      record_member(walk, old_member, nullptr, Record::Removed);
      ++old_member;
    } else {
      record_member(walk, nullptr, new_member, Record::Added);
      ++new_member;
    }
  }
}

void diff_lists(const Walk& walk, const Node& t1, const Node& t2) {
  const std::size_t old_size = t1.size();
  const std::size_t new_size = t2.size();
  const std::size_t common = old_size < new_size ? old_size : new_size;
  std::string& path = walk.path;
  const std::size_t mark = path.size();
  for (std::size_t i = 0; i < common; ++i) {
    value::poll_interrupt();
    if (passed_over(walk, t1.items[i], t2.items[i])) continue;
    walk.pending.enter_item(i, &t1.items[i], &t2.items[i]);
    if (walk.filtering) append_index_segment(path, i);
    visit(walk, t1.items[i], t2.items[i]);
    path.resize(mark);
    walk.pending.leave();
  }
  for (std::size_t i = common; i < old_size; ++i) {
    record_item(walk, i, &t1.items[i], nullptr, Record::Removed);
  }
  for (std::size_t i = common; i < new_size; ++i) {
    record_item(walk, i, nullptr, &t2.items[i], Record::Added);
  }
}

// The comparison of one position whose path has passed the filters.
void compare(const Walk& walk, const Node& t1, const Node& t2) {
  if (t1.kind != t2.kind) {
    record_kind_change(walk, t1, t2);
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
        diff_unordered(walk.pending, walk.accumulator);
      } else {
        diff_lists(walk, t1, t2);
      }
      return;
    case Kind::Object:
      diff_objects(walk, t1, t2);
      return;
    case Kind::Deferred:
      // Both sides hold the same node wherever the inputs agree, and identical nodes never get
      // here; two different ones would be a pairing fault.
      throw value::InternalError("unconverted parts of the inputs were compared");
  }
  if (!same) walk.accumulator.record(walk.pending, Record::Changed);
}

void visit(const Walk& walk, const Node& t1, const Node& t2) {
  value::check_stack(value::kInComparison);
  if (walk.filtering && filtered_out(walk.path, walk.options)) return;
  compare(walk, t1, t2);
}

}  // namespace

void diff_values(const Node& t1, const Node& t2, const VesperonOptions& options,
                 DiffAccumulator& accumulator, Inputs inputs) {
  std::string path = "root";
  const bool filtering = !options.exclude_paths.empty() || !options.include_paths.empty();
  if (filtering && filtered_out(path, options)) return;
  const bool shared_parts = inputs == Inputs::SharingEqualParts;
  if (!shared_parts && value::equal(t1, t2)) return;
  PendingPath pending(t1, t2);
  compare(Walk{options, accumulator, pending, path, filtering, shared_parts}, t1, t2);
}

}  // namespace hexalume::engine
