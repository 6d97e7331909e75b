#pragma once

#include "python/boundary.hpp"

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <deque>
#include <type_traits>
#include <vector>

#include "value/value.hpp"

namespace hexalume::python {

// The key shapes of the dicts read so far in one conversion. Records, rows and API objects repeat
// one shape: the same key objects in the same order (json.loads, for one, hands out one str object
// per distinct key). A dict whose keys are exactly those of a remembered shape reuses their
// converted texts and their sorted order, so its keys are neither converted nor sorted again.
// Data whose dicts do not repeat their shapes pays almost nothing.
//
// Shapes are found by their first key object and their size, in a hash table that compares both
// exactly, and each such pair keeps up to kWays shapes. What hits therefore depends only on the
// sequence of key objects read, never on where they sit in memory.
class KeyShapes {
 public:
  class Reading;

  KeyShapes() = default;
  KeyShapes(const KeyShapes&) = delete;
  KeyShapes& operator=(const KeyShapes&) = delete;

 private:
  static constexpr std::size_t kMaxKeys = 64;
  static constexpr std::uint64_t kTrial = 4096;  // dicts looked up before giving up
  static constexpr std::size_t kWays = 4;        // shapes kept per first key and size
  // Bounds on what one conversion keeps: pairs of first key and size, and shapes in all.
  static constexpr std::size_t kMaxEntries = 1024;
  static constexpr std::size_t kMaxShapes = 1024;
  static constexpr std::size_t kFirstCapacity = 16;

  // A shape holds its keys, so their identity cannot pass to another object while the
  // conversion runs.
  struct Shape {
    std::vector<PyRef> keys;             // in dict order
    std::vector<value::Node> key_nodes;  // the converted keys, in dict order
    std::vector<std::uint32_t> order;    // dict positions in ascending key order
    std::uint64_t generation = 0;        // bumped whenever the shape is replaced by another
  };

  // The shapes of the dicts of one size whose first key is one object. An entry exists once a
  // dict of that first key and size has been seen; its shapes come from later ones.
  struct Entry {
    PyRef first_key;  // held, like the shapes' keys; empty for a free table slot
    std::size_t size = 0;
    std::uint32_t count = 0;   // shapes in use
    std::uint32_t victim = 0;  // the shape replaced next once all kWays are in use
    // Dicts seen since a shape was last stored here. Each stored shape doubles the dicts needed
    // before the next, so data that does not repeat its shapes stops paying for storing them.
    std::uint32_t sightings = 0;
    Shape* shapes[kWays] = {};
  };

  // The entry of `first_key` and `size`, nullptr when there is none.
  Entry* find(PyObject* first_key, std::size_t size);
  // The entry of `first_key` and `size`, added when missing (`added` tells); nullptr when it is
  // missing and the table holds kMaxEntries already.
  Entry* find_or_add(PyObject* first_key, std::size_t size, bool& added);
  Entry* add(PyObject* first_key, std::size_t size, bool& added);
  std::size_t slot_of(PyObject* first_key, std::size_t size) const;

  std::vector<Entry> table_;  // open addressing with linear probing; a power of two in size
  std::size_t entries_ = 0;
  std::deque<Shape> shapes_;  // a deque: shapes never move
  std::vector<PyRef> held_;   // keys of the dicts being read that may be remembered, innermost last
  std::uint64_t lookups_ = 0;
  std::uint64_t hits_ = 0;
};

// One dict being read against the remembered shapes, entry by entry in the dict's own order.
// It holds the keys it may remember and lets go of them when it goes out of scope, whether the
// read finished or failed. Dicts read while it is alive (the values) nest inside it.
class KeyShapes::Reading {
 public:
  // `size` is the dict's size when its iteration began.
  Reading(KeyShapes& shapes, Py_ssize_t size) noexcept
      : shapes_(shapes), size_(size), held_base_(shapes.held_.size()) {}
  ~Reading() { shapes_.held_.resize(held_base_); }
  Reading(const Reading&) = delete;
  Reading& operator=(const Reading&) = delete;

  // The converted key of entry `index` (0, 1, 2, ... in turn) when the keys so far are those of
  // a remembered shape; nullptr when the caller must convert `key` itself.
  const value::Node* known_key(std::size_t index, PyObject* key) {
    if (index == 0) begin(key);
    if (shape_ == nullptr) {
      // Only dicts of exact str keys are remembered: their texts are distinct, so the remembered
      // order is a plain permutation and no two keys need merging.
      remember_ = remember_ && Py_TYPE(key) == &PyUnicode_Type;
      return nullptr;
    }
    if (matches(index, key)) return &shape_->key_nodes[index];
    return unknown_key(index, key);
  }

