#pragma once

#include "python/boundary.hpp"

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <type_traits>
#include <vector>

#include "value/value.hpp"

namespace hexalume::python {

// The key shapes of the dicts read so far in one conversion. Records, rows and API objects repeat
// one shape: the same key objects in the same order (json.loads, for one, hands out one str object
// per distinct key). A dict whose keys are exactly those of a remembered shape reuses their
// converted texts and their sorted order, so its keys are neither converted nor sorted again.
// Data whose dicts do not repeat their shapes pays almost nothing.
class KeyShapes {
 public:
  class Reading;

  KeyShapes() = default;
  KeyShapes(const KeyShapes&) = delete;
  KeyShapes& operator=(const KeyShapes&) = delete;

 private:
  static constexpr std::size_t kSlots = 8;
  static constexpr std::size_t kMaxKeys = 64;
  static constexpr std::uint64_t kTrial = 4096;  // dicts looked up before giving up

  // A shape holds its keys, so their identity cannot pass to another object while the
  // conversion runs.
  struct Shape {
    std::vector<PyRef> keys;               // in dict order
    std::vector<value::Node> key_nodes;    // the converted keys, in dict order
    std::vector<std::uint32_t> order;      // dict positions in ascending key order
    std::uint64_t generation = 0;          // bumped whenever the slot takes a new shape
    const void* seen_first_key = nullptr;  // compared by address only, never dereferenced
    Py_ssize_t seen_size = 0;
  };

  Shape& slot_of(const void* first_key, std::size_t size);

  Shape slots_[kSlots];
  std::vector<PyRef> held_;  // keys of the dicts being read that may be remembered, innermost last
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
    if (matches(index, key)) return &shape_->key_nodes[index];
    shape_ = nullptr;
    // Only dicts of exact str keys are remembered: their texts are distinct, so the remembered
    // order is a plain permutation and no two keys need merging.
    remember_ = remember_ && Py_TYPE(key) == &PyUnicode_Type;
    return nullptr;
  }

  // Takes the key of the entry just read, held while this dict's shape may still be remembered.
  void keep(PyRef&& key) {
    if (remember_) shapes_.held_.push_back(std::move(key));
  }

  // After the last entry, with `count` entries read into `members`: true when the members are
  // now in ascending key order (a remembered shape, all of whose keys are distinct); false leaves
  // sorting them, and merging keys that convert to the same text, to the caller.
  bool sort(value::Member* members, std::size_t count);

 private:
  // Looks up the slot of the first key and size; a shape is remembered only when a slot sees the
  // same first key and size twice in a row.
  void begin(PyObject* first_key);
  // A nested dict may replace the shape while this one is read: then it no longer applies.
  bool matches(std::size_t index, PyObject* key) const {
    if (shape_ == nullptr || shape_->generation != generation_) return false;
    if (key == nullptr) return index == shape_->keys.size();
    return index < shape_->keys.size() && shape_->keys[index].get() == key;
  }
  Shape& remember(const value::Member* members, std::size_t count);

  KeyShapes& shapes_;
  Py_ssize_t size_;
  std::size_t held_base_;
  Shape* shape_ = nullptr;  // the remembered shape the keys so far match
  std::uint64_t generation_ = 0;
  bool remember_ = false;  // hold the keys and remember this dict's shape at the end
};

// Called for every dict: defined here so that the conversion loop inlines them (measured: a
// call into another file costs the records benchmark about 5% of its conversion time).

inline KeyShapes::Shape& KeyShapes::slot_of(const void* first_key, std::size_t size) {
  auto bits = reinterpret_cast<std::uintptr_t>(first_key) >> 4;
  return slots_[(bits ^ static_cast<std::uintptr_t>(size)) % kSlots];
}

inline void KeyShapes::Reading::begin(PyObject* first_key) {
  const auto size = static_cast<std::size_t>(size_);
  if (size < 2 || size > kMaxKeys) return;
  // Data whose dicts do not repeat their shapes stops paying for the lookups.
  if (++shapes_.lookups_ > kTrial && shapes_.hits_ * 16 < shapes_.lookups_) return;
  Shape& slot = shapes_.slot_of(first_key, size);
  if (slot.keys.size() == size) {
    if (slot.keys[0].get() == first_key) {
      shape_ = &slot;
      generation_ = slot.generation;
    }
  } else if (slot.seen_first_key == first_key && slot.seen_size == size_) {
    remember_ = true;
  }
  slot.seen_first_key = first_key;
  slot.seen_size = size_;
}

inline bool KeyShapes::Reading::sort(value::Member* members, std::size_t count) {
  const bool hit = matches(count, nullptr);
  const Shape* shape = hit ? shape_ : nullptr;
  const bool complete = count == static_cast<std::size_t>(size_);
  if (shape == nullptr && remember_ && complete) shape = &remember(members, count);
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
