#pragma once

#include <string>

#include "value/value.hpp"

namespace hexalume::value {

// The canonical text of a value: "null", "bool:true", "num:<number text>", "str:<bytes>",
// "list:[...]" and "dict:{key:...}" with members in key order. Set members are ordered by it.
// Nothing is escaped, so distinct values may share a text: it is an order, not an identity.
std::string canonical_string(const Node& node);
void append_canonical_string(std::string& out, const Node& node);

}  // namespace hexalume::value
