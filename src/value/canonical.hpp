#pragma once

#include <string>

#include "value/value.hpp"

namespace hexalume::value {

// The canonical text of a value: "null", "bool:true", "num:<number text>", "str:<bytes>",
// "list:[...]" and "dict:{key:...}" with members in key order. Two list items match under
// ignore_order exactly when their texts are equal, and set members are ordered by it. Nothing is
// escaped, so distinct values may share a text.
std::string canonical_string(const Node& node);
void append_canonical_string(std::string& out, const Node& node);

}  // namespace hexalume::value
