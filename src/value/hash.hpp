#pragma once

#include <cstdint>

#include "value/value.hpp"

namespace hexalume::value {

// A 64-bit hash of a whole value, computed in one pass over its nodes: values that `equal` finds
// equal hash alike (0.0 and -0.0 included; Big numbers as make_big_integer makes them), while 1
// and 1.0, or a list and its items, hash apart.
// Not keyed: fit for matching items, not for input chosen to collide.
std::uint64_t structural_hash(const Node& node);

}  // namespace hexalume::value
