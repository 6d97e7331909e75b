#pragma once

#include <cstddef>
#include <string_view>

#include "engine/path.hpp"
#include "value/value.hpp"

namespace hexalume::pretty {

// One step down: a Key selects the member of an object, an Index an element of a list within
// its length. Returns nullptr for any other combination or when `node` is nullptr.
const value::Node* step_into(const value::Node* node, const engine::PathStep& segment);

// The position of the member `key` among the sorted members of `object` (an Object node), or
// the object's size when there is no such member. Binary search.
std::size_t member_position(const value::Node& object, std::string_view key);

// Where one tree position leads in t1 and t2; nullptr where it does not exist. Each level is
// found from its parent's result, never again from the top.
struct Located {
  const value::Node* old_node = nullptr;
  const value::Node* new_node = nullptr;
};

Located descend(Located where, const engine::PathStep& step);

}  // namespace hexalume::pretty
