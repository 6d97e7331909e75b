#pragma once

#include <span>

#include "engine/path.hpp"
#include "value/value.hpp"

namespace hexalume::pretty {

// One step down: a Key selects the member of an object, an Index an element of a list within
// its length. Returns nullptr for any other combination or when `node` is nullptr.
const value::Node* step_into(const value::Node* node, const engine::PathSegment& segment);

// Follows `path` from `top`; the empty path selects `top`. Returns nullptr when a step fails.
// The result points into the tree of `top`.
const value::Node* lookup(const value::Node& top, std::span<const engine::PathSegment> path);

}  // namespace hexalume::pretty
