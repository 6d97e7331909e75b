#pragma once

#include <string_view>

#include "value/value.hpp"

namespace hexalume::testing {

// Builds a value tree from JSON text for tests. Numbers with a point or an exponent are floats,
// other negative numbers signed, the rest unsigned. Objects with duplicate keys keep the last.
// Throws std::invalid_argument on malformed text.
value::Value literal(std::string_view json);

}  // namespace hexalume::testing
