#include "python/key_shapes.hpp"

#include <algorithm>
#include <utility>

namespace hexalume::python {

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