  // Holds the key of the entry just read (an exact str) while this dict's shape may still be
  // remembered.
  void keep(PyObject* key) {
    if (remember_ && shape_ == nullptr) shapes_.held_.push_back(PyRef::borrow(key));
  }

  // After the last entry, with `count` entries read into `members`: true when the members are
  // now in ascending key order (a remembered shape, all of whose keys are distinct); false leaves
  // sorting them, and merging keys that convert to the same text, to the caller.
  bool sort(value::Member* members, std::size_t count);

 private:
  // Looks up the shapes of the first key and size. A dict is remembered only when earlier dicts
  // had the same first key and size (one for the first shape, more for each further one).
  void begin(PyObject* first_key);
  // A nested dict may replace the shape while this one is read: then it no longer applies.
  bool matches(std::size_t index, PyObject* key) const {
    if (shape_ == nullptr || shape_->generation != generation_) return false;
    if (key == nullptr) return index == shape_->keys.size();
    return index < shape_->keys.size() && shape_->keys[index].get() == key;
  }
  // Entry `index` does not follow the shape matched so far: another shape of the same entry
  // may, else the keys read so far are held for remembering this dict's own shape. nullptr.
  [[gnu::noinline]] const value::Node* unknown_key(std::size_t index, PyObject* key);
  // nullptr when nothing more may be kept.
  Shape* remember(const value::Member* members, std::size_t count);

  KeyShapes& shapes_;
  Py_ssize_t size_;
  std::size_t held_base_;
  Shape* shape_ = nullptr;  // the remembered shape the keys so far match
  std::uint64_t generation_ = 0;
  bool remember_ = false;  // hold the keys and remember this dict's shape at the end
};

// Called for every dict: defined here so that the conversion loop inlines them (measured: a
// call into another file costs the records benchmark about 5% of its conversion time).

inline std::size_t KeyShapes::slot_of(PyObject* first_key, std::size_t size) const {
  // Fibonacci hashing of the address and size; the table compares both exactly.
  const auto bits =
      (reinterpret_cast<std::uint64_t>(first_key) >> 4) ^ (static_cast<std::uint64_t>(size) << 48);
  return static_cast<std::size_t>((bits * 0x9E3779B97F4A7C15ull) >> 32) & (table_.size() - 1);
}

inline KeyShapes::Entry* KeyShapes::find(PyObject* first_key, std::size_t size) {
  if (table_.empty()) return nullptr;
  for (std::size_t slot = slot_of(first_key, size);; slot = (slot + 1) & (table_.size() - 1)) {
    Entry& entry = table_[slot];
    if (!entry.first_key) return nullptr;
    if (entry.first_key.get() == first_key && entry.size == size) return &entry;
  }
}

inline KeyShapes::Entry* KeyShapes::find_or_add(PyObject* first_key, std::size_t size,
                                                bool& added) {
  if (Entry* entry = find(first_key, size)) return entry;
  return add(first_key, size, added);
}

inline void KeyShapes::Reading::begin(PyObject* first_key) {
  const auto size = static_cast<std::size_t>(size_);
  if (size < 2 || size > kMaxKeys) return;
  // Data whose dicts do not repeat their shapes stops paying for the lookups.
  if (++shapes_.lookups_ > kTrial && shapes_.hits_ * 16 < shapes_.lookups_) return;
  bool added = false;
  Entry* entry = shapes_.find_or_add(first_key, size, added);
  if (entry == nullptr || added) return;
  remember_ = ++entry->sightings >= (1u << entry->count);
  if (entry->count > 0) {
    shape_ = entry->shapes[0];
    generation_ = shape_->generation;
  }
}

inline bool KeyShapes::Reading::sort(value::Member* members, std::size_t count) {
  const bool hit = matches(count, nullptr);
  const Shape* shape = hit ? shape_ : nullptr;
  const bool complete = count == static_cast<std::size_t>(size_);
  if (shape == nullptr && remember_ && complete) shape = remember(members, count);
  if (shape == nullptr || !complete) return false;
  if (hit) ++shapes_.hits_;
  static_assert(std::is_trivially_copyable_v<value::Member>);
  // Raw storage: default-constructing kMaxKeys members would cost more than the copy.
  alignas(value::Member) unsigned char sorted[sizeof(value::Member) * kMaxKeys];
  for (std::size_t i = 0; i < count; ++i) {
    std::memcpy(sorted + i * sizeof(value::Member), &members[shape->order[i]],
                sizeof(value::Member));
  }
  std::memcpy(static_cast<void*>(members), sorted, count * sizeof(value::Member));
  return true;
}

}  // namespace hexalume::python
