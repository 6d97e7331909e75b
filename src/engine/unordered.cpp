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

// One distinct value of the old list: how often it occurs on each side, and how many of its
// occurrences a pass that records the surplus has met so far.
struct Group {
  std::size_t in_old = 0;
  std::size_t in_new = 0;
  std::size_t seen = 0;
};

// The distinct values of the old list: open addressing with linear probing over a table sized
// once for every old item, so it never grows. A slot holds a structural hash, a view of the
// value's first item and the value's counts, so one lookup touches one slot; a hash match is
// confirmed by value equality with the first item, so two different values never share a slot,
// even when their hashes collide. Values found only in the new list need no slot, since none of
// their items can be matched.
class ItemGroups {
 public:
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

  // Counts an old item in its group, which its first occurrence creates.
  void add_old(const Node& item, std::uint64_t hash) {
    Slot& slot = slots_[probe(item, hash)];
    if (slot.group.in_old == 0) {
      slot.hash = hash;
      slot.first = item;
    }
    ++slot.group.in_old;
  }

  // The group whose value equals `item`, or nullptr.
  Group* find(const Node& item, std::uint64_t hash) {
    Slot& slot = slots_[probe(item, hash)];
    return slot.group.in_old == 0 ? nullptr : &slot.group;
  }

  // Memory hints for an item about to be looked up: first its home slot, then (once that is
  // loaded) the children of the first item it will most likely be compared with.
  void prefetch_slot(std::uint64_t hash) const { __builtin_prefetch(&slots_[hash & mask_]); }
  void prefetch_first(std::uint64_t hash) const {
    const Slot& slot = slots_[hash & mask_];
    if (slot.hash == hash && slot.group.in_old != 0) prefetch_node(slot.first);
  }

  // Third hint, once the first item's own memory is loaded: what value equality reads next.
  void prefetch_first_children(std::uint64_t hash) const {
    const Slot& slot = slots_[hash & mask_];
    if (slot.hash == hash && slot.group.in_old != 0) prefetch_children(slot.first);
  }

  bool counts_match() const {
    for (const Slot& slot : slots_) {
      if (slot.group.in_old != slot.group.in_new) return false;
    }
    return true;
  }

  void reset_seen() {
    for (Slot& slot : slots_) slot.group.seen = 0;
  }

