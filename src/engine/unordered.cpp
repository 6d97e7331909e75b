#include "engine/unordered.hpp"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <new>
#include <vector>

#include "value/address_order.hpp"
#include "value/hash.hpp"
#include "value/interrupt.hpp"

namespace hexalume::engine {

namespace {

using value::Node;

constexpr int kPrefetchLines = 4;
constexpr std::size_t kPrefetchChildren = 16;

// Memory hints for a node about to be read: its first few cache lines (a record's members, and
// usually its short strings after them) ...
void prefetch_node(const Node& node) {
  if (node.kind < value::Kind::String) return;
  const char* bytes = node.chars;
  for (int line = 0; line < kPrefetchLines; ++line) __builtin_prefetch(bytes + 64 * line);
}

// ... and, once those are loaded, the strings and child arrays its members or items point to.
void prefetch_children(const Node& node) {
  if (node.kind == value::Kind::Object) {
    const std::size_t count = std::min<std::size_t>(node.size(), kPrefetchChildren);
    for (std::size_t i = 0; i < count; ++i) {
      __builtin_prefetch(node.members[i].key.chars);
      if (node.members[i].value.kind >= value::Kind::String) {
        __builtin_prefetch(node.members[i].value.chars);
      }
    }
  } else if (node.kind == value::Kind::List) {
    const std::size_t count = std::min<std::size_t>(node.size(), kPrefetchChildren);
    for (std::size_t i = 0; i < count; ++i) {
      if (node.items[i].kind >= value::Kind::String) __builtin_prefetch(node.items[i].chars);
    }
  }
}

// A fixed array of value-initialised slots. A large table is read at random, so it takes its
// memory in huge pages: a lookup in a table of millions of slots then does not walk the page
// tables each time.
template <typename T>
class SlotTable {
 public:
  explicit SlotTable(std::size_t count) : count_(count), bytes_(count * sizeof(T)) {
    if (bytes_ >= value::kHugePageBytes) {
      bytes_ = (bytes_ + value::kHugePageBytes - 1) & ~(value::kHugePageBytes - 1);
      memory_ = value::map_pages(bytes_);
    } else {
      memory_ = std::malloc(bytes_ > 0 ? bytes_ : 1);
      if (memory_ == nullptr) throw std::bad_alloc();
    }
    data_ = static_cast<T*>(memory_);
    std::uninitialized_value_construct_n(data_, count);
  }
  ~SlotTable() {
    std::destroy_n(data_, count_);
    if (bytes_ >= value::kHugePageBytes) {
      value::unmap_pages(memory_, bytes_);
    } else {
      std::free(memory_);
    }
  }
  SlotTable(const SlotTable&) = delete;
  SlotTable& operator=(const SlotTable&) = delete;

  std::size_t size() const { return count_; }
  T& operator[](std::size_t index) { return data_[index]; }
  const T& operator[](std::size_t index) const { return data_[index]; }
  T* begin() { return data_; }
  T* end() { return data_ + count_; }
  const T* begin() const { return data_; }
  const T* end() const { return data_ + count_; }

 private:
  std::size_t count_;
  std::size_t bytes_;
  void* memory_ = nullptr;
  T* data_ = nullptr;
};

// The distinct values of the old list: open addressing with linear probing over a table sized
// once for every old item, so it never grows. A slot holds a structural hash, a view of the
// value's first item and the value's balance, so one lookup touches one slot of 32 bytes, never
// two cache lines; a hash match is confirmed by value equality with the first item, so two
// different values never share a slot, even when their hashes collide. Values found only in the
// new list need no slot, since none of their items can be matched. A group is named by the
// index of its slot.
class ItemGroups {
 public:
  static constexpr std::size_t kNoGroup = SIZE_MAX;

