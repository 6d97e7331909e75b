#include "python/key_shapes.hpp"

#include <algorithm>
#include <cstring>
#include <type_traits>
#include <utility>

namespace hexalume::python {

KeyShapes::Shape& KeyShapes::slot_of(const void* first_key, std::size_t size) {
  auto bits = reinterpret_cast<std::uintptr_t>(first_key) >> 4;
  return slots_[(bits ^ static_cast<std::uintptr_t>(size)) % kSlots];
}

void KeyShapes::Reading::begin(PyObject* first_key) {
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

bool KeyShapes::Reading::sort(value::Member* members, std::size_t count) {
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

// Stores the shape of the dict just read, whose keys were all kept, in the slot of its first key.
KeyShapes::Shape& KeyShapes::Reading::remember(const value::Member* members, std::size_t count) {
  std::vector<PyRef>& held = shapes_.held_;
  Shape& shape = shapes_.slot_of(held[held_base_].get(), count);
  ++shape.generation;
  shape.keys.clear();
  shape.key_nodes.clear();
  shape.order.resize(count);
  for (std::size_t i = 0; i < count; ++i) {
    shape.keys.push_back(std::move(held[held_base_ + i]));
    shape.key_nodes.push_back(members[i].key);
    shape.order[i] = static_cast<std::uint32_t>(i);
  }
  std::sort(shape.order.begin(), shape.order.end(), [&](std::uint32_t left, std::uint32_t right) {
    return value::text_less(members[left].key, members[right].key);
  });
  return shape;
}

}  // namespace hexalume::python