 private:
  struct Slot {
    std::uint64_t hash = 0;
    Node first;   // a view of the group's first item in the old list
    Group group;  // in_old is 0 for a free slot
  };

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
    for (std::size_t index = hash & mask_;; index = (index + 1) & mask_) {
      ++steps_;
      const Slot& slot = slots_[index];
      if (slot.group.in_old == 0) return index;
      if (slot.hash != hash) continue;
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

// Calls `visit(index, hash)` for every item, in the list's order or in `order` when given,
// hashing a few items ahead and asking for their slots and first items early: matching jumps
// around the old list, and without the hints each lookup waits for several cache misses in a
// row. The items themselves are requested before they are hashed, as a list read out of order
// may hold them anywhere in its tree.
template <typename Visit>
void for_each_hashed(const Node& list, const ItemGroups& groups, Visit visit,
                     const std::vector<std::size_t>& order = {}) {
  constexpr std::size_t kItemAhead = 16;         // item requested this many items before hashing
  constexpr std::size_t kItemChildrenAhead = 8;  // and its strings and child arrays this many
  constexpr std::size_t kSlotAhead = 12;         // hashed and slot requested this many items ahead
  constexpr std::size_t kFirstAhead = 8;         // first item requested this many items ahead
  constexpr std::size_t kChildrenAhead = 4;      // and its strings and child arrays this many
  constexpr std::size_t kRing = 32;              // hashes kept, a power of two > kSlotAhead
  std::uint64_t hashes[kRing];
  const std::size_t count = list.size();
  auto item = [&](std::size_t step) -> const Node& {
    return list.items[order.empty() ? step : order[step]];
  };
  for (std::size_t ahead = 0; ahead < count + kSlotAhead; ++ahead) {
    value::poll_interrupt();
    if (groups.overlong()) [[unlikely]]
      return;
    if (ahead + kItemAhead < count) prefetch_node(item(ahead + kItemAhead));
    if (ahead + kItemChildrenAhead < count) prefetch_children(item(ahead + kItemChildrenAhead));
    if (ahead < count) {
      const std::uint64_t hash = value::structural_hash(item(ahead), groups.key());
      hashes[ahead % kRing] = hash;
      groups.prefetch_slot(hash);
    }
    if (ahead >= kFirstAhead && ahead - kFirstAhead < count) {
      groups.prefetch_first(hashes[(ahead - kFirstAhead) % kRing]);
    }
    if (ahead >= kChildrenAhead && ahead - kChildrenAhead < count) {
      groups.prefetch_first_children(hashes[(ahead - kChildrenAhead) % kRing]);
    }
    if (ahead >= kSlotAhead) {
      const std::size_t step = ahead - kSlotAhead;
      visit(order.empty() ? step : order[step], hashes[step % kRing]);
    }
  }
}

// Counts both lists into `groups`; `same` tells whether every new item has an old group and the
// lengths agree. False when the lookups took too many steps (ItemGroups::overlong).
bool count_items(const Node& t1, const Node& t2, ItemGroups& groups, bool& same) {
  for_each_hashed(t1, groups,
                  [&](std::size_t i, std::uint64_t hash) { groups.add_old(t1.items[i], hash); });
  same = t1.size() == t2.size();
  // Counting depends on no order: the new list is read in the order of its memory.
  for_each_hashed(
      t2, groups,
      [&](std::size_t i, std::uint64_t hash) {
        if (Group* group = groups.find(t2.items[i], hash)) {
          ++group->in_new;
        } else {
          same = false;
        }
      },
      memory_order(t2));
  return !groups.overlong();
}

}  // namespace

void diff_unordered(PendingPath& here, DiffAccumulator& accumulator) {
  const Node& t1 = *here.here().old_node;
  const Node& t2 = *here.here().new_node;
  // One pass over each list decides the common case of equal multisets, with nothing kept per
  // item; only lists that differ are walked again to find their surplus. Input that collides
  // under this process's key is counted again under fresh ones: a few tries, after which the
  // last table serves, slow but exact.
  constexpr int kFreshKeys = 3;
  auto table = std::make_unique<ItemGroups>(t1.size(), t2.size(), value::process_hash_key(), false);
  bool same = false;
  for (int tried = 1; !count_items(t1, t2, *table, same); ++tried) {
    table = std::make_unique<ItemGroups>(t1.size(), t2.size(), value::fresh_hash_key(),
                                         tried == kFreshKeys);
  }
  ItemGroups& groups = *table;
  if (same && groups.counts_match()) return;

  // The earliest occurrences of a value are the matched ones, so the surplus of each side is
  // always its last occurrences. Both passes go up the indices, so an added item finds the
  // position of a removed one at its index by a cursor through the removed ones.
  const Position* parent = accumulator.intern(here);
  std::vector<Position*> removed;
  for_each_hashed(t1, groups, [&](std::size_t i, std::uint64_t hash) {
    Group& group = *groups.find(t1.items[i], hash);
    if (group.seen++ < group.in_new) return;
    Position fields;
    fields.step = StepKind::SetMember;
    fields.index = i;
    fields.old_node = &t1.items[i];
    removed.push_back(accumulator.add_position(parent, fields));
    accumulator.record(removed.back(), ChangeRecord::Kind::Removed);
  });
  groups.reset_seen();
  std::size_t cursor = 0;
  for_each_hashed(t2, groups, [&](std::size_t i, std::uint64_t hash) {
    Group* group = groups.find(t2.items[i], hash);
    if (group != nullptr && group->seen++ < group->in_old) return;
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
  });
}

}  // namespace hexalume::engine
