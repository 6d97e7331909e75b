#pragma once

#include <string>

#include "engine/report.hpp"
#include "value/value.hpp"

namespace hexalume::engine {

// Compares two lists as multisets of canonical texts and records the surplus items of each
// side (the last occurrences) as removed or added under `path`.
void diff_unordered(const value::Node& t1, const value::Node& t2, std::string& path,
                    DiffAccumulator& accumulator);

}  // namespace hexalume::engine
