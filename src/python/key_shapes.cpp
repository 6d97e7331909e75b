#include "python/key_shapes.hpp"

#include <algorithm>
#include <utility>

namespace hexalume::python {

KeyShapes::Entry* KeyShapes::add(PyObject* first_key, std::size_t size, bool& added) {
  if (entries_ >= kMaxEntries) return nullptr;
  // At most half full, so probes stay short; a larger table takes the entries in their new slots.
  if (table_.size() < 2 * (entries_ + 1)) {
    std::vector<Entry> old =
        std::exchange(table_, std::vector<Entry>(std::max(kFirstCapacity, 2 * table_.size())));
    for (Entry& entry : old) {
      if (!entry.first_key) continue;
      std::size_t slot = slot_of(entry.first_key.get(), entry.size);
      while (table_[slot].first_key) slot = (slot + 1) & (table_.size() - 1);
      table_[slot] = std::move(entry);
    }
  }
  std::size_t slot = slot_of(first_key, size);
  while (table_[slot].first_key) slot = (slot + 1) & (table_.size() - 1);
  Entry& entry = table_[slot];
  entry.first_key = PyRef::borrow(first_key);
  entry.size = size;
  ++entries_;
  added = true;
  return &entry;
}

const value::Node* KeyShapes::Reading::unknown_key(std::size_t index, PyObject* key) {
  Shape* matched = std::exchange(shape_, nullptr);
  if (matched->generation != generation_ || index >= matched->keys.size()) {
    // The keys read so far are no longer known: this dict is not remembered.
    remember_ = false;
    return nullptr;
  }
  auto same_so_far = [&](const Shape& other) {
    if (other.keys[index].get() != key) return false;
    for (std::size_t i = 0; i < index; ++i) {
      if (other.keys[i].get() != matched->keys[i].get()) return false;
    }
    return true;
  };
  if (Entry* entry = shapes_.find(matched->keys[0].get(), matched->keys.size())) {
    for (std::uint32_t way = 0; way < entry->count; ++way) {
      Shape* other = entry->shapes[way];
      if (other != matched && same_so_far(*other)) {
        shape_ = other;
        generation_ = other->generation;
        return &other->key_nodes[index];
      }
    }
  }
  remember_ = remember_ && Py_TYPE(key) == &PyUnicode_Type;
  // The keys so far are the matched shape's own objects: hold them for remembering.
  if (remember_) {
    for (std::size_t i = 0; i < index; ++i) {
      shapes_.held_.push_back(PyRef::borrow(matched->keys[i].get()));
    }
  }
  return nullptr;
}

// Stores the shape of the dict just read, whose keys were all kept, under its first key and size:
// a new shape while the entry has room, else in place of the entry's oldest.
KeyShapes::Shape* KeyShapes::Reading::remember(const value::Member* members, std::size_t count) {
  std::vector<PyRef>& held = shapes_.held_;
  if (held.size() - held_base_ != count) return nullptr;
  Entry* entry = shapes_.find(held[held_base_].get(), count);
  if (entry == nullptr) return nullptr;
  Shape* shape = nullptr;
  if (entry->count < kWays && shapes_.shapes_.size() < kMaxShapes) {
    shape = &shapes_.shapes_.emplace_back();
    entry->shapes[entry->count++] = shape;
  } else if (entry->count > 0) {
    shape = entry->shapes[entry->victim];
    entry->victim = (entry->victim + 1) % entry->count;
  } else {
    return nullptr;
  }
  entry->sightings = 0;
  ++shape->generation;
  shape->keys.clear();
  shape->keys.reserve(count);
  shape->key_nodes.resize(count);
  shape->order.resize(count);
  for (std::size_t i = 0; i < count; ++i) {
    shape->keys.push_back(std::move(held[held_base_ + i]));
    shape->key_nodes[i] = members[i].key;
  }
  // Insertion sort: shapes have at most kMaxKeys keys, most of them a handful.
  std::uint32_t* order = shape->order.data();
  for (std::uint32_t i = 0; i < count; ++i) {
    std::uint32_t j = i;
    while (j > 0 && value::text_less(members[i].key, members[order[j - 1]].key)) {
      order[j] = order[j - 1];
      --j;
    }
    order[j] = i;
  }
  return shape;
}

}  // namespace hexalume::python
