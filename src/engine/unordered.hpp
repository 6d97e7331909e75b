#pragma once

#include "engine/report.hpp"
#include "value/value.hpp"

namespace hexalume::engine {

// Compares the two lists at `here` as multisets of values: an item of t1 matches an item of t2
// exactly when the two are equal values (value::equal). Records the surplus items of each side
// (the last occurrences) as removed or added set members below `here`, a removed and an added
// item at one index at one position; matched items are not compared further.
void diff_unordered(PendingPath& here, DiffAccumulator& accumulator);

}  // namespace hexalume::engine