  // `last_try`: no other table follows, so this one never gives up (see overlong).
  ItemGroups(std::size_t old_count, std::size_t new_count, const value::HashKey& key, bool last_try)
      : key_(key),
        slots_(capacity_for(old_count)),
        mask_(slots_.size() - 1),
        step_budget_(last_try ? SIZE_MAX
                              : kStepsPerItem * (old_count + new_count) + kStepsAtLeast) {}

  // The key every item is hashed with for this table.
  const value::HashKey& key() const { return key_; }

  // Whether the lookups so far took more steps than hashes of random values ever need: the
  // input collides under this key, the passes stop, and a table under another key is built.
  bool overlong() const { return steps_ > step_budget_; }

  // Counts an old item in its group, which its first occurrence creates; returns the group.
  std::size_t add_old(const Node& item, std::uint64_t hash) {
    const std::size_t index = probe(item, hash);
    Slot& slot = slots_[index];
    if (slot.mark == kFree) {
      slot.mark = mark_of(hash);
      slot.first = item;
    }
    ++slot.balance;
    return index;
  }

  // The group whose value equals `item`, or kNoGroup.
  std::size_t find(const Node& item, std::uint64_t hash) {
    const std::size_t index = probe(item, hash);
    return slots_[index].mark == kFree ? kNoGroup : index;
  }

  // A group's old occurrences less its new ones, as far as they are counted.
  std::int64_t& balance(std::size_t group) { return slots_[group].balance; }
  void prefetch_group(std::size_t group) const { __builtin_prefetch(&slots_[group]); }

  // Memory hints for an item about to be looked up: first its home slot, then (once that is
  // loaded) the first item it will most likely be compared with.
  void prefetch_slot(std::uint64_t hash) const { __builtin_prefetch(&slots_[hash & mask_]); }
  void prefetch_first(std::uint64_t hash) const {
    const Slot& slot = slots_[hash & mask_];
    if (slot.mark == mark_of(hash)) prefetch_node(slot.first);
  }

  // Third hint, once the first item's own memory is loaded: what value equality reads next.
  void prefetch_first_children(std::uint64_t hash) const {
    const Slot& slot = slots_[hash & mask_];
    if (slot.mark == mark_of(hash)) prefetch_children(slot.first);
  }

 private:
  struct Slot {
    std::uint64_t mark = kFree;  // the hash of the group's value, with its lowest bit set
    Node first;                  // a view of the group's first item in the old list
    std::int64_t balance = 0;
  };
  static_assert(sizeof(Slot) == 32);

  // A taken slot's mark is never 0. The bit given up is one of 64 compared, and the home slot
  // still follows from the whole hash.
  static constexpr std::uint64_t kFree = 0;
  static std::uint64_t mark_of(std::uint64_t hash) { return hash | 1; }

  static std::size_t capacity_for(std::size_t old_count) {
    std::size_t capacity = 8;
    while (capacity < old_count + old_count / 2 + 1) capacity *= 2;  // load stays below 2/3
    return capacity;
  }

  // Linear probing below 2/3 load takes a few steps per lookup on average (about 5 for a
  // missing value at full load), so four times that over all lookups of a list only input
  // chosen to collide reaches.
  static constexpr std::size_t kStepsPerItem = 20;
  static constexpr std::size_t kStepsAtLeast = 4096;

  // The slot of the group equal to `item`, or the free slot where it belongs. Counts its steps.
  std::size_t probe(const Node& item, std::uint64_t hash) {
    const std::uint64_t mark = mark_of(hash);
    for (std::size_t index = hash & mask_;; index = (index + 1) & mask_) {
      ++steps_;
      const Slot& slot = slots_[index];
      if (slot.mark == kFree) return index;
      if (slot.mark != mark) continue;
      if (item.kind >= value::Kind::String && slot.first.kind == item.kind &&
          slot.first.items == item.items && slot.first.size() == item.size()) {
        return index;  // a view of the same memory: equal without looking inside
      }
      if (value::equal(slot.first, item)) return index;
    }
  }

