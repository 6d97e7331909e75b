#pragma once

#include <cstddef>

#include "engine/report.hpp"
#include "options/record.hpp"
#include "value/value.hpp"

namespace hexalume::engine {

// Walks t1 and t2 side by side from their roots and records every difference into
// `accumulator`, at positions that point into t1 and t2. Cannot fail.
void diff_values(const value::Node& t1, const value::Node& t2,
                 const options::VesperonOptions& options, DiffAccumulator& accumulator);

}  // namespace hexalume::engine
