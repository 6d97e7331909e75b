#pragma once

#include <optional>

#include "engine/report.hpp"
#include "options/record.hpp"
#include "value/value.hpp"

namespace hexalume::engine {

// One finished comparison: the report and both converted inputs, all owned, and the first path
// that two positions would have shared in one report section, if any (the report then keeps the
// later of the two entries; the Python boundary refuses such a comparison).
struct Vesperon {
  value::Value report;
  value::Value t1;
  value::Value t2;
  std::optional<PathCollision> collision;
};

// Compares t1 with t2 under `options` and keeps the report and both trees. Cannot fail.
Vesperon with_options(value::Value t1, value::Value t2, options::VesperonOptions options);

// An independent deep copy of the report.
value::Value to_value(const Vesperon& comparison);

}  // namespace hexalume::engine
