#pragma once

#include <string_view>

#include "value/value.hpp"

namespace hexalume::testing {

// Builds a value tree from JSON text for tests. Numbers with a point or an exponent are floats,
// other integers as make_big_integer makes them (Unsigned, Signed or Big). Objects with
// duplicate keys keep the last. Throws std::invalid_argument on malformed text (InternalError
// for a malformed integer).
value::Value literal(std::string_view json);

}  // namespace hexalume::testing
