#pragma once

#include <string>

#include "engine/report.hpp"
#include "value/value.hpp"

namespace hexalume::engine {

// Compares two lists as multisets of values: an item of t1 matches an item of t2 exactly when
// the two are equal values (value::equal). Records the surplus items of each side (the last
// occurrences) as removed or added under `path`; matched items are not compared further.
void diff_unordered(const value::Node& t1, const value::Node& t2, std::string& path,
                    DiffAccumulator& accumulator);

}  // namespace hexalume::engine
