#include "engine/unordered.hpp"

#include <cstdint>
#include <vector>

#include "engine/path.hpp"
#include "value/hash.hpp"

namespace hexalume::engine {

namespace {

using value::Node;

// One distinct value of the old list, and how often it occurs on each side.
struct Group {
  std::size_t first;  // index in the old list of its first occurrence
  std::size_t in_old = 0;
  std::size_t in_new = 0;
  std::size_t seen = 0;  // occurrences met so far by a pass that records the surplus
};

// The distinct values of the old list: open addressing with linear probing over a table sized
// once for every old item, so it never grows. A slot holds an item's structural hash and its
// group; a hash match is confirmed by value equality with the group's first item, so two
// different values never share a group, even when their hashes collide. Values found only in
// the new list need no group, since none of their items can be matched.
class ItemGroups {
 public:
  static constexpr std::size_t kNone = SIZE_MAX;

  explicit ItemGroups(const Node& old_list) : old_items_(old_list.items) {
    const std::size_t count = old_list.size();
    std::size_t capacity = 8;
    while (capacity < count + count / 2 + 1) capacity *= 2;  // load stays below 2/3
    slots_.resize(capacity);
    groups_.reserve(count);
  }

  // The group of old item `index`, created on its first occurrence.
  Group& add_old(std::size_t index) {
    const Node& item = old_items_[index];
    const std::uint64_t hash = value::structural_hash(item);
    Slot& slot = slots_[probe(item, hash)];
    if (slot.group == kNone) {
      slot.hash = hash;
      slot.group = groups_.size();
      groups_.push_back(Group{index});
    }
    return groups_[slot.group];
  }

  // The group whose value equals `item`, or nullptr.
  Group* find(const Node& item) {
    const Slot& slot = slots_[probe(item, value::structural_hash(item))];
    return slot.group == kNone ? nullptr : &groups_[slot.group];
  }

  bool counts_match() const {
    for (const Group& group : groups_) {
      if (group.in_old != group.in_new) return false;
    }
    return true;
  }

  void reset_seen() {
    for (Group& group : groups_) group.seen = 0;
  }

 private:
  struct Slot {
    std::uint64_t hash = 0;
    std::size_t group = kNone;
  };

  // The slot of the group equal to `item`, or the free slot where it belongs.
  std::size_t probe(const Node& item, std::uint64_t hash) const {
    const std::size_t mask = slots_.size() - 1;
    for (std::size_t index = hash & mask;; index = (index + 1) & mask) {
      const Slot& slot = slots_[index];
      if (slot.group == kNone) return index;
      if (slot.hash != hash) continue;
      const Node& first = old_items_[groups_[slot.group].first];
      if (&first == &item || value::equal(first, item)) return index;
    }
  }

  const Node* old_items_;
  std::vector<Slot> slots_;
  std::vector<Group> groups_;
};

}  // namespace

void diff_unordered(const Node& t1, const Node& t2, std::string& path,
                    DiffAccumulator& accumulator) {
  // One pass over each list decides the common case of equal multisets, with nothing kept per
  // item; only lists that differ are walked again to find their surplus.
  const std::size_t old_size = t1.size();
  const std::size_t new_size = t2.size();
  ItemGroups groups(t1);
  for (std::size_t i = 0; i < old_size; ++i) ++groups.add_old(i).in_old;
  bool same = old_size == new_size;
  for (std::size_t i = 0; i < new_size; ++i) {
    if (Group* group = groups.find(t2.items[i])) {
      ++group->in_new;
    } else {
      same = false;
    }
  }
  if (same && groups.counts_match()) return;

  // The earliest occurrences of a value are the matched ones, so the surplus of each side is
  // always its last occurrences.
  const std::size_t mark = path.size();
  for (std::size_t i = 0; i < old_size; ++i) {
    Group& group = *groups.find(t1.items[i]);
    if (group.seen++ < group.in_new) continue;
    append_index_segment(path, i);
    accumulator.record_item_removed(path, t1.items[i]);
    path.resize(mark);
  }
  groups.reset_seen();
  for (std::size_t i = 0; i < new_size; ++i) {
    Group* group = groups.find(t2.items[i]);
    if (group != nullptr && group->seen++ < group->in_old) continue;
    append_index_segment(path, i);
    accumulator.record_item_added(path, t2.items[i]);
    path.resize(mark);
  }
}

}  // namespace hexalume::engine
