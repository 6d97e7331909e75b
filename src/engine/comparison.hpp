#pragma once

#include "engine/report.hpp"
#include "options/record.hpp"
#include "value/value.hpp"

namespace hexalume::engine {

// One finished comparison: the report and both converted inputs, all owned.
struct Vesperon {
  value::Value report;
  value::Value t1;
  value::Value t2;
};

// Compares t1 with t2 under `options` and keeps the report and both trees. Cannot fail.
Vesperon with_options(value::Value t1, value::Value t2, options::VesperonOptions options);

// An independent deep copy of the report.
value::Value to_value(const Vesperon& comparison);

}  // namespace hexalume::engine