  value::HashKey key_;
  SlotTable<Slot> slots_;
  std::size_t mask_;
  std::size_t step_budget_;
  std::size_t steps_ = 0;
};

// The positions of a list's items in the order of their memory, when that order is far from
// their own (a list that conversion read in address order); empty otherwise. Only a pass whose
// result does not depend on the order of visits may use it.
std::vector<std::size_t> memory_order(const Node& list) {
  const std::size_t count = list.size();
  auto address = [&](std::size_t i) {
    const Node& item = list.items[i];
    return item.kind >= value::Kind::String ? reinterpret_cast<std::uintptr_t>(item.chars) : 0;
  };
  if (!value::far_from_address_order(count, address)) return {};
  std::vector<value::Placed> placed(count);
  for (std::size_t i = 0; i < count; ++i) placed[i] = {address(i), i};
  value::sort_by_address(placed);
  std::vector<std::size_t> order(count);
  for (std::size_t i = 0; i < count; ++i) order[i] = placed[i].index;
  return order;
}

// Calls `visit(index, hash)` for every item, in the list's order or in `order` when given. Items
// go in batches: all of a batch are hashed and their slots requested, then the first items of
// their groups, then what those point to, and only then are they visited. Matching jumps around
// the old list, and a batch keeps many of those cache misses in flight at once, where one
// lookup after another would wait for each in turn.
template <typename Visit>
void for_each_hashed(const Node& list, const ItemGroups& groups, Visit visit,
                     const std::vector<std::size_t>& order = {}) {
  constexpr std::size_t kBatch = 32;
  std::uint64_t hashes[kBatch];
  const std::size_t count = list.size();
  auto index = [&](std::size_t step) { return order.empty() ? step : order[step]; };
  for (std::size_t start = 0; start < count; start += kBatch) {
    const std::size_t size = std::min(kBatch, count - start);
    value::poll_interrupt(size);
    if (groups.overlong()) [[unlikely]]
      return;
    // In memory order the items' own nodes lie anywhere in the list's array: the next batch's
    // are asked for while this one is hashed.
    if (!order.empty()) {
      for (std::size_t next = start + kBatch; next < count && next < start + 2 * kBatch; ++next) {
        __builtin_prefetch(&list.items[order[next]]);
      }
    }
    for (std::size_t i = 0; i < size; ++i) {
      hashes[i] = value::structural_hash(list.items[index(start + i)], groups.key());
      groups.prefetch_slot(hashes[i]);
    }
    for (std::size_t i = 0; i < size; ++i) groups.prefetch_first(hashes[i]);
    for (std::size_t i = 0; i < size; ++i) groups.prefetch_first_children(hashes[i]);
    for (std::size_t i = 0; i < size; ++i) visit(index(start + i), hashes[i]);
  }
}

// The group of every item of both lists, as counted into one table.
struct Counted {
  std::unique_ptr<std::size_t[]> old_groups;
  std::unique_ptr<std::size_t[]> new_groups;  // ItemGroups::kNoGroup for an unmatched value
  bool same = false;                          // both lists hold the same multiset of values
};

// Counts both lists into `groups` and notes each item's group. False when the lookups took too
// many steps (ItemGroups::overlong).
bool count_items(const Node& t1, const Node& t2, ItemGroups& groups, Counted& counted) {
  counted.old_groups = std::make_unique_for_overwrite<std::size_t[]>(t1.size());
  counted.new_groups = std::make_unique_for_overwrite<std::size_t[]>(t2.size());
  for_each_hashed(t1, groups, [&](std::size_t i, std::uint64_t hash) {
    counted.old_groups[i] = groups.add_old(t1.items[i], hash);
  });
  // With equal lengths, no new item without a group and no group more often new than old, every
  // group occurs as often on both sides: no pass over the table is needed to tell.
  bool same = t1.size() == t2.size();
  // Counting depends on no order: the new list is read in the order of its memory.
  for_each_hashed(
      t2, groups,
      [&](std::size_t i, std::uint64_t hash) {
        const std::size_t found = groups.find(t2.items[i], hash);
        counted.new_groups[i] = found;
        if (found == ItemGroups::kNoGroup) {
          same = false;
        } else if (--groups.balance(found) < 0) {
          same = false;
        }
      },
      memory_order(t2));
  counted.same = same;
  return !groups.overlong();
}

// The positions of one side's surplus in ascending order, found by going down the list:
// `surplus(group)` tells whether the item is one of its group's last occurrences that the other
// side lacks, and counts it off. Asks for the groups a few items ahead, as they lie anywhere in
// the table.
template <typename Surplus>
std::vector<std::size_t> surplus_items(std::size_t count, const std::size_t* groups_of,
                                       ItemGroups& groups, Surplus surplus) {
  constexpr std::size_t kAhead = 16;
  std::vector<std::size_t> found;
  for (std::size_t i = count; i-- > 0;) {
    value::poll_interrupt();
    if (i >= kAhead && groups_of[i - kAhead] != ItemGroups::kNoGroup) {
      groups.prefetch_group(groups_of[i - kAhead]);
    }
    if (surplus(groups_of[i])) found.push_back(i);
  }
  std::reverse(found.begin(), found.end());
  return found;
}

}  // namespace

void diff_unordered(PendingPath& here, DiffAccumulator& accumulator) {
  const Node& t1 = *here.here().old_node;
  const Node& t2 = *here.here().new_node;
  // One pass over each list decides the common case of equal multisets; only lists that differ
  // are walked again, through the groups noted per item, to find their surplus. Input that
  // collides under this process's key is counted again under fresh ones: a few tries, after
  // which the last table serves, slow but exact.
  constexpr int kFreshKeys = 3;
  auto table = std::make_unique<ItemGroups>(t1.size(), t2.size(), value::process_hash_key(), false);
  Counted counted;
  for (int tried = 1; !count_items(t1, t2, *table, counted); ++tried) {
    table = std::make_unique<ItemGroups>(t1.size(), t2.size(), value::fresh_hash_key(),
                                         tried == kFreshKeys);
  }
  if (counted.same) return;
  ItemGroups& groups = *table;

  // The earliest occurrences of a value are the matched ones, so the surplus of each side is
  // always its last occurrences: a positive balance is the old side's surplus, a negative one
  // the new side's.
  const std::vector<std::size_t> removed_items =
      surplus_items(t1.size(), counted.old_groups.get(), groups, [&](std::size_t group) {
        std::int64_t& balance = groups.balance(group);
        if (balance <= 0) return false;
        --balance;
        return true;
      });
  const std::vector<std::size_t> added_items =
      surplus_items(t2.size(), counted.new_groups.get(), groups, [&](std::size_t group) {
        if (group == ItemGroups::kNoGroup) return true;
        std::int64_t& balance = groups.balance(group);
        if (balance >= 0) return false;
        ++balance;
        return true;
      });

  // An added item finds the position of a removed one at its index by a cursor through the
  // removed ones, both going up the indices.
  const Position* parent = accumulator.intern(here);
  std::vector<Position*> removed;
  removed.reserve(removed_items.size());
  for (std::size_t i : removed_items) {
    Position fields;
    fields.step = StepKind::SetMember;
    fields.index = i;
    fields.old_node = &t1.items[i];
    removed.push_back(accumulator.add_position(parent, fields));
    accumulator.record(removed.back(), ChangeRecord::Kind::Removed);
  }
  std::size_t cursor = 0;
  for (std::size_t i : added_items) {
    while (cursor < removed.size() && removed[cursor]->index < i) ++cursor;
    Position* position;
    if (cursor < removed.size() && removed[cursor]->index == i) {
      position = removed[cursor];
    } else {
      Position fields;
      fields.step = StepKind::SetMember;
      fields.index = i;
      position = accumulator.add_position(parent, fields);
    }
    position->new_node = &t2.items[i];
    accumulator.record(position, ChangeRecord::Kind::Added);
  }
}

}  // namespace hexalume::engine
